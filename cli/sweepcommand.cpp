#include "sweepcommand.h"

#include "boardinventory.h"
#include "boardlibrary.h"
#include "cliprogram.h"
#include "cliversion.h"
#include "commandsupport.h"
#include "interruption.h"
#include "meteroptions.h"
#include "optionwords.h"
#include "scpimeter.h"
#include "sessiondevice.h"
#include "sweepreport.h"
#include "sweeprunner.h"
#include "wholefile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <chrono>
#include <cmath>

#include <unistd.h>

using namespace OptionWords;

namespace {

const QStringList channelNames = {"A", "B", "C", "D"};

} // namespace

QList<QCommandLineOption> sweepOptions()
{
    return QList<QCommandLineOption> {valued("channel", "A|B|C|D"),
                                      valued("from", "CODE"),
                                      valued("to", "CODE"),
                                      valued("step", "CODE"),
                                      valued("points", "N"),
                                      valued("carries", "major|all|none"),
                                      valued("settle-ms", "MS"),
                                      valued("samples", "N"),
                                      valued("vref", "VREF"),
                                      valued("vdd", "VDD"),
                                      valued("csv", "FILE"),
                                      valued("plot", "FILE"),
                                      valued("method", "endpoint|best-fit"),
                                      QCommandLineOption("calibrated"),
                                      QCommandLineOption("store")}
    + meterOptions();
}

SweepSettings sweepSettings(const QCommandLineParser &parser)
{
    Sweep::Request request;
    const auto whole = [&](const char *name, std::uint32_t highest) -> std::optional<std::int32_t> {
        if (!parser.isSet(name))
            return std::nullopt;
        return std::int32_t(wholeNumber(QStringLiteral("--") + name, parser.value(name), highest));
    };
    const auto real = [&](const char *name, double fallback) {
        return parser.isSet(name) ? realNumber(QStringLiteral("--") + name, parser.value(name))
                                  : fallback;
    };
    request.channel = nameIndex("--channel", required(parser, "sweep", "channel"), channelNames);
    request.from = whole("from", Sweep::highestCode);
    request.to = whole("to", Sweep::highestCode);
    request.step = whole("step", Sweep::highestCode);
    request.points = whole("points", highestInt);
    if (request.step == 0)
        refuse("--step 0: a sweep steps at least one code");
    request.settleMs = whole("settle-ms", 3600000).value_or(2);
    request.samples = whole("samples", 1000000).value_or(4);
    if (request.samples == 0)
        refuse("--samples 0: a point takes at least one sample");
    request.vref = real("vref", 5);
    request.vdd = real("vdd", 5);
    for (const char *name : {"vref", "vdd"}) {
        const double volts = real(name, 5);
        if (!(volts >= 0.001 && volts <= 1000))
            refuse(QStringLiteral("--%1 %2 is out of range 0.001 to 1000 V")
                           .arg(name, parser.value(name)));
    }
    request.meter = meterSettings(parser);
    if (request.meter && parser.isSet("vdd"))
        refuse("--vdd goes with the board's readback, not with --meter");
    if (parser.isSet("carries"))
        request.carries = Sweep::Carries(
                nameIndex("--carries", parser.value("carries"), {"NONE", "MAJOR", "ALL"}));
    if (parser.isSet("method"))
        request.endpointLine
                = nameIndex("--method", parser.value("method"), {"ENDPOINT", "BEST-FIT"}) == 0;

    std::variant<Sweep::Plan, QString> plan = Sweep::makePlan(request);
    if (const QString *refusal = std::get_if<QString>(&plan))
        refuse(*refusal);
    SweepSettings settings;
    settings.plan = std::get<Sweep::Plan>(std::move(plan));
    settings.calibrated = parser.isSet("calibrated");
    settings.store = parser.isSet("store");
    if (settings.calibrated && !settings.plan.meter)
        refuse("--calibrated checks the calibration against a meter: give --meter");
    settings.csvFile = parser.value("csv");
    settings.plotFile = parser.value("plot");
    if (parser.isSet("csv") && settings.csvFile.isEmpty())
        refuse("--csv: the file name is empty");
    const QString suffix = QFileInfo(settings.plotFile).suffix().toLower();
    if (parser.isSet("plot") && suffix != u"png" && suffix != u"svg")
        refuse(QStringLiteral("--plot \"%1\" names no .png or .svg file").arg(settings.plotFile));
    const auto same = [](const QString &one, const QString &other) {
        const QFileInfo a(one);
        const QFileInfo b(other);
        return a.absoluteFilePath() == b.absoluteFilePath()
                || (a.exists() && a.canonicalFilePath() == b.canonicalFilePath());
    };
    if (parser.isSet("csv") && parser.isSet("plot")
        && (same(settings.csvFile, settings.plotFile)
            || same(settings.csvFile + QStringLiteral(".partial"), settings.plotFile)))
        refuse(QStringLiteral("--csv and --plot name the same file, %1").arg(settings.plotFile));
    return settings;
}

