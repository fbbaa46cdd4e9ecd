#include "recordstore.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QVariant>

#include <atomic>
#include <cmath>

namespace Records {

namespace {

// Each schema from the one before, in order: schema N is the first N scripts. Never change
// one that has shipped; add the next.
const char *const migrations[] = {
        // 1: boards and their calibrations.
        "CREATE TABLE boards ("
        " id INTEGER PRIMARY KEY,"
        " identity TEXT NOT NULL UNIQUE,"
        " kind TEXT NOT NULL CHECK (kind IN ('serial', 'port')),"
        " name TEXT NOT NULL DEFAULT '',"
        " added_utc TEXT NOT NULL);"
        "CREATE TABLE calibrations ("
        " id INTEGER PRIMARY KEY,"
        " board INTEGER NOT NULL REFERENCES boards (id),"
        " channel INTEGER NOT NULL CHECK (channel BETWEEN 0 AND 3),"
        " time_utc TEXT NOT NULL,"
        " due_utc TEXT NOT NULL,"
        " meter TEXT NOT NULL,"
        " settings TEXT NOT NULL,"
        " coefficients TEXT NOT NULL,"
        " correction TEXT NOT NULL,"
        " residuals TEXT NOT NULL,"
        " uncertainty TEXT NOT NULL,"
        " program TEXT NOT NULL);"
        "CREATE INDEX calibrations_in_force ON calibrations (board, channel, time_utc);",
        // 2: sweeps, and whether an instrument applies its board's calibration.
        "ALTER TABLE boards ADD COLUMN calibration_on INTEGER;"
        "CREATE TABLE sweeps ("
        " id INTEGER PRIMARY KEY,"
        " board INTEGER NOT NULL REFERENCES boards (id),"
        " channel INTEGER NOT NULL CHECK (channel BETWEEN 0 AND 3),"
        " time_utc TEXT NOT NULL,"
        " settings TEXT NOT NULL,"
        " summary TEXT NOT NULL,"
        " csv TEXT NOT NULL,"
        " program TEXT NOT NULL);"
        "CREATE INDEX sweeps_by_board ON sweeps (board, time_utc);",
};
static_assert(std::size(migrations) == schemaVersion);

// Less free space than this where the file is: a failed write is taken for a full disk.
constexpr qint64 fullBelow = 64 * 1024;

// SQLite's primary result codes, as Qt's driver passes them on.
enum SqliteCode {
    busy = 5,
    locked = 6,
    readOnly = 8,
    ioError = 10,
    corrupt = 11,
    full = 13,
    cantOpen = 14,
    notADatabase = 26,
};

QString utcText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime utcTime(const QVariant &text)
{
    QDateTime time = QDateTime::fromString(text.toString(), Qt::ISODateWithMs);
    time.setTimeSpec(Qt::UTC);
    return time;
}

// A null QString binds as NULL, which the text columns refuse: an empty one binds as ''.
QVariant textValue(const QString &text)
{
    return QVariant(text.isNull() ? QStringLiteral("") : text);
}

QString jsonText(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString jsonText(const QJsonArray &array)
{
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QJsonValue number(double value)
{
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue(QJsonValue::Null);
}

} // namespace

QJsonObject coefficientsJson(const Calibration::Channel &fit)
{
    QJsonObject object {{"vref_v", fit.vref},
                        {"offset_v", fit.line.offset},
                        {"slope_v", fit.line.slope},
                        {"gain_error_pct", fit.gainErrorPercent()},
                        {"lowest_code", fit.lowestCode},
                        {"highest_code", fit.highestCode}};
    if (fit.readback.measured)
        object.insert("readback",
                      QJsonObject {{"offset_v", fit.readback.offset},
                                   {"slope_v", fit.readback.slope},
                                   {"residual_v", fit.readback.residual}});
    return object;
}

QJsonArray tableJson(const Calibration::Channel &fit)
{
    QJsonArray table;
    for (const Calibration::TablePoint &point : fit.table)
        table.append(QJsonArray {point.code, point.correction, number(point.residual)});
    return table;
}

QJsonObject uncertaintyJson(const Calibration::Uncertainty &uncertainty)
{
    return {{"noise_v", uncertainty.noise},
            {"resolution_v", uncertainty.resolution},
            {"interpolation_v", uncertainty.interpolation},
            {"accuracy_pct", uncertainty.accuracyPercent},
            {"accuracy_v", uncertainty.accuracyVolts}};
}

std::optional<Calibration::Channel> fitFromJson(const QJsonObject &coefficients,
                                                const QJsonArray &table,
                                                const QJsonObject &uncertainty)
{
    Calibration::Channel fit;
    fit.vref = coefficients["vref_v"].toDouble();
    fit.line = {coefficients["offset_v"].toDouble(), coefficients["slope_v"].toDouble()};
    fit.lowestCode = coefficients["lowest_code"].toInt(-1);
    fit.highestCode = coefficients["highest_code"].toInt(-1);
    if (coefficients.contains("readback")) {
        const QJsonObject readback = coefficients["readback"].toObject();
        fit.readback = {true, readback["offset_v"].toDouble(), readback["slope_v"].toDouble(),
                        readback["residual_v"].toDouble()};
    }
    for (const QJsonValue &value : table) {
        const QJsonArray point = value.toArray();
        const double residual = point.at(2).isNull() ? std::nan("") : point.at(2).toDouble();
        if (point.size() != 3 || !point.at(0).isDouble() || !point.at(1).isDouble())
            return std::nullopt;
        fit.table.push_back({point.at(0).toInt(), point.at(1).toDouble(), residual});
    }
    fit.uncertainty
            = {uncertainty["noise_v"].toDouble(), uncertainty["resolution_v"].toDouble(),
               uncertainty["interpolation_v"].toDouble(), uncertainty["accuracy_pct"].toDouble(),
               uncertainty["accuracy_v"].toDouble()};
    // What no fit gives: a record that is not one.
    if (fit.table.empty() || !(fit.vref > 0) || !(fit.line.slope > 0) || fit.lowestCode < 0
        || fit.highestCode < fit.lowestCode || fit.highestCode > Calibration::highestCode)
        return std::nullopt;
    return fit;
}

QString Store::defaultPath()
{
    const QString named = qEnvironmentVariable("TX4410_DATABASE");
    if (!named.isEmpty())
        return named;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
            + QStringLiteral("/tx4410/records.sqlite");
}

Store::Store(QString path, int busyMs)
    : m_path(std::move(path))
    , m_busyMs(busyMs)
{
    static std::atomic<int> stores = 0;
    m_connection = QStringLiteral("tx4410-records-%1").arg(++stores);
}

Store::~Store()
{
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool Store::fail(const QString &doing, const QSqlError &error)
{
    const QString said = error.driverText().isEmpty() ? error.text() : error.databaseText();
    QString why;
    switch (error.nativeErrorCode().toInt() & 0xff) {
    case busy:
    case locked:
        why = QStringLiteral("it is locked by another program (waited %1 s)")
                      .arg(m_busyMs / 1000.0);
        break;
    case readOnly:
        why = QStringLiteral("it is read-only");
        break;
    case corrupt:
    case notADatabase:
        why = QStringLiteral("it is damaged, or no database: keep it for a look, and name "
                             "another with --database or TX4410_DATABASE");
        break;
    case full:
        why = QStringLiteral("the disk is full");
        break;
    case cantOpen:
        why = QStringLiteral("it cannot be opened");
        break;
    case ioError:
        // SQLite says I/O error where a file of its own could not be made on a full disk.
        why = QStorageInfo(QFileInfo(m_path).absolutePath()).bytesAvailable() < fullBelow
                ? QStringLiteral("the disk is full")
                : QStringLiteral("the system could not read or write it");
        break;
    default:
        why = QStringLiteral("the database failed");
    }
    m_error = QStringLiteral("cannot %1 %2: %3 (%4)").arg(doing, m_path, why, said.trimmed());
    return false;
}

bool Store::open(Mode mode)
{
    m_error.clear();
    if (m_open)
        return true;
    const bool write = mode == Mode::Write;
    if (!write && !QFileInfo::exists(m_path)) {
        m_open = m_empty = true;
        return true;
    }
    if (write && !QDir().mkpath(QFileInfo(m_path).absolutePath())) {
        m_error = QStringLiteral("cannot make the folder of %1").arg(m_path);
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    if (!db.isValid()) {
        m_error = QStringLiteral("cannot open %1: Qt's SQLite driver is missing (Debian's "
                                 "libqt6sql6-sqlite)")
                          .arg(m_path);
        return false;
    }
    db.setDatabaseName(m_path);
    db.setConnectOptions(
            QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1%2")
                    .arg(m_busyMs)
                    .arg(write ? QString() : QStringLiteral(";QSQLITE_OPEN_READONLY")));
    const QString doing = write ? QStringLiteral("write to") : QStringLiteral("read");
    if (!db.open())
        return fail(doing, db.lastError());
    QSqlQuery query(db);
    // A damaged file is found before anything is read from it or written to it.
    if (!query.exec(QStringLiteral("PRAGMA quick_check")))
        return fail(doing, query.lastError());
    if (!query.next() || query.value(0).toString() != u"ok") {
        m_error = QStringLiteral("cannot %1 %2: it is damaged (%3): keep it for a look, and name "
                                 "another with --database or TX4410_DATABASE")
                          .arg(doing, m_path, query.value(0).toString());
        return false;
    }
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return fail(doing, query.lastError());
    const int version = query.value(0).toInt();
    if (version > schemaVersion) {
        m_error = QStringLiteral("cannot %1 %2: a newer program wrote it (schema %3; this one "
                                 "knows up to %4): left as it is")
                          .arg(doing, m_path)
                          .arg(version)
                          .arg(schemaVersion);
        return false;
    }
    if (write) {
        if (!query.exec(QStringLiteral("PRAGMA journal_mode = WAL")))
            return fail(doing, query.lastError());
        if (!query.exec(QStringLiteral("PRAGMA foreign_keys = ON")) || !migrate())
            return m_error.isEmpty() ? fail(doing, query.lastError()) : false;
        // A read-only or locked file is found now, before anything is measured for it. SQLite
        // falls back to reading a file it may not write, so the system is asked first.
        const QFileInfo file(m_path);
        if (!file.isWritable() || !QFileInfo(file.absolutePath()).isWritable()) {
            m_error = QStringLiteral("cannot write to %1: it is read-only").arg(m_path);
            return false;
        }
        if (!query.exec(QStringLiteral("BEGIN IMMEDIATE")))
            return fail(doing, query.lastError());
        query.exec(QStringLiteral("ROLLBACK"));
    } else if (version < schemaVersion) {
        m_error = QStringLiteral("cannot read %1: it is of an older schema (%2): open it for "
                                 "writing once (a calibration, a stored sweep) to bring it up "
                                 "to date")
                          .arg(m_path)
                          .arg(version);
        // An empty file (schema 0) is a store with nothing in it.
        if (version > 0)
            return false;
        m_error.clear();
        m_empty = true;
    }
    m_open = true;
    return true;
}

bool Store::migrate()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return fail(QStringLiteral("write to"), query.lastError());
    for (int version = query.value(0).toInt(); version < schemaVersion; ++version) {
        if (!db.transaction())
            return fail(QStringLiteral("migrate"), db.lastError());
        bool done = true;
        for (const QString &statement :
             QString::fromLatin1(migrations[version]).split(u';', Qt::SkipEmptyParts)) {
            if (done && !query.exec(statement))
                done = fail(QStringLiteral("migrate"), query.lastError());
        }
        if (done && !query.exec(QStringLiteral("PRAGMA user_version = %1").arg(version + 1)))
            done = fail(QStringLiteral("migrate"), query.lastError());
        if (done && !db.commit())
            done = fail(QStringLiteral("migrate"), db.lastError());
        if (!done) {
            db.rollback();
            return false;
        }
    }
    return true;
}

QString Store::resolveBoard(const QString &board)
{
    // A name the user gave stands for its board's identity.
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("SELECT identity FROM boards WHERE identity = ? OR name = ? "
                                 "ORDER BY identity = ? DESC LIMIT 1"));
    query.addBindValue(board);
    query.addBindValue(board);
    query.addBindValue(board);
    return query.exec() && query.next() ? query.value(0).toString() : board;
}

namespace {

const char calibrationColumns[]
        = "SELECT c.id, b.identity, c.channel, c.time_utc, c.due_utc, c.meter, c.settings, "
          "c.coefficients, c.correction, c.residuals, c.uncertainty, c.program "
          "FROM calibrations c JOIN boards b ON b.id = c.board ";

// A row of calibrationColumns; nothing when it does not read as a calibration.
std::optional<CalibrationRecord> calibrationFrom(const QSqlQuery &query)
{
    CalibrationRecord record;
    record.id = query.value(0).toLongLong();
    record.board = query.value(1).toString();
    record.channel = query.value(2).toInt();
    record.time = utcTime(query.value(3));
    record.due = utcTime(query.value(4));
    record.meter = query.value(5).toString();
    record.settings = QJsonDocument::fromJson(query.value(6).toByteArray()).object();
    QJsonArray table = QJsonDocument::fromJson(query.value(8).toByteArray()).array();
    const QJsonArray residuals = QJsonDocument::fromJson(query.value(9).toByteArray()).array();
    // The correction table and its residuals are kept apart; the fit takes them as one.
    for (qsizetype i = 0; i < table.size(); ++i)
        table[i] = QJsonArray {table.at(i).toArray().at(0), table.at(i).toArray().at(1),
                               residuals.at(i).toArray().at(1)};
    const std::optional<Calibration::Channel> fit
            = fitFromJson(QJsonDocument::fromJson(query.value(7).toByteArray()).object(), table,
                          QJsonDocument::fromJson(query.value(10).toByteArray()).object());
    if (!fit || !record.time.isValid() || !record.due.isValid())
        return std::nullopt;
    record.fit = *fit;
    record.program = query.value(11).toString();
    return record;
}

} // namespace

std::optional<CalibrationRecord> Store::calibration(const QString &board, int channel)
{
    m_error.clear();
    if (!m_open || m_empty)
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QLatin1String(calibrationColumns)
                  + QStringLiteral("WHERE b.identity = ? AND c.channel = ? "
                                   "ORDER BY c.time_utc DESC, c.id DESC LIMIT 1"));
    query.addBindValue(board);
    query.addBindValue(channel);
    if (!query.exec()) {
        fail(QStringLiteral("read"), query.lastError());
        return std::nullopt;
    }
    if (!query.next())
        return std::nullopt;
    std::optional<CalibrationRecord> record = calibrationFrom(query);
    if (!record)
        m_error = QStringLiteral("cannot read %1: the calibration of DAC %2 on %3 (record %4) "
                                 "does not read as one")
                          .arg(m_path, QChar(u'A' + channel), board)
                          .arg(query.value(0).toLongLong());
    return record;
}

std::vector<CalibrationRecord> Store::calibrations(const QString &board)
{
    m_error.clear();
    std::vector<CalibrationRecord> records;
    if (!m_open || m_empty)
        return records;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    query.prepare(QLatin1String(calibrationColumns)
                  + QStringLiteral("WHERE ? = '' OR b.identity = ? "
                                   "ORDER BY c.time_utc DESC, c.id DESC"));
    const QString identity = board.isEmpty() ? board : resolveBoard(board);
    query.addBindValue(textValue(identity));
    query.addBindValue(textValue(identity));
    if (!query.exec()) {
        fail(QStringLiteral("read"), query.lastError());
        return records;
    }
    while (query.next()) {
        std::optional<CalibrationRecord> record = calibrationFrom(query);
        if (!record) {
            m_error = QStringLiteral("cannot read %1: record %2 does not read as a calibration")
                              .arg(m_path)
                              .arg(query.value(0).toLongLong());
            return {};
        }
        records.push_back(std::move(*record));
    }
    return records;
}

std::vector<SweepRecord> Store::sweeps(const QString &board)
{
    m_error.clear();
    std::vector<SweepRecord> records;
    if (!m_open || m_empty)
        return records;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral(
            "SELECT s.id, b.identity, s.channel, s.time_utc, s.settings, s.summary, s.program "
            "FROM sweeps s JOIN boards b ON b.id = s.board WHERE ? = '' OR b.identity = ? "
            "ORDER BY s.time_utc DESC, s.id DESC"));
    const QString identity = board.isEmpty() ? board : resolveBoard(board);
    query.addBindValue(textValue(identity));
    query.addBindValue(textValue(identity));
    if (!query.exec()) {
        fail(QStringLiteral("read"), query.lastError());
        return records;
    }
    while (query.next()) {
        SweepRecord record;
        record.id = query.value(0).toLongLong();
        record.board = query.value(1).toString();
        record.channel = query.value(2).toInt();
        record.time = utcTime(query.value(3));
        record.settings = QJsonDocument::fromJson(query.value(4).toByteArray()).object();
        record.summary = query.value(5).toString();
        record.program = query.value(6).toString();
        records.push_back(std::move(record));
    }
    return records;
}

std::optional<SweepRecord> Store::sweep(qint64 id)
{
    m_error.clear();
    if (!m_open || m_empty)
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral(
            "SELECT b.identity, s.channel, s.time_utc, s.settings, s.summary, s.csv, s.program "
            "FROM sweeps s JOIN boards b ON b.id = s.board WHERE s.id = ?"));
    query.addBindValue(id);
    if (!query.exec()) {
        fail(QStringLiteral("read"), query.lastError());
        return std::nullopt;
    }
    if (!query.next())
        return std::nullopt;
    SweepRecord record;
    record.id = id;
    record.board = query.value(0).toString();
    record.channel = query.value(1).toInt();
    record.time = utcTime(query.value(2));
    record.settings = QJsonDocument::fromJson(query.value(3).toByteArray()).object();
    record.summary = query.value(4).toString();
    record.csv = query.value(5).toByteArray();
    record.program = query.value(6).toString();
    return record;
}

