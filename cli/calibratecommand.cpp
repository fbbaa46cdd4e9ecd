#include "calibratecommand.h"

#include "cliprogram.h"
#include "cliversion.h"
#include "commandsupport.h"
#include "interruption.h"
#include "meteroptions.h"
#include "optionwords.h"
#include "recordstore.h"
#include "scpimeter.h"
#include "sessiondevice.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QJsonObject>

#include <cmath>

using namespace OptionWords;

namespace {

QString signedText(double value, int decimals)
{
    return (value >= 0 ? QStringLiteral("+") : QString()) + QString::number(value, 'f', decimals);
}

QString millivolts(double volts, int decimals = 4)
{
    return QString::number(volts * 1000, 'f', decimals) + QStringLiteral(" mV");
}

QString dacName(int channel)
{
    return QStringLiteral("DAC %1").arg(QChar(u'A' + channel));
}

} // namespace

QList<QCommandLineOption> calibrateOptions()
{
    return QList {valued("channel", "A|B|C|D|ALL"), valued("points", "N"),
                  valued("samples", "N"),           valued("settle-ms", "MS"),
                  valued("vref", "VREF"),           valued("vdd", "VDD"),
                  valued("valid-days", "DAYS"),     valued("name", "NAME"),
                  valued("meter-route", "TEXT")}
    + meterOptions();
}

CalibrateSettings calibrateSettings(const QCommandLineParser &parser)
{
    CalibrateSettings settings;
    Calibration::RunSettings &run = settings.run;
    run.channels = channelList(parser, QStringLiteral("calibrate"));
    const auto whole = [&](const char *name, std::uint32_t highest, int fallback) {
        return parser.isSet(name)
                ? int(wholeNumber(QStringLiteral("--") + name, parser.value(name), highest))
                : fallback;
    };
    run.points = whole("points", 65536, Calibration::defaultPoints);
    if (run.points < 3)
        refuse("--points: a calibration measures at least 3 points");
    run.samples = whole("samples", 1000000, 4);
    if (run.samples == 0)
        refuse("--samples 0: a point takes at least one sample");
    run.settleMs = whole("settle-ms", 3600000, 2);
    settings.validDays = whole("valid-days", 36500, 365);
    if (settings.validDays == 0)
        refuse("--valid-days 0: a calibration is valid for a day at least");
    for (const char *name : {"vref", "vdd"}) {
        const double volts = parser.isSet(name)
                ? realNumber(QStringLiteral("--") + name, parser.value(name))
                : 5;
        if (!(volts >= 0.001 && volts <= 1000))
            refuse(QStringLiteral("--%1 %2 is out of range 0.001 to 1000 V")
                           .arg(name, parser.value(name)));
        (QLatin1String(name) == u"vref" ? run.vref : run.vdd) = volts;
    }
    const std::optional<Sweep::Meter> meter = meterSettings(parser);
    if (!meter)
        refuse("calibrate needs --meter HOST[:PORT]: the calibration is against a bench meter");
    run.meter = *meter;
    run.route = parser.value("meter-route");
    if (parser.isSet("meter-route") && (run.route.trimmed().isEmpty() || run.route.contains(u'\n')))
        refuse("--meter-route must be one line of text");
    if (run.channels.size() > 1 && run.route.isEmpty())
        refuse("several channels through one meter need --meter-route (the command that switches "
               "it to channel %n, as ROUT:CLOS (@%n)); or calibrate a channel a run, the meter "
               "moved between runs");
    settings.name = parser.value("name").trimmed();
    if (settings.name.size() > 100 || settings.name.contains(u'\n'))
        refuse("--name: one line of at most 100 characters");
    return settings;
}

CalibrateCommand::CalibrateCommand(const CalibrateSettings &settings, const QString &database,
                                   QTextStream &out, QTextStream &err, Complain complain)
    : m_settings(settings)
    , m_out(out)
    , m_err(err)
    , m_complain(std::move(complain))
    , m_store(std::make_unique<Records::Store>(
              database.isEmpty() ? Records::Store::defaultPath() : database, 2000))
{ }

CalibrateCommand::~CalibrateCommand() = default;