SweepCommand::SweepCommand(const SweepSettings &settings, const QString &database, QTextStream &out,
                           QTextStream &err, Complain complain)
    : m_settings(settings)
    , m_out(out)
    , m_err(err)
    , m_complain(std::move(complain))
    , m_database(database.isEmpty() ? Records::Store::defaultPath() : database)
{ }

SweepCommand::~SweepCommand() = default;

int SweepCommand::prepare(USBStuff *usb)
{
    for (const QString &file : {m_settings.csvFile, m_settings.plotFile}) {
        if (const QString problem = file.isEmpty() ? QString() : Sweep::unwritable(file);
            !problem.isEmpty()) {
            m_complain(problem);
            return ExitStatus::outputFailed;
        }
    }
    // A server's board is named by the server.
    if (usb)
        m_board = chosenBoard(*usb);
    if (m_settings.store || m_settings.calibrated) {
        m_store = std::make_unique<Records::Store>(m_database, 2000);
        if (!m_store->open(m_settings.store ? Records::Store::Mode::Write
                                            : Records::Store::Mode::Read)) {
            m_complain(m_store->error());
            return ExitStatus::outputFailed;
        }
    }
    if (m_settings.calibrated) {
        const int channel = m_settings.plan.channel;
        m_calibration = m_board.isEmpty() ? std::nullopt : m_store->calibration(m_board, channel);
        if (!m_calibration) {
            m_complain(m_store->error().isEmpty()
                               ? QStringLiteral("--calibrated: DAC %1 of board %2 has no "
                                                "calibration in %3 (tx4410-cli calibrate)")
                                         .arg(QChar(u'A' + channel))
                                         .arg(m_board, m_store->path())
                               : m_store->error());
            return m_store->error().isEmpty() ? ExitStatus::notCalibrated
                                              : ExitStatus::outputFailed;
        }
        if (m_calibration->overdue(QDateTime::currentDateTimeUtc()))
            m_complain(QStringLiteral("warning: the calibration of DAC %1 of board %2 was due "
                                      "%3: still checked; calibrate it again")
                               .arg(QChar(u'A' + channel))
                               .arg(m_board, m_calibration->due.toString(Qt::ISODate)));
    }
    if (!m_settings.plan.meter)
        return ExitStatus::done;
    m_meter = std::make_unique<Sweep::ScpiMeter>(*m_settings.plan.meter);
    return reachMeter(*m_meter, m_complain);
}

