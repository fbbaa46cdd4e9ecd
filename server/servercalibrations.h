// The board's calibrations as the instrument applies them: read from the records when the board
// is up, CALibration:STATe kept there, and *CAL? measured here against the meter the server was
// given, as a session of the host that holds the instrument's lock while it runs. The asking
// session's answer comes when the calibration ends; others wait as behind any lock.
#pragma once

#include "calibrationrun.h"
#include "instrument.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class InstrumentHost;
class CommandTarget;
class Session;

struct CalibrationOptions
{
    QString database; // empty: TX4410_DATABASE, else the user's
    // *CAL?'s meter; nothing: the server says it has none.
    std::optional<Calibration::RunSettings> run;
    int validDays = 365;
};

class ServerCalibrations final : public QObject, public Scpi::Calibrations
{
    Q_OBJECT

public:
    using Log = std::function<void(const QString &)>;

    ServerCalibrations(InstrumentHost &host, CalibrationOptions options, Log log);
    // A calibration still running ends, nothing stored, its asker told -340.
    ~ServerCalibrations() override;

    // Reads the board's records and whether they apply; says what is overdue.
    void load(const QString &board);

    const Entry *entry(int channel) const override;
    bool applied() const override { return m_applied; }
    int apply(bool on, QByteArray &detail) override;
    QDate today() const override;

    // *CAL?: 0 once started, else an error number with `detail`.
    int calibrate(QByteArray &detail);
    bool running() const { return m_run != nullptr; }
    // A calibration running ends now, nothing stored, its asker answered 1 with -340.
    void stop();

signals:
    // Records or the state changed: what a page shows.
    void changed();

private:
    void finished(Calibration::Run::Outcome outcome);
    void answer(const QByteArray &line, int error = 0, const QByteArray &detail = {});

    InstrumentHost &m_host;
    CalibrationOptions m_options;
    Log m_log;
    QString m_board;
    std::array<std::optional<Entry>, 4> m_entries;
    bool m_applied = false;
    std::unique_ptr<CommandTarget> m_session;
    std::unique_ptr<class Sweep::ScpiMeter> m_meter;
    std::unique_ptr<Calibration::Run> m_run;
    ::Session *m_asker = nullptr;
    QDateTime m_began;
    std::array<int, 4> m_codesBefore {};
};
