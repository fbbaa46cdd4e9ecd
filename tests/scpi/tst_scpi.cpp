#include "instrument.h"

#include <QTest>

namespace {

// Logs each request; the ADC reads 2048 plus the input's number. `failure`: every request after
// the first `good` fails with it.
class LoggingBoard final : public Scpi::BoardAccess
{
public:
    QStringList calls;
    int failure = 0;
    int good = 0;

    Scpi::BoardOutcome sendWord(std::int32_t word) override
    {
        return log(QStringLiteral("word 0x%1").arg(word, 0, 16));
    }
    Scpi::BoardOutcome readChannel(int channel, std::int32_t &code) override
    {
        code = 2048 + channel;
        return log(QStringLiteral("read %1").arg(channel));
    }
    Scpi::BoardOutcome readAdc(std::int32_t &code) override
    {
        code = 0;
        return log(QStringLiteral("adc"));
    }
    Scpi::BoardOutcome setClrPin(bool high) override
    {
        return log(QStringLiteral("clr %1").arg(high));
    }
    Scpi::BoardOutcome setLdacPin(bool high) override
    {
        return log(QStringLiteral("ldac %1").arg(high));
    }

private:
    Scpi::BoardOutcome log(const QString &call)
    {
        calls << call;
        if (calls.size() <= good)
            return {};
        return {failure, failure != 0 ? "request X (0x1) failed with status 14" : ""};
    }
};

const QString noError = QStringLiteral("0,\"No error\"");

// DAC B calibrated with a reference of 65.536 V, an LSB one millivolt: the line 10 mV + code mV,
// a bow of 2 mV at code 1000 between 0 and 2000; its readback 0.5 + 2 x code. `kind`: empty
// (nothing stored), calibrated, overdue, or unkept (its state cannot be stored).
class FakeCalibrations final : public Scpi::Calibrations
{
public:
    explicit FakeCalibrations(const QString &kind)
        : m_kind(kind)
    {
        m_entry.fit.vref = 65.536;
        m_entry.fit.line = {0.010, 0.001};
        m_entry.fit.table = {{0, 0}, {1000, 0.002}, {2000, 0}};
        m_entry.fit.lowestCode = 0;
        m_entry.fit.highestCode = 2000;
        m_entry.fit.readback = {true, 0.5, 2, 0};
        m_entry.date = QDate(2026, 1, 2);
        m_entry.due = kind == u"overdue" ? QDate(2026, 3, 4) : QDate(2027, 1, 2);
        m_entry.record = R"({"x":1})";
    }

    const Entry *entry(int channel) const override
    {
        return channel == 1 && m_kind != u"empty" ? &m_entry : nullptr;
    }
    bool applied() const override { return m_applied; }
    int apply(bool on, QByteArray &detail) override
    {
        if (m_kind == u"unkept") {
            detail = "cannot write to records.sqlite: it is read-only";
            return Scpi::Error::massStorage;
        }
        m_applied = on;
        return Scpi::Error::none;
    }
    QDate today() const override { return QDate(2026, 6, 1); }

private:
    QString m_kind;
    Entry m_entry;
    bool m_applied = false;
};

} // namespace

