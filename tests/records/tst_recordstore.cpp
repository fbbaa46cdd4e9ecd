#include "recordstore.h"

#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace Records;

namespace {

// A fit as a calibration gives one: every figure distinct, so that a swapped one shows.
Calibration::Channel fitOf(double offset)
{
    Calibration::Channel fit;
    fit.vref = 5;
    fit.line = {offset, 5.0 / 65536 * 0.998};
    fit.table = {{0, 1e-5, std::nan("")}, {32768, -2e-5, 3e-6}, {65535, 4e-5, std::nan("")}};
    fit.lowestCode = 0;
    fit.highestCode = 65535;
    fit.uncertainty = {1e-6, 5e-10, 3e-6, 0.0035, 5e-6};
    fit.readback = {true, 6e-4, 5.0 / 4096 * 1.01, 2e-4};
    return fit;
}

CalibrationRecord recordOf(int channel, double offset, const QDateTime &time)
{
    CalibrationRecord record;
    record.channel = channel;
    record.time = time;
    record.due = time.addDays(365);
    record.meter = QStringLiteral("TX4410 bench,simulated meter,0,1.0.4");
    record.settings = {{"points", 33}};
    record.fit = fitOf(offset);
    record.program = QStringLiteral("tx4410-cli 1.0.0");
    return record;
}

// How many calibrations the file holds, read with SQLite alone.
int calibrationCount(const QString &path)
{
    QProcess sqlite;
    sqlite.start("/usr/bin/python3",
                 {"-c",
                  "import sqlite3, sys; print(sqlite3.connect('file:' + sys.argv[1] + "
                  "'?mode=ro', uri=True).execute('SELECT count(*) FROM calibrations')"
                  ".fetchone()[0])",
                  path});
    sqlite.waitForFinished();
    bool number = false;
    const int count = sqlite.readAllStandardOutput().trimmed().toInt(&number);
    return number ? count : -1;
}

const QDateTime jan1 = QDateTime(QDate(2025, 1, 1), QTime(9, 0), Qt::UTC);

} // namespace

