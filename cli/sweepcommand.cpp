#include "sweepcommand.h"

#include "boardinventory.h"
#include "boardlibrary.h"
#include "cliprogram.h"
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
                                      valued("method", "endpoint|best-fit")}
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

SweepCommand::SweepCommand(const SweepSettings &settings, QTextStream &out, QTextStream &err,
                           Complain complain)
    : m_settings(settings)
    , m_out(out)
    , m_err(err)
    , m_complain(std::move(complain))
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
    return status;
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
