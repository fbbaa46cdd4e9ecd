#include "windowonboard.h"

#include <QProcess>
#include <QTest>

#include <csignal>

namespace {

struct CliRun
{
    int status = -1;
    QStringList out;
    QString err;
    QList<TraceRecord> trace;
};

// The real program on the simulated board, every board call traced; extra is one VARIABLE=value.
void startCli(QProcess &process, const QString &arguments, const QString &traceFile,
              const QString &extra = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TX4410_BOARD"), QStringLiteral("sim"));
    environment.insert(QStringLiteral("TX4410_BOARD_TRACE"), traceFile);
    if (!extra.isEmpty())
        environment.insert(extra.section(u'=', 0, 0), extra.section(u'=', 1));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TX4410_CLI), arguments.split(u' ', Qt::SkipEmptyParts));
}

CliRun runCli(const QString &arguments, const QByteArray &input = {}, const QString &extra = {})
{
    const QTemporaryDir scratch;
    QProcess process;
    startCli(process, arguments, scratch.filePath(QStringLiteral("trace")), extra);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(),
            QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts),
            QString::fromUtf8(process.readAllStandardError()),
            readTrace(scratch.filePath(QStringLiteral("trace")))};
}

// Each call as its function, a request as its code, value and index the way the trace has them.
QStringList callsOf(const QList<TraceRecord> &records, bool requestsOnly = false)
{
    QStringList calls;
    for (const TraceRecord &call : records) {
        QStringList fields;
        for (const char *name : {"request", "value", "index"})
            fields << "0x" + QString::number(call.number(name).value_or(0), 16);
        if (call.function == u"Vendor_Request")
            calls.append(fields.join(u' '));
        else if (!requestsOnly)
            calls.append(call.function);
    }
    return calls;
}

} // namespace

// tx4410-cli as a script runs it, checked by what reached the board.
class tst_Cli : public QObject
{
    Q_OBJECT

private slots:
    void writeSendsTheWindowsWord_data()
    {
        QTest::addColumn<QString>("steps"); // controls clicked; "box=text" typed into a box
        QTest::addColumn<QString>("arguments");

        QTest::newRow("0, DAC A, code") << "cmdBitsOption_0 hexText=1234"
                                        << "--command 0 --address A --code 0x1234";
        QTest::newRow("1, DAC C") << "addressBitsOption_2 cmdBitsOption_1"
                                  << "--command 1 --address C --code 0";
        QTest::newRow("2, All DACs, volts") << "addressBitsOption_8 cmdBitsOption_2 voltageText=2.5"
                                            << "--command 2 --address ALL --volts 2.5";
        QTest::newRow("3, DAC B, volts against 3.3, rounded")
                << "VrefText=3.3 addressBitsOption_1 cmdBitsOption_3 voltageText=1"
                << "--command 3 --address B --volts 1 --vref 3.3";
        QTest::newRow("4, DAC A and C, 1k Ohm")
                << "cmdBitsOption_4 powerDownCheck_0 powerDownCheck_2 powerDownOption_1"
                << "--command 4 --address A --code 21";
        QTest::newRow("5, last address B") << "addressBitsOption_1 cmdBitsOption_5 ResetOption_1"
                                           << "--command 5 --address B --code 1";
        QTest::newRow("6, DAC B and D")
                << "cmdBitsOption_6 LDACOverwriteCheck_1 LDACOverwriteCheck_3"
                << "--command 6 --address A --code 0xA";
        QTest::newRow("7, reference on") << "cmdBitsOption_7 refOption_1"
                                         << "--command 7 --address A --code 1";
    }

    void writeSendsTheWindowsWord()
    {
        QFETCH(QString, steps);
        QFETCH(QString, arguments);

        WindowOnBoard window;
        QVERIFY(window.open());
        QVERIFY(window.perform(steps.split(u' ')));
        window.forgetCalls();
        QVERIFY(window.perform({QStringLiteral("writeToPartCommand")}));

        const CliRun cli = runCli(QStringLiteral("write ") + arguments);
        QCOMPARE(callsOf(cli.trace, true), callsOf(window.calls()));
        const TraceRecord sent = window.calls().value(0);
        const qint64 word
                = sent.number("index").value_or(0) * 65536 + sent.number("value").value_or(0);
        QCOMPARE(cli.out, QStringList {QString::asprintf("0x%08llX", word)});
    }