int CalibrateCommand::prepare(USBStuff &usb)
{
    // A database that cannot take the record is said before anything is measured.
    if (!m_store->open(Records::Store::Mode::Write)) {
        m_complain(m_store->error()
                   + QStringLiteral("; nothing was measured, and every record stored before is "
                                    "kept"));
        return ExitStatus::outputFailed;
    }
    m_board = chosenBoard(usb);
    m_meter = std::make_unique<Sweep::ScpiMeter>(m_settings.run.meter);
    return reachMeter(*m_meter, m_complain);
}

void CalibrateCommand::sayWhatStays()
{
    for (const int channel : m_settings.run.channels) {
        const std::optional<Records::CalibrationRecord> kept
                = m_store->calibration(m_board, channel);
        if (kept)
            m_complain(QStringLiteral("nothing stored: the calibration of %1 of %2 %3 stays in "
                                      "force, due %4")
                               .arg(dacName(channel), m_board, kept->time.toString(Qt::ISODate),
                                    kept->due.toString(Qt::ISODate)));
        else
            m_complain(QStringLiteral("nothing stored: %1 of %2 has no calibration")
                               .arg(dacName(channel), m_board));
    }
}

int CalibrateCommand::run(SessionDevice &device)
{
    if (m_board.isEmpty())
        m_board = device.boardPort();
    const Calibration::RunSettings &settings = m_settings.run;
    const QDateTime began = QDateTime::currentDateTimeUtc();
    DeviceTarget target(device);
    Calibration::Run run(target, *m_meter, settings);
    ProgressLine progress(m_err, QStringLiteral("calibrate"), std::size_t(run.pointsTotal()));
    QEventLoop loop;
    Calibration::Run::Outcome outcome = Calibration::Run::Outcome::Done;
    QObject::connect(&run, &Calibration::Run::measured, &loop,
                     [&] { progress.update(std::size_t(run.pointsDone())); });
    QObject::connect(&run, &Calibration::Run::finished, &loop, [&](Calibration::Run::Outcome how) {
        outcome = how;
        loop.quit();
    });
    run.start();
    runUntilInterrupted(loop, [&] { run.cancel(); });
    progress.clear();

    switch (outcome) {
    case Calibration::Run::Outcome::Done:
        break;
    case Calibration::Run::Outcome::Cancelled:
        m_complain(run.failure());
        sayWhatStays();
        return interruptedStatus();
    case Calibration::Run::Outcome::RequestFailed:
        m_complain(run.failure());
        sayWhatStays();
        return device.failure() ? device.failure()->exitStatus : ExitStatus::requestFailed;
    case Calibration::Run::Outcome::MeterFailed:
        m_complain(run.failure());
        sayWhatStays();
        return ExitStatus::meterFailed;
    case Calibration::Run::Outcome::Refused:
        m_complain(QStringLiteral("the calibration does not hold: ") + run.failure());
        sayWhatStays();
        return ExitStatus::notCalibrated;
    }

    const double lsb = settings.vref / Calibration::codeCount;
    const Sweep::Meter &meter = settings.meter;
    m_out << QStringLiteral("calibration: board %1, %2, the meter at %3: %4\n")
                     .arg(m_board, began.toString(Qt::ISODate), meter.where(), m_meter->identity());
    m_out << QStringLiteral("settings: %1 points from code 0 to 65535, settle %2 ms, %3 samples a "
                            "point, Vref %4 V, Vdd %5 V, valid %6 days%7\n")
                     .arg(settings.points)
                     .arg(settings.settleMs)
                     .arg(settings.samples)
                     .arg(settings.vref)
                     .arg(settings.vdd)
                     .arg(m_settings.validDays)
                     .arg(settings.route.isEmpty()
                                  ? QString()
                                  : QStringLiteral(", the meter routed by ") + settings.route);
    std::vector<Records::CalibrationRecord> records;
    const QJsonObject stated {{"points", settings.points},
                              {"samples", settings.samples},
                              {"settle_ms", settings.settleMs},
                              {"vref_v", settings.vref},
                              {"vdd_v", settings.vdd},
                              {"valid_days", m_settings.validDays},
                              {"meter", meter.where()},
                              {"meter_query", meter.query},
                              {"meter_route", settings.route},
                              {"meter_resolution_v", m_meter->resolutionSeen()},
                              {"meter_accuracy_pct", meter.accuracyPercent},
                              {"meter_accuracy_v", meter.accuracyVolts}};
    for (const Calibration::ChannelResult &result : run.results()) {
        const Calibration::Channel &fit = result.fit;
        const QString dac = dacName(result.channel);
        const int rails = int(result.points.size() - fit.table.size());
        m_out << QStringLiteral("%1 before: offset error %2 (%3 LSB), gain error %4 % of full "
                                "scale; the best-fit line over %5 points off the rails%6\n")
                         .arg(dac, signedText(fit.line.offset * 1000, 4) + QStringLiteral(" mV"),
                              signedText(fit.line.offset / lsb, 2),
                              signedText(fit.gainErrorPercent(), 4))
                         .arg(fit.table.size())
                         .arg(rails > 0 ? QStringLiteral(" (%1 at a rail)").arg(rails) : QString());
        QStringList residuals;
        for (const Calibration::Measured &point : result.points) {
            const auto in
                    = std::ranges::find(fit.table, point.code, &Calibration::TablePoint::code);
            residuals << QString::number(point.code) + u' '
                            + (in == fit.table.end() ? QStringLiteral("rail")
                                       : std::isnan(in->residual)
                                       ? QStringLiteral("end")
                                       : signedText(in->residual / lsb, 2));
        }
        m_out << dac
              << QStringLiteral(" residuals after correction, each point predicted from its "
                                "neighbours, LSB: ")
              << residuals.join(QStringLiteral(", ")) << '\n';
        const Calibration::Uncertainty &u = fit.uncertainty;
        m_out << QStringLiteral("%1 uncertainty of a calibrated setting: ±%2 (±%3 LSB) at %4 V: "
                                "meter noise ±%5, meter resolution ±%6, fit and interpolation "
                                "±%7, meter accuracy %8\n")
                         .arg(dac, millivolts(u.total(settings.vref)))
                         .arg(u.total(settings.vref) / lsb, 0, 'f', 2)
                         .arg(settings.vref)
                         .arg(millivolts(u.noise), millivolts(u.resolution),
                              millivolts(u.interpolation),
                              u.accuracyPercent == 0 && u.accuracyVolts == 0
                                      ? QStringLiteral("not stated (--meter-accuracy)")
                                      : QStringLiteral("±%1 (%2 % + %3)")
                                                .arg(millivolts(u.accuracyAt(settings.vref)))
                                                .arg(u.accuracyPercent)
                                                .arg(millivolts(u.accuracyVolts)));
        m_out << QStringLiteral("%1 calibrated: codes %2 to %3, %4 to %5 V\n")
                         .arg(dac)
                         .arg(fit.lowestCode)
                         .arg(fit.highestCode)
                         .arg(Calibration::outputAt(fit, fit.lowestCode), 0, 'f', 6)
                         .arg(Calibration::outputAt(fit, fit.highestCode), 0, 'f', 6);
        if (fit.readback.measured) {
            const double idealStep = settings.vdd / (Calibration::highestAdcCode + 1);
            m_out << QStringLiteral("%1 readback: against the meter, offset %2 mV and gain error "
                                    "%3 % (of Vdd / 4096 a step); within ±%4 of it once "
                                    "calibrated\n")
                             .arg(dac, signedText(fit.readback.offset * 1000, 3),
                                  signedText((fit.readback.slope / idealStep - 1) * 100, 3),
                                  millivolts(fit.readback.residual, 3));
        }
        Records::CalibrationRecord record;
        record.channel = result.channel;
        record.time = began;
        record.due = began.addDays(m_settings.validDays);
        record.meter = m_meter->identity();
        record.settings = stated;
        record.fit = fit;
        record.program = QStringLiteral("tx4410-cli ") + QLatin1String(cliVersion);
        records.push_back(record);
    }
    m_out.flush();
    if (!m_store->addCalibrations({m_board}, m_settings.name, records)) {
        m_complain(m_store->error()
                   + QStringLiteral("; nothing of this calibration was stored, and every record "
                                    "stored before is kept"));
        return ExitStatus::outputFailed;
    }
    m_out << QStringLiteral(
                     "stored: %1 calibration%2 of board %3 in %4 (record %5 to %6), due %7\n")
                     .arg(records.size())
                     .arg(records.size() == 1 ? "" : "s")
                     .arg(m_board, m_store->path())
                     .arg(records.front().id)
                     .arg(records.back().id)
                     .arg(records.front().due.toString(Qt::ISODate));
    return ExitStatus::done;
}
