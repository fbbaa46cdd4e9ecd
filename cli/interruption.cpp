#include "interruption.h"

#include <algorithm>
#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t interrupted = 0;
volatile std::sig_atomic_t signalCount = 0;
int wakeUp[2] = {-1, -1};

extern "C" void markInterrupted(int signal)
{
    interrupted = signal;
    signalCount = signalCount + 1;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(wakeUp[1], &byte, 1);
}

} // namespace

void catchInterrupt()
{
    if (wakeUp[0] < 0 && ::pipe2(wakeUp, O_CLOEXEC | O_NONBLOCK) != 0)
        wakeUp[0] = wakeUp[1] = -1;
    struct sigaction action
    { };
    action.sa_handler = markInterrupted;
    sigemptyset(&action.sa_mask);
    // Reads and writes carry on; clock_nanosleep returns early whatever the flags.
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

bool isInterrupted()
{
    return interrupted != 0;
}

int interruptionDescriptor()
{
    return wakeUp[0];
}

int interruptions()
{
    return signalCount;
}

int interruptedStatus()
{
    return 128 + (interrupted != 0 ? int(interrupted) : SIGINT);
}

// The steady clock of the C++ library here is CLOCK_MONOTONIC, so its time points are absolute
// deadlines for clock_nanosleep: a late wake-up never moves the next one.
namespace {

timespec timespecOf(std::chrono::steady_clock::time_point deadline)
{
    const auto sinceEpoch = deadline.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
    timespec until {};
    until.tv_sec = static_cast<std::time_t>(seconds.count());
    until.tv_nsec = static_cast<long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch - seconds).count());
    return until;
}

} // namespace

bool sleepUntil(std::chrono::steady_clock::time_point deadline)
{
    // In slices: a signal that comes between the check and the sleep waits one slice at most.
    constexpr auto slice = std::chrono::milliseconds(50);
    while (!isInterrupted()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return true;
        const timespec until = timespecOf(std::min(deadline, now + slice));
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
    }
    return false;
}
