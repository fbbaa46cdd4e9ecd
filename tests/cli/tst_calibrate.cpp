#include "support/boardtrace.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <csignal>
#include <unistd.h>

namespace {

// The simulated board made imperfect: offset, gain and bow in its DAC, offset and gain in its
// readback, as a board fresh from the bag is.
const QStringList knobs
        = {"TX4410_SIM_OFFSET_MV=3", "TX4410_SIM_GAIN_ERROR_PCT=-0.3", "TX4410_SIM_BOW_LSB=20",
           "TX4410_SIM_ADC_OFFSET_MV=4", "TX4410_SIM_ADC_GAIN_ERROR_PCT=0.5"};
constexpr double lsb = 5.0 / 65536;

struct Run
{
    int status = -1; // the exit status, or minus the signal that ended it
    QString out;
    QString err;
};

// A scratch folder with the simulated board, its outputs file and a database in db/.
class Bench
{
public:
    Bench()
    {
        QDir(m_dir.path()).mkdir("db");
        m_environment.insert("TX4410_BOARD", "sim");
        m_environment.insert("TX4410_SIM_OUTPUTS_FILE", path("outputs"));
        m_environment.insert("TX4410_DATABASE", path("db/records.sqlite"));
        for (const QString &knob : knobs)
            m_environment.insert(knob.section(u'=', 0, 0), knob.section(u'=', 1));
    }

    QString path(const QString &name) const { return m_dir.path() + u'/' + name; }
    void set(const QString &name, const QString &value) { m_environment.insert(name, value); }
    void unset(const QString &name) { m_environment.remove(name); }

    // A tx4410-sim-meter for one client: its address.
    QString meter(const QStringList &options = {})
    {
        QProcess meter;
        meter.setProcessEnvironment(m_environment);
        meter.start(
                TX4410_SIM_METER,
                QStringList {"--listen", "127.0.0.1:0", "--once", "--detach", "--noise-mv", "0.01"}
                        + options);
        if (!meter.waitForFinished() || meter.exitCode() != 0)
            return {};
        return QString::fromUtf8(meter.readAllStandardOutput()).trimmed().section(u' ', -1);
    }

    // tx4410-cli with these words; `wrap`, a shell script the program runs under as "$@" in a
    // user and mount namespace of its own; `signal` sent once `after` board calls are traced.
    Run cli(const QStringList &words, const QString &wrap = {}, int signal = 0, int after = 0)
    {
        QProcess process;
        QProcessEnvironment environment = m_environment;
        if (signal != 0)
            environment.insert("TX4410_BOARD_TRACE", path("trace"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_dir.path());
        if (wrap.isEmpty())
            process.start(TX4410_CLI, words);
        else
            process.start("unshare",
                          QStringList {"--user", "--map-root-user", "--mount", "sh", "-c", wrap,
                                       m_dir.path(), TX4410_CLI}
                                  + words);
        if (!process.waitForStarted())
            return {};
        if (signal != 0) {
            if (!QTest::qWaitFor([&] { return readTrace(path("trace")).size() >= after; }, 20000))
                return {};
            ::kill(pid_t(process.processId()), signal);
        }
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return {};
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -signal,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    // The four true outputs the board published last.
    QList<double> outputs() const
    {
        QFile file(path("outputs"));
        QList<double> volts;
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray &word : file.readAll().simplified().split(' '))
                volts << word.toDouble();
        return volts;
    }

    // history --json, parsed; an empty object when it fails.
    QJsonObject history(const QStringList &extra = {})
    {
        const Run run = cli(QStringList {"history", "--json"} + extra);
        return run.status == 0 ? QJsonDocument::fromJson(run.out.toUtf8()).object() : QJsonObject();
    }

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
};

QStringList calibrateWords(const QString &meter, const QString &channels, int points)
{
    return {"calibrate",
            "--channel",
            channels,
            "--meter",
            meter,
            "--meter-route",
            "ROUT:CLOS (@%n)",
            "--points",
            QString::number(points),
            "--meter-accuracy",
            "0.0035%+5e-6",
            "--meter-timeout",
            "1"};
}

// The stated uncertainty of a calibration at `volts`, from its parts as history gives them.
double uncertaintyAt(const QJsonObject &calibration, double volts)
{
    const QJsonObject parts = calibration["uncertainty"].toObject();
    return parts["noise_v"].toDouble() + parts["resolution_v"].toDouble()
            + parts["interpolation_v"].toDouble() + parts["accuracy_pct"].toDouble() / 100 * volts
            + parts["accuracy_v"].toDouble();
}

// The ids of the calibrations stored, newest first.
QList<int> calibrationIds(const QJsonObject &history)
{
    QList<int> ids;
    for (const QJsonValue &record : history["calibrations"].toArray())
        ids << record["id"].toInt();
    return ids;
}

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
            ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
            : QByteArray();
}

} // namespace

