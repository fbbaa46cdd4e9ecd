#include "transferanalysis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numbers>

namespace TransferAnalysis {

double Point::standardError() const
{
    return deviation / std::sqrt(double(std::max(samples, 1)));
}

Line endpointLine(std::span<const Point> points)
{
    const Point &first = points.front();
    const Point &last = points.back();
    const double slope = (last.volts - first.volts) / double(last.code - first.code);
    return {first.volts - slope * first.code, slope};
}

Line bestFitLine(std::span<const Point> points)
{
    // Centred sums, so that codes near 65535 lose no precision to their squares.
    const double n = double(points.size());
    double meanCode = 0;
    double meanVolts = 0;
    for (const Point &point : points) {
        meanCode += point.code / n;
        meanVolts += point.volts / n;
    }
    double codeSquares = 0;
    double products = 0;
    for (const Point &point : points) {
        codeSquares += (point.code - meanCode) * (point.code - meanCode);
        products += (point.code - meanCode) * (point.volts - meanVolts);
    }
    const double slope = products / codeSquares;
    return {meanVolts - slope * meanCode, slope};
}

bool atRail(const Point &point, const Path &path, double referenceVolts)
{
    const double band = std::max(path.resolutionVolts, 0.5 * referenceVolts / codeCount)
            + 3 * point.deviation;
    return point.volts <= path.lowRail + band || point.volts >= path.highRail - band;
}

namespace {

// P(|T| < t) for integer degrees, in closed form (Abramowitz and Stegun 26.7.3 and 26.7.4).
double centralProbability(double t, int degrees)
{
    const double theta = std::atan(t / std::sqrt(double(degrees)));
    const double c2 = std::cos(theta) * std::cos(theta);
    if (degrees % 2 == 1) {
        double sum = 0;
        double term = std::cos(theta);
        for (int k = 1; 2 * k + 1 <= degrees; ++k) {
            sum += term;
            term *= c2 * (2.0 * k) / (2.0 * k + 1);
        }
        return 2 / std::numbers::pi * (theta + std::sin(theta) * sum);
    }
    double sum = 0;
    double term = 1;
    for (int k = 1; 2 * k <= degrees; ++k) {
        sum += term;
        term *= c2 * (2.0 * k - 1) / (2.0 * k);
    }
    return std::sin(theta) * sum;
}

} // namespace

double tQuantile(double tail, int degrees)
{
    degrees = std::clamp(degrees, 1, 1000);
    const auto above = [&](double t) {
        return (1 - centralProbability(t, degrees)) / 2;
    };
    double low = 0;
    double high = 1;
    while (above(high) > tail && high < 1e12)
        high *= 2;
    for (int i = 0; i < 200 && high - low > 1e-9 * high; ++i) {
        const double middle = (low + high) / 2;
        (above(middle) > tail ? low : high) = middle;
    }
    return high;
}

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// What a line's value at a code, or its slope, takes from each point: value = Σ w·volts.
std::vector<double> valueWeights(std::span<const Point> used, Method method, double code)
{
    std::vector<double> weights(used.size(), 0.0);
    if (method == Method::Endpoint) {
        const double span = used.back().code - used.front().code;
        weights.front() = (used.back().code - code) / span;
        weights.back() += (code - used.front().code) / span;
        return weights;
    }
    const double n = double(used.size());
    double mean = 0;
    for (const Point &point : used)
        mean += point.code / n;
    double squares = 0;
    for (const Point &point : used)
        squares += (point.code - mean) * (point.code - mean);
    for (std::size_t j = 0; j < used.size(); ++j)
        weights[j] = 1 / n + (code - mean) * (used[j].code - mean) / squares;
    return weights;
}

std::vector<double> slopeWeights(std::span<const Point> used, Method method)
{
    // The value at code + 1 less the value at code.
    std::vector<double> one = valueWeights(used, method, 1);
    const std::vector<double> zero = valueWeights(used, method, 0);
    for (std::size_t j = 0; j < one.size(); ++j)
        one[j] -= zero[j];
    return one;
}

// How far Σ w·volts can be off: each reading by half the resolution, and the noise of the means
// at the quantile t. `extraResolution` and `extraVariance` add a point of its own.
double boundOf(const std::vector<double> &weights, std::span<const Point> used, const Path &path,
               double t, double extraResolution = 0, double extraVariance = 0)
{
    double absolute = extraResolution;
    double variance = extraVariance;
    for (std::size_t j = 0; j < used.size(); ++j) {
        absolute += std::fabs(weights[j]);
        variance += weights[j] * weights[j] * used[j].standardError() * used[j].standardError();
    }
    return path.resolutionVolts / 2 * absolute + t * std::sqrt(variance);
}

// How far Σ w·volts can be off when each reading may be off by the meter's stated accuracy.
double accuracyOf(const std::vector<double> &weights, std::span<const Point> used, const Path &path)
{
    double bound = 0;
    for (std::size_t j = 0; j < used.size(); ++j)
        bound += std::fabs(weights[j])
                * (path.accuracyPercent / 100 * std::fabs(used[j].volts) + path.accuracyVolts);
    return bound;
}

LineFigures lineFigures(std::span<const Point> used, Method method, double idealLsb,
                        const Path &path, double t)
{
    LineFigures figures;
    figures.line = method == Method::Endpoint ? endpointLine(used) : bestFitLine(used);
    figures.offsetVolts = figures.line.at(0);
    const std::vector<double> atZero = valueWeights(used, method, 0);
    figures.offsetBoundVolts = boundOf(atZero, used, path, t) + accuracyOf(atZero, used, path);
    figures.gainErrorPercent = (figures.line.slope / idealLsb - 1) * 100;
    const std::vector<double> slope = slopeWeights(used, method);
    figures.gainBoundPercent
            = (boundOf(slope, used, path, t) + accuracyOf(slope, used, path)) / idealLsb * 100;
    return figures;
}

// With one sample a point: each point against the line through its two neighbours. The
// residual's variance is σ²(1 + w₁² + w₂²); curvature and real steps only add to it.
void noiseFromNeighbours(std::span<const Point> used, double &noise, int &degrees)
{
    double squares = 0;
    int count = 0;
    for (std::size_t j = 1; j + 1 < used.size(); ++j) {
        const Point &below = used[j - 1];
        const Point &point = used[j];
        const Point &above = used[j + 1];
        const double span = double(above.code - below.code);
        const double w1 = (above.code - point.code) / span;
        const double w2 = (point.code - below.code) / span;
        const double residual = point.volts - (w1 * below.volts + w2 * above.volts);
        squares += residual * residual / (1 + w1 * w1 + w2 * w2);
        ++count;
    }
    if (count == 0)
        return;
    noise = std::sqrt(squares / count);
    // Neighbouring residuals share points: about half as many independent ones.
    degrees = std::max(1, count / 2);
}

void extremes(const std::vector<double> &values, std::span<const Point> points, Extreme &high,
              Extreme &low)
{
    bool any = false;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (std::isnan(values[i]))
            continue;
        if (!any || values[i] > high.lsb)
            high = {values[i], points[i].code};
        if (!any || values[i] < low.lsb)
            low = {values[i], points[i].code};
        any = true;
    }
}

} // namespace

