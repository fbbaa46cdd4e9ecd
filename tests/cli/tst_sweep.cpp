#include "support/boardtrace.h"

#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <unistd.h>

namespace {

struct SweepRun
{
    int status = -1; // the exit status, or minus the signal that ended it
    QStringList out;
    QString err;
};

// tx4410-cli sweep on the simulated board, run in `dir` (its own process group), as a user runs
// it. Each word of extra: VARIABLE=value; SIG@N, that signal (INT, TERM, HUP or KILL) once N
// board calls are traced (SIG@N+MS: MS milliseconds later, well inside what it waits for);
// METER:OPTIONS, a tx4410-sim-meter with those options (commas for blanks) at the address METER in
// the arguments; FULL:KB, a tmpfs of that size at DIR/full; PLOT:SLOW, a picture that takes a
// minute to draw and INT to the whole group once it has begun.
SweepRun runSweep(const QString &dir, QString arguments, const QString &extra = {})
{
    const QString trace = dir + "/trace";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TX4410_BOARD", "sim");
    if (extra.contains(u'@')) // SIG@N, or TRACE@0 for a trace alone
        environment.insert("TX4410_BOARD_TRACE", trace);
    environment.insert("TX4410_SIM_OUTPUTS_FILE", dir + "/outputs");
    QString program = TX4410_CLI;
    QStringList words = arguments.replace("DIR", dir).split(u' ', Qt::SkipEmptyParts);
    QString signal;
    int after = 0;
    int later = 0;
    for (const QString &word : extra.split(u' ', Qt::SkipEmptyParts)) {
        if (word.startsWith("METER:")) {
            QProcess meter;
            meter.setProcessEnvironment(environment);
            meter.start(TX4410_SIM_METER,
                        QStringList {"--listen", "127.0.0.1:0", "--once", "--detach", "--channel",
                                     arguments.section("--channel ", 1).left(1)}
                                + word.mid(6).split(u',', Qt::SkipEmptyParts));
            if (!meter.waitForFinished() || meter.exitCode() != 0)
                return {};
            const QString where = QString::fromUtf8(meter.readAllStandardOutput()).trimmed();
            words.replaceInStrings("METER", where.section(u' ', -1));
        } else if (word.startsWith("FULL:")) {
            QDir(dir).mkdir("full");
            words = QStringList {"--user",
                                 "--map-root-user",
                                 "--mount",
                                 "sh",
                                 "-c",
                                 "mount -t tmpfs -o size=" + word.mid(5) + "k none \"$0\" && exec \"$@\"",
                                 dir + "/full",
                                 program}
                    + words;
            program = "unshare";
        } else if (word == "PLOT:SLOW") {
            // A copy of the program beside its firmware and a picture that takes a minute.
            QFile plot(dir + "/tx4410-plot");
            if (!QFile::copy(TX4410_CLI, dir + "/tx4410-cli")
                || !QFile::copy(TX4410_BIN_DIR "/TX4413.hex", dir + "/TX4413.hex")
                || !plot.open(QIODevice::WriteOnly)
                || plot.write("#!/bin/sh\ncat > /dev/null\ntouch \"$0.drawing\"\nexec sleep 60\n")
                        < 0
                || !plot.setPermissions(plot.permissions() | QFile::ExeOwner))
                return {};
            program = dir + "/tx4410-cli";
        } else if (word.contains(u'@')) {
            signal = word.section(u'@', 0, 0);
            after = word.section(u'@', 1).section(u'+', 0, 0).toInt();
            later = word.section(u'+', 1).toInt();
        } else {
            environment.insert(word.section(u'=', 0, 0), word.section(u'=', 1));
        }
    }
    QProcess process;
    process.setWorkingDirectory(dir);
    process.setProcessEnvironment(environment);
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.start(program, words);
    if (!process.waitForStarted())
        return {};
    const auto pid = pid_t(process.processId());
    const QMap<QString, int> signalNumbers
            = {{"INT", SIGINT}, {"TERM", SIGTERM}, {"HUP", SIGHUP}, {"KILL", SIGKILL}};
    if (after > 0) {
        if (!QTest::qWaitFor([&] { return readTrace(trace).size() >= after; }, 20000))
            return {};
        QTest::qSleep(later);
        if (::kill(pid, signalNumbers.value(signal)) != 0)
            return {};
    }
    if (extra.contains("PLOT:SLOW")
        && (!QTest::qWaitFor([&] { return QFile::exists(dir + "/tx4410-plot.drawing"); }, 20000)
            || ::kill(-pid, SIGINT) != 0))
        return {};
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    if (process.state() != QProcess::NotRunning) {
        ::kill(-pid, SIGKILL);
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode()
                                                         : -signalNumbers[signal],
            QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts),
            QString::fromUtf8(process.readAllStandardError())};
}

