// Offset, gain, INL, DNL and monotonicity of a DAC from its output measured at a rising series of
// codes, as DAC linearity practice defines them (IEEE Std 1658, ATE practice), each with the
// bound within which the measuring path cannot tell it from zero.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace TransferAnalysis {

inline constexpr double codeCount = 65536;
// The chance that noise alone makes any figure of one sweep read beyond its bound, or makes a
// fall out of nothing: the bounds are Bonferroni-corrected for the number of figures compared.
inline constexpr double falseAlarm = 0.001;

// One code and what was measured there.
struct Point
{
    std::int32_t code;
    double volts;         // the mean of the samples
    double deviation = 0; // their standard deviation (n - 1); 0 for one sample
    int samples = 1;
    // Of the mean; 0, unknown, for one sample.
    double standardError() const;
};

// What the measuring path adds to every reading.
struct Path
{
    double resolutionVolts = 0; // one ADC step through the readback; 0 for a meter
    double lowRail = 0;         // the volts the output cannot go below
    double highRail = 0;        // nor above: the reference, or the readback's full scale
};

// volts = offset + slope × code
struct Line
{
    double offset = 0;
    double slope = 0;
    double at(double code) const { return offset + slope * code; }
};

enum class Method { Endpoint, BestFit };

// Each line over the points given (at least two).
Line endpointLine(std::span<const Point> points);
Line bestFitLine(std::span<const Point> points);

// A point within the noise (three deviations) and the resolution (at least half an ideal LSB)
// of a rail: its output may be clipped there.
bool atRail(const Point &point, const Path &path, double referenceVolts);

// The upper t such that a Student's t of `degrees` degrees of freedom exceeds it with probability
// `tail`; degrees above 1000 count as 1000, which only widens it.
double tQuantile(double tail, int degrees);

struct LineFigures
{
    Line line;
    double offsetVolts = 0;      // the line at code 0
    double offsetBoundVolts = 0; // what the path allows it to be off by
    double gainErrorPercent = 0; // the slope against the ideal's, of full scale
    double gainBoundPercent = 0;
};

struct Extreme
{
    double lsb = 0;
    std::int32_t code = 0;
};

enum class Monotonic { Yes, No, NotEstablished };

struct Figures
{
    double idealLsb = 0; // reference / 65536
    // The samples' deviation pooled over the points off the rails, and its degrees of freedom
    // (0: one sample a point, the noise unknown). Every standard error below is made from it.
    double noiseVolts = 0;
    int noiseDegrees = 0;
    std::vector<bool> rail;
    int railPoints = 0;
    LineFigures endpoint;
    LineFigures bestFit;
    // The device's LSB: the chosen line's slope. INL is in it.
    double lsb = 0;
    // The average step, the end-point line's slope: DNL and step errors are in it.
    double averageStep = 0;

    // Per point, NaN where not defined (a rail; the first point; a step of another kind).
    std::vector<double> inl;       // its distance from the chosen line
    std::vector<double> dnl;       // the step into it from the code just below, less one
    std::vector<double> stepError; // the rise over a wider step of N codes, less N
    Extreme inlMax, inlMin, dnlMax, dnlMin, stepMax, stepMin;
    double inlBoundLsb = 0; // what the path allows each figure to be off by
    double dnlBoundLsb = 0;
    double stepBoundLsb = 0;
    int dnlSteps = 0; // steps of one code
    int wideSteps = 0;
    std::int32_t narrowestWide = 0; // codes of the narrowest and widest of the wider steps
    std::int32_t widestWide = 0;

    // No: the first fall beyond its guard band (the two means' standard errors at a t quantile
    // corrected for the steps compared, and the path's resolution), into fallCode from fallFrom, by
    // fallLsb. Yes: every code of the range measured and each step's rise above its guard band.
    // Else not established; a fall of visibleFallLsb or more would have been seen.
    Monotonic monotonic = Monotonic::NotEstablished;
    std::int32_t fallFrom = 0;
    std::int32_t fallCode = 0;
    double fallLsb = 0;
    double visibleFallLsb = 0;
};

// Codes rising. Nothing when fewer than two points are off the rails.
std::optional<Figures> analyse(std::span<const Point> points, double referenceVolts, Method method,
                               const Path &path);

} // namespace TransferAnalysis