int SweepCommand::run(SessionDevice &device)
{
    const Sweep::Plan &plan = m_settings.plan;
    if (m_board.isEmpty())
        m_board = device.boardPort();
    Sweep::Facts facts {m_board.isEmpty() ? QStringLiteral("unknown") : m_board,
                        QDateTime::currentDateTime(), m_meter ? m_meter->identity() : QString()};
    const QStringList head = Sweep::headLines(plan, facts);
    std::optional<Sweep::PartialFile> csv;
    int status = ExitStatus::done;
    if (!m_settings.csvFile.isEmpty()) {
        csv.emplace(m_settings.csvFile);
        if (!csv->begin(Sweep::csvHead(head))) {
            m_complain(csv->failure());
            return ExitStatus::outputFailed;
        }
    }

    DeviceTarget target(device);
    Sweep::ReadbackSource readback(target, plan.channel, plan.vdd);
    Sweep::Source &source = m_meter ? static_cast<Sweep::Source &>(*m_meter) : readback;
    Sweep::Runner runner(target, source, plan);
    ProgressLine progress(m_err, QStringLiteral("sweep"), plan.codes.size());
    QEventLoop loop;
    Sweep::Runner::Outcome outcome = Sweep::Runner::Outcome::Done;
    QObject::connect(&runner, &Sweep::Runner::measured, &loop,
                     [&](const Sweep::MeasuredPoint &point) {
                         progress.update(runner.points().size());
                         if (m_meter)
                             facts.resolutionSeen = m_meter->resolutionSeen();
                         if (csv && !csv->append(Sweep::csvRow(plan, point, nullptr, 0, facts)))
                             runner.cancel(Sweep::Runner::Outcome::Stopped);
                     });
    QObject::connect(&runner, &Sweep::Runner::finished, &loop, [&](Sweep::Runner::Outcome how) {
        outcome = how;
        loop.quit();
    });
    runner.start();
    runUntilInterrupted(loop, [&] { runner.cancel(); });
    progress.clear();

    const std::vector<Sweep::MeasuredPoint> &points = runner.points();
    const QString at = points.size() < plan.codes.size()
            ? QStringLiteral("at code %1: ").arg(plan.codes[points.size()])
            : QString();
    switch (outcome) {
    case Sweep::Runner::Outcome::Done:
        break;
    case Sweep::Runner::Outcome::Cancelled:
        m_complain(QStringLiteral("interrupted after %1 of %2 points")
                           .arg(points.size())
                           .arg(plan.codes.size()));
        status = interruptedStatus();
        break;
    case Sweep::Runner::Outcome::RequestFailed:
        m_complain(at + device.failure()->message);
        status = device.failure()->exitStatus;
        break;
    case Sweep::Runner::Outcome::SourceFailed:
        m_complain(at + source.failure());
        status = ExitStatus::meterFailed;
        break;
    case Sweep::Runner::Outcome::Stopped:
        m_complain(csv->failure() + QStringLiteral(": the sweep stopped there"));
        status = ExitStatus::outputFailed;
        break;
    }
    if (m_meter) {
        facts.unaskedLines = m_meter->discarded();
        facts.resolutionSeen = m_meter->resolutionSeen();
    }
    const Sweep::Summary summary = Sweep::summarise(plan, points, facts);
    if (facts.unaskedLines > 0 && summary.untrusted.isEmpty())
        m_complain(QStringLiteral("warning: the meter at %1 sent %2 line%3 that no query asked "
                                  "for; dropped, never taken for an answer")
                           .arg(m_meter->where())
                           .arg(facts.unaskedLines)
                           .arg(facts.unaskedLines == 1 ? "" : "s"));
    const QByteArray whole = Sweep::wholeCsv(head, plan, points, summary, facts);
    for (const QString &line : head + summary.lines)
        m_out << line << '\n';
    const bool holds = !m_calibration || verify(points);
    m_out.flush();

    const auto worse = [&status](int failed) {
        status = status == ExitStatus::done ? failed : status;
    };
    if (!summary.untrusted.isEmpty()) {
        m_complain(summary.untrusted);
        if (m_meter)
            worse(ExitStatus::meterFailed);
    }
    if (csv && outcome != Sweep::Runner::Outcome::Stopped && !csv->finish(whole)) {
        m_complain(csv->failure());
        worse(ExitStatus::outputFailed);
    }
    if (!m_settings.plotFile.isEmpty() && summary.figures)
        worse(drawPlot(whole));
    else if (!m_settings.plotFile.isEmpty())
        m_complain(QStringLiteral("no plot drawn: fewer than two points measured off the rails"));
    // Only a sweep measured whole and trusted is kept.
    if (m_settings.store && outcome == Sweep::Runner::Outcome::Done && summary.untrusted.isEmpty()
        && !store(summary, whole, facts.date.toUTC()))
        worse(ExitStatus::outputFailed);
    else if (m_settings.store && status != ExitStatus::done)
        m_complain(QStringLiteral("nothing stored: the sweep was not measured whole"));
    if (!holds)
        worse(ExitStatus::notCalibrated);
    return status;
}

