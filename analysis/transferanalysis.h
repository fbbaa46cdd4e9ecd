// Offset, gain, INL, DNL and monotonicity of a DAC from its output measured at a rising series of
// codes, as the DAC test literature defines them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace TransferAnalysis {

// One code and the mean of the volts measured there.
struct Point
{
    std::int32_t code;
    double volts;
    double standardError = 0; // of the mean: standard deviation / sqrt(samples); 0 when unknown
};

// volts = offset + slope × code
struct Line
{
    double offset;
    double slope;
    double at(double code) const { return offset + slope * code; }
};

enum class Method { Endpoint, BestFit };

// Through the first and the last point.
Line endpointLine(std::span<const Point> points);
// Least squares of volts on code.
Line bestFitLine(std::span<const Point> points);

struct Extreme
{
    double lsb = 0;
    std::int32_t code = 0;
};

struct Figures
{
    Line line;
    double idealLsb;         // volts of one code: reference / 65536
    double offsetVolts;      // the line at code 0
    double offsetLsb;        // the same in ideal LSB
    double gainErrorPercent; // the line's slope against the ideal's, of full scale
    // In ideal LSB. The line takes up the gain error, so INL shows none; DNL counts against the
    // ideal step, so a gain error g shows in it as g, far below any step's own error.
    std::vector<double> inl; // per point: its distance from the line
    std::vector<double> dnl; // per point from the second: the step into it per code, less one
    Extreme inlMax, inlMin, dnlMax, dnlMin; // DNL at the upper code of its step
    // The first code whose output falls below the one before it by more than three standard
    // errors of the difference (any fall when none are known).
    std::optional<std::int32_t> nonMonotonicAt;
};

// At least two points, codes rising. referenceVolts: the DAC's full scale, 65536 codes.
Figures analyse(std::span<const Point> points, double referenceVolts, Method method);

inline constexpr double codeCount = 65536;

} // namespace TransferAnalysis