// Program messages in, answers and board requests out, one client's status model between them.
class tst_Scpi final : public QObject
{
    Q_OBJECT

private slots:
    void messages_data()
    {
        QTest::addColumn<QString>("messages"); // one program message each, '|' between them
        QTest::addColumn<QString>("answers");  // each message's line without its LF
        QTest::addColumn<QString>("calls");    // the requests that reached the board
        QTest::addColumn<int>("failure");
        QTest::addColumn<int>("good"); // requests that succeed before the failures

        const auto row = [](const char *name, const QString &messages, const QString &answers,
                            const char *calls = "", int failure = 0, int good = 0) {
            QTest::newRow(name) << messages << answers << calls << failure << good;
        };
        const QString error = QStringLiteral("|SYST:ERR?");
        row("identity", "*idn?", "TX4410 bench program,TX4410,0,1.0.0");
        row("volts, short form", "SOUR1:VOLT 2.5|SOUR1:VOLT?", "|2.50000000000000",
            "word 0x188000");
        row("long form, lower case, every optional node",
            "source2:voltage:level:immediate:amplitude 1.25;"
            ":SOURce2:VOLTage:AMPLitude?",
            "1.25000000000000", "word 0x194000");
        row("no suffix is channel 1, mV", "SOUR:VOLT 2500 mV;VOLT:CODE?", "32768", "word 0x188000");
        row("uV, exponent", "SOUR4:VOLT 1250000uV;:SOUR4:VOLT:CODE?;:SOUR3:VOLT 1.25E0", "16384",
            "word 0x1b4000, word 0x1a4000");
        row("the window's rounding, reading the code written", "SOUR1:VOLT 1;VOLT?",
            "0.99998474121094", "word 0x183333");
        row("MIN, MAX, DEF",
            "SOUR1:VOLT MAX;VOLT:CODE?;:SOUR1:VOLT:CODE MIN;CODE?;CODE def;"
            ":SOUR1:VOLT? MAX",
            "65535;0;5.00000000000000", "word 0x18ffff, word 0x180000, word 0x180000");
        row("SOURce left out", "VOLT 1;VOLT:CODE?;:VOLT:CODE 9;:SOUR1:VOLT:CODE?", "13107;9",
            "word 0x183333, word 0x180009");
        row("K and MA before V", "SOUR1:VOLT 0.002 KV;:SOUR2:VOLT 0.0000025 MAV", "",
            "word 0x186666, word 0x198000");
        row("underflow is 0, overflow out of range",
            "SOUR1:VOLT:CODE 5;:SOUR1:VOLT 1E-999;VOLT:CODE?;:SOUR2:VOLT "
            ".001E-99999999999999999999;"
            ":SOUR3:VOLT 1E999;:SOUR4:VOLT 0.1E310;:SYST:ERR:COUN?",
            "0;2", "word 0x180005, word 0x180000, word 0x190000");
        row("#H, #B, #Q", "SOUR2:VOLT:CODE #HfFfF;CODE #B101;CODE #Q17;CODE?", "15",
            "word 0x19ffff, word 0x190005, word 0x19000f");
        row("path back to the root", "SOUR1:VOLT:CODE 7;:MEAS2:CODE?;CODE?;VOLT?;VOLT:DC?",
            "2049;2049;2.50122070312500;2.50122070312500",
            "word 0x180007, read 1, read 1, read 1, read 1");
        row("reference", "SOUR:VOLT:REF 2.5|SOUR1:VOLT 2.5;VOLT:CODE?;REF?;:SOUR1:VOLT 2.6" + error,
            "|65535;2.50000000000000|-222,\"Data out of range;:SOUR1:VOLT\"", "word 0x18ffff");
        row("Vdd", "MEAS:VDD 3.3|MEAS8:VOLT?;:MEAS:VDD?", "|1.65563964843750;3.30000000000000",
            "read 7");
        row("the eighth input's code", "MEAS8:CODE?", "2055", "read 7");
        row("MEASure's expected value and resolution",
            "MEAS1:VOLT:DC? DEF,DEF;:MEAS2:VOLT? 5 V,MIN;:MEAS3:VOLT? AUTO",
            "2.50000000000000;2.50122070312500;2.50244140625000", "read 0, read 1, read 2");
        row("a measurement's range: too many, a string, a word, a code's",
            "MEAS1:VOLT? 1,2,3;:MEAS1:VOLT? 'x';:MEAS1:VOLT? LOTS;:MEAS1:CODE? 5|SYST:ERR:ALL?",
            "|-108,\"Parameter not allowed;MEAS1:VOLT?\",-104,\"Data type error;:MEAS1:VOLT?\","
            "-224,\"Illegal parameter value;:MEAS1:VOLT?\","
            "-108,\"Parameter not allowed;:MEAS1:CODE?\"");
        row("one reference: a suffix other than 1 refused",
            "SOUR3:VOLT:REF 2.5;:SOUR1:VOLT:REF 2;REF?;:VOLT:REF?" + error,
            "2.00000000000000;2.00000000000000"
            "|-114,\"Header suffix out of range;SOUR3:VOLT:REF\"");
        row("raw word", "DAC:WORD #H7FFFFFFF;WORD 2147483648" + error,
            "|-222,\"Data out of range;WORD\"", "word 0x7fffffff");
        // Command 3, 2 and 0 write a channel's code, address 7 all four, 4..6 none; 1 and 4 write
        // none; 5 resets; bits above the command are not the part's.
        row("a raw word's code is the one the SOURce queries give",
            "DAC:WORD #H1AC4D2;:SOUR3:VOLT:CODE?|DAC:WORD "
            "#H1F0007;:SOUR1:VOLT:CODE?;:SOUR4:VOLT:CODE?|"
            "DAC:WORD #H080009;WORD #H200003;WORD "
            "#H1C0063;:SOUR1:VOLT:CODE?;:SOUR2:VOLT:CODE?;:PIN:LDAC?|"
            "DAC:WORD #H110005;WORD #H03000B;WORD #H5A0004;:SOUR2:VOLT:CODE?;:SOUR4:VOLT:CODE?;"
            ":SOUR3:VOLT:CODE?|DAC:WORD #H280000;:SOUR2:VOLT:CODE?",
            "50386|7;7|7;7;HIGH|5;11;4|0",
            "word 0x1ac4d2, word 0x1f0007, word 0x80009, word 0x200003, word 0x1c0063, "
            "word 0x110005, word 0x3000b, word 0x5a0004, word 0x280000");
        row("pins", "PIN:CLR LOW;CLR?;LDAC 0;LDAC?;LDAC ON;LDAC?;CLR 0.6;CLR?", "LOW;LOW;HIGH;HIGH",
            "clr 0, ldac 0, ldac 1, clr 1");
        row("levels rounded before they are judged",
            "PIN:CLR 0.4;CLR?;:PIN:LDAC 0.5;LDAC?;LDAC 1.5;LDAC?", "LOW;LOW;HIGH",
            "clr 0, ldac 0, ldac 1");
        row("*RST",
            "SOUR3:VOLT:CODE 9;:SOUR:VOLT:REF 1;:MEAS:VDD 1;:PIN:CLR LOW;LDAC LOW|*RST|"
            "SOUR3:VOLT:CODE?;:VOLT:REF?;:MEAS:VDD?;:PIN:CLR?;LDAC?",
            "||0;5.00000000000000;5.00000000000000;HIGH;HIGH",
            "word 0x1a0009, clr 0, ldac 0, word 0x280001, clr 1, ldac 1");
        row("*RST whose reset fails forgets nothing",
            "SOUR3:VOLT:CODE 9;:PIN:CLR LOW;:MEAS:VDD 3|*RST|SOUR3:VOLT:CODE?;:PIN:CLR?;:MEAS:VDD?",
            "||9;LOW;3.00000000000000", "word 0x1a0009, clr 0, word 0x280001",
            Scpi::Error::hardware, 2);
        row("*RST whose CLR fails: the codes reset, CLR as it was",
            "SOUR3:VOLT:CODE 9;:PIN:CLR LOW;:MEAS:VDD 3|*RST|SOUR3:VOLT:CODE?;:PIN:CLR?;:MEAS:VDD?",
            "||0;LOW;3.00000000000000", "word 0x1a0009, clr 0, word 0x280001, clr 1",
            Scpi::Error::hardware, 3);
        row("a raw word that fails is not remembered",
            "DAC:WORD #H1A0009|DAC:WORD #H1A04D2;:SOUR3:VOLT:CODE?", "|9",
            "word 0x1a0009, word 0x1a04d2", Scpi::Error::hardware, 1);
        row("queries answered in order on one line", ";;*OPC?;MEAS1:CODE?; ;:SOUR1:VOLT:CODE?;",
            "1;2048;0", "read 0");
        row("a failed unit, the rest of the line runs", "FOO;SOUR1:VOLT:CODE 5;CODE?;:SYST:ERR?",
            "5;-113,\"Undefined header;FOO\"", "word 0x180005");
        row("-113 a query-only header set", "MEAS1:CODE" + error,
            "|-113,\"Undefined header;MEAS1:CODE\"");
        row("-113 neither short nor long form", "SOURC:VOLT 1" + error,
            "|-113,\"Undefined header;SOURC:VOLT\"");
        row("-113 a suffix where none goes", "MEAS:VDD2?" + error,
            "|-113,\"Undefined header;MEAS:VDD2?\"");
        row("-113 relative to the path", "SOUR1:VOLT 1;SOUR1:VOLT 2" + error,
            "|-113,\"Undefined header;SOUR1:VOLT\"", "word 0x183333");
        row("-112", "SOURCEVOLTAGEX?" + error,
            "|-112,\"Program mnemonic too long;SOURCEVOLTAGEX?\"");
        row("-114", "SOUR5:VOLT 1;:MEAS9:CODE?;:MEAS0:CODE?;:SYST:ERR:COUN?", "3");
        row("-104", "SOUR1:VOLT \"1\";:PIN:CLR #12ab;:SOUR1:VOLT? 1" + error + ";:SYST:ERR:COUN?",
            "|-104,\"Data type error;SOUR1:VOLT\";2");
        row("-108", "*IDN? 1;:SOUR1:VOLT 1,2;*CLS 1;:SYST:ERR:COUN?", "3");
        row("-108 for a common query's parameter", "*ESE? 5;*SRE? MAX|SYST:ERR:ALL?",
            "|-108,\"Parameter not allowed;*ESE?\",-108,\"Parameter not allowed;*SRE?\"");
        row("SYST:ERR:ALL? empties the queue",
            "SYST:ERR:ALL?|FOO;BAR|SYST:ERR:ALL?;:SYST:ERR:COUN?",
            noError + "||-113,\"Undefined header;FOO\",-113,\"Undefined header;BAR\";0");
        row("-109", "SOUR1:VOLT" + error, "|-109,\"Missing parameter;SOUR1:VOLT\"");
        row("-121, a digit equal to its base",
            "SOUR1:VOLT 1.2.3;:SOUR1:VOLT:CODE #H12G;:SOUR1:VOLT -;:SOUR1:VOLT:CODE #B102;"
            ":SOUR1:VOLT:CODE #Q18;:SYST:ERR:COUN?",
            "5");
        row("-131", "SOUR1:VOLT 1 A" + error, "|-131,\"Invalid suffix;SOUR1:VOLT\"");
        row("-138", "SOUR1:VOLT:CODE 5 V;:PIN:CLR 1V;:SYST:ERR:COUN?", "2");
        row("-222, nothing sent",
            "SOUR1:VOLT 5.001;:SOUR1:VOLT -1E-9;:MEAS:VDD 0;:*ESE 256;"
            ":SOUR:VOLT:CODE 65535.5;:SYST:ERR:COUN?",
            "5");
        row("-224", "PIN:CLR MIDDLE;:SOUR1:VOLT LOTS" + error,
            "|-224,\"Illegal parameter value;PIN:CLR\"");
        row("-102", "SOUR1:VOLT \"1|*|SOUR1:VOLT, 1|VOLT:|SYST:ERR:COUN?", "||||4");
        row("';' inside a string", "SOUR1:VOLT 'a;b';*OPC?", "1");
        row("-240", "SOUR1:VOLT 1;:PIN:CLR LOW;:SOUR1:VOLT?;:PIN:CLR?" + error,
            "0.00000000000000;HIGH|-240,\"Hardware error;request X (0x1) failed with status 14\"",
            "word 0x183333, clr 0", Scpi::Error::hardware);
        row("-241", "MEAS3:VOLT?" + error,
            "|-241,\"Hardware missing;request X (0x1) failed with status 14\"", "read 2",
            Scpi::Error::hardwareMissing);
        row("-350",
            "FOO;" + QString("FOO;").repeated(40) + "SYST:ERR:COUN?|"
                    + QString(":SYST:ERR?;").repeated(31) + "|SYST:ERR?;ERR?",
            "32|" + QString("-113,\"Undefined header;FOO\";").repeated(31).chopped(1)
                    + "|-350,\"Queue overflow\";" + noError);
        row("error texts made printable, quotes doubled", "FO\x7fO\"" + error,
            "|-102,\"Syntax error;FO?O\"\"\"");
        row("*ESR?: command error, then cleared", "FOO|*ESR?|*ESR?", "|32|0");
        row("*ESR?: execution, device, operation complete", "SOUR1:VOLT 9;*OPC|*ESR?", "|17");
        row("*ESR?: hardware", "DAC:WORD 0;*ESR?", "16", "word 0x0", Scpi::Error::hardware);
        row("*STB?: queue, event summary, service", "*ESE 32;*SRE 255;FOO|*STB?;*SRE?;*ESE?",
            "|100;191;32");
        row("*STB?: message available", "*STB?;*STB?|*ESR?;*STB?", "0;16|0;16");
        row("*CLS", "FOO|*CLS|*ESR?;:SYST:ERR:COUN?;:SYST:ERR:NEXT?", "||0;0;" + noError);
        row("*TST?, *OPC?, *WAI, version", "*TST?;*OPC?;*WAI;:SYST:VERS?", "0;1;1999.0", "adc");
        row("*TST? failing", "*TST?", "1", "adc", Scpi::Error::hardware);
        row("STATus",
            "STAT:OPER:ENAB 5;ENAB?;:STAT:QUES:ENAB 32767;ENAB?;:STAT:PRES;"
            ":STAT:QUES:ENAB?;:STAT:OPER?;:STAT:OPER:COND?;:STAT:QUES?;:STAT:QUES:COND?",
            "5;32767;0;0;0;0;0");
    }