bool SweepCommand::verify(const std::vector<Sweep::MeasuredPoint> &points)
{
    const Calibration::Channel &fit = m_calibration->fit;
    const Sweep::Plan &plan = m_settings.plan;
    const double lsb = plan.vref / Calibration::codeCount;
    const TransferAnalysis::Path path = plan.path(m_meter->resolutionSeen());
    // A calibrated setting writes a code and expects the output the calibration gives it; a
    // plain one expects the ideal line's.
    double worst = 0;
    double worstPlain = 0;
    std::int32_t worstCode = 0;
    std::int32_t worstPlainCode = 0;
    int outside = 0;
    int checked = 0;
    for (const Sweep::MeasuredPoint &point : points) {
        const TransferAnalysis::Point analysed {point.code, point.mean, point.deviation,
                                                point.samples};
        if (point.code < fit.lowestCode || point.code > fit.highestCode
            || TransferAnalysis::atRail(analysed, path, plan.vref))
            continue;
        ++checked;
        const double error = point.mean - Calibration::outputAt(fit, point.code);
        const double plain = point.mean - point.code * lsb;
        if (std::fabs(error) > std::fabs(worst)) {
            worst = error;
            worstCode = point.code;
        }
        if (std::fabs(plain) > std::fabs(worstPlain)) {
            worstPlain = plain;
            worstPlainCode = point.code;
        }
        // Half an LSB: a setting's nearest code is that far at most.
        if (std::fabs(error) > fit.uncertainty.total(point.mean) + lsb / 2)
            ++outside;
    }
    const auto figure = [lsb](double volts, std::int32_t code) {
        return QStringLiteral("%1 LSB (%2 mV) at code %3")
                .arg(volts / lsb, 0, 'f', 2)
                .arg(volts * 1000, 0, 'f', 4)
                .arg(code);
    };
    m_out << QStringLiteral("calibrated: the calibration of %1 (due %2), largest error %3 over "
                            "%4 points; within its stated uncertainty (±%5 mV at %6 V): %7\n")
                     .arg(m_calibration->time.toString(Qt::ISODate),
                          m_calibration->due.toString(Qt::ISODate), figure(worst, worstCode))
                     .arg(checked)
                     .arg(fit.uncertainty.total(plan.vref) * 1000, 0, 'f', 4)
                     .arg(plan.vref)
                     .arg(checked == 0           ? QStringLiteral("no point to check")
                                  : outside == 0 ? QStringLiteral("yes")
                                                 : QStringLiteral("no, %1 of %2 points beyond it")
                                                           .arg(outside)
                                                           .arg(checked));
    m_out << QStringLiteral("uncalibrated: largest error %1\n")
                     .arg(figure(worstPlain, worstPlainCode));
    if (checked == 0)
        m_complain(QStringLiteral("--calibrated: no point measured within the codes the "
                                  "calibration knows"));
    return checked > 0 && outside == 0;
}

bool SweepCommand::store(const Sweep::Summary &summary, const QByteArray &csv,
                         const QDateTime &time)
{
    const Sweep::Plan &plan = m_settings.plan;
    Records::SweepRecord record;
    record.channel = plan.channel;
    record.time = time;
    record.settings = QJsonObject {{"grid", plan.grid},
                                   {"points", int(plan.codes.size())},
                                   {"from", plan.codes.front()},
                                   {"to", plan.codes.back()},
                                   {"settle_ms", plan.settleMs},
                                   {"samples", plan.samples},
                                   {"vref_v", plan.vref},
                                   {"vdd_v", plan.vdd},
                                   {"meter", plan.meter ? plan.meter->where() : QString()},
                                   {"meter_identity", m_meter ? m_meter->identity() : QString()}};
    record.summary = summary.lines.join(u'\n');
    record.csv = csv;
    record.program = QStringLiteral("tx4410-cli ") + QLatin1String(cliVersion);
    const QString board = m_board.isEmpty() ? QStringLiteral("unknown") : m_board;
    if (!m_store->addSweep({board}, record)) {
        m_complain(m_store->error() + QStringLiteral("; every record stored before is kept"));
        return false;
    }
    m_out << QStringLiteral("stored: sweep %1 of board %2 in %3\n")
                     .arg(record.id)
                     .arg(board, m_store->path());
    m_out.flush();
    return true;
}

int SweepCommand::drawPlot(const QByteArray &csv)
{
    // Ctrl-C, SIGTERM or SIGHUP while it draws ends the drawing; the CSV is written by then.
    const int before = interruptions();
    QProcess plot;
    plot.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tx4410-plot"),
               {QStringLiteral("-"), m_settings.plotFile});
    plot.write(csv);
    plot.closeWriteChannel();
    const QDeadlineTimer deadline(120000);
    while (plot.state() != QProcess::NotRunning && interruptions() == before
           && !deadline.hasExpired())
        plot.waitForFinished(50);
    if (interruptions() != before) {
        plot.kill();
        plot.waitForFinished();
        m_complain(QStringLiteral("interrupted while drawing %1: no picture")
                           .arg(m_settings.plotFile));
        return interruptedStatus();
    }
    if (plot.state() != QProcess::NotRunning || plot.exitStatus() != QProcess::NormalExit
        || plot.exitCode() != 0) {
        const QString said = QString::fromLocal8Bit(plot.readAllStandardError()).trimmed();
        m_complain(QStringLiteral("cannot draw %1: %2")
                           .arg(m_settings.plotFile, said.isEmpty() ? plot.errorString() : said));
        plot.kill();
        plot.waitForFinished();
        return ExitStatus::outputFailed;
    }
    return ExitStatus::done;
}