std::vector<BoardRow> Store::boards()
{
    m_error.clear();
    std::vector<BoardRow> rows;
    if (!m_open || m_empty)
        return rows;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!query.exec(QStringLiteral("SELECT identity, kind, name FROM boards ORDER BY identity"))) {
        fail(QStringLiteral("read"), query.lastError());
        return rows;
    }
    while (query.next())
        rows.push_back({{query.value(0).toString(), query.value(1).toString() == u"serial"},
                        query.value(2).toString()});
    return rows;
}

qint64 Store::boardKey(const BoardId &board, const QString &name)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("INSERT INTO boards (identity, kind, name, added_utc) "
                                 "VALUES (?, ?, ?, ?) ON CONFLICT (identity) DO NOTHING"));
    query.addBindValue(board.identity);
    query.addBindValue(board.serial ? QStringLiteral("serial") : QStringLiteral("port"));
    // A null QString binds as NULL, which the column refuses.
    query.addBindValue(textValue(name));
    query.addBindValue(utcText(QDateTime::currentDateTimeUtc()));
    if (!query.exec()) {
        fail(QStringLiteral("write to"), query.lastError());
        return 0;
    }
    if (!name.isEmpty()) {
        query.prepare(QStringLiteral("UPDATE boards SET name = ? WHERE identity = ?"));
        query.addBindValue(name);
        query.addBindValue(board.identity);
        if (!query.exec()) {
            fail(QStringLiteral("write to"), query.lastError());
            return 0;
        }
    }
    query.prepare(QStringLiteral("SELECT id FROM boards WHERE identity = ?"));
    query.addBindValue(board.identity);
    if (!query.exec() || !query.next()) {
        fail(QStringLiteral("write to"), query.lastError());
        return 0;
    }
    return query.value(0).toLongLong();
}