// The data rows of a sweep's CSV, each a list of cells, after checking its columns and that its
// codes rise, each once.
QList<QStringList> csvRows(const QString &path)
{
    QFile file(path);
    QStringList lines = file.open(QIODevice::ReadOnly)
            ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
            : QStringList();
    lines.removeIf([](const QString &line) { return line.startsWith(u'#'); });
    if (lines.value(0)
        != "code,ideal_v,measured_v,stddev_v,samples,time_s,error_lsb,rail,inl_lsb,dnl_lsb,"
           "step_error_lsb")
        return {{"no header"}};
    QList<QStringList> rows;
    for (const QString &line : lines.mid(1)) {
        rows << line.split(u',');
        if (rows.size() > 1 && rows.last()[0].toInt() <= rows[rows.size() - 2][0].toInt())
            return {{"codes not rising at " + line}};
    }
    return rows;
}

// The number after `label` in the summary's line "key: ...": NaN when there is none.
double figure(const QStringList &summary, const QString &key, const QString &label)
{
    const QString line = summary.filter(QRegularExpression("^" + key + ": ")).value(0);
    const QRegularExpressionMatch number
            = QRegularExpression(QRegularExpression::escape(label) + "([-+]?\\d+(\\.\\d+)?)")
                      .match(line.section(u':', 1));
    return number.hasMatch() ? number.captured(1).toDouble() : qQNaN();
}

} // namespace

// tx4410-cli sweep as an engineer runs it, on the simulated board made imperfect, through its
// readback and through tx4410-sim-meter: figures that hold, and nothing lost.
class tst_Sweep : public QObject
{
    Q_OBJECT

private slots:
    void figures_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("arguments");
        // Each, after a "|": a pattern the summary must hold; !pattern, one it must not; a
        // figure, key/label=value~tolerance; or one at least so large, key/label>=least. gridmax:
        // the largest |error_lsb| off the carries; noise: the root mean square of stddev_v in mV.
        QTest::addColumn<QString>("expected");

