#include "interruption.h"

#include <cerrno>
#include <csignal>
#include <ctime>

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void markInterrupted(int)
{
    interrupted = 1;
}

} // namespace

void catchInterrupt()
{
    struct sigaction action
    { };
    action.sa_handler = markInterrupted;
    sigemptyset(&action.sa_mask);
    // Reads and writes carry on; clock_nanosleep returns early whatever the flags.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
}

bool isInterrupted()
{
    return interrupted != 0;
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
    const timespec until = timespecOf(deadline);
    while (!isInterrupted()) {
        const int result = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
        if (result != EINTR)
            return !isInterrupted();
    }
    return false;
}

void sleepThrough(std::chrono::steady_clock::time_point deadline)
{
    const timespec until = timespecOf(deadline);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) { }
}
