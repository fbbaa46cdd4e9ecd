#include "servercalibrations.h"

#include "commandtarget.h"
#include "instrumenthost.h"
#include "recordstore.h"
#include "scpimeter.h"
#include "serverversion.h"
#include "session.h"

#include <QJsonDocument>

namespace {

// How long a database another program writes is waited for: a client's query waits as long.
constexpr int busyMs = 2000;

QString storePath(const QString &database)
{
    return database.isEmpty() ? Records::Store::defaultPath() : database;
}

} // namespace

ServerCalibrations::ServerCalibrations(InstrumentHost &host, CalibrationOptions options, Log log)
    : m_host(host)
    , m_options(std::move(options))
    , m_log(std::move(log))
{ }

ServerCalibrations::~ServerCalibrations()
{
    stop();
}

void ServerCalibrations::stop()
{
    if (!m_run)
        return;
    m_run->disconnect(this);
    m_meter->disconnect(this);
    m_run->cancel();
    finished(Calibration::Run::Outcome::Cancelled);
}

void ServerCalibrations::load(const QString &board)
{
    m_board = board;
    m_entries = {};
    m_applied = false;
    Records::Store store(storePath(m_options.database), busyMs);
    if (!store.open(Records::Store::Mode::Read)) {
        m_log(QStringLiteral("calibrations: %1: none applied").arg(store.error()));
        emit changed();
        return;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int channel = 0; channel < 4; ++channel) {
        const std::optional<Records::CalibrationRecord> record = store.calibration(board, channel);
        if (!record) {
            if (!store.error().isEmpty())
                m_log(QStringLiteral("calibrations: ") + store.error());
            continue;
        }
        m_entries[std::size_t(channel)]
                = Entry {record->fit, record->time.date(), record->due.date(),
                         QJsonDocument(Records::calibrationJson(*record, true, now))
                                 .toJson(QJsonDocument::Compact)};
        if (record->overdue(now))
            m_log(QStringLiteral("warning: the calibration of DAC %1 of board %2 was due %3: "
                                 "still applied when on; calibrate it again")
                          .arg(QChar(u'A' + channel))
                          .arg(board, record->due.toString(Qt::ISODate)));
    }
    m_applied = store.calibrationState(board).value_or(false);
    emit changed();
}

const Scpi::Calibrations::Entry *ServerCalibrations::entry(int channel) const
{
    if (channel < 0 || channel > 3 || !m_entries[std::size_t(channel)])
        return nullptr;
    return &*m_entries[std::size_t(channel)];
}

int ServerCalibrations::apply(bool on, QByteArray &detail)
{
    Records::Store store(storePath(m_options.database), busyMs);
    if (!store.open(Records::Store::Mode::Write) || !store.setCalibrationState({m_board}, on)) {
        detail = store.error().toUtf8();
        return Scpi::Error::massStorage;
    }
    m_applied = on;
    emit changed();
    return Scpi::Error::none;
}

QDate ServerCalibrations::today() const
{
    return QDateTime::currentDateTimeUtc().date();
}