std::optional<Figures> analyse(std::span<const Point> given, double referenceVolts, Method method,
                               const Path &path)
{
    std::vector<Point> pooledPoints(given.begin(), given.end());
    std::span<const Point> points = pooledPoints;
    Figures figures;
    figures.idealLsb = referenceVolts / codeCount;
    std::vector<Point> used;
    for (const Point &point : points) {
        figures.rail.push_back(atRail(point, path, referenceVolts));
        figures.railPoints += figures.rail.back();
        if (!figures.rail.back())
            used.push_back(point);
    }
    if (used.size() < 2)
        return std::nullopt;

    // The noise pooled over the points off the rails: the path's noise is the same at every code,
    // and a few samples a point say little each. Each point's mean then has its own share.
    double pooledSquares = 0;
    int degrees = 0;
    for (const Point &point : used) {
        pooledSquares += (point.samples - 1) * point.deviation * point.deviation;
        degrees += point.samples - 1;
    }
    double pooled = degrees > 0 ? std::sqrt(pooledSquares / degrees) : 0.0;
    if (degrees == 0) {
        noiseFromNeighbours(used, pooled, degrees);
        figures.noiseFromNeighbours = degrees > 0;
    }
    figures.noiseVolts = pooled;
    figures.noiseDegrees = degrees;
    for (Point &point : used)
        point.deviation = pooled;
    for (Point &point : pooledPoints)
        point.deviation = pooled;
    degrees = std::max(1, degrees);
    const double single = tQuantile(falseAlarm / 2, degrees);
    figures.endpoint = lineFigures(used, Method::Endpoint, figures.idealLsb, path, single);
    figures.bestFit = lineFigures(used, Method::BestFit, figures.idealLsb, path, single);
    const LineFigures &chosen = method == Method::Endpoint ? figures.endpoint : figures.bestFit;
    figures.lsb = chosen.line.slope;
    figures.averageStep = figures.endpoint.line.slope;
    // A line that does not rise (a window within one ADC step) has no LSB of its own: the ideal
    // one stands in, so that the figures stay finite.
    if (!(figures.lsb > 0))
        figures.lsb = figures.idealLsb;
    if (!(figures.averageStep > 0))
        figures.averageStep = figures.idealLsb;

    // INL: each reading, and the line it is measured from, off by their bounds at once. The
    // line's part is largest at an end of the range.
    double largestError = 0;
    for (const Point &point : used)
        largestError = std::max(largestError, point.standardError());
    const double tInl = tQuantile(falseAlarm / (2 * double(used.size())), degrees);
    for (const double code : {double(used.front().code), double(used.back().code)}) {
        figures.inlBoundLsb = std::max(figures.inlBoundLsb,
                                       boundOf(valueWeights(used, method, code), used, path, tInl,
                                               1, largestError * largestError)
                                               / figures.lsb);
    }

    // The steps between neighbouring points off the rails.
    struct Step
    {
        std::size_t at;
        std::int32_t codes;
        double rise;
        double error; // standard error of the rise
    };
    std::vector<Step> steps;
    for (std::size_t i = 1; i < points.size(); ++i) {
        if (figures.rail[i] || figures.rail[i - 1])
            continue;
        const Point &below = points[i - 1];
        steps.push_back({i, points[i].code - below.code, points[i].volts - below.volts,
                         std::hypot(points[i].standardError(), below.standardError())});
        (steps.back().codes == 1 ? figures.dnlSteps : figures.wideSteps) += 1;
    }

    figures.inl.assign(points.size(), nan);
    figures.dnl.assign(points.size(), nan);
    figures.stepError.assign(points.size(), nan);
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!figures.rail[i])
            figures.inl[i] = (points[i].volts - chosen.line.at(points[i].code)) / figures.lsb;
    }
    // Bounds and guard bands at quantiles memoised by degrees of freedom: sweeps take one count
    // of samples, so one or two values.
    std::map<std::pair<int, double>, double> quantiles;
    const auto quantile = [&](double tail, int freedom) {
        const auto [at, added] = quantiles.try_emplace({freedom, tail}, 0.0);
        if (added)
            at->second = tQuantile(tail, freedom);
        return at->second;
    };
    // Every code of the range off the rails: no rail point between two that are off them.
    bool everyCode = !steps.empty() && steps.size() + 1 == used.size();
    bool allRise = true;
    for (const Step &step : steps) {
        const bool adjacent = step.codes == 1;
        const double inLsb = step.rise / figures.averageStep;
        const int count = adjacent ? figures.dnlSteps : figures.wideSteps;
        const double bound
                = (path.resolutionVolts + quantile(falseAlarm / (2 * count), degrees) * step.error)
                / figures.averageStep;
        if (adjacent) {
            figures.dnl[step.at] = inLsb - 1;
            figures.dnlBoundLsb = std::max(figures.dnlBoundLsb, bound);
        } else {
            figures.stepError[step.at] = inLsb - step.codes;
            figures.stepBoundLsb = std::max(figures.stepBoundLsb, bound);
            figures.narrowestWide = figures.narrowestWide
                    ? std::min(figures.narrowestWide, step.codes)
                    : step.codes;
            figures.widestWide = std::max(figures.widestWide, step.codes);
            everyCode = false;
        }
        const double guard = path.resolutionVolts
                + quantile(falseAlarm / double(steps.size()), degrees) * step.error;
        // Seen for certain: beyond the guard band after the step's own error, which may be as
        // large as the band, and, inside a wider step, after the other codes' ideal rise.
        figures.visibleFallLsb = std::max(figures.visibleFallLsb,
                                          double(step.codes - 1) + 2 * guard / figures.averageStep);
        if (figures.monotonic != Monotonic::No && -step.rise > guard) {
            figures.monotonic = Monotonic::No;
            figures.fallFrom = points[step.at - 1].code;
            figures.fallCode = points[step.at].code;
            figures.fallLsb = -inLsb;
        }
        allRise = allRise && step.rise >= guard;
    }
    if (figures.monotonic != Monotonic::No)
        figures.monotonic = everyCode && allRise ? Monotonic::Yes : Monotonic::NotEstablished;

    extremes(figures.inl, points, figures.inlMax, figures.inlMin);
    extremes(figures.dnl, points, figures.dnlMax, figures.dnlMin);
    extremes(figures.stepError, points, figures.stepMax, figures.stepMin);
    return figures;
}

