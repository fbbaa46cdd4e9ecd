// What the programs keep of a board's calibrations and sweeps: an SQLite database through Qt
// SQL, one transaction a record, written only whole. Write-ahead logged; checked when opened; its
// schema has a version, and an older file is brought up to this one's in place. A database that
// is locked, read-only, damaged or on a full disk is said in words and left as it was: no record
// stored before is lost. On the caller's thread and event loop; a locked database is waited for
// no longer than the busy time given.
#pragma once

#include "channelcalibration.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <vector>

class QSqlError;
class QJsonArray;

namespace Records {

// The schema this program writes; older files are migrated to it when opened for writing.
inline constexpr int schemaVersion = 2;

// A board by the most stable identity it offers: its USB serial string where it reports one,
// else the USB port path it sits at.
struct BoardId
{
    QString identity;
    bool serial = false; // else a port path
};

struct BoardRow
{
    BoardId id;
    QString name; // the user's, may be empty
};

// One channel's calibration as kept.
struct CalibrationRecord
{
    qint64 id = 0;
    QString board;   // its identity
    int channel = 0; // 0..3, DAC A to D
    QDateTime time;  // UTC
    QDateTime due;   // UTC
    QString meter;   // its answer to *IDN?
    QJsonObject settings;
    Calibration::Channel fit;
    QString program; // "tx4410-cli 1.0.0"

    bool overdue(const QDateTime &now) const { return now > due; }
};

// A sweep as kept: what history lists, and its whole CSV (points and summary) when asked for.
struct SweepRecord
{
    qint64 id = 0;
    QString board;
    int channel = 0;
    QDateTime time;
    QJsonObject settings;
    QString summary; // the summary's lines
    QByteArray csv;  // empty when listed
    QString program;
};

class Store final
{
public:
    enum class Mode { Read, Write };

    // TX4410_DATABASE, else records.sqlite in tx4410/ under the user's data folder (XDG).
    static QString defaultPath();

    // `busyMs`: how long a database another program is writing is waited for.
    Store(QString path, int busyMs);
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // Read: a file that is not there is a store with nothing in it (none is made). Write: made
    // where missing (with its folder), migrated from an older schema. Either way checked. False,
    // with error(), when it cannot be used.
    bool open(Mode mode);
    // The last failure, one line naming the file; empty when none.
    const QString &error() const { return m_error; }
    const QString &path() const { return m_path; }

    // The calibration in force for the board's channel: the latest. Nothing when there is none,
    // or it could not be read (then error()).
    std::optional<CalibrationRecord> calibration(const QString &board, int channel);
    // Newest first; every board's when `board` is empty (an identity or a name).
    std::vector<CalibrationRecord> calibrations(const QString &board = {});
    std::vector<SweepRecord> sweeps(const QString &board = {});
    std::optional<SweepRecord> sweep(qint64 id);
    std::vector<BoardRow> boards();

    // One transaction: every record or none. `name`, when not empty, names the board.
    bool addCalibrations(const BoardId &board, const QString &name,
                         std::vector<CalibrationRecord> &records);
    bool addSweep(const BoardId &board, SweepRecord &record);
    // Whether the instrument applies the board's calibration (CALibration:STATe); nothing when
    // never set.
    std::optional<bool> calibrationState(const QString &board);
    bool setCalibrationState(const BoardId &board, bool on);

private:
    bool fail(const QString &doing, const QSqlError &error);
    bool migrate();
    qint64 boardKey(const BoardId &board, const QString &name);
    QString resolveBoard(const QString &board);

    QString m_path;
    QString m_connection;
    int m_busyMs;
    bool m_open = false;
    bool m_empty = false; // opened for reading, and there is no file
    QString m_error;
};

// The fit as a record's columns hold it, and back.
QJsonObject coefficientsJson(const Calibration::Channel &fit);
QJsonArray tableJson(const Calibration::Channel &fit);
QJsonObject uncertaintyJson(const Calibration::Uncertainty &uncertainty);
std::optional<Calibration::Channel> fitFromJson(const QJsonObject &coefficients,
                                                const QJsonArray &table,
                                                const QJsonObject &uncertainty);

// A calibration as history --json, an export and CALibration:DATA? give it: its figures, its
// table with each point's residual, whether it is the one in force and whether it is overdue.
QJsonObject calibrationJson(const CalibrationRecord &record, bool inForce, const QDateTime &now);

} // namespace Records
