#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

// Nearest rank: the smallest value with at least `fraction` of them at or below it.
inline double nearestRank(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = std::size_t(std::ceil(fraction * double(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

inline double p10(const std::vector<double> &values)
{
    return nearestRank(values, 0.10);
}

inline double p90(const std::vector<double> &values)
{
    return nearestRank(values, 0.90);
}

inline double p99(const std::vector<double> &values)
{
    return nearestRank(values, 0.99);
}

// Each repetition one timed run whose time the benchmark sets itself, only the aggregates shown:
// how every figure of this program is taken.
inline benchmark::internal::Benchmark *
repeatedManually(benchmark::internal::Benchmark *benchmark, int repetitions,
                 benchmark::TimeUnit unit = benchmark::kMicrosecond)
{
    return benchmark->Iterations(1)
            ->Repetitions(repetitions)
            ->UseManualTime()
            ->ReportAggregatesOnly()
            ->Unit(unit);
}

// The same, with the spread of the repetitions beside the median: p10 and p90.
inline benchmark::internal::Benchmark *repeatedWithSpread(benchmark::internal::Benchmark *benchmark,
                                                          int repetitions)
{
    return repeatedManually(benchmark, repetitions)
            ->ComputeStatistics("p10", p10)
            ->ComputeStatistics("p90", p90);
}

// Set once a figure could not be measured: the program then ends with status 2.
inline bool measureFailed = false;

// A figure that would not be real: the benchmark stops with this line, which the script shows.
// (Google Benchmark leaves a failed repetition out of the aggregates, and out of the report.)
inline void couldNotMeasure(benchmark::State &state, const std::string &why)
{
    std::fprintf(stderr, "error: could not measure: %s\n", why.c_str());
    state.SkipWithError(why.c_str());
    measureFailed = true;
}