std::optional<Lag> firstSampleLag(std::span<const Point> points, double slope,
                                  double resolutionVolts)
{
    // Each point's samples after the first, and their mean.
    std::vector<Point> rests;
    for (const Point &point : points) {
        if (point.samples < 2 || std::isnan(point.first))
            continue;
        const double n = point.samples;
        rests.push_back({point.code, (n * point.volts - point.first) / (n - 1), 0,
                         point.samples - 1, point.first});
    }
    // One sample's noise: a rest's variance is σ² / (n - 1).
    double squares = 0;
    int count = 0;
    for (std::size_t j = 1; j + 1 < rests.size(); ++j) {
        const double span = double(rests[j + 1].code - rests[j - 1].code);
        const double w1 = (rests[j + 1].code - rests[j].code) / span;
        const double w2 = (rests[j].code - rests[j - 1].code) / span;
        const double residual
                = rests[j].volts - (w1 * rests[j - 1].volts + w2 * rests[j + 1].volts);
        squares += residual * residual * rests[j].samples / (1 + w1 * w1 + w2 * w2);
        ++count;
    }
    const double noise = count > 0 ? std::sqrt(squares / count) : 0.0;

    double products = 0;
    double stepSquares = 0;
    double sizes = 0;
    double spread = 0; // the variance of the fraction's numerator, per unit of σ²
    Lag lag;
    for (std::size_t i = 1; i < points.size(); ++i) {
        const Point &point = points[i];
        if (point.samples < 2 || std::isnan(point.first))
            continue;
        const double n = point.samples;
        const double rest = (n * point.volts - point.first) / (n - 1);
        const double leaning = point.first - rest;
        // From the line, not the readings: the rest's own noise would lean both ways at once.
        const double step = slope * double(points[i - 1].code - point.code);
        products += leaning * step;
        stepSquares += step * step;
        sizes += std::fabs(step);
        spread += step * step * (1 + 1 / (n - 1));
        ++lag.points;
    }
    if (lag.points == 0 || !(stepSquares > 0))
        return std::nullopt;
    lag.fraction = products / stepSquares;
    lag.bound = tQuantile(falseAlarm / 2, std::max(1, count / 2)) * noise * std::sqrt(spread)
                    / stepSquares
            + resolutionVolts * sizes / stepSquares;
    lag.lags = lag.fraction > lag.bound && lag.fraction > 0.02;
    return lag;
}

} // namespace TransferAnalysis