        const auto row = [](const char *name, const char *setting, const char *arguments,
                            const char *expected) {
            QTest::newRow(name) << setting << arguments << expected;
        };
        const char *meter = "--meter METER";
        row("ideal, readback: no jump at mid-scale", "", "",
            "^INL: within ±|^offset error: end-point line within|gridmax=0~0.001"
            "|^monotonic: not established between the codes measured");
        row("a fall of 39 LSB, readback, the carries asked for",
            "TX4410_SIM_STEP=32768:-40 TX4410_SIM_NOISE_MV=0.3", "--samples 16 --carries major",
            "^monotonic: no, the output falls (3|4)\\d\\.\\d\\d LSB at code 32768$");
        row("a -1.5 LSB carry, readback: not within its resolution", "TX4410_SIM_STEP=32768:-1.5",
            "--carries major", "^DNL: within ±16\\.00 LSB|!^monotonic: no,");
        row("readback: the carries left out, and why", "TX4410_SIM_STEP=32768:-1.5", "",
            "^carries: not measured code by code: through the readback one ADC step is 16 codes"
            "|^DNL: not measured|rows=257|!^bands: .*DNL|!^off the ADC's middles");
        row("readback, a step of whole ADC steps: every point at a middle", "", "--step 4096",
            "^settings: codes 8 to 65528 every 256 ADC steps \\(4096 codes\\), at their middles"
            "|!^off the ADC's middles|rows=17");
        row("readback, every code: the points off the middles counted", "",
            "--from 32700 --to 32800 --step 1 --samples 1",
            "^off the ADC's middles: 95 of 101 points are not at the middle of an ADC step");
        // A 100 LSB fall inside a step of 256 codes: seen only beyond the 255 other codes' rise.
        row("a fall hidden in a wide step is not claimed seen, meter",
            "TX4410_SIM_STEP=1000:-101 METER:", "--meter METER --carries none",
            "^monotonic: not established between the codes measured \\(steps of up to 256 codes\\);"
            " a single fall of more than 255\\.\\d\\d LSB would have been seen");
        // Code by code through the readback: two readings each off by half a 16-LSB step.
        row("a fall code by code through the readback is not claimed seen below two steps",
            "TX4410_SIM_STEP=32768:-25", "--from 32700 --to 32800 --step 1 --samples 2",
            "!^monotonic: no,|monotonic/more than >=32");
        row("a meter's last digit in every band", "TX4410_SIM_STEP=32768:-1.5 METER:--digits,4",
            meter,
            "^resolution: the last digit of the meter's answers, 0.0001 V = 1.31 LSB"
            "|^DNL: within ±1\\.31 LSB|!^monotonic: no,|^bands: INL ±1\\.\\d+ LSB");
        row("a meter's stated accuracy in the gain's bound",
            "METER:", "--meter METER --meter-accuracy 0.0035%+5e-6 --carries none",
            "^meter accuracy: 0.0035 % of reading \\+ 5e-06 V"
            "|^gain error: end-point line within ±0\\.0037 %|^INL: within ±0\\.00 LSB");
        row("a -1.5 LSB carry at 32768, meter", "TX4410_SIM_STEP=32768:-1.5 METER:", meter,
            "DNL/min =-1.5~0.01|^DNL: max .* min -1.50 LSB at code 32768 "
            "|^monotonic: no, the output falls 0.50 LSB at code 32768$");
        row("a -1.5 LSB carry at 256, meter", "TX4410_SIM_STEP=256:-1.5 METER:", meter,
            "^DNL: .* min -1.50 LSB at code 256 |^monotonic: no, the output falls 0.50 LSB at "
            "code 256$");
        row("carries off: DNL not measured",
            "TX4410_SIM_STEP=32768:-1.5 METER:", "--meter METER --carries none",
            "^DNL: not measured \\(steps of 255 to 256 codes\\)$|step error/min =-1.5~0.02"
            "|^monotonic: not established between the codes measured");
        row("every bit's carry", "TX4410_SIM_STEP=8:-1.5 METER:", "--meter METER --carries all",
            "^DNL: .* min -1.50 LSB at code 8 ");
        row("a -5 % gain is not in DNL", "TX4410_SIM_GAIN_ERROR_PCT=-5 METER:",
            "--meter METER --from 32760 --to 32775 --step 1 --carries none",
            "^DNL: within ±0\\.00 LSB|gain error/end-point line =-5~0.001"
            "|^monotonic: yes");
        row("every code, no carries twice", "METER:", "--meter METER --from 250 --to 265 --step 1",
            "rows=16|^monotonic: yes");
        row("offset and gain, meter", "TX4410_SIM_OFFSET_MV=5 TX4410_SIM_GAIN_ERROR_PCT=-1 METER:",
            "--meter METER --to 60000",
            "offset error/end-point line =5~0.001|gain error/best-fit line =-1~0.0002");
        row("bow against the end points, meter",
            "TX4410_SIM_BOW_LSB=40 METER:", "--meter METER --method endpoint",
            "INL/max =40~0.5|^INL: max .* at code 327[67]\\d,");
        row("clipped at 5 V, left out", "TX4410_SIM_GAIN_ERROR_PCT=0.5 METER:", meter,
            "^measured: 289 of 289 points; [1-9]\\d* at a rail|^INL: within ±0\\.0\\d LSB");
        row("the samples' spread over n - 1", "METER:--noise-mv,2", "--meter METER --samples 2",
            "noise=2~0.3");
        row("noise within its bounds, readback", "TX4410_SIM_NOISE_MV=2", "--samples 16",
            "^INL: within ±|^offset error: end-point line within|!^monotonic: no,");
        row("a narrow window's gain within its bound", "TX4410_SIM_NOISE_MV=0.3",
            "--from 30000 --to 30095", "^gain error: end-point line within ±");
    }

    void figures()
    {
        QFETCH(QString, setting);
        QFETCH(QString, arguments);
        QFETCH(QString, expected);
        const QTemporaryDir scratch;
        const SweepRun run
                = runSweep(scratch.path(), "sweep --channel B --csv s.csv " + arguments, setting);
        QCOMPARE(run.status, 0);
        const QList<QStringList> rows = csvRows(scratch.filePath("s.csv"));
        QVERIFY2(rows.value(0).size() == 11, qPrintable(rows.value(0).join(u',')));
        QCOMPARE(QString::number(rows.size()),
                 run.out.filter("measured: ").value(0).section(u' ', 1, 1));
        const QString summary = run.out.join(u'\n');
        double gridMax = 0;
        double squares = 0;
        for (const QStringList &cells : rows) {
            const int code = cells[0].toInt();
            if (cells[7] == u"0" && (code & (code - 1) & ~3) != 0 && code % 16 == 8)
                gridMax = std::max(gridMax, std::fabs(cells[6].toDouble()));
            squares += cells[3].toDouble() * cells[3].toDouble() * 1e6 / double(rows.size());
        }
        for (const QString &check : expected.split(QRegularExpression("\\|(?=[\\^!a-zA-Z])"))) {
            if (check.contains(">=") && !check.contains(u'^')) { // key/label>=least
                const QString key = check.section(">=", 0, 0);
                const double value = figure(run.out, key.section(u'/', 0, 0), key.section(u'/', 1));
                QVERIFY2(value >= check.section(">=", 1).toDouble(),
                         qPrintable(
                                 QStringLiteral("%1: %2\n%3").arg(check).arg(value).arg(summary)));
                continue;
            }
            if (!check.contains(u'=') || check.contains(u'^')) {
                const bool wanted = !check.startsWith(u'!');
                const QRegularExpression pattern(check.mid(wanted ? 0 : 1),
                                                 QRegularExpression::MultilineOption);
                QVERIFY2(summary.contains(pattern) == wanted,
                         qPrintable(QStringLiteral("%1\n%2").arg(check, summary)));
                continue;
            }
            const QString key = check.section(u'=', 0, 0);
            const double value = key == u"gridmax" ? gridMax
                    : key == u"noise"              ? std::sqrt(squares)
                    : key == u"rows"
                    ? double(rows.size())
                    : figure(run.out, key.section(u'/', 0, 0), key.section(u'/', 1));
            QVERIFY2(std::fabs(value - check.section(u'=', 1).section(u'~', 0, 0).toDouble())
                             <= check.section(u'~', 1).toDouble(),
                     qPrintable(QStringLiteral("%1: %2\n%3").arg(check).arg(value).arg(summary)));
        }
    }

    void noiseIsNeverAFall_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("falls"); // LSB, beyond the noise
        QTest::newRow("readback, 0.3 mV, 16 samples")
                << "TX4410_SIM_NOISE_MV=0.3 TX4410_SIM_NOISE_SEED=SEED"
                << "--from 32700 --to 32900 --step 1 --samples 16 --settle-ms 0"
                << "-40";
        QTest::newRow("meter, 0.2 mV, 4 samples")
                << "METER:--noise-mv,0.2,--seed,SEED"
                << "--meter METER --from 32700 --to 32900 --step 1 --samples 4 --settle-ms 0"
                << "-40";
        // Half an LSB of noise and one sample a point: the noise estimated from neighbours.
        QTest::newRow("meter, 0.5 LSB, one sample")
                << "METER:--noise-mv,0.038,--seed,SEED"
                << "--meter METER --from 32700 --to 32900 --step 1 --samples 1 --settle-ms 0"
                << "-40";
        QTest::newRow("readback, 0.5 LSB, one sample")
                << "TX4410_SIM_NOISE_MV=0.038 TX4410_SIM_NOISE_SEED=SEED"
                << "--from 32700 --to 32900 --step 1 --samples 1 --settle-ms 0"
                << "-80";
    }

    // Over many seeds an ideal board is never "no", and a fall beyond the noise always is.
    void noiseIsNeverAFall()
    {
        QFETCH(QString, setting);
        QFETCH(QString, arguments);
        QFETCH(QString, falls);
        for (int seed = 1; seed <= 8; ++seed) {
            for (const QString &fall : {QString(), " TX4410_SIM_STEP=32768:" + falls}) {
                const QTemporaryDir scratch;
                const SweepRun run
                        = runSweep(scratch.path(), "sweep --channel C " + arguments,
                                   QString(setting + fall).replace("SEED", QString::number(seed)));
                QCOMPARE(run.status, 0);
                const QString verdict = run.out.filter("monotonic: ").value(0);
                QVERIFY2(verdict.startsWith(fall.isEmpty() ? "monotonic: not established"
                                                           : "monotonic: no, the output falls"),
                         qPrintable(QStringLiteral("seed %1: %2").arg(seed).arg(verdict)));
                // Nor does noise alone make a DNL beyond its band.
                const QString dnl = run.out.filter(QRegularExpression("^DNL: ")).value(0);
                QVERIFY2(!fall.isEmpty() || dnl.startsWith("DNL: within"),
                         qPrintable(QStringLiteral("seed %1: %2").arg(seed).arg(dnl)));
            }
        }
    }

    void nothingThatIsNotThere_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<double>("largestJump"); // of INL between neighbours, LSB; -1: any
        QTest::addColumn<int>("marked");         // carries drawn as DNL beyond its band
        // An ideal board through the readback: every point at the middle of its ADC step, so
        // no neighbour jumps by half a step (8 LSB), and nothing drawn as a finding.
        QTest::newRow("readback, the default grid") << ""
                                                    << "" << 8.0 << 0;
        QTest::newRow("readback, 33 points") << ""
                                             << "--points 33" << 8.0 << 0;
        QTest::newRow("readback, every 4096 codes") << ""
                                                    << "--step 4096" << 8.0 << 0;
        // Asked for, the carries read off the middles: DNL within its band is no finding.
        QTest::newRow("readback, the carries asked for") << ""
                                                         << "--carries major" << -1.0 << 0;
        QTest::newRow("meter, a -1.5 LSB carry marked") << "TX4410_SIM_STEP=32768:-1.5 METER:"
                                                        << "--meter METER" << -1.0 << 1;
    }

    void nothingThatIsNotThere()
    {
        QFETCH(QString, setting);
        QFETCH(QString, arguments);
        QFETCH(double, largestJump);
        const QTemporaryDir scratch;
        const SweepRun run = runSweep(
                scratch.path(), "sweep --channel A --csv s.csv --plot s.svg " + arguments, setting);
        QCOMPARE(run.status, 0);
        const QList<QStringList> rows = csvRows(scratch.filePath("s.csv"));
        QVERIFY(rows.size() > 10);
        for (qsizetype i = 1; i < rows.size() && largestJump >= 0; ++i) {
            if (rows[i][8].isEmpty() || rows[i - 1][8].isEmpty())
                continue;
            QVERIFY2(std::fabs(rows[i][8].toDouble() - rows[i - 1][8].toDouble()) <= largestJump,
                     qPrintable(rows[i - 1].join(u',') + '\n' + rows[i].join(u',')));
        }
        QFile picture(scratch.filePath("s.svg"));
        QVERIFY(picture.open(QIODevice::ReadOnly));
        // The legend's swatch, and a shape for each carry drawn in the findings' red.
        QTEST(int(picture.readAll().count("fill=\"#d62728\"")) - 1, "marked");
    }

    void settleIsWaited()
    {
        // Each point's first sample at least its settle time after the one before.
        const QTemporaryDir scratch;
        const SweepRun run = runSweep(scratch.path(),
                                      "sweep --channel A --csv s.csv --points 6 --carries none "
                                      "--samples 1 --settle-ms 40");
        QCOMPARE(run.status, 0);
        const QList<QStringList> rows = csvRows(scratch.filePath("s.csv"));
        QCOMPARE(rows.size(), 6);
        double before = 0;
        for (const QStringList &cells : rows) {
            QVERIFY2(cells[5].toDouble() - before >= 0.04, qPrintable(cells.join(u',')));
            before = cells[5].toDouble();
        }
    }

    void nothingIsLost_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message"); // a pattern in standard error
        QTest::addColumn<QString>("kept");    // "whole": s.csv; "partial": s.csv.partial only

        const QString meter = "--meter METER --meter-timeout 0.5 --points 10 --samples 2 "
                              "--carries none --csv s.csv";
        const QString slow = "--points 100 --carries none --settle-ms 20 --samples 1 --csv s.csv";
        QTest::newRow("meter silent")
                << "METER:--fault,silent@6" << meter << 5
                << "at code \\d+: the meter at 127.0.0.1:\\d+ did not answer MEAS:VOLT:DC\\? "
                   "within 0.5 s\n"
                << "whole";
        QTest::newRow("meter answers junk")
                << "METER:--fault,junk@6" << meter << 5
                << "answered MEAS:VOLT:DC\\? with \"hello\", which is not a number\n"
                << "whole";
        QTest::newRow("meter reports an error")
                << "METER:--fault,error@6" << meter << 5
                << "reports the error -222,\"Data out of range\" after MEAS:VOLT:DC\\?\n"
                << "whole";
        QTest::newRow("a stale meter answer, dropped")
                << "METER:--fault,stale@3" << meter << 0
                << "warning: the meter at 127.0.0.1:\\d+ sent 1 line that no query asked for"
                << "whole";
        QTest::newRow("a meter that answers twice, the copy late")
                << "METER:--fault,twice@4" << meter << 5
                << "sent \\d+ lines that no query asked for, around \\d+ points: its answers "
                   "cannot be matched to the codes written"
                << "whole";
        QTest::newRow("a meter that answers the reading before")
                << "METER:--fault,lag@0" << meter << 5
                << "the readings lag the codes written: each point's first sample leans"
                << "whole";
        QTest::newRow("Ctrl-C, every code asked")
                << "METER: INT@40"
                << "--meter METER --from 250 --to 350 --step 1 --settle-ms 20 --samples 1 "
                   "--csv s.csv"
                << 130 << "interrupted after \\d+ of 101 points"
                << "whole";
        QTest::newRow("Ctrl-C") << "INT@30" << slow << 130 << "interrupted after \\d+ of 100 points"
                                << "whole";
        QTest::newRow("SIGTERM") << "TERM@30" << slow << 143
                                 << "interrupted after \\d+ of 100 points"
                                 << "whole";
        QTest::newRow("SIGHUP") << "HUP@30" << slow << 129 << "interrupted after \\d+ of 100 points"
                                << "whole";
        QTest::newRow("SIGKILL") << "KILL@30" << slow << -SIGKILL << ""
                                 << "partial";
        QTest::newRow("Ctrl-C in a settle of a minute")
                << "INT@5+500"
                << "--points 3 --carries none --settle-ms 60000 --csv s.csv" << 130
                << "interrupted after 0 of 3 points"
                << "whole";
        QTest::newRow("Ctrl-C while the meter is silent for a minute")
                << "METER:--fault,silent@0 INT@4+500"
                << "--meter METER --meter-timeout 60 --points 3 --carries none --csv s.csv" << 130
                << "interrupted after 0 of 3 points"
                << "whole";
        QTest::newRow("Ctrl-C to the group while the picture is drawn")
                << "PLOT:SLOW"
                << "--points 9 --carries none --csv s.csv --plot s.png" << 130
                << "interrupted while drawing s.png: no picture"
                << "whole";
        QTest::newRow("request failed")
                << "TX4410_SIM_FAIL_REQUESTS=1"
                << "--csv s.csv" << 4 << "at code 8: request SelectMuxChannel \\(0xcc\\) failed"
                << "whole";
        QTest::newRow("CSV on a full disk")
                << "FULL:8"
                << "--csv full/s.csv --settle-ms 0" << 1
                << "cannot write full/s.csv.partial: No space left on device: the sweep stopped"
                << "none";
        QTest::newRow("CSV to a full device") << ""
                                              << "--csv /dev/full --settle-ms 0" << 1
                                              << "cannot write /dev/full: No space left on device"
                                              << "none";
        QTest::newRow("PNG on a full disk")
                << "FULL:24"
                << "--points 9 --carries none --csv s.csv --plot full/s.png" << 1
                << "cannot draw full/s.png: cannot write full/s.png: No space left on device\n"
                << "whole";
        QTest::newRow("SVG on a full disk")
                << "FULL:24"
                << "--points 9 --carries none --csv s.csv --plot full/s.svg" << 1
                << "cannot draw full/s.svg: cannot write full/s.svg: No space left on device\n"
                << "whole";
    }

    void nothingIsLost()
    {
        QFETCH(QString, setting);
        QFETCH(QString, arguments);
        QFETCH(QString, message);
        QFETCH(QString, kept);
        const QTemporaryDir scratch;
        const SweepRun run = runSweep(scratch.path(), "sweep --channel D " + arguments, setting);
        QTEST(run.status, "status");
        QVERIFY2(run.err.contains(QRegularExpression(message)), qPrintable(run.err));
        const QString csv = scratch.filePath("s.csv");
        QCOMPARE(QFile::exists(csv), kept == u"whole");
        QCOMPARE(QFile::exists(csv + ".partial"), kept == u"partial");
        const QList<QStringList> rows = csvRows(kept == u"partial" ? csv + ".partial" : csv);
        const int measured = run.out.filter("measured: ").value(0).section(u' ', 1, 1).toInt();
        if (kept == u"whole")
            QCOMPARE(rows.size(), measured);
        if (kept == u"partial")
            QVERIFY2(rows.size() > 0 && rows.size() < 100 && rows[0].size() == 11,
                     qPrintable(rows.value(0).join(u',')));
        if (setting.contains("stale")) // no reading taken for another's
            QVERIFY2(!run.out.filter(QRegularExpression("^INL: within ±0\\.\\d\\d LSB")).isEmpty(),
                     qPrintable(run.out.join(u'\n')));
        // "yes" is for the range asked: a sweep that did not end whole, or failed, never says it.
        QVERIFY2(run.out.filter("monotonic: yes").isEmpty(), qPrintable(run.out.join(u'\n')));
        QVERIFY(!QFile::exists(scratch.filePath("s.png")));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("from above to") << "--from 9 --to 9"
                                       << "--from 9 is not below --to 9";
        QTest::newRow("step and count") << "--step 4 --points 9"
                                        << "not both";
        QTest::newRow("more points than codes") << "--to 3 --points 5"
                                                << "out of range 2 to 4";
        QTest::newRow("plot of no known kind") << "--plot x.jpg"
                                               << "no .png or .svg";
        QTest::newRow("CSV and plot one file") << "--csv x.png --plot ./x.png"
                                               << "--csv and --plot name the same file";
        QTest::newRow("reference of 1e308") << "--vref 1e308"
                                            << "--vref 1e308 is out of range";
        QTest::newRow("supply of 0") << "--vdd 0"
                                     << "--vdd 0 is out of range 0.001 to 1000 V";
        QTest::newRow("carries of no kind") << "--carries some"
                                            << "--carries \"some\"";
    }

    void usageErrors()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, message);
        const QTemporaryDir scratch;
        const SweepRun run = runSweep(scratch.path(), "sweep --channel A " + arguments, "TRACE@0");
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(!QFile::exists(scratch.filePath("trace")));
    }

    // Refused before the board is brought up, which would reset the DAC.
    void refusedBeforeTheBoard_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("meter unreachable")
                << "--meter 127.0.0.1:1" << 5
                << "the meter at 127.0.0.1:1 cannot be reached: Connection refused";
        QTest::newRow("IPv6 meter unreachable")
                << "--meter [::1]:1" << 5 << "the meter at \\[::1\\]:1 cannot be reached";
        QTest::newRow("CSV in no folder")
                << "--csv /nonexistent/a.csv" << 1
                << "cannot write /nonexistent/a.csv: there is no folder /nonexistent";
    }

    void refusedBeforeTheBoard()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, message);
        const QTemporaryDir scratch;
        const SweepRun run = runSweep(scratch.path(), "sweep --channel A " + arguments, "TRACE@0");
        QTEST(run.status, "status");
        QVERIFY2(run.err.contains(QRegularExpression(message)), qPrintable(run.err));
        QVERIFY(!QFile::exists(scratch.filePath("trace"))); // the board left alone
    }

    void plotProgram_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said"); // a pattern in what it printed
        QTest::newRow("-h")
                << "-h" << 0
                << "^Usage: tx4410-plot \\[--residuals\\] CSV\\|- FILE.png\\|FILE.svg\n";
        QTest::newRow("residuals of a sweep's CSV: none to draw")
                << "--residuals every.csv x.png" << 1 << "^no residuals to draw";
        QTest::newRow("residuals, no CSV")
                << "--residuals none.csv x.png" << 1 << "^none.csv: No such file";
        QTest::newRow("--version") << "--version" << 0 << "^tx4410-plot \\d+\\.\\d+\\.\\d+\n$";
        QTest::newRow("a kind it cannot write")
                << "every.csv x.jpg" << 2 << "only .png and .svg: x.jpg\n";
        QTest::newRow("no CSV") << "none.csv x.png" << 1 << "^none.csv: No such file";
        // Drawn as an envelope per pixel column; its text as large as the PNG's (15 pt at the
        // offscreen platform's 96 dpi).
        QTest::newRow("every code in SVG") << "every.csv x.svg" << 0 << "";
    }

    void plotProgram()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, said);
        const QTemporaryDir scratch;
        QFile csv(scratch.filePath("every.csv"));
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write("# bands: INL ±16 LSB, DNL ±16 LSB, step error ±16 LSB\ncode,error_lsb,rail,"
                  "inl_lsb,dnl_lsb,step_error_lsb\n");
        for (int code = 0; code < 65536; ++code)
            csv.write(QStringLiteral("%1,%2,0,%2,%3,\n")
                              .arg(code)
                              .arg(8 * std::sin(code / 300.0), 0, 'f', 4)
                              .arg(0.1 * std::cos(code / 30.0), 0, 'f', 4)
                              .toUtf8());
        csv.close();
        QProcess plot;
        plot.setWorkingDirectory(scratch.path());
        plot.setProcessChannelMode(QProcess::MergedChannels);
        plot.start(TX4410_PLOT, arguments.split(u' '));
        QVERIFY(plot.waitForFinished(60000));
        QTEST(plot.exitCode(), "status");
        QVERIFY2(QString::fromUtf8(plot.readAll()).contains(QRegularExpression(said)),
                 qPrintable(said));
        if (arguments.endsWith("svg")) {
            QFile svg(scratch.filePath("x.svg"));
            QVERIFY(svg.open(QIODevice::ReadOnly));
            const QByteArray text = svg.readAll();
            QVERIFY2(text.size() < 2'000'000, qPrintable(QString::number(text.size())));
            QVERIFY(text.contains("font-size=\"20\""));
        }
    }
};

QTEST_GUILESS_MAIN(tst_Sweep)
#include "tst_sweep.moc"
