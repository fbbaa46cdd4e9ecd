// TX4410-bench: the window's actions, the auto-sample tick and the request overhead, on the
// simulated board (offscreen platform), as Google Benchmark figures.
#include "benchbuild.h"
#include "benchstatistics.h"
#include "benchwindow.h"
#include "programidentity.h"
#include "scenarios.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>

namespace {

constexpr Amounts fullRun {50, 1000, 101, 10000, 20, 101, 4097};
constexpr Amounts quickRun {20, 200, 21, 2000, 0, 21, 1025};

void setIfUnset(const char *name, const char *value)
{
    if (qEnvironmentVariableIsEmpty(name))
        qputenv(name, value);
}

} // namespace

int main(int argc, char *argv[])
{
    // Ours before the others' options are read: --quick takes fewer repetitions and no ticks.
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
            std::copy(argv + i + 1, argv + argc + 1, argv + i);
            --argc;
            break;
        }
    }
    // The program's ordinary path: offscreen on the simulated board, no trace file written per
    // call, no simulated absence or failure.
    setIfUnset("QT_QPA_PLATFORM", "offscreen");
    setIfUnset("TX4410_BOARD", "sim");
    for (const char *knob :
         {"TX4410_BOARD_TRACE", "TX4410_SIM_ABSENT_ATTEMPTS", "TX4410_SIM_FAIL_REQUESTS"})
        qunsetenv(knob);

    QApplication application(argc, argv);
    QCoreApplication::setApplicationName(QString::fromUtf8(thisProgram.title));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(thisProgram.version));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    benchmark::AddCustomContext("build_type", benchBuildType);
    benchmark::AddCustomContext("qt", qVersion());
    benchmark::AddCustomContext("platform", qgetenv("QT_QPA_PLATFORM").toStdString());
    benchmark::AddCustomContext("run", quick ? "quick" : "full");

    const Amounts &amounts = quick ? quickRun : fullRun;
    std::optional<BenchWindow> window;
    try {
        window.emplace();
        registerActions(*window, amounts);
        if (amounts.ticks > 0)
            registerTicks(*window, amounts.ticks);
        registerRequestOverhead(amounts);
        registerSweepCost(amounts);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "error: could not measure: %s\n", error.what());
        return 3;
    }
    benchmark::RunSpecifiedBenchmarks();
    // The benchmarks hold on to the window's controls: gone before the window is.
    benchmark::ClearRegisteredBenchmarks();
    benchmark::Shutdown();
    return measureFailed ? 3 : 0; // 2 is a usage error
}