bool Store::addCalibrations(const BoardId &board, const QString &name,
                            std::vector<CalibrationRecord> &records)
{
    m_error.clear();
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!m_open || m_empty)
        return fail(QStringLiteral("write to"), QSqlError());
    if (!db.transaction())
        return fail(QStringLiteral("write to"), db.lastError());
    const auto abandon = [&db] {
        db.rollback();
        return false;
    };
    const qint64 key = boardKey(board, name);
    if (key == 0)
        return abandon();
    QSqlQuery query(db);
    query.prepare(QStringLiteral(
            "INSERT INTO calibrations (board, channel, time_utc, due_utc, meter, settings, "
            "coefficients, correction, residuals, uncertainty, program) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (CalibrationRecord &record : records) {
        QJsonArray correction;
        QJsonArray residuals;
        for (const Calibration::TablePoint &point : record.fit.table) {
            correction.append(QJsonArray {point.code, point.correction});
            residuals.append(QJsonArray {point.code, number(point.residual)});
        }
        for (const QVariant &value :
             {QVariant(key), QVariant(record.channel), QVariant(utcText(record.time)),
              QVariant(utcText(record.due)), textValue(record.meter),
              QVariant(jsonText(record.settings)), QVariant(jsonText(coefficientsJson(record.fit))),
              QVariant(jsonText(correction)), QVariant(jsonText(residuals)),
              QVariant(jsonText(uncertaintyJson(record.fit.uncertainty))),
              textValue(record.program)})
            query.addBindValue(value);
        if (!query.exec()) {
            fail(QStringLiteral("store the calibration in"), query.lastError());
            return abandon();
        }
        record.id = query.lastInsertId().toLongLong();
        record.board = board.identity;
    }
    if (!db.commit()) {
        fail(QStringLiteral("store the calibration in"), db.lastError());
        return abandon();
    }
    return true;
}

