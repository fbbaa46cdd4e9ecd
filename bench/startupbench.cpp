#include "startupbench.h"

#include "benchreport.h"
#include "monotonicclock.h"
#include "samples.h"
#include "startupchild.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <array>
#include <stdexcept>

namespace {

constexpr int childTimeoutMs = 60000;
// No slower than the same number of plain controls made by hand.
constexpr double startupRatioLimit = 1.0;
constexpr double memoryRatioLimit = 1.3;

double milliseconds(std::int64_t ns)
{
    return double(ns) / 1e6;
}

std::runtime_error childFailure(StartupWindow window, const QString &what)
{
    return std::runtime_error(QStringLiteral("the start-up child of the %1 window %2")
                                      .arg(startupWindowName(window), what)
                                      .toStdString());
}

// What a failed child said of its failure: its error lines, without Qt's own notes around them
// and without the prefixes the parent adds again; all it wrote when it said nothing of that kind.
QString failureIn(const QString &errors)
{
    QStringList said;
    for (const QString &line : errors.split(QLatin1Char('\n'))) {
        if (line.startsWith(u"error: "))
            said.append(line.mid(7).remove(QStringLiteral("could not measure: ")));
    }
    return said.isEmpty() ? errors.trimmed() : said.join(QStringLiteral("; "));
}

StartupRun runChild(StartupWindow window)
{
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    const std::int64_t spawnedAt = monotonicNanoseconds();
    child.setArguments({QStringLiteral("--startup-child=") + startupWindowName(window),
                        QStringLiteral("--spawned-at=%1").arg(spawnedAt)});
    child.start();
    if (!child.waitForStarted(childTimeoutMs))
        throw childFailure(window, QStringLiteral("did not start: ") + child.errorString());
    if (!child.waitForFinished(childTimeoutMs)) {
        child.kill();
        child.waitForFinished();
        throw childFailure(window, QStringLiteral("did not finish"));
    }
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    const QString err = QString::fromUtf8(child.readAllStandardError());
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        throw childFailure(window, QStringLiteral("failed: ") + failureIn(err));
    for (const QString &line : out.split(QLatin1Char('\n'))) {
        if (const std::optional<StartupRun> run = StartupRun::fromLine(line))
            return *run;
    }
    throw childFailure(window, QStringLiteral("wrote no figures: ") + out + err.trimmed());
}

struct StartupSeries
{
    Samples toMain, application, layout, load, show, firstPaint, shown, painted, peakKib;

    void add(const StartupRun &run)
    {
        toMain.add(milliseconds(run.mainNs));
        application.add(milliseconds(run.applicationNs - run.mainNs));
        layout.add(milliseconds(run.layoutNs - run.applicationNs));
        load.add(milliseconds(run.loadNs - run.layoutNs));
        show.add(milliseconds(run.shownNs - run.loadNs));
        firstPaint.add(milliseconds(run.paintedNs - run.shownNs));
        shown.add(milliseconds(run.shownNs));
        painted.add(milliseconds(run.paintedNs));
        peakKib.add(double(run.peakKib));
    }
};

void printSeries(BenchReport &report, const QString &kind, const StartupSeries &series)
{
    const QString prefix = QStringLiteral("startup.") + kind;
    report.figure(prefix + QStringLiteral(".median_ms"), series.shown.median(), 2);
    report.figure(prefix + QStringLiteral(".painted.median_ms"), series.painted.median(), 2);
    // Where the time goes, each step's own median.
    report.figure(prefix + QStringLiteral(".step.to_main_ms"), series.toMain.median(), 2);
    report.figure(prefix + QStringLiteral(".step.qapplication_ms"), series.application.median(), 2);
    report.figure(prefix + QStringLiteral(".step.window_ms"), series.layout.median(), 2);
    if (kind == u"program")
        report.figure(prefix + QStringLiteral(".step.load_ms"), series.load.median(), 2);
    report.figure(prefix + QStringLiteral(".step.show_ms"), series.show.median(), 2);
    report.figure(prefix + QStringLiteral(".step.first_paint_ms"), series.firstPaint.median(), 2);
}

} // namespace

StartupBench::StartupBench(int warmUpRuns, int runs)
    : m_warmUpRuns(warmUpRuns)
    , m_runs(runs)
{ }

void StartupBench::run(BenchReport &report) const
{
    constexpr std::size_t kinds = std::size(startupWindows);
    std::array<StartupSeries, kinds> series;
    for (int i = 0; i < m_warmUpRuns + m_runs; ++i) {
        // Each kind leads in turn, so that a drift of the machine hits all of them alike.
        for (std::size_t k = 0; k < kinds; ++k) {
            const StartupWindow window = startupWindows[(k + std::size_t(i)) % kinds];
            const StartupRun run = runChild(window);
            if (i >= m_warmUpRuns)
                series[std::size_t(window)].add(run);
        }
    }
    report.count(QStringLiteral("startup.runs"), m_runs);
    for (const StartupWindow window : startupWindows)
        printSeries(report, startupWindowName(window), series[std::size_t(window)]);

    // The program against each reference: to the first show, to the first paint, in memory.
    const StartupSeries &program = series[std::size_t(StartupWindow::Program)];
    const auto ratios = [&](const QString &figure, Samples StartupSeries::*samples) {
        for (const StartupWindow reference : startupWindows) {
            if (reference != StartupWindow::Program) {
                report.figure(figure + startupWindowName(reference),
                              (program.*samples).median()
                                      / (series[std::size_t(reference)].*samples).median(),
                              4);
            }
        }
    };
    ratios(QStringLiteral("startup.ratio_to_"), &StartupSeries::shown);
    ratios(QStringLiteral("startup.painted.ratio_to_"), &StartupSeries::painted);
    for (const StartupWindow window : startupWindows) {
        report.figure(QStringLiteral("memory.%1.peak_kib").arg(startupWindowName(window)),
                      series[std::size_t(window)].peakKib.median(), 0);
    }
    ratios(QStringLiteral("memory.ratio_to_"), &StartupSeries::peakKib);

    const StartupSeries &controls = series[std::size_t(StartupWindow::Controls)];
    const StartupSeries &bare = series[std::size_t(StartupWindow::Bare)];
    report.target(QStringLiteral("startup.ratio_to_controls"),
                  program.shown.median() / controls.shown.median(), BenchReport::Bound::AtMost,
                  startupRatioLimit, 4);
    report.target(QStringLiteral("memory.ratio_to_bare"),
                  program.peakKib.median() / bare.peakKib.median(), BenchReport::Bound::AtMost,
                  memoryRatioLimit, 4);
}
