// Offset, gain, INL, DNL and monotonicity of a DAC from its output measured at a rising series of
// codes, as DAC linearity practice defines them (IEEE Std 1658, ATE practice), each with the
// bound within which the measuring path cannot tell it from zero.
#pragma once

#include <cstdint>
#include <limits>
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
    // The point's first sample; NaN when not known. A first sample that leans towards the code
    // before is a reading that lags the code written.
    double first = std::numeric_limits<double>::quiet_NaN();
    // Of the mean: 0, unknown, for one sample until a deviation is estimated for it.
    double standardError() const;
};

// What the measuring path adds to every reading.
struct Path
{
    // One count of the measuring path: an ADC step through the readback, the last digit of a
    // meter's answers; each reading is off by up to half of it.
    double resolutionVolts = 0;
    double lowRail = 0;  // the volts the output cannot go below
    double highRail = 0; // nor above: the reference, or the readback's full scale
    // A meter's stated accuracy, percent of reading plus volts: what any one reading may be off
    // by against the true volts. It bounds the absolute figures (offset, gain), not INL or DNL,
    // which compare readings of the one meter with each other.
    double accuracyPercent = 0;
    double accuracyVolts = 0;
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
    // The samples' deviation pooled over the points off the rails, and its degrees of freedom.
    // With one sample a point, estimated from how far each point lies off the line through its
    // two neighbours instead (which any curvature only widens). Every standard error below is
    // made from it.
    double noiseVolts = 0;
    int noiseDegrees = 0;
    bool noiseFromNeighbours = false;
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
    // Else not established. A single fall of more than visibleFallLsb would have been seen: it
    // beats the guard band however the two readings of its step are off (each by its resolution
    // and noise), and within a wider step of N codes also the N - 1 others rising as ideal.
    Monotonic monotonic = Monotonic::NotEstablished;
    std::int32_t fallFrom = 0;
    std::int32_t fallCode = 0;
    double fallLsb = 0;
    double visibleFallLsb = 0;
};

// Codes rising. Nothing when fewer than two points are off the rails.
std::optional<Figures> analyse(std::span<const Point> points, double referenceVolts, Method method,
                               const Path &path);

// Whether each point's first sample leans towards the point before: fitted over the points with
// two samples or more, first - rest = fraction × (the step back to the code before, on a line
// of `slope` volts a code). A meter that answers its last reading, or an output still settling,
// gives a fraction well above 0; an honest one, 0 within the noise. The noise is estimated from
// the other samples alone (each point's rest against the line through its neighbours'), which
// a lag leaves alone, where the samples' spread would grow with it.
struct Lag
{
    double fraction = 0;
    double bound = 0;  // what noise and resolution alone allow the fraction to be
    int points = 0;    // the points it was fitted over
    bool lags = false; // beyond the bound, and more than 2 % of each step
};
std::optional<Lag> firstSampleLag(std::span<const Point> points, double slope,
                                  double resolutionVolts);

} // namespace TransferAnalysis
