#include "udevrules.h"
#include "windowonboard.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <unistd.h>

namespace {

struct CliRun
{
    int status = -1;
    QStringList out;
    QString err;
    QList<TraceRecord> trace;
};

// The real program on the simulated board, every board call traced; '' is an empty argument.
// Each word of extra: VARIABLE=value; >FILE, 2>FILE, <&- (closed) as in a shell; INT@N, TERM@N,
// STOP@N: that signal once N calls are traced (INT as Ctrl-C; STOP for 1.3 s as Ctrl-Z and fg);
// NOUSB: the USB board, in a umockdev testbed whose /dev/bus/usb is no folder (where a testbed
// has none, umockdev shows this machine's own).
CliRun runCli(QString arguments, const QByteArray &input = {}, const QString &extra = {})
{
    const QTemporaryDir scratch;
    const QString trace = scratch.filePath(QStringLiteral("trace"));
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TX4410_BOARD"), QStringLiteral("sim"));
    environment.insert(QStringLiteral("TX4410_BOARD_TRACE"), trace);
    for (const QString &word : extra.split(u' ', Qt::SkipEmptyParts)) {
        if (word.startsWith(u'>') || word.startsWith(u"2>"))
            word[0] == u'>' ? process.setStandardOutputFile(word.mid(1))
                            : process.setStandardErrorFile(word.mid(2));
        else if (word == u"<&-")
            process.setChildProcessModifier([] { ::close(STDIN_FILENO); });
        else if (word == u"NOUSB")
            environment.remove(QStringLiteral("TX4410_BOARD"));
        else if (!word.contains(u'@') && !word.startsWith(u"HEX:"))
            environment.insert(word.section(u'=', 0, 0), word.section(u'=', 1));
    }
    process.setProcessEnvironment(environment);
    // HEX:TEXT, a copy of the program beside a firmware image of that text (none for "-").
    QString program = QStringLiteral(TX4410_CLI);
    if (const QString hex = extra.section(QStringLiteral("HEX:"), 1).section(u' ', 0, 0);
        !hex.isEmpty()) {
        program = scratch.filePath("tx4410-cli");
        QFile image(scratch.filePath("TX4413.hex"));
        if (!QFile::copy(QStringLiteral(TX4410_CLI), program)
            || (hex != u"-" && !(image.open(QIODevice::WriteOnly) && image.write(hex.toLatin1()))))
            return {};
    }
    QStringList words = arguments.split(u' ', Qt::SkipEmptyParts).replaceInStrings("''", QString());
    if (extra.contains(u"NOUSB")) {
        QFile record(scratch.filePath("nodes.umockdev"));
        if (!record.open(QIODevice::WriteOnly)
            || record.write("P: /devices/platform/node\nN: bus/usb=00\nE: SUBSYSTEM=platform\n")
                    < 0)
            return {};
        record.close();
        words = QStringList {"-d", record.fileName(), "--", program} + words;
        program = QStringLiteral(TX4410_UMOCKDEV_RUN);
    }
    process.start(program, words);
    process.write(input);
    process.closeWriteChannel();
    if (const int after = extra.section(u'@', 1).section(u' ', 0, 0).toInt(); after > 0) {
        const bool stop = extra.contains(u"STOP@");
        const int signal = stop ? SIGSTOP : extra.contains(u"TERM@") ? SIGTERM : SIGINT;
        const bool traced = QTest::qWaitFor([&] { return readTrace(trace).size() >= after; });
        // 0 once it has ended, and kill(0) would signal this whole process group.
        const auto pid = pid_t(process.processId());
        if (!traced || pid <= 0 || ::kill(pid, signal) != 0)
            return {};
        QTest::qSleep(stop ? 1300 : 0);
        ::kill(pid, SIGCONT);
    }
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    if (process.state() != QProcess::NotRunning || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(),
            QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts),
            QString::fromUtf8(process.readAllStandardError()), readTrace(trace)};
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