int ServerCalibrations::calibrate(QByteArray &detail)
{
    if (!m_options.run) {
        detail = "this server was started without a meter to calibrate against "
                 "(--calibration-meter)";
        return Scpi::Error::calibrationFailed;
    }
    if (m_run) {
        detail = "a calibration is running";
        return Scpi::Error::calibrationFailed;
    }
    if (const ::Session *holder = m_host.lockHolder()) {
        detail = (holder->peer() + QStringLiteral(" holds the instrument locked")).toUtf8();
        return Scpi::Error::calibrationFailed;
    }
    Records::Store store(storePath(m_options.database), busyMs);
    if (!store.open(Records::Store::Mode::Write)) {
        detail = store.error().toUtf8();
        return Scpi::Error::massStorage;
    }
    m_asker = m_host.executing();
    m_began = QDateTime::currentDateTimeUtc();
    m_session = std::make_unique<CommandTarget>(
            m_host, QStringLiteral("*CAL?"),
            [](const QByteArray &error) { return QString::fromUtf8(error); });
    m_host.lock(*m_session);
    m_meter = std::make_unique<Sweep::ScpiMeter>(m_options.run->meter);
    m_run = std::make_unique<Calibration::Run>(*m_session, *m_meter, *m_options.run);
    connect(m_run.get(), &Calibration::Run::finished, this, &ServerCalibrations::finished);
    connect(m_meter.get(), &Sweep::Source::prepared, this, [this](bool reached) {
        if (reached) {
            for (int channel = 0; channel < 4; ++channel)
                m_codesBefore[std::size_t(channel)]
                        = m_session->run("SOUR" + std::to_string(channel + 1) + ":VOLT:CODE?")
                                  .trimmed()
                                  .toInt();
            m_run->start();
        } else
            finished(Calibration::Run::Outcome::MeterFailed);
    });
    m_log(QStringLiteral("*CAL? from %1: calibrating against the meter at %2")
                  .arg(m_asker != nullptr ? m_asker->peer() : QStringLiteral("?"),
                       m_options.run->meter.where()));
    m_meter->prepare();
    return Scpi::Error::none;
}

void ServerCalibrations::finished(Calibration::Run::Outcome outcome)
{
    QString failure = outcome == Calibration::Run::Outcome::Done ? QString() : m_run->failure();
    if (outcome == Calibration::Run::Outcome::Cancelled && failure.isEmpty())
        failure = QStringLiteral("the server is ending");
    if (outcome == Calibration::Run::Outcome::MeterFailed && failure.isEmpty())
        failure = m_meter->failure();
    if (outcome == Calibration::Run::Outcome::Done) {
        std::vector<Records::CalibrationRecord> records;
        const Calibration::RunSettings &settings = *m_options.run;
        const QJsonObject stated {{"points", settings.points},
                                  {"samples", settings.samples},
                                  {"settle_ms", settings.settleMs},
                                  {"vref_v", settings.vref},
                                  {"vdd_v", settings.vdd},
                                  {"valid_days", m_options.validDays},
                                  {"meter", settings.meter.where()},
                                  {"meter_query", settings.meter.query},
                                  {"meter_route", settings.route},
                                  {"meter_accuracy_pct", settings.meter.accuracyPercent},
                                  {"meter_accuracy_v", settings.meter.accuracyVolts}};
        for (const Calibration::ChannelResult &result : m_run->results()) {
            Records::CalibrationRecord record;
            record.channel = result.channel;
            record.time = m_began;
            record.due = m_began.addDays(m_options.validDays);
            record.meter = m_meter->identity();
            record.settings = stated;
            record.fit = result.fit;
            record.program = QStringLiteral("tx4410-server ") + QLatin1String(serverVersion);
            records.push_back(record);
        }
        Records::Store store(storePath(m_options.database), busyMs);
        if (!store.open(Records::Store::Mode::Write)
            || !store.addCalibrations({m_board}, {}, records))
            failure = store.error() + QStringLiteral(": nothing stored");
    }
    // Each channel back at its code from before.
    for (int channel = 0; channel < 4; ++channel)
        m_session->run("SOUR" + std::to_string(channel + 1) + ":VOLT:CODE "
                       + std::to_string(m_codesBefore[std::size_t(channel)]));
    m_host.unlock(*m_session);
    const std::unique_ptr<CommandTarget> session = std::move(m_session);
    m_run.release()->deleteLater(); // it is calling
    m_meter.release()->deleteLater();
    if (failure.isEmpty()) {
        m_log(QStringLiteral("*CAL?: calibrated and stored"));
        load(m_board);
        answer("0\n");
    } else {
        m_log(QStringLiteral("*CAL? failed: ") + failure
              + QStringLiteral("; the calibration stored before stays in force"));
        answer("1\n", Scpi::Error::calibrationFailed, failure.toUtf8().left(200));
    }
}

void ServerCalibrations::answer(const QByteArray &line, int error, const QByteArray &detail)
{
    ::Session *asker = std::exchange(m_asker, nullptr);
    m_host.answer(asker, line, error, detail);
}
