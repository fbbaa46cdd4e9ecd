#include "intelheximage.h"
#include "simulatedboard.h"
#include "simulateddac.h"
#include "support/boardtrace.h"
#include "traceline.h"

#include <QTest>

#include <array>

// The board's parts on their own: HEX loader, simulated board and DAC, trace lines.
using Error = IntelHexImage::Error;
using Volts = QList<double>;
Q_DECLARE_METATYPE(IntelHexImage::Error)
Q_DECLARE_METATYPE(BoardStatus)

class TestBoardParts : public QObject
{
    Q_OBJECT

private slots:
    void hexImage_data();
    void hexImage();
    void adcCode_data();
    void adcCode();
    void muxReadback_data();
    void muxReadback();
    void dacOutputs_data();
    void dacOutputs();
    void traceFormat_data();
    void traceFormat();
    void tracedBufferBytes_data();
    void tracedBufferBytes();
    void parsesBack_data();
    void parsesBack();
};

void TestBoardParts::hexImage_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Error>("error");
    QTest::addColumn<int>("line");

    using enum Error;
    const QByteArray end = ":00000001FF\n", data = ":03000000020100FA\n";
    const auto row = [](const char *name, const QByteArray &text, Error error, int line) {
        QTest::newRow(name) << text << error << line;
    };
    row("data and end", data + end, None, 0);
    row("CR LF, lower case, no last newline", ":02001000aabb89\r\n:00000001FF", None, 0);
    row("last bytes of RAM", ":103FF000000102030405060708090A0B0C0D0E0F49\n" + end, None, 0);
    row("segment and start records",
        ":020000040000FA\n:0400000500000000F7\n:0400000300000000F9\n" + data + end, None, 0);
    row("empty", "", Empty, 0);
    row("blank lines only", "\n\r\n\n", Empty, 0);
    row("missing end of file", data, MissingEndOfFile, 0);
    row("record after end of file", end + data, RecordAfterEndOfFile, 2);
    row("bad checksum", ":03000000020100FB\n" + end, BadChecksum, 1);
    row("bad end of file checksum", data + ":00000001FE\n", BadChecksum, 2);
    row("count one too many", ":04000000020100FA\n" + end, WrongByteCount, 1);
    row("count one too few", ":02000000020100FA\n" + end, WrongByteCount, 1);
    row("short record", ":000000\n" + end, ShortRecord, 1);
    row("odd digit count", ":03000000020100FA0\n" + end, OddDigitCount, 1);
    row("junk character", ":0300000002G100FA\n" + end, BadCharacter, 1);
    row("trailing space", ":03000000020100FA \n" + end, BadCharacter, 1);
    row("text line", data + "firmware\n" + end, MissingStartCode, 2);
    row("unknown record type", ":00000006FA\n" + end, UnknownRecordType, 1);
    row("end of file with data", data + ":0100000100FE\n", BadRecordLength, 2);
    row("address record of one byte", ":0100000400FB\n" + end, BadRecordLength, 1);
    row("start record of two bytes", ":020000050000F9\n" + end, BadRecordLength, 1);
    row("start code alone", data + ":\n" + end, ShortRecord, 2);
    row("data just beyond RAM", ":0140000001BE\n" + end, DataOutsideRam, 1);
    row("data running past RAM", ":103FF800000102030405060708090A0B0C0D0E0F41\n" + end,
        DataOutsideRam, 1);
    row("data above a linear base", ":020000040001F9\n" + data + end, DataOutsideRam, 2);
    row("data above a segment base", ":020000020400F8\n" + data + end, DataOutsideRam, 2);
}

void TestBoardParts::hexImage()
{
    QFETCH(QByteArray, text);
    QFETCH(Error, error);
    QFETCH(int, line);
    const IntelHexImage image = IntelHexImage::parse(std::string_view(text.data(), text.size()));
    QCOMPARE(image.error(), error);
    QCOMPARE(image.errorLine(), line);
    QCOMPARE(image.isValid(), error == Error::None);
}