bool Store::addSweep(const BoardId &board, SweepRecord &record)
{
    m_error.clear();
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!m_open || m_empty)
        return fail(QStringLiteral("write to"), QSqlError());
    if (!db.transaction())
        return fail(QStringLiteral("write to"), db.lastError());
    const qint64 key = boardKey(board, {});
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT INTO sweeps (board, channel, time_utc, settings, "
                                 "summary, csv, program) VALUES (?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant &value :
         {QVariant(key), QVariant(record.channel), QVariant(utcText(record.time)),
          QVariant(jsonText(record.settings)), textValue(record.summary),
          textValue(QString::fromUtf8(record.csv)), textValue(record.program)})
        query.addBindValue(value);
    if (key == 0 || !query.exec() || !db.commit()) {
        if (key != 0)
            fail(QStringLiteral("store the sweep in"),
                 query.lastError().isValid() ? query.lastError() : db.lastError());
        db.rollback();
        return false;
    }
    record.id = query.lastInsertId().toLongLong();
    record.board = board.identity;
    return true;
}

std::optional<bool> Store::calibrationState(const QString &board)
{
    m_error.clear();
    if (!m_open || m_empty)
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("SELECT calibration_on FROM boards WHERE identity = ?"));
    query.addBindValue(board);
    if (!query.exec()) {
        fail(QStringLiteral("read"), query.lastError());
        return std::nullopt;
    }
    if (!query.next() || query.value(0).isNull())
        return std::nullopt;
    return query.value(0).toInt() != 0;
}

