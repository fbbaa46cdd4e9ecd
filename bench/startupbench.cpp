#include "startupbench.h"

#include "benchreport.h"
#include "monotonicclock.h"
#include "samples.h"
#include "startupchild.h"

#include <QCoreApplication>
#include <QProcess>

#include <array>
#include <stdexcept>

namespace {

constexpr int childTimeoutMs = 60000;
constexpr double startupRatioLimit = 1.3;
constexpr double memoryRatioLimit = 1.3;

double milliseconds(std::int64_t ns)
{
    return double(ns) / 1e6;
}

StartupRun runChild(StartupWindow window)
{
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    const std::int64_t spawnedAt = monotonicNanoseconds();
    child.setArguments({QStringLiteral("--startup-child=") + startupWindowName(window),
                        QStringLiteral("--spawned-at=%1").arg(spawnedAt)});
    child.start();
    if (!child.waitForFinished(childTimeoutMs)) {
        child.kill();
        child.waitForFinished();
        throw std::runtime_error("a start-up child did not finish");
    }
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    const QString err = QString::fromUtf8(child.readAllStandardError());
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
        throw std::runtime_error(("a start-up child failed: " + err.trimmed()).toStdString());
    }
    for (const QString &line : out.split(QLatin1Char('\n'))) {
        if (const std::optional<StartupRun> run = StartupRun::fromLine(line))
            return *run;
    }
    throw std::runtime_error(("a start-up child wrote no figures: " + out + err).toStdString());
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
            const std::size_t kind = (k + std::size_t(i)) % kinds;
            const StartupRun run = runChild(startupWindows[kind]);
            if (i >= m_warmUpRuns)
                series[kind].add(run);
        }
    }
    const StartupSeries &program = series[0];
    const StartupSeries &bare = series[1];
    const StartupSeries &label = series[2];

    report.count(QStringLiteral("startup.runs"), m_runs);
    for (std::size_t kind = 0; kind < kinds; ++kind)
        printSeries(report, startupWindowName(startupWindows[kind]), series[kind]);
    const double ratio = program.shown.median() / bare.shown.median();
    report.figure(QStringLiteral("startup.ratio"), ratio, 3);
    report.figure(QStringLiteral("startup.painted.ratio"),
                  program.painted.median() / bare.painted.median(), 3);
    report.figure(QStringLiteral("startup.ratio_to_label"),
                  program.shown.median() / label.shown.median(), 3);

    for (std::size_t kind = 0; kind < kinds; ++kind) {
        report.figure(
                QStringLiteral("memory.%1.peak_kib").arg(startupWindowName(startupWindows[kind])),
                series[kind].peakKib.median(), 0);
    }
    const double memoryRatio = program.peakKib.median() / bare.peakKib.median();
    report.figure(QStringLiteral("memory.ratio"), memoryRatio, 3);
    report.figure(QStringLiteral("memory.ratio_to_label"),
                  program.peakKib.median() / label.peakKib.median(), 3);

    report.target(QStringLiteral("startup.ratio"), ratio, BenchReport::Bound::AtMost,
                  startupRatioLimit, 3);
    report.target(QStringLiteral("memory.ratio"), memoryRatio, BenchReport::Bound::AtMost,
                  memoryRatioLimit, 3);
}