void TestBoardParts::adcCode_data()
{
    QTest::addColumn<double>("volts");
    QTest::addColumn<int>("code");
    QTest::newRow("just below one step") << 0.0012207 << 0;
    QTest::newRow("one step") << 5.0 / 4096 << 1;
    QTest::newRow("2.5 V") << 2.5 << 2048;
    QTest::newRow("DAC full scale") << 4.9999237060546875 << 4095;
    QTest::newRow("above supply: capped") << 7.5 << 4095;
    QTest::newRow("negative") << -1.0 << 0;
}

void TestBoardParts::adcCode()
{
    QFETCH(double, volts);
    QFETCH(int, code);
    QCOMPARE(SimulatedBoard::adcCode(volts), code);
}

void TestBoardParts::muxReadback_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<BoardStatus>("status");
    QTest::addColumn<int>("code");
    // A to D hold 0x1000, 0x8000, 0xC000 and 0x1234; C is selected before the mask.
    QTest::newRow("A") << 1 << BoardStatus::Ok << 0x100;
    QTest::newRow("B") << 2 << BoardStatus::Ok << 0x800;
    QTest::newRow("D") << 8 << BoardStatus::Ok << 0x123;
    QTest::newRow("H, no DAC") << 128 << BoardStatus::Ok << 0;
    QTest::newRow("none: C kept") << 0 << BoardStatus::RequestRefused << 0xC00;
    QTest::newRow("A and H: C kept") << 129 << BoardStatus::RequestRefused << 0xC00;
    QTest::newRow("beyond H: C kept") << 256 << BoardStatus::RequestRefused << 0xC00;
}

void TestBoardParts::muxReadback()
{
    QFETCH(int, mask);
    QFETCH(BoardStatus, status);
    QFETCH(int, code);
    const auto send = [](SimulatedBoard &board, std::uint8_t code, std::int32_t value,
                         std::int32_t index = 0, std::span<std::uint8_t> data = {}) {
        return board.transfer(*BoardProtocol::findRequest(code), value, index, data);
    };
    SimulatedBoard board;
    QCOMPARE(board.search(BoardProtocol::vendorId, BoardProtocol::productId), 1);
    QCOMPARE(board.open(1), BoardStatus::Ok);
    QCOMPARE(board.loadFirmware(IntelHexImage::load(TX4410_FIRMWARE_SOURCE)), BoardStatus::Ok);
    for (const std::int32_t word : {0x181000, 0x198000, 0x1AC000, 0x1B1234})
        QCOMPARE(send(board, 0xDD, word & 0xFFFF, word >> 16), BoardStatus::Ok);
    QCOMPARE(send(board, 0xCC, 4), BoardStatus::Ok);
    QCOMPARE(send(board, 0xCC, mask), status);
    std::array<std::uint8_t, 2> reply {0x5A, 0x5A};
    QCOMPARE(send(board, 0xBB, 0, 0, reply), BoardStatus::Ok);
    QCOMPARE(reply[0] << 8 | reply[1], code);
}