bool Store::setCalibrationState(const BoardId &board, bool on)
{
    m_error.clear();
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!m_open || m_empty)
        return fail(QStringLiteral("write to"), QSqlError());
    if (!db.transaction())
        return fail(QStringLiteral("write to"), db.lastError());
    const qint64 key = boardKey(board, {});
    QSqlQuery query(db);
    query.prepare(QStringLiteral("UPDATE boards SET calibration_on = ? WHERE id = ?"));
    query.addBindValue(on ? 1 : 0);
    query.addBindValue(key);
    if (key == 0 || !query.exec() || !db.commit()) {
        if (key != 0)
            fail(QStringLiteral("write to"),
                 query.lastError().isValid() ? query.lastError() : db.lastError());
        db.rollback();
        return false;
    }
    return true;
}

QJsonObject calibrationJson(const Records::CalibrationRecord &record, bool inForce,
                            const QDateTime &now)
{
    const Calibration::Channel &fit = record.fit;
    QJsonArray table;
    const double lsb = fit.vref / Calibration::codeCount;
    for (const Calibration::TablePoint &point : fit.table) {
        const QJsonValue residual = std::isnan(point.residual) ? QJsonValue(QJsonValue::Null)
                                                               : QJsonValue(point.residual);
        table.append(QJsonObject {{"code", point.code},
                                  {"measured_v", Calibration::outputAt(fit, point.code)},
                                  {"correction_v", point.correction},
                                  {"residual_v", residual},
                                  {"residual_lsb",
                                   std::isnan(point.residual) ? QJsonValue(QJsonValue::Null)
                                                              : QJsonValue(point.residual / lsb)}});
    }
    return {{"id", record.id},
            {"board", record.board},
            {"channel", QString(QChar(u'A' + record.channel))},
            {"time_utc", record.time.toString(Qt::ISODate)},
            {"due_utc", record.due.toString(Qt::ISODate)},
            {"overdue", record.overdue(now)},
            {"in_force", inForce},
            {"meter", record.meter},
            {"settings", record.settings},
            {"coefficients", coefficientsJson(fit)},
            {"uncertainty", uncertaintyJson(fit.uncertainty)},
            {"uncertainty_at_vref_v", fit.uncertainty.total(fit.vref)},
            {"table", table},
            {"program", record.program}};
}

} // namespace Records