// The records as the programs keep them: what is stored is what is read, the calibration in
// force is the latest of its board's channel and no other board's, and a database that cannot
// be written says why and keeps every record it held.
class tst_RecordStore : public QObject
{
    Q_OBJECT

private slots:
    void storedAsRead()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("deep/folder/records.sqlite");
        {
            Store store(path, 1000);
            QVERIFY2(store.open(Store::Mode::Write), qPrintable(store.error()));
            std::vector<CalibrationRecord> records {recordOf(0, 2e-3, jan1),
                                                    recordOf(3, -1e-3, jan1)};
            QVERIFY2(store.addCalibrations({"1-2.3"}, "bench one", records),
                     qPrintable(store.error()));
            QVERIFY(records[0].id > 0 && records[1].id > records[0].id);
        }
        Store store(path, 1000);
        QVERIFY(store.open(Store::Mode::Read));
        const std::optional<CalibrationRecord> a = store.calibration("1-2.3", 0);
        QVERIFY2(a.has_value(), qPrintable(store.error()));
        const Calibration::Channel want = fitOf(2e-3);
        QCOMPARE(a->fit.line.offset, want.line.offset);
        QCOMPARE(a->fit.line.slope, want.line.slope);
        QCOMPARE(a->fit.table.size(), want.table.size());
        QCOMPARE(a->fit.table[1].code, 32768);
        QCOMPARE(a->fit.table[1].correction, -2e-5);
        QCOMPARE(a->fit.table[1].residual, 3e-6);
        QVERIFY(std::isnan(a->fit.table[0].residual));
        QCOMPARE(a->fit.uncertainty.noise, want.uncertainty.noise);
        QCOMPARE(a->fit.uncertainty.interpolation, want.uncertainty.interpolation);
        QCOMPARE(a->fit.uncertainty.accuracyPercent, 0.0035);
        QCOMPARE(a->fit.uncertainty.accuracyVolts, 5e-6);
        QCOMPARE(a->fit.readback.slope, want.readback.slope);
        QCOMPARE(a->time, jan1);
        QCOMPARE(a->due, jan1.addDays(365));
        QCOMPARE(a->meter, QStringLiteral("TX4410 bench,simulated meter,0,1.0.4"));
        QCOMPARE(store.calibration("1-2.3", 3)->fit.line.offset, -1e-3);
        QVERIFY(!store.calibration("1-2.3", 1));
        QCOMPARE(store.calibrations("bench one").size(), std::size_t(2));
        QCOMPARE(store.boards().at(0).name, QStringLiteral("bench one"));
    }

    // Which record is in force: the latest of the board's channel, never another board's.
    void inForce_data()
    {
        QTest::addColumn<QString>("stored"); // board:channel:day:offset, oldest first
        QTest::addColumn<QString>("board");
        QTest::addColumn<int>("channel");
        QTest::addColumn<double>("offset"); // NaN: none in force
        QTest::newRow("the later of two") << "sim:0:1:1 sim:0:5:2"
                                          << "sim" << 0 << 2.0;
        QTest::newRow("the later even when stored first") << "sim:0:5:2 sim:0:1:1"
                                                          << "sim" << 0 << 2.0;
        QTest::newRow("another board's is never applied") << "1-4:0:1:1"
                                                          << "sim" << 0 << qQNaN();
        QTest::newRow("each board its own") << "1-4:0:5:1 sim:0:1:2"
                                            << "sim" << 0 << 2.0;
        QTest::newRow("another channel's is never applied") << "sim:1:1:1"
                                                            << "sim" << 0 << qQNaN();
    }
    void inForce()
    {
        QFETCH(QString, stored);
        QFETCH(QString, board);
        QFETCH(int, channel);
        QFETCH(double, offset);
        QTemporaryDir dir;
        Store store(dir.filePath("r.sqlite"), 1000);
        QVERIFY(store.open(Store::Mode::Write));
        for (const QString &item : stored.split(u' ')) {
            const QStringList part = item.split(u':');
            std::vector<CalibrationRecord> one {
                    recordOf(part[1].toInt(), part[3].toDouble(), jan1.addDays(part[2].toInt()))};
            QVERIFY(store.addCalibrations({part[0]}, {}, one));
        }
        const std::optional<CalibrationRecord> record = store.calibration(board, channel);
        QVERIFY(store.error().isEmpty());
        if (std::isnan(offset))
            QVERIFY(!record);
        else
            QCOMPARE(record ? record->fit.line.offset : qQNaN(), offset);
    }

    // A database that cannot take the record says why in words, and loses none it held.
    void refused_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("said");
        QTest::newRow("locked by another program") << "locked"
                                                   << "locked by another program";
        // The very next schema is as foreign as any later one.
        QTest::newRow("a newer schema") << "newer"
                                        << "a newer program wrote it (schema 3";
        QTest::newRow("damaged pages") << "damaged"
                                       << "is damaged";
        QTest::newRow("no database at all") << "text"
                                            << "damaged, or no database";
    }
    void refused()
    {
        QFETCH(QString, fault);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString path = dir.filePath("records.sqlite");
        {
            Store store(path, 200);
            QVERIFY(store.open(Store::Mode::Write));
            std::vector<CalibrationRecord> first {recordOf(0, 1e-3, jan1)};
            QVERIFY(store.addCalibrations({"sim"}, {}, first));
            // Pages enough to damage one without touching the header.
            std::vector<CalibrationRecord> more;
            for (int i = 0; i < 60; ++i)
                more.push_back(recordOf(1, 1e-3, jan1.addDays(i)));
            QVERIFY(store.addCalibrations({"sim"}, {}, more));
        }
        QProcess holder;
        if (fault == u"locked") {
            holder.start("/usr/bin/python3",
                         {"-c",
                          "import sqlite3, sys, time; c = sqlite3.connect(sys.argv[1], "
                          "isolation_level=None); c.execute('BEGIN IMMEDIATE'); print('held', "
                          "flush=True); time.sleep(30)",
                          path});
            QVERIFY(holder.waitForReadyRead(10000));
        } else if (fault == u"newer") {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "newer");
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(
                    QStringLiteral("PRAGMA user_version = %1").arg(Records::schemaVersion + 1)));
            db.close();
        } else if (fault == u"damaged") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.size() > 16384);
            file.seek(8192);
            file.write(QByteArray(4096, '\x5a'));
        } else if (fault == u"text") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("not a database, but the notes of a bench\n");
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();

        {
            Store store(path, 200);
            std::vector<CalibrationRecord> next {recordOf(0, 9e-3, jan1.addDays(400))};
            const bool stored
                    = store.open(Store::Mode::Write) && store.addCalibrations({"sim"}, {}, next);
            QVERIFY(!stored);
            QVERIFY2(store.error().contains(said), qPrintable(store.error()));
            QVERIFY2(store.error().contains(path), qPrintable(store.error()));
        }
        if (holder.state() != QProcess::NotRunning) {
            holder.kill();
            holder.waitForFinished();
        }
        if (fault == u"damaged" || fault == u"text" || fault == u"newer") {
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), before); // left as it was, for a look
            return;
        }
        QCOMPARE(calibrationCount(path), 61);
        Store again(path, 200);
        QVERIFY(again.open(Store::Mode::Read));
        QCOMPARE(again.calibration("sim", 0)->fit.line.offset, 1e-3);
    }

    void readingMakesNothing()
    {
        QTemporaryDir dir;
        Store store(dir.filePath("none/records.sqlite"), 200);
        QVERIFY(store.open(Store::Mode::Read));
        QVERIFY(!store.calibration("sim", 0));
        QVERIFY(store.calibrations().empty() && store.sweeps().empty());
        QVERIFY(store.error().isEmpty());
        QVERIFY(!QFileInfo::exists(dir.filePath("none")));
    }

    // A file of the first schema, as that program left it, brought up to this one's: its
    // records kept, and what the later schema added usable.
    void migratedFromTheFirstSchema()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("first.sqlite");
        QFile schema(QFINDTESTDATA("schema1.sql"));
        QVERIFY(schema.open(QIODevice::ReadOnly));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "first");
            db.setDatabaseName(path);
            QVERIFY(db.open());
            for (const QString &statement :
                 QString::fromUtf8(schema.readAll()).split(u';', Qt::SkipEmptyParts)) {
                if (!statement.trimmed().isEmpty())
                    QVERIFY2(QSqlQuery(db).exec(statement), qPrintable(statement));
            }
            db.close();
        }
        QSqlDatabase::removeDatabase("first");
        {
            Store reader(path, 200);
            QVERIFY(!reader.open(Store::Mode::Read));
            QVERIFY2(reader.error().contains("older schema (1)"), qPrintable(reader.error()));
        }
        Store store(path, 200);
        QVERIFY2(store.open(Store::Mode::Write), qPrintable(store.error()));
        const std::optional<CalibrationRecord> kept = store.calibration("1-2.3", 2);
        QVERIFY2(kept.has_value(), qPrintable(store.error()));
        QCOMPARE(kept->fit.line.offset, 0.0021);
        QCOMPARE(kept->fit.table.size(), std::size_t(3));
        QCOMPARE(kept->meter, QStringLiteral("ACME,DMM,7,2"));
        QCOMPARE(store.boards().at(0).name, QStringLiteral("first bench"));
        SweepRecord sweep;
        sweep.channel = 2;
        sweep.time = jan1;
        sweep.summary = QStringLiteral("monotonic: yes");
        sweep.csv = "code,ideal_v\n0,0\n";
        QVERIFY2(store.addSweep({"1-2.3"}, sweep), qPrintable(store.error()));
        QVERIFY(store.setCalibrationState({"1-2.3"}, true));
        QCOMPARE(store.calibrationState("1-2.3"), std::optional<bool>(true));
        QCOMPARE(store.sweeps("first bench").size(), std::size_t(1));
        QCOMPARE(store.sweep(sweep.id)->csv, sweep.csv);
    }
};

QTEST_GUILESS_MAIN(tst_RecordStore)
#include "tst_recordstore.moc"