    void messages()
    {
        QFETCH(QString, messages);
        QFETCH(QString, answers);
        QFETCH(QString, calls);
        QFETCH(int, failure);
        QFETCH(int, good);

        LoggingBoard board;
        board.failure = failure;
        board.good = good;
        Scpi::Instrument instrument(board, "TX4410 bench program,TX4410,0,1.0.0");
        Scpi::StatusModel status;
        QStringList got;
        for (const QString &message : messages.split(u'|')) {
            const QByteArray line = message.toLatin1();
            QByteArray answer
                    = instrument.execute({line.constData(), std::size_t(line.size())}, status);
            QVERIFY(answer.isEmpty() || answer.endsWith('\n'));
            answer.chop(answer.isEmpty() ? 0 : 1);
            QVERIFY(!answer.contains('\n'));
            got << QString::fromLatin1(answer);
        }
        QCOMPARE(got.join(u'|'), answers);
        QCOMPARE(board.calls.join(", "), calls);
    }

    void calibrated_data()
    {
        QTest::addColumn<QString>("kind"); // of FakeCalibrations; "none" for no records at all
        QTest::addColumn<QString>("messages");
        QTest::addColumn<QString>("answers");
        QTest::addColumn<QString>("calls");

        const QString on = QStringLiteral("CAL:STAT ON;:SOUR:VOLT:REF 65.536;");
        const QString error = QStringLiteral("|SYST:ERR?");
        const QString beyond
                = QStringLiteral("-222,\"Data out of range;beyond what the calibrated channel "
                                 "reaches\"");
        const auto row = [](const char *name, const char *kind, const QString &messages,
                            const QString &answers, const char *calls = "") {
            QTest::newRow(name) << kind << messages << answers << calls;
        };
        row("off: the plain conversion", "calibrated",
            "SOUR:VOLT:REF 65.536;:SOUR2:VOLT 0.511;VOLT:CODE?", "511", "word 0x1901ff");
        row("on: the code whose calibrated output is nearest, and that output", "calibrated",
            on + ":SOUR2:VOLT 0.511;VOLT:CODE?;:SOUR2:VOLT?", "500;0.51100000000000",
            "word 0x1901f4");
        row("on: between two codes, the nearer", "calibrated",
            on + ":SOUR2:VOLT 1.5116;VOLT:CODE?;:SOUR2:VOLT?", "1501;1.51199800000000",
            "word 0x1905dd");
        row("on: a channel without a calibration as before", "calibrated",
            on + ":SOUR1:VOLT 0.511;VOLT:CODE?", "511", "word 0x1801ff");
        row("on: beyond the calibrated outputs -222, nothing sent", "calibrated",
            on + ":SOUR2:VOLT 2.0106;:SOUR2:VOLT 0.0094" + error + ";:SYST:ERR?",
            "|" + beyond + ";" + beyond);
        row("on: half an LSB beyond is still the end code", "calibrated",
            on + ":SOUR2:VOLT 2.0104;VOLT:CODE?", "2000", "word 0x1907d0");
        row("MEASure through the readback's line only while on", "calibrated",
            "MEAS2:VOLT?;:CAL:STAT ON;:MEAS2:VOLT?;:MEAS1:VOLT?;:CAL:STAT OFF;STAT?;:MEAS2:VOLT?",
            "2.50122070312500;4098.50000000000000;2.50000000000000;0;2.50122070312500",
            "read 1, read 1, read 0, read 1");
        row("the state, as a boolean", "calibrated", "CAL:STAT?;STAT 1;STAT?;STAT 0;STAT?",
            "0;1;0");
        row("date, due date and record of the channel named", "calibrated", "CAL2:DATE?;DUE?;DATA?",
            "2026,1,2;2027,1,2;#17{\"x\":1}");
        row("a channel without a calibration: -221", "calibrated", "CAL:DATE?;:CAL3:DUE?" + error,
            "|-221,\"Settings conflict;DAC A has no calibration\"");
        row("ON with nothing stored: -221, still off", "empty", "CAL:STAT ON;STAT?" + error,
            "0|-221,\"Settings conflict;no calibration of this board is stored\"");
        row("OFF with nothing stored is taken", "empty", "CAL:STAT OFF;STAT?" + error,
            "0|" + noError);
        row("no records at all: -221", "none", "CAL:STAT ON;STAT?;:CAL2:DATE?" + error,
            "0|-221,\"Settings conflict;this server keeps no calibrations\"");
        row("a state that cannot be kept: -250, still off", "unkept", "CAL:STAT ON;STAT?" + error,
            "0|-250,\"Mass storage error;cannot write to records.sqlite: it is read-only\"");
        row("past its due date: SCPI's CALibration bit while applied", "overdue",
            "STAT:QUES:COND?;:CAL:STAT ON;:STAT:QUES:COND?;:CAL:STAT OFF;:STAT:QUES:COND?",
            "0;256;0");
        row("*CAL? without a meter: 1 at once and -340", "calibrated", "*CAL?" + error,
            "1|-340,\"Calibration failed;this server was started without a meter to "
            "calibrate against (--calibration-meter)\"");
        row("-108 a parameter to a date, two to the state", "calibrated",
            "CAL2:DATE? 1;:CAL:STAT ON,OFF" + error + ";:SYST:ERR?",
            "|-108,\"Parameter not allowed;CAL2:DATE?\";-108,\"Parameter not allowed;:CAL:STAT\"");
        row("-224 a state not a boolean", "calibrated", "CAL:STAT HIGH" + error,
            "|-224,\"Illegal parameter value;CAL:STAT\"");
        row("-114 a fifth channel", "calibrated", "CAL5:DATE?" + error,
            "|-114,\"Header suffix out of range;CAL5:DATE?\"");
    }