void TestBoardParts::dacOutputs_data()
{
    // Each step is a frame in hexadecimal or a pin level: "CLR low", "LDAC high".
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<Volts>("volts");
    QTest::addColumn<QList<int>>("modes"); // power-down modes of A to D, when given

    const Volts zero(4, 0.0), mid(4, 2.5);
    const double fullScale = 65535 * 5.0 / 65536;
    const auto row = [](const char *name, const QStringList &steps, const Volts &volts,
                        const QList<int> &modes = {}) {
        QTest::newRow(name) << steps << volts << modes;
    };
    row("write input A: output unchanged", {"008000"}, zero);
    row("write input A, update A", {"008000", "080000"}, {2.5, 0, 0, 0});
    row("write input A, update B", {"008000", "090000"}, zero);
    row("write input all, update all", {"078000", "0F0000"}, mid);
    row("write input B and update all", {"004000", "118000"}, {1.25, 2.5, 0, 0});
    row("write and update all, no channel addressed", {"034000", "148000"}, {0, 0, 0, 1.25});
    row("write and update C, full scale", {"1AFFFF"}, {0, 0, fullScale, 0});
    row("one step", {"180001"}, {5.0 / 65536, 0, 0, 0});
    row("address 4 names no channel", {"1C8000"}, zero);
    row("bits above the command ignored", {"7FD98000"}, {0, 2.5, 0, 0});

    row("1 kOhm on B and D", {"1F8000", "20001A"}, {2.5, 0, 2.5, 0}, {0, 1, 0, 1});
    row("three-state on all", {"1F8000", "20003F"}, zero, {3, 3, 3, 3});
    row("100 kOhm on A", {"1F8000", "200021"}, {0, 2.5, 2.5, 2.5}, {2, 0, 0, 0});
    row("power-down ignores its address", {"1F8000", "270014"}, {2.5, 2.5, 0, 2.5}, {0, 0, 1, 0});
    row("normal mode again: DAC register kept", {"1F8000", "20003F", "20000F"}, mid);

    row("reset, registers only", {"1F8000", "280000"}, zero);
    row("reset, registers only: reference stays", {"380001", "280000", "1F8000"}, Volts(4, 1.25));
    row("reset, registers only: power-down stays", {"20003F", "280000", "1F8000"}, zero);
    row("reset, registers only: LDAC register stays", {"300001", "280000", "008000"},
        {2.5, 0, 0, 0});
    row("reset all: registers zero", {"1F8000", "280001"}, zero);
    row("reset all: reference off", {"380001", "280001", "1F8000"}, mid);
    row("reset all: channels powered up", {"20003F", "280001", "1F8000"}, mid);
    row("reset all: LDAC register cleared", {"30000F", "280001", "078000"}, zero);

    row("LDAC register B only", {"300002", "078000"}, {0, 2.5, 0, 0});
    row("LDAC register cleared", {"30000F", "300000", "078000"}, zero);
    row("internal reference", {"380001", "1F8000"}, Volts(4, 1.25));
    row("internal reference off again", {"380001", "380000", "1F8000"}, mid);

    row("CLR low loads zero scale", {"1F8000", "CLR low", "CLR high"}, zero);
    row("CLR held low: inputs still written", {"CLR low", "1F8000", "CLR high", "0F0000"}, mid);
    row("CLR held low: outputs stay at zero", {"CLR low", "1F8000"}, zero);
    row("LDAC falling edge copies inputs", {"004000", "018000", "02C000", "LDAC low"},
        {1.25, 2.5, 3.75, 0});
    row("LDAC held low passes input writes", {"LDAC low", "00C000", "034000"}, {3.75, 0, 0, 1.25});
    row("LDAC high again", {"LDAC low", "LDAC high", "008000"}, zero);
}

void TestBoardParts::dacOutputs()
{
    QFETCH(QStringList, steps);
    QFETCH(Volts, volts);
    QFETCH(QList<int>, modes);
    SimulatedDac dac;
    for (const QString &step : steps) {
        if (step.startsWith(u"CLR "))
            dac.setClrPin(step.endsWith(u"high"));
        else if (step.startsWith(u"LDAC "))
            dac.setLdacPin(step.endsWith(u"high"));
        else
            dac.writeFrame(step.toUInt(nullptr, 16));
    }
    Volts actual;
    QList<int> actualModes;
    for (int channel = 0; channel < SimulatedDac::channelCount; ++channel) {
        actual.append(dac.outputVolts(channel));
        actualModes.append(static_cast<int>(dac.powerMode(channel)));
    }
    QCOMPARE(actual, volts);
    if (!modes.isEmpty())
        QCOMPARE(actualModes, modes);
}

