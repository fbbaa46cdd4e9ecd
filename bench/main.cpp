// TX4410-bench: start-up, user actions, per-request overhead, auto-sample ticks and memory of
// the program's window on the simulated board, and the libusb round trip on a testbed's board,
// as one figure per line.
#include "actionbench.h"
#include "benchreport.h"
#include "benchwindow.h"
#include "libusbroundtrip.h"
#include "machineload.h"
#include "modalwatchdog.h"
#include "monotonicclock.h"
#include "programidentity.h"
#include "requestoverhead.h"
#include "startupbench.h"
#include "startupchild.h"
#include "tickinterval.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string_view>

namespace {

// How many of everything: the full run, and the quick look.
struct Amounts
{
    int startupWarmUps;
    int startupRuns;
    int actionWarmUps;
    int actionRepetitions;
    int requestBatches;
    int requestsPerBatch;
    int ticks; // 0: no tick measurement
    int libusbRequests;
};

constexpr Amounts fullRun {2, 30, 50, 1000, 101, 10000, 20, 20000};
constexpr Amounts quickRun {1, 5, 20, 200, 21, 2000, 0, 2000};

constexpr int statusMeasured = 0;
constexpr int statusMissed = 1;
constexpr int statusNotMeasured = 2;

void printUsage()
{
    std::puts("Usage: TX4410-bench [--quick] [--check]\n"
              "Runs the program's window on the simulated board (offscreen), and the board\n"
              "library's USB board on a board in a umockdev testbed, and prints one figure per\n"
              "line, and each target with PASS or MISS.\n"
              "  --quick  fewer repetitions and no 20-second auto-sample measurement\n"
              "  --check  exit with status 1 when a target is missed\n"
              "Exit status: 0 everything was measured (missed targets are marked MISS),\n"
              "1 a target was missed and --check was given, 2 it could not measure.");
}

QtMessageHandler qtHandler = nullptr;

// Qt ends the process on a fatal error, such as no platform to show a window on: say so as every
// other failure does, with the same status.
void reportQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    qtHandler(type, context, message);
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "error: could not measure: Qt stopped the run: %s\n",
                     message.section(QLatin1Char('\n'), 0, 0).toLocal8Bit().constData());
        std::_Exit(statusNotMeasured);
    }
}

void setIfUnset(const char *name, const char *value)
{
    if (qEnvironmentVariableIsEmpty(name))
        qputenv(name, value);
}

// The figures are of the program's ordinary path: offscreen on the simulated board, no trace
// file written per call, no simulated absence or failure. Children inherit all of it.
void prepareEnvironment()
{
    setIfUnset("QT_QPA_PLATFORM", "offscreen");
    setIfUnset("TX4410_BOARD", "sim");
    for (const char *knob :
         {"TX4410_BOARD_TRACE", "TX4410_SIM_ABSENT_ATTEMPTS", "TX4410_SIM_FAIL_REQUESTS"})
        qunsetenv(knob);
}

std::optional<std::string_view> valueOf(std::string_view argument, std::string_view option)
{
    if (argument.substr(0, option.size()) != option)
        return std::nullopt;
    return argument.substr(option.size());
}

// The figures in the order they run. A new figure is its class and a line here.
void measure(BenchReport &report, const Amounts &amounts)
{
    StartupBench(amounts.startupWarmUps, amounts.startupRuns).run(report);
    {
        BenchWindow window;
        ActionBench(window, amounts.actionWarmUps, amounts.actionRepetitions).run(report);
        if (amounts.ticks > 0)
            TickInterval(window, amounts.ticks).run(report);
    }
    RequestOverhead(amounts.requestBatches, amounts.requestsPerBatch).run(report);
    LibusbRoundTrip(amounts.libusbRequests).run(report);
}

// The number of missed targets.
int runBench(int &argc, char **argv, const Amounts &amounts, bool quick)
{
    QApplication application(argc, argv);
    QCoreApplication::setApplicationName(QString::fromUtf8(thisProgram.title));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(thisProgram.version));
    ModalWatchdog watchdog;
    const MachineLoad load;

    BenchReport report;
    report.comment(QStringLiteral("TX4410-bench %1").arg(quick ? "quick" : "full"));
    report.comment(BenchReport::machineDescription());
    report.comment(QStringLiteral("platform %1; board %2; load at start %3")
                           .arg(qEnvironmentVariable("QT_QPA_PLATFORM"),
                                qEnvironmentVariable("TX4410_BOARD"), BenchReport::loadAverages()));

    measure(report, amounts);
    const double others = load.othersShare();
    report.comment(QStringLiteral("load at end %1; other processes used %2 of the machine "
                                  "during the run; targets missed %3")
                           .arg(BenchReport::loadAverages(),
                                others < 0 ? QStringLiteral("an unknown share")
                                           : QString::number(others * 100, 'f', 0) + u'%')
                           .arg(report.misses()));
    return report.misses();
}

} // namespace

int main(int argc, char *argv[])
{
    const std::int64_t mainAt = monotonicNanoseconds();
    qtHandler = qInstallMessageHandler(reportQtMessage);
    std::optional<StartupWindow> child;
    std::optional<long long> spawnedAt;
    bool quick = false;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (const auto name = valueOf(argument, "--startup-child=")) {
            child = startupWindowNamed(QString::fromUtf8(name->data(), qsizetype(name->size())));
            if (!child) {
                std::fprintf(stderr, "error: unknown start-up window %s\n", argv[i]);
                return statusNotMeasured;
            }
        } else if (const auto requests = valueOf(argument, "--libusb-child=")) {
            runLibusbChild(std::atoi(requests->data()));
        } else if (const auto moment = valueOf(argument, "--spawned-at=")) {
            spawnedAt = std::strtoll(moment->data(), nullptr, 10);
        } else if (argument == "--quick") {
            quick = true;
        } else if (argument == "--check") {
            check = true;
        } else if (argument == "--help" || argument == "-h") {
            printUsage();
            return statusMeasured;
        } else {
            std::fprintf(stderr, "error: unknown argument %s\n", argv[i]);
            printUsage();
            return statusNotMeasured;
        }
    }

    if (child) {
        if (!spawnedAt) {
            std::fputs("error: a start-up child needs --spawned-at\n", stderr);
            return statusNotMeasured;
        }
        return runStartupChild(argc, argv, *child, *spawnedAt, mainAt);
    }

    prepareEnvironment();
    try {
        const int misses = runBench(argc, argv, quick ? quickRun : fullRun, quick);
        return check && misses > 0 ? statusMissed : statusMeasured;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "error: could not measure: %s\n", error.what());
        return statusNotMeasured;
    }
}