    void calibrated()
    {
        QFETCH(QString, kind);
        QFETCH(QString, messages);
        QFETCH(QString, answers);
        QFETCH(QString, calls);

        LoggingBoard board;
        FakeCalibrations calibrations(kind);
        Scpi::Instrument instrument(board, {});
        if (kind != u"none")
            instrument.setCalibrations(&calibrations);
        Scpi::StatusModel status;
        QStringList got;
        for (const QString &message : messages.split(u'|')) {
            const QByteArray line = message.toLatin1();
            QByteArray answer
                    = instrument.execute({line.constData(), std::size_t(line.size())}, status);
            answer.chop(answer.isEmpty() ? 0 : 1);
            got << QString::fromLatin1(answer);
        }
        QCOMPARE(got.join(u'|'), answers);
        QCOMPARE(board.calls.join(", "), calls);
        QVERIFY(!instrument.takeDeferred());
    }

    // *CAL? started: no answer now, the instrument says one comes later; refused: 1 now.
    void calibrateLater()
    {
        LoggingBoard board;
        Scpi::Instrument instrument(board, {});
        Scpi::StatusModel status;
        int started = 0;
        instrument.setCalibrator([&](QByteArray &detail) {
            detail = "a calibration is running";
            return ++started == 1 ? Scpi::Error::none : Scpi::Error::calibrationFailed;
        });
        QCOMPARE(instrument.execute("*CAL?", status), QByteArray());
        QVERIFY(instrument.takeDeferred());
        QVERIFY(!instrument.takeDeferred());
        QCOMPARE(instrument.execute("*CAL?", status), "1\n");
        QVERIFY(!instrument.takeDeferred());
        QCOMPARE(status.nextError(), "-340,\"Calibration failed;a calibration is running\"");
    }