    void batchRunsOnOneBringUp()
    {
        // DAC C at 3.75 V reads 3072 on the ADC against 5 V: 2.475 V against a Vdd of 3.3. One
        // batch is one run: one CSV header, time counted from its first sample.
        const CliRun cli = runCli(QStringLiteral("batch"),
                                  "pins --ldac 0 --clr 1 # first\n\n"
                                  "write --command 3 --address C --code 0xC000\n"
                                  "read --channel C --vdd 3.3\n"
                                  "read --channel D --count 3 --interval-ms 150 --csv\n"
                                  "read --channel C --csv\n");
        QCOMPARE(cli.status, 0);
        QCOMPARE(cli.out.size(), 9);
        QCOMPARE(cli.out.mid(0, 5),
                 QStringList({"CLR HI", "LDAC LOW", "0x001AC000", "2.47500",
                              "time_s,channel,code,volts"}));
        for (int row = 5; row < 9; ++row) {
            const QStringList cells = cli.out[row].split(u',');
            QCOMPARE(cells.mid(1),
                     row < 8 ? QStringList({"D", "0", "0.00000"})
                             : QStringList({"C", "3072", "3.75000"}));
            const double late = cells[0].toDouble() - (row < 8 ? 0.15 * (row - 5) : 0.3);
            QVERIFY2(late >= 0 && late < 0.1, qPrintable(cli.out[row]));
        }
        const QList<TraceRecord> &calls = cli.trace;
        QCOMPARE(calls.size(), 14);
        QCOMPARE(callsOf(calls).mid(0, 8),
                 QStringList({"Search_For_Boards", "Connect", "Download_Firmware", "0xe1 0x0 0x0",
                              "0xf0 0x0 0x0", "0xdd 0xc000 0x1a", "0xcc 0x4 0x0", "0xbb 0x0 0x0"}));
        QCOMPARE(calls[2].fields.section("path=", 1), "\"" TX4410_BIN_DIR "/TX4413.hex\"");
        QCOMPARE(calls[3].number("handle"), calls[1].number("handle"));
    }

    void exitStatus_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message"); // in the first line of standard error
        QTest::addColumn<int>("calls");       // of the board library

        const auto row = [](const char *name, const char *arguments, int status,
                            const char *message, int calls, const char *setting = "",
                            const QByteArray &input = {}) {
            QTest::newRow(name) << arguments << input << setting << status << message << calls;
        };
        row("unknown command", "frob", 2, "unknown command \"frob\"", 0);
        row("unknown option", "read --channel A --bogus", 2, "'bogus'", 0);
        row("number that does not parse", "write --command 3 --address A --code 12g", 2, "12g", 0);
        row("code out of range", "write --command 3 --address A --code 65536", 2, "65536", 0);
        row("word out of range", "word 0x100000000", 2, "0x100000000", 0);
        row("volts with a command that takes none", "write --command 1 --address A --volts 1", 2,
            "command 1 takes no voltage", 0);
        row("missing required option", "write --command 3 --code 1", 2, "needs --address", 0);
        row("pins without a pin", "pins", 2, "pins needs", 0);
        row("bad batch line, nothing sent", "batch", 2, "line 3: --address \"Q\"", 0, "",
            "write --command 3 --address A --code 1\n# next\nwrite --command 3 --address Q\n");
        row("no board, after a wait", "--wait 1 pins --clr 1", 3,
            "not brought up: no board found under the configured USB identities. Fix: connect",
            6, "TX4410_SIM_ABSENT_ATTEMPTS=always");
        row("no board at the port chosen", "--board 1-9 read --channel A", 3,
            "no board at the chosen port. Fix: choose a port that 'tx4410-cli list' shows", 3);
        row("a port that is none", "--board 1.9 read --channel A", 2, "--board \"1.9\"", 0);
        row("attach to a board not loaded", "--attach read --channel A", 3,
            "runs only its loader, so there is nothing to attach to. Fix: bring it up without", 3);
        row("malformed configuration", "read --channel A", 3,
            "(TX4410_FIRMWARE_ID \"66664410\" is not VENDOR:PRODUCT", 3,
            "TX4410_FIRMWARE_ID=66664410");
        row("list of none", "list", 0, "", 0, "TX4410_SIM_ABSENT_ATTEMPTS=always");
        row("board during a wait", "pins --clr 1 --wait 2", 0, "", 7,
            "TX4410_SIM_ABSENT_ATTEMPTS=1");
        row("request failed", "read --channel A", 4, "request SelectMuxChannel (0xcc) failed", 4,
            "TX4410_SIM_FAIL_REQUESTS=1");
        row("request failed in a batch", "batch", 4, "line 2: request SetClrPin (0xe0) failed", 4,
            "TX4410_SIM_FAIL_REQUESTS=1", "\npins --ldac 1 --clr 0\nword 1\n");
    }

    void exitStatus()
    {
        QFETCH(QString, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QString, setting);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(int, calls);

        const CliRun cli = runCli(arguments, input, setting);
        QCOMPARE(cli.status, status);
        const bool said = cli.err.section(u'\n', 0, 0).contains(message);
        QVERIFY2(said && (!message.isEmpty() || cli.err.isEmpty()), qPrintable(cli.err));
        QCOMPARE(cli.err.contains(QStringLiteral("\nUsage:")), status == 2);
        QCOMPARE(cli.trace.size(), calls);
    }

    void interruptEndsTheRunWithItsRows()
    {
        QProcess process;
        startCli(process, QStringLiteral("read --channel B --count 1000 --interval-ms 50 --csv"),
                 QStringLiteral("/dev/null"));
        QByteArray out;
        while (out.count('\n') < 4 && process.waitForReadyRead(5000))
            out += process.readAllStandardOutput();
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(1000) && process.exitStatus() == QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        out += process.readAllStandardOutput();
        const QList<QByteArray> rows = out.split('\n'); // the last one empty: every row whole
        QVERIFY2(rows.size() > 4 && rows.size() < 100 && rows.last().isEmpty()
                         && rows[3].startsWith("0.1") && rows[3].endsWith(",B,0,0.00000"),
                 out.constData());
    }
};

QTEST_MAIN(tst_Cli)
#include "tst_cli.moc"