        // In a comma locale: numbers are read with "." whatever the user's.
        const CliRun cli = runCli("write " + arguments, {}, QStringLiteral("LC_ALL=de_DE.UTF-8"));
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
                                  "read --channel C --csv\n",
                                  "LC_ALL=de_DE.UTF-8");
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
            QVERIFY2(cells[0].toDouble() >= (row < 8 ? 0.15 * (row - 5) : 0.3),
                     qPrintable(cli.out[row]));
        }
        const QList<TraceRecord> &calls = cli.trace;
        QCOMPARE(calls.size(), 14);
        QCOMPARE(callsOf(calls).mid(0, 8),
                 QStringList({"Search_For_Boards", "Connect", "Download_Firmware", "0xe1 0x0 0x0",
                              "0xf0 0x0 0x0", "0xdd 0xc000 0x1a", "0xcc 0x4 0x0", "0xbb 0x0 0x0"}));
        QCOMPARE(calls[2].fields.section("path=", 1), "\"" TX4410_BIN_DIR "/TX4413.hex\"");
        QCOMPARE(calls[3].number("handle"), calls[1].number("handle"));
    }

    void readRows_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("output"); // a pattern of the whole output, its lines joined
        QTest::addColumn<QString>("reads");  // each channel selected (its mask) and each read

        // DAC A at 1.25 V and C at 3.75 V read 1024 and 3072 against 5 V.
        const QByteArray set = "write --command 3 --address A --code 0x4000\n"
                               "write --command 3 --address C --code 0xC000\n";
        const QString words = QStringLiteral("0x00184000\n0x001AC000\n");
        QTest::newRow("two channels a line, in the order given")
                << "batch" << set + "read --channel C,A --count 2 --interval-ms 50\n"
                << words + "3.75000 1.25000\n3.75000 1.25000"
                << "4 read 1 read 4 read 1 read";
        QTest::newRow("CSV rows of a sample share its time")
                << "batch"
                << set + "read --channel A --channel c --count 2 --interval-ms 100 --csv\n"
                << words
                        + "time_s,channel,code,volts\n(0\\.000),A,1024,1\\.25000\n\\1,C,3072,"
                          "3\\.75000\n(0\\.1\\d\\d),A,1024,1\\.25000\n\\2,C,3072,3\\.75000"
                << "1 read 4 read 1 read 4 read";
        QTest::newRow("ALL, A to D") << "batch" << set + "read --channel all --csv\n"
                                     << words
                        + "time_s,channel,code,volts\n0\\.000,A,1024,1\\.25000\n0\\.000,B,0,"
                          "0\\.00000\n0\\.000,C,3072,3\\.75000\n0\\.000,D,0,0\\.00000"
                                     << "1 read 2 read 4 read 8 read";
        QTest::newRow("one channel selected once")
                << "read --channel D --count 3 --interval-ms 10" << QByteArray()
                << "0\\.00000\n0\\.00000\n0\\.00000"
                << "8 read read read";
        // One header for the run: time_utc in every row once a read asks for it.
        const QString utc
                = QStringLiteral("20\\d\\d-[01]\\d-[0-3]\\dT[0-2]\\d:[0-5]\\d:[0-5]\\d\\.\\d{3}Z");
        QTest::newRow("a batch of relative and ISO reads, one header")
                << "batch"
                << QByteArray("read --channel A --csv\nread --channel B --csv --timestamps iso\n")
                << "time_s,time_utc,channel,code,volts\n0\\.000," + utc
                        + ",A,0,0\\.00000\n\\d\\.\\d{3}," + utc + ",B,0,0\\.00000"
                << "1 read 2 read";
        // time_s counts from the first CSV sample, not from a read without --csv before it.
        QTest::newRow("a batch whose first CSV read is after another")
                << "batch"
                << QByteArray("read --channel A --count 2 --interval-ms 100\nread --channel B "
                              "--csv\nread --channel C --csv\n")
                << "0\\.00000\n0\\.00000\ntime_s,channel,code,volts\n0\\.000,B,0,0\\.00000\n0\\."
                   "0\\d\\d,"
                   "C,0,0\\.00000"
                << "1 read read 2 read 4 read";
    }

    // What read prints, and the requests that reached the board for it.
    void readRows()
    {
        QFETCH(QString, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QString, output);
        const CliRun cli = runCli(arguments, input);
        QCOMPARE(cli.status, 0);
        const QString printed = cli.out.join(u'\n');
        QVERIFY2(QRegularExpression(u'^' + output + u'$').match(printed).hasMatch(),
                 qPrintable(printed));
        QStringList reads;
        for (const QString &call : callsOf(cli.trace, true)) {
            if (call.startsWith(u"0xcc "))
                reads << call.section(u' ', 1, 1).mid(2);
            else if (call.startsWith(u"0xbb "))
                reads << QStringLiteral("read");
        }
        QTEST(reads.join(u' '), "reads");
    }

    void exitStatus_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message"); // a pattern: in the first error line, or last output
        QTest::addColumn<int>("calls");       // of the board library

        const auto row = [](const char *name, const QString &arguments, int status,
                            const char *message, int calls, const char *setting = "",
                            const QByteArray &input = {}) {
            QTest::newRow(name) << arguments << input << setting << status << message << calls;
        };
        const QString dacA = QStringLiteral("write --command 3 --address A ");
        row("unknown command", "frob", 2, "unknown command \"frob\"", 0);
        row("unknown option", "read --channel A --bogus", 2, "'bogus'", 0);
        row("number that does not parse", dacA + "--code 12g", 2, "12g", 0);
        row("code out of range", dacA + "--code 65536", 2, "65536", 0);
        row("word beyond bit 30", "word 0x80000000", 2, "0x80000000", 0);
        row("command 8, never offered", "write --command 8 --address A --code 0", 2, "8", 0);
        row("volts above the reference", dacA + "--volts 3.4 --vref 3.3", 2, "3.4 is out of", 0);
        row("volts below 0", dacA + "--volts -0.1", 2, "--volts -0.1 is out of range", 0);
        row("reference 0", dacA + "--volts 0 --vref 0", 2, "--vref 0 is not above 0", 0);
        row("negative vdd", "read --channel A --vdd -5", 2, "--vdd -5 is not above 0", 0);
        row("decimal comma", dacA + "--volts 2,5", 2, "\"2,5\"", 0, "LC_ALL=de_DE.UTF-8");
        row("unknown option of the program", "--frob", 2, "Unknown option 'frob'", 0);
        row("-h", "-h", 0, "", 0);
        row("-v", "-v", 0, "", 0);
        row("version with more", "--version bogus", 2, "unexpected \"bogus\"", 0);
        row("batch of an empty file name", "batch ''", 2, "file name is empty", 0);
        row("control characters", "batch", 2, "unknown command \"frob\\\\x1b\\[2J\\\\x00\"", 0, "",
            QByteArray("frob\x1b[2J\0\n", 10));
        row("volts with a command that takes none", "write --command 1 --address A --volts 1", 2,
            "command 1 takes no voltage", 0);
        row("missing required option", "write --command 3 --code 1", 2, "needs --address", 0);
        row("pins without a pin", "pins", 2, "pins needs", 0);
        row("bad batch line, nothing sent", "batch", 2, "line 3: --address \"Q\"", 0, "",
            "write --command 3 --address A --code 1\n# next\nwrite --command 3 --address Q\n");
        row("batch of comments only", "batch", 0, "", 0, "", "# nothing to send\n\n");
        row("batch line too long", "batch", 2, "line 2: longer than 4096 bytes", 0, "",
            "word 1\n" + QByteArray(4097, '#'));
        row("endless batch", "batch /dev/zero", 2, "line 1: the batch is larger than 16 MiB", 0);
        row("unreadable batch", "batch /proc/self/mem", 2, "Input/output error", 0);
        row("closed standard input", "batch", 2, "cannot read standard input", 0, "<&-");
        // The header fails before the multiplexer is asked.
        row("standard output full", "read --channel A --csv", 1,
            "cannot write standard output: No space left on device", 3, ">/dev/full");
        row("standard error full", "frob", 1, "", 0, "2>/dev/full");
        row("no board, after a wait", "--wait 1 pins --clr 1", 3,
            "not brought up: no board found under the configured USB identities. Fix: connect", 6,
            "TX4410_SIM_ABSENT_ATTEMPTS=always");
        row("no board at the port chosen", "--board 1-9 read --channel A", 3,
            "no board at the chosen port. Fix: choose a port that 'tx4410-cli list' shows", 3);
        row("a port that is none", "--board 1.9 read --channel A", 2, "--board \"1.9\"", 0);
        row("attach to a board not loaded", "--attach read --channel A", 3,
            "runs only its loader, so there is nothing to attach to. Fix: bring it up without", 3);
        row("malformed configuration", "read --channel A", 3,
            "\\(TX4410_FIRMWARE_ID \"66664410\" is not VENDOR:PRODUCT", 3,
            "TX4410_FIRMWARE_ID=66664410");
        row("list of none", "list", 0, "", 0, "TX4410_SIM_ABSENT_ATTEMPTS=always");
        row("firmware image missing", "read --channel A", 3,
            "the firmware image TX4413.hex is missing \\(/.*/TX4413.hex\\)\\. Fix: put the board "
            "maker's image at /etc/tx4410/TX4413.hex",
            3, "HEX:-");
        row("firmware image of an end record only", "read --channel A", 3,
            "is not an Intel HEX image for the board's RAM .*\\[status 6, FirmwareInvalid\\]", 3,
            "HEX::00000001FF");
        row("board during a wait", "pins --clr 1 --wait 2", 0, "", 7,
            "TX4410_SIM_ABSENT_ATTEMPTS=1");
        row("stopped past the deadline of a wait", "--wait 1 pins --clr 1", 3, "no board", 6,
            "TX4410_SIM_ABSENT_ATTEMPTS=always STOP@3"); // attempts at 0 s and when continued
        const QString read = QStringLiteral("read --channel B --csv --interval-ms ");
        row("Ctrl-C, the rows so far", read + "5000 --count 9", 0, "^0\\.000,B,0,0\\.00000$", 5,
            "INT@5");
        row("count 0, until Ctrl-C", read + "5000 --count 0", 0, "^0\\.000,B,0,0\\.00000$", 5,
            "INT@5");
        row("count 0, until SIGTERM", read + "5000 --count 0", 0, "^0\\.000,B,0,0\\.00000$", 5,
            "TERM@5");
        // Cut short, a batch or a wait is not done: 128 and the signal's number, as a sweep.
        row("batch cut short by SIGTERM", "batch", 143, "line 1: interrupted", 5, "TERM@5",
            "read --channel B --interval-ms 5000 --count 9\npins --clr 0\n");
        row("wait cut short by Ctrl-C", "--wait 30 pins --clr 1", 130,
            "interrupted while waiting for the board", 3,
            "TX4410_SIM_ABSENT_ATTEMPTS=always INT@3");
        row("count 0 goes on", read + "1000 --count 0", 0, "^1\\.0\\d\\d,B,0,0\\.00000$", 6,
            "INT@6");
        row("UTC beside the seconds, in another zone", "read --channel C --csv --timestamps iso", 0,
            "^0\\.000,20\\d\\d-[01]\\d-[0-3]\\dT[0-2]\\d:[0-5]\\d:[0-5]\\d\\.\\d{3}Z,C,0,0\\."
            "00000$",
            5, "TZ=Asia/Tokyo");
        row("count below 0", "read --channel A --count -1", 2,
            "--count -1 is out of range 0 to 2147483647 \\(0 reads until Ctrl-C\\)", 0);
        row("a channel named twice", "read --channel A,a", 2, "--channel names A twice", 0);
        row("ALL and a channel of it", "read --channel ALL --channel D", 2,
            "--channel names D twice", 0);
        row("an empty channel in a list", "read --channel A,", 2,
            "--channel \"\" is not one of A\\|B\\|C\\|D\\|ALL", 0);
        row("timestamps without CSV", "read --channel C --timestamps iso", 2,
            "--timestamps goes with --csv \\(see tx4410-cli --help\\)$", 0);
        row("timestamps of no kind", "read --channel C --csv --timestamps local", 2,
            "--timestamps \"local\"", 0);
        row("no /dev/bus/usb folder: list", "list", 1,
            "^tx4410-cli: USB cannot be looked at on this machine \\(/dev/bus/usb: not a folder\\)"
            "\\. Fix: check /dev/bus/usb.*\\[status 30, UsbUnavailable\\]$",
            0, "NOUSB");
        row("no /dev/bus/usb folder: a bring-up", "read --channel A", 3,
            "not brought up: USB cannot be looked at on this machine \\(/dev/bus/usb: not a folder",
            3, "NOUSB");
        row("stopped read, sample 39 due at 1.95 s", read + "50 --count 40", 0,
            "^(1\\.9[5-9]|2\\.)\\d*,B,0,0\\.00000$", 44, "STOP@8");
        row("request failed, with its meaning and fix", "read --channel A", 4,
            "request SelectMuxChannel \\(0xcc\\) failed: a USB transfer failed\\. Fix: check the "
            "cable.*\\[status 14, RequestFailed\\]$",
            4, "TX4410_SIM_FAIL_REQUESTS=1");
        row("request failed in a batch", "batch", 4, "line 2: request SetClrPin \\(0xe0\\) failed",
            4, "TX4410_SIM_FAIL_REQUESTS=1", "\npins --ldac 1 --clr 0\nword 1\n");
    }

    void exitStatus()
    {
        QFETCH(QString, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QString, setting);
        QFETCH(int, status);
        QFETCH(QString, message);

        const CliRun cli = runCli(arguments, input, setting);
        QCOMPARE(cli.status, status);
        const QString said
                = status ? cli.err.section(u'\n', 0, 0) : cli.out.value(cli.out.size() - 1);
        QVERIFY2(said.contains(QRegularExpression(message)) && !said.contains(u"cli: tx4410-cli")
                         && (status || cli.err.isEmpty()),
                 qPrintable(said + '\n' + cli.err));
        // A usage error is one line, never the usage itself.
        QCOMPARE(cli.err.endsWith(QStringLiteral(" (see tx4410-cli --help)\n")), status == 2);
        QVERIFY(status != 2 || cli.err.count(u'\n') == 1);
        QTEST(int(cli.trace.size()), "calls");
    }

    void doctor_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("lines"); // patterns of lines; "!" one that must not be

        QTest::newRow("all well") << "doctor"
                                  << "" << 0
                                  << QStringList {"^ok    simulated board: TX4410_BOARD=sim",
                                                  "^ok    board at sim: 6666:4400, loader only"};
        QTest::newRow("a failure before checks that pass")
                << "doctor"
                << "HEX:-" << 1
                << QStringList {"^FAIL  firmware image: .*TX4413.hex: the firmware image",
                                "^ok    board at sim: "};
        QTest::newRow("an image that is no image, its fix without doctor")
                << "doctor"
                << "HEX::00000001FF" << 1
                << QStringList {"^FAIL  firmware image: .*\\[status 6, FirmwareInvalid\\] -- fix: "
                                "put the board maker's image in its place$",
                                "!tx4410-cli doctor"};
        QTest::newRow("the board chosen")
                << "--board sim doctor"
                << "" << 0 << QStringList {"^ok    board at sim: ", "!chosen port"};
        QTest::newRow("a board chosen that is not there")
                << "--board 1-9 doctor"
                << "" << 1
                << QStringList {"^FAIL  chosen port: 1-9 -- fix: choose a port", "!board at sim"};
        QTest::newRow("a simulated board's variable")
                << "doctor"
                << "TX4410_SIM_NOISE_MV=lots" << 1
                << QStringList {"^FAIL  simulated board: TX4410_SIM_NOISE_MV \"lots\" is not a "
                                "number -- fix: correct the TX4410_SIM_ variable",
                                "!boards:"};
        QTest::newRow("a count of absent attempts that is none")
                << "doctor"
                << "TX4410_SIM_ABSENT_ATTEMPTS=bogus" << 1
                << QStringList {"^FAIL  simulated board: TX4410_SIM_ABSENT_ATTEMPTS \"bogus\" is "
                                "not a number or always"};
        QTest::newRow("failing requests asked for as yes")
                << "doctor"
                << "TX4410_SIM_FAIL_REQUESTS=yes" << 1
                << QStringList {"^FAIL  simulated board: TX4410_SIM_FAIL_REQUESTS \"yes\" is not 0 "
                                "or 1"};
        QTest::newRow("a malformed configuration, its page named")
                << "doctor"
                << "TX4410_LOADER_ID=66664400" << 1
                << QStringList {
                           "^FAIL  configuration: TX4410_LOADER_ID .* -- fix: correct the line "
                           "or variable named; see \"The board configuration\" in "
                           "real-board.md",
                           "!^ok    simulated board"};
        QTest::newRow("no /dev/bus/usb folder")
                << "doctor"
                << "NOUSB" << 1
                << QStringList {"^FAIL  USB device nodes: /dev/bus/usb is not a folder -- fix: "
                                "a container needs it passed through",
                                "^FAIL  boards: USB cannot be looked at .*\\[status 30, "
                                "UsbUnavailable\\] -- fix: check /dev/bus/usb: it must exist and "
                                "be open to you; a container",
                                "!^ok    simulated board", "!tx4410-cli doctor"};
    }

    // doctor's verdicts and exit status, each check on its own line.
    void doctor()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, setting);
        QFETCH(QStringList, lines);
        const CliRun cli = runCli(arguments, {}, setting);
        QTEST(cli.status, "status");
        for (const QString &line : lines) {
            const bool absent = line.startsWith(u'!');
            const QRegularExpression pattern(absent ? line.mid(1) : line);
            QVERIFY2(std::ranges::any_of(cli.out,
                                         [&](const QString &out) { return out.contains(pattern); })
                             != absent,
                     qPrintable(line + '\n' + cli.out.join(u'\n')));
        }
    }

    void json_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("keys"); // of every object
        QTest::addColumn<QString>("objects");  // id=status of each, those that depend on the
                                               // machine (udev, device nodes) left out
        const QStringList check {"check", "detail", "fix", "id", "status"};
        QTest::newRow("doctor") << "doctor --json"
                                << "" << 0 << check
                                << "library=ok configuration=ok firmware-image=ok "
                                   "simulated-board=ok board:sim=ok";
        QTest::newRow("doctor, a failure")
                << "doctor --json"
                << "HEX:-" << 1 << check
                << "library=ok configuration=ok firmware-image=fail simulated-board=ok "
                   "board:sim=ok";
        QTest::newRow("doctor, no board") << "doctor --json"
                                          << "TX4410_SIM_ABSENT_ATTEMPTS=always" << 1 << check
                                          << "library=ok configuration=ok firmware-image=ok "
                                             "simulated-board=ok boards=fail";
        QTest::newRow("list") << "list --json"
                              << "" << 0 << QStringList {"code", "detail", "firmware_running",
                                                         "fix",  "id",     "identity",
                                                         "port", "status"}
                              << "sim=Ok,loader";
        QTest::newRow("list of none")
                << "list --json"
                << "TX4410_SIM_ABSENT_ATTEMPTS=always" << 0 << QStringList {} << "";
        // A script still parses what it gets, and reads the status there.
        QTest::newRow("list, no /dev/bus/usb folder")
                << "list --json"
                << "NOUSB" << 1
                << QStringList {"code", "detail", "firmware_running", "fix", "id", "identity",
                                "port", "status"}
                << "bus=UsbUnavailable/30,loader";
        QTest::newRow("doctor, no /dev/bus/usb folder")
                << "doctor --json"
                << "NOUSB" << 1 << check
                << "library=ok configuration=ok firmware-image=fail boards=fail";
    }

    // One JSON array, one object per check or board, for a lab's scripts.
    void json()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, setting);
        QFETCH(QStringList, keys);
        const CliRun cli = runCli(arguments, {}, setting);
        QTEST(cli.status, "status");
        QJsonParseError error {};
        const QJsonDocument document
                = QJsonDocument::fromJson(cli.out.join(u'\n').toUtf8(), &error);
        QVERIFY2(error.error == QJsonParseError::NoError && document.isArray(),
                 qPrintable(cli.out.join(u'\n')));
        QStringList objects;
        for (const QJsonValue &value : document.array()) {
            const QJsonObject object = value.toObject();
            QCOMPARE(object.keys(), keys);
            const QString id = object["id"].toString();
            const int code = object["code"].toInt();
            if (!id.startsWith(u"udev-") && id != u"usb-nodes")
                objects << id + u'=' + object["status"].toString()
                                + (code != 0 ? u'/' + QString::number(code) : QString())
                                + (!object.contains("firmware_running")          ? ""
                                           : object["firmware_running"].toBool() ? ",firmware"
                                                                                 : ",loader");
            // A failing check says how to fix it, in its fix alone, and never to run doctor.
            const QString fix = object["fix"].toString();
            QVERIFY((object["status"].toString() != u"fail" && code == 0) || !fix.isEmpty());
            QVERIFY2(!object["detail"].toString().contains(u"Fix:"), qPrintable(id));
            QVERIFY(!arguments.startsWith(u"doctor") || !fix.contains(u"tx4410-cli doctor"));
        }
        QTEST(objects.join(u' '), "objects");
    }

    void udevRule_data()
    {
        QTest::addColumn<QStringList>("local"); // files of /etc/udev/rules.d: name=line
        QTest::addColumn<QString>("identity");
        QTest::addColumn<QString>("before"); // the file that names it before the line is added
        QTest::addColumn<bool>("seated");   // whether that file's rule gives the seat's user access
        QTest::addColumn<QString>("order"); // the files udev reads after, in its order

        QTest::newRow("an identity of its own")
                << QStringList {} << "04b4:8613"
                << "" << false
                << "etc/70-tx4410-local.rules lib/70-tx4410.rules lib/73-seat-late.rules";
        QTest::newRow("the packaged name in /etc replaces the packaged rule")
                << QStringList {"70-tx4410.rules=" + UdevRules::ruleLine("6666", "4410")}
                << "6666:4400"
                << "" << false
                << "etc/70-tx4410-local.rules etc/70-tx4410.rules lib/73-seat-late.rules";
        QTest::newRow("the packaged rule names the loader")
                << QStringList {} << "6666:4400"
                << "lib/70-tx4410.rules" << true
                << "etc/70-tx4410-local.rules lib/70-tx4410.rules lib/73-seat-late.rules";
        QTest::newRow("a rule read after the seat file")
                << QStringList {"99-board.rules=" + UdevRules::ruleLine("04b4", "8613")}
                << "04b4:8613"
                << "etc/99-board.rules" << false
                << "etc/70-tx4410-local.rules lib/70-tx4410.rules lib/73-seat-late.rules "
                   "etc/99-board.rules";
    }

    // The line doctor proposes, written where it says, as udev then reads the folders: the
    // packaged rule still in force, the new one before the seat's uaccess.
    void udevRule()
    {
        QFETCH(QStringList, local);
        QFETCH(QString, identity);
        QFETCH(QString, before);
        const QTemporaryDir scratch;
        const QString etc = scratch.filePath("etc"), lib = scratch.filePath("lib");
        const auto write = [](const QString &path, const QByteArray &text) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
        };
        QVERIFY(QDir().mkpath(etc) && QDir().mkpath(lib));
        QVERIFY(QFile::copy(TX4410_UDEV_RULE, lib + "/70-tx4410.rules"));
        QVERIFY(write(lib + "/73-seat-late.rules",
                      "TAG==\"uaccess\", RUN{builtin}+=\"uaccess\"\n"));
        for (const QString &file : local)
            QVERIFY(write(etc + u'/' + file.section(u'=', 0, 0), file.section(u'=', 1).toUtf8()));
        const QStringList folders {etc, lib};
        const QString vendor = identity.left(4), product = identity.mid(5);
        const auto relative = [&](QStringList paths) {
            return paths.replaceInStrings(scratch.path() + u'/', QString()).join(u' ');
        };
        const QString found = UdevRules::fileFor(UdevRules::effective(folders), vendor, product);
        QCOMPARE(relative({found}), before);
        QTEST(!found.isEmpty() && UdevRules::beforeSeat(found), "seated");
        const QString proposed = etc + u'/' + QLatin1String(UdevRules::localFile);
        QVERIFY(write(proposed, (UdevRules::ruleLine(vendor, product) + u'\n').toUtf8()));
        const QStringList files = UdevRules::effective(folders);
        QTEST(relative(files), "order");
        QCOMPARE(UdevRules::fileFor(files, vendor, product), proposed);
        QVERIFY(UdevRules::beforeSeat(proposed));
        // The firmware's line of the packaged file, or its /etc stand-in, is still read.
        QVERIFY(!UdevRules::fileFor(files, "6666", "4410").isEmpty());
    }
};

QTEST_MAIN(tst_Cli)
#include "tst_cli.moc"