    void boardRestarted()
    {
        LoggingBoard board;
        Scpi::Instrument instrument(board, {});
        Scpi::StatusModel status;
        instrument.execute("SOUR2:VOLT:CODE 9;:PIN:LDAC LOW;:SOUR:VOLT:REF 2;*RST", status);
        QCOMPARE(instrument.execute("SYST:BOAR:REST?", status), "0\n");
        instrument.execute("SOUR2:VOLT:CODE 9;:PIN:LDAC LOW;:SOUR:VOLT:REF 2", status);
        instrument.boardRestarted();
        instrument.boardRestarted();
        QCOMPARE(instrument.execute("SOUR2:VOLT:CODE?;:PIN:LDAC?;:SOUR:VOLT:REF?;"
                                    ":SYSTem:BOARd:RESTarts?",
                                    status),
                 "0;HIGH;2.00000000000000;2\n");
    }

    // SCPI's 255 bytes between the quotes, a doubled quote never split.
    void errorTextLimit()
    {
        Scpi::StatusModel status;
        status.report(Scpi::Error::syntax, "x" + std::string(300, '"'));
        QCOMPARE(status.nextError(), "-102,\"Syntax error;x" + QByteArray(240, '"') + '"');
    }
};

QTEST_GUILESS_MAIN(tst_Scpi)
#include "tst_scpi.moc"