// tx4410-cli calibrate as a lab runs it, against tx4410-sim-meter reading the simulated board's
// true outputs; then calibrated settings and readings, and what a failed calibration leaves.
class tst_Calibrate : public QObject
{
    Q_OBJECT

private slots:
    void calibratedVoltsHold()
    {
        Bench bench;
        const Run calibration = bench.cli(calibrateWords(bench.meter(), "ALL", 33));
        QCOMPARE(calibration.status, 0);
        QVERIFY2(calibration.out.contains("stored: 4 calibrations of board sim"),
                 qPrintable(calibration.out + calibration.err));
        // What the knobs put in, as the fit finds it, before calibration.
        QVERIFY(calibration.out.contains(QRegularExpression(
                "DAC C before: offset error \\+3\\.9\\d+ mV .* gain error -0\\.30\\d+ %")));
        const QJsonObject history = bench.history();
        QCOMPARE(history["calibrations"].toArray().size(), 4);

        double worstCalibrated = 0;
        double worstPlain = 0;
        for (int i = 0; i < 50; ++i) {
            const int channel = i % 4;
            const double volts = 0.02 + i * 4.9 / 49;
            const QString dac = QString(QChar(u'A' + channel));
            const QJsonObject record = history["calibrations"].toArray()[3 - channel].toObject();
            QCOMPARE(record["channel"].toString(), dac);
            const QStringList write = {"write",
                                       "--command",
                                       "3",
                                       "--address",
                                       dac,
                                       "--volts",
                                       QString::number(volts, 'f', 6)};
            QCOMPARE(bench.cli(write + QStringList {"--calibrated"}).status, 0);
            const double calibrated = bench.outputs().value(channel) - volts;
            QVERIFY2(std::fabs(calibrated) <= lsb + uncertaintyAt(record, volts),
                     qPrintable(QStringLiteral("%1 V on DAC %2: %3 LSB off")
                                        .arg(volts)
                                        .arg(dac)
                                        .arg(calibrated / lsb)));
            QCOMPARE(bench.cli(write).status, 0);
            worstPlain = std::max(worstPlain, std::fabs(bench.outputs().value(channel) - volts));
            worstCalibrated = std::max(worstCalibrated, std::fabs(calibrated));
        }
        QVERIFY2(worstPlain > 20 * lsb, qPrintable(QString::number(worstPlain / lsb)));
        QVERIFY2(worstCalibrated < lsb, qPrintable(QString::number(worstCalibrated / lsb)));

        // The readback calibrated against the same meter reads what the meter reads.
        for (const double volts : {0.5, 2.5, 4.5}) {
            QCOMPARE(bench.cli({"write", "--command", "3", "--address", "D", "--volts",
                                QString::number(volts), "--calibrated"})
                             .status,
                     0);
            // Each run brings the board up afresh: the read writes its code again first.
            const QString batch = bench.path("read.batch");
            QFile file(batch);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QStringLiteral("write --command 3 --address D --volts %1 --calibrated\n"
                                      "read --channel D --calibrated --count 4\n"
                                      "read --channel D --count 4\n")
                               .arg(volts)
                               .toUtf8());
            file.close();
            const Run read = bench.cli({"batch", batch});
            QCOMPARE(read.status, 0);
            // The word written, then four readings of each.
            const QStringList lines = read.out.split(u'\n', Qt::SkipEmptyParts).mid(1);
            QCOMPARE(lines.size(), 8);
            const double truth = bench.outputs().value(3);
            double calibratedMean = 0;
            double plainMean = 0;
            for (int i = 0; i < 4; ++i) {
                calibratedMean += lines[i].toDouble() / 4;
                plainMean += lines[4 + i].toDouble() / 4;
            }
            QVERIFY2(std::fabs(calibratedMean - truth) < 1.3e-3,
                     qPrintable(QStringLiteral("%1 V read as %2").arg(truth).arg(calibratedMean)));
            QVERIFY2(std::fabs(plainMean - truth) > 5e-3, qPrintable(QString::number(plainMean)));
        }
    }

    void nothingHalfStored_data()
    {
        QTest::addColumn<QString>("meter");   // the meter's misbehaviour
        QTest::addColumn<QString>("setting"); // SIG@N, LOCKED, CORRUPT, or a wrap script
        QTest::addColumn<int>("status");      // 0: a new record, whole

        QTest::addColumn<QString>("message");

        QTest::newRow("meter gone mid-run") << "silent@40"
                                            << "" << 5 << "did not answer";
        QTest::newRow("meter answers garbage") << "junk@40"
                                               << "" << 5 << "hello";
        // A reading sent twice is left unread, so every point is still its own code's.
        QTest::newRow("stale answer, dropped") << "stale@40"
                                               << "" << 0 << "";
        QTest::newRow("answers that lag the codes")
                << "lag@40"
                << "" << 5 << "the readings lag the codes written";
        QTest::newRow("SIGTERM mid-run") << ""
                                         << "TERM@300" << 143 << "interrupted at DAC";
        QTest::newRow("database read-only") << ""
                                            << "mount --bind \"$0/db\" \"$0/db\" && mount -o "
                                               "remount,bind,ro \"$0/db\" && exec \"$@\""
                                            << 1 << "read-only";
        QTest::newRow("database locked by another program")
                << ""
                << "LOCKED" << 1 << "locked by another program";
        QTest::newRow("database damaged") << ""
                                          << "CORRUPT" << 1 << "damaged";
        // The database copied to a tmpfs with no room left, and back out after.
        QTest::newRow("disk full")
                << ""
                << "mkdir -p \"$0/full\" \"$0/after\" && mount -t tmpfs -o size=200k none "
                   "\"$0/full\" "
                   "&& cp \"$0/db/records.sqlite\" \"$0/full/\" "
                   "&& (dd if=/dev/zero of=\"$0/full/fill\" bs=1k 2>/dev/null; true) "
                   "&& TX4410_DATABASE=\"$0/full/records.sqlite\" \"$@\"; status=$?; "
                   "cp \"$0\"/full/records.sqlite* \"$0/after/\"; exit $status"
                << 1 << "the disk is full";
    }

    void nothingHalfStored()
    {
        QFETCH(QString, meter);
        QFETCH(QString, setting);
        QFETCH(int, status);
        QFETCH(QString, message);
        Bench bench;
        QCOMPARE(bench.cli(calibrateWords(bench.meter(), "A", 9)).status, 0);
        const QList<int> before = calibrationIds(bench.history());
        QCOMPARE(before.size(), 1);
        const QByteArray damaged = "this is not a page of a database";

        QProcess lock;
        if (setting == "LOCKED") {
            lock.start("/usr/bin/python3",
                       {"-c",
                        "import sqlite3, sys, time\n"
                        "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                        "c.execute('BEGIN EXCLUSIVE')\n"
                        "print('locked', flush=True)\n"
                        "time.sleep(30)\n",
                        bench.path("db/records.sqlite")});
            QVERIFY(lock.waitForReadyRead(10000));
        } else if (setting == "CORRUPT") {
            QFile file(bench.path("db/records.sqlite"));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.size() > 8192);
            for (qint64 at = 4096; at + damaged.size() < 8192; at += damaged.size()) {
                file.seek(at);
                file.write(damaged);
            }
        }
        const QByteArray hashBefore = fileHash(bench.path("db/records.sqlite"));

        const QStringList options
                = meter.isEmpty() ? QStringList() : QStringList {"--fault", meter};
        const bool signalled = setting.contains(u'@') && !setting.contains(u' ');
        const Run run = bench.cli(
                calibrateWords(bench.meter(options), "ALL", 33),
                signalled || setting == "LOCKED" || setting == "CORRUPT" ? QString() : setting,
                signalled ? SIGTERM : 0, signalled ? setting.section(u'@', 1).toInt() : 0);
        if (lock.state() != QProcess::NotRunning) {
            lock.kill();
            lock.waitForFinished();
        }
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        if (status == 0) {
            QVERIFY2(run.out.contains("stored: 4 calibrations"), qPrintable(run.out));
            QCOMPARE(calibrationIds(bench.history()).size(), 5);
            for (int channel = 0; channel < 4; ++channel) {
                QCOMPARE(bench.cli({"write", "--command", "3", "--address",
                                    QString(QChar(u'A' + channel)), "--volts", "2.5",
                                    "--calibrated"})
                                 .status,
                         0);
                QVERIFY(std::fabs(bench.outputs().value(channel) - 2.5) < 2 * lsb);
            }
            return;
        }
        QVERIFY2(!run.out.contains("stored:"), qPrintable(run.out));
        // A database that cannot take the record is found before anything is measured.
        if (meter.isEmpty() && !signalled)
            QVERIFY2(!run.out.contains("before:"), qPrintable(run.out));

        if (setting == "CORRUPT") {
            // Left as it was, for a look.
            QCOMPARE(fileHash(bench.path("db/records.sqlite")), hashBefore);
            return;
        }
        if (run.err.contains("stays in force") || !setting.contains("mount"))
            QVERIFY2(run.err.contains("the calibration of DAC A of sim")
                             || run.err.contains("kept"),
                     qPrintable(run.err));
        QCOMPARE(calibrationIds(bench.history()), before);
        if (setting.contains("tmpfs")) {
            bench.set("TX4410_DATABASE", bench.path("after/records.sqlite"));
            QCOMPARE(calibrationIds(bench.history()), before);
        }
        // The earlier record still applies.
        QCOMPARE(bench.cli({"write", "--command", "3", "--address", "A", "--volts", "1",
                            "--calibrated"})
                         .status,
                 0);
        QVERIFY(std::fabs(bench.outputs().value(0) - 1) < 2 * lsb);
    }

    // A board of another identity never gets the first one's record.
    void anotherBoard()
    {
        Bench bench;
        QCOMPARE(bench.cli(calibrateWords(bench.meter(), "A", 9)).status, 0);
        bench.set("TX4410_SIM_PORT", "1-2.3");
        bench.set("TX4410_SIM_OFFSET_MV", "-6");
        const QStringList write
                = {"write", "--command", "3", "--address", "A", "--volts", "2", "--calibrated"};
        const Run refused = bench.cli(write);
        QCOMPARE(refused.status, 6);
        QVERIFY2(refused.err.contains("DAC A of board 1-2.3 has no calibration"),
                 qPrintable(refused.err));
        QVERIFY(bench.cli(calibrateWords(bench.meter(), "A", 9)).status == 0);
        QCOMPARE(bench.cli(write).status, 0);
        QVERIFY(std::fabs(bench.outputs().value(0) - 2) < 2 * lsb);
        const QJsonObject history = bench.history();
        QCOMPARE(history["boards"].toArray().size(), 2);
        QCOMPARE(bench.history({"--board", "1-2.3"})["calibrations"].toArray().size(), 1);

        // A certificate is one board's: with two stored, one must be named.
        QCOMPARE(bench.cli({"history", "--export", "all.csv"}).status, 2);
        const Run exported = bench.cli(
                {"history", "--board", "1-2.3", "--export", "cert.csv", "--plot", "residuals.png"});
        QVERIFY2(exported.status == 0, qPrintable(exported.err));
        QFile certificate(bench.path("cert.csv"));
        QVERIFY(certificate.open(QIODevice::ReadOnly));
        const QStringList rows = QString::fromUtf8(certificate.readAll())
                                         .split(u'\n', Qt::SkipEmptyParts)
                                         .filter(QRegularExpression("^A,"));
        // Nine points off the rails, -6 mV of offset clipping code 0: eight rows, the ends
        // without a residual.
        QCOMPARE(rows.size(), 8);
        QVERIFY2(rows.first().endsWith(",,") && rows.last().endsWith(",,"),
                 qPrintable(rows.first()));
        QFile picture(bench.path("residuals.png"));
        QVERIFY(picture.open(QIODevice::ReadOnly));
        const QByteArray png = picture.readAll();
        // A PNG's width, from its header.
        QVERIFY(png.startsWith("\x89PNG") && png.size() > 24);
        QVERIFY(qFromBigEndian<quint32>(png.constData() + 16) > 400);
        QCOMPARE(bench.cli({"history", "--board", "1-2.3", "--export", "cert.json"}).status, 0);
        QFile json(bench.path("cert.json"));
        QVERIFY(json.open(QIODevice::ReadOnly));
        const QJsonObject document = QJsonDocument::fromJson(json.readAll()).object();
        QCOMPARE(document["board"].toString(), "1-2.3");
        QCOMPARE(document["calibrations"].toArray()[0].toObject()["channel"].toString(), "A");

        // The first board again, with its own offset: its own record.
        bench.unset("TX4410_SIM_PORT");
        bench.set("TX4410_SIM_OFFSET_MV", "3");
        QCOMPARE(bench.cli(write).status, 0);
        QVERIFY(std::fabs(bench.outputs().value(0) - 2) < 2 * lsb);
    }

    // sweep --calibrated checks the calibration against the meter; --store keeps what was
    // measured whole, and nothing else.
    void sweepVerifiesAndStores_data()
    {
        QTest::addColumn<QString>("offsetMv"); // the board's offset when swept
        QTest::addColumn<QString>("fault");    // the meter's, for the sweep
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("stored");

        QTest::newRow("as calibrated") << "3"
                                       << "" << 0 << "stated uncertainty (" << 1;
        // A millivolt of drift is 13 LSB: the calibration no longer holds.
        QTest::newRow("drifted since") << "4"
                                       << "" << 6 << "points beyond it" << 1;
        QTest::newRow("a meter that fails: nothing stored")
                << "3"
                << "junk@30" << 5 << "nothing stored" << 0;
    }

    void sweepVerifiesAndStores()
    {
        QFETCH(QString, offsetMv);
        QFETCH(QString, fault);
        QFETCH(int, status);
        QFETCH(QString, said);
        QFETCH(int, stored);
        Bench bench;
        QCOMPARE(bench.cli(calibrateWords(bench.meter(), "B", 33)).status, 0);
        bench.set("TX4410_SIM_OFFSET_MV", offsetMv);
        const QStringList options
                = fault.isEmpty() ? QStringList() : QStringList {"--fault", fault};
        const Run run
                = bench.cli({"sweep", "--channel", "B", "--meter",
                             bench.meter(QStringList {"--channel", "B"} + options), "--points",
                             "33", "--carries", "none", "--calibrated", "--store"});
        QCOMPARE(run.status, status);
        QVERIFY2((run.out + run.err).contains(said), qPrintable(run.out + run.err));
        if (status != 5) {
            const QRegularExpressionMatch plain
                    = QRegularExpression("uncalibrated: largest error ([-+0-9.]+) LSB")
                              .match(run.out);
            QVERIFY2(plain.hasMatch() && std::fabs(plain.captured(1).toDouble()) > 20,
                     qPrintable(run.out));
        }
        const QJsonArray sweeps = bench.history()["sweeps"].toArray();
        QCOMPARE(sweeps.size(), stored);
        if (stored == 1) {
            QCOMPARE(sweeps[0]["channel"].toString(), "B");
            QVERIFY(sweeps[0]["summary"].toString().contains("offset error:"));
        }
    }

    // The due date from --valid-days, the board found by the name --name gave it.
    void dueDateAndName()
    {
        Bench bench;
        QCOMPARE(bench.cli(calibrateWords(bench.meter(), "C", 9)
                           + QStringList {"--valid-days", "30", "--name", "bench 7"})
                         .status,
                 0);
        const QJsonArray records = bench.history({"--board", "bench 7"})["calibrations"].toArray();
        QCOMPARE(records.size(), 1);
        const QJsonObject record = records[0].toObject();
        const QDateTime made = QDateTime::fromString(record["time_utc"].toString(), Qt::ISODate);
        const QDateTime due = QDateTime::fromString(record["due_utc"].toString(), Qt::ISODate);
        QCOMPARE(made.daysTo(due), 30);
        QCOMPARE(record["board"].toString(), "sim");
        QCOMPARE(bench.cli({"calibrate", "--channel", "C", "--meter", "127.0.0.1:9", "--valid-days",
                            "0"})
                         .status,
                 2);
    }

    // Past its due date a calibration still applies, and says so.
    void overdueWarns()
    {
        Bench bench;
        QCOMPARE(bench.cli(calibrateWords(bench.meter(), "B", 9)).status, 0);
        // A record made a year and a day ago: its times moved back.
        QProcess age;
        age.start("/usr/bin/python3",
                  {"-c",
                   "import sqlite3, sys\n"
                   "c = sqlite3.connect(sys.argv[1])\n"
                   "c.execute(\"UPDATE calibrations SET due_utc = '2020-01-01T00:00:00.000Z'\")\n"
                   "c.commit()\n",
                   bench.path("db/records.sqlite")});
        QVERIFY(age.waitForFinished() && age.exitCode() == 0);
        const Run run = bench.cli(
                {"write", "--command", "3", "--address", "B", "--volts", "3", "--calibrated"});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.err.contains("was due 2020-01-01"), qPrintable(run.err));
        QVERIFY(std::fabs(bench.outputs().value(1) - 3) < 2 * lsb);
    }
};

QTEST_GUILESS_MAIN(tst_Calibrate)
#include "tst_calibrate.moc"
