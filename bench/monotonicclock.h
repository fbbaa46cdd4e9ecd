#pragma once

#include <cstdint>
#include <ctime>

// Nanoseconds on the machine's monotonic clock. Every process reads the same clock, so a child
// can set its own moments against the one at which its parent started it.
inline std::int64_t monotonicNanoseconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}