void TestBoardParts::traceFormat_data()
{
    QTest::addColumn<QString>("built");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const TraceLine &line, const char *expected) {
        QTest::newRow(name) << QString::fromStdString(line.text()) << expected;
    };
    std::array<std::uint8_t, 128> list {};
    row("negative numbers",
        TraceLine("VendorIORequest").hex("request", -1).decimal("length", -2).status(-6),
        "VendorIORequest request=-0x1 length=-2 status=-6");
    row("null pointers",
        TraceLine("Connect")
                .hexAt("handle", nullptr)
                .decimalAt("found", nullptr)
                .bytes("buffer", nullptr, 2)
                .path("path", nullptr, 10)
                .status(3),
        "Connect handle=null found=null buffer=null path=null status=3");
    row("path with backslash, quote, space and control byte",
        TraceLine("LoadFirmWare").path("path", "C:\\a \"b\"\t\xC3\xA9", 100).status(0),
        R"(LoadFirmWare path="C:\\a \"b\"\x09\xc3\xa9" status=0)");
    row("overlong path", TraceLine("LoadFirmWare").path("path", "abcdef", 5).status(-4),
        "LoadFirmWare path=overlong status=-4");
    row("path at the limit", TraceLine("LoadFirmWare").path("path", "abcde", 5).status(0),
        R"(LoadFirmWare path="abcde" status=0)");
    row("empty board list", TraceLine("S").boardList("boardList", list.data(), list.size()),
        "S boardList=[00]");
    list[0] = 1;
    list[2] = 3;
    row("board list up to its last board",
        TraceLine("S").boardList("boardList", list.data(), list.size()), "S boardList=[01 00 03]");
}

void TestBoardParts::traceFormat()
{
    QFETCH(QString, built);
    QFETCH(QString, expected);
    QCOMPARE(built, expected);
}

void TestBoardParts::tracedBufferBytes_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("bytes");
    QTest::newRow("command word") << 0xDD << 0 << 1;
    QTest::newRow("read ADC") << 0xBB << 2 << 2;
    QTest::newRow("read ADC, claimed one") << 0xBB << 1 << 1;
    QTest::newRow("read ADC, claimed many") << 0xBB << 30000 << 2;
    QTest::newRow("pin, claimed two") << 0xE0 << 2 << 1;
    QTest::newRow("negative length") << 0xBB << -5 << 1;
}

void TestBoardParts::tracedBufferBytes()
{
    QFETCH(int, code);
    QFETCH(int, length);
    QFETCH(int, bytes);
    QCOMPARE(::tracedBufferBytes(code, length), std::size_t(bytes));
}

void TestBoardParts::parsesBack_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("backslashes and spaces") << QByteArray("C:\\Eval dir\\TX4413.hex");
    QTest::newRow("quotes") << QByteArray("/a \"quoted\" dir/x.hex");
    QTest::newRow("control and high bytes, escape-like text") << QByteArray("/\x01\x7f\xff/\\x41");
    QTest::newRow("empty") << QByteArray("");
}

// What the other tests read back from a trace: function, numbers, path, status.
void TestBoardParts::parsesBack()
{
    QFETCH(QByteArray, path);
    const std::array<std::uint8_t, 2> reply {0x01, 0x23};
    const std::optional<BoardTrace::Record> record
            = BoardTrace::parseLine(QString::fromStdString(TraceLine("Vendor_Request")
                                                                   .hex("handle", 0x44100001)
                                                                   .hex("value", -2)
                                                                   .decimal("direction", 1)
                                                                   .bytes("buffer", reply.data(), 2)
                                                                   .path("path", path.data(), 4096)
                                                                   .status(-6)
                                                                   .text()));
    QVERIFY(record);
    QCOMPARE(record->function, "Vendor_Request");
    QCOMPARE(record->status, -6);
    QCOMPARE(record->number("handle"), 0x44100001);
    QCOMPARE(record->number("value"), -2);
    QCOMPARE(record->number("direction"), 1);
    QCOMPARE(record->path("path"), path);
    QVERIFY(!record->number("missing"));
}

QTEST_APPLESS_MAIN(TestBoardParts)
#include "tst_boardparts.moc"
