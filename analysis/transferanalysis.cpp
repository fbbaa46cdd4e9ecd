#include "transferanalysis.h"

#include <algorithm>
#include <cmath>

namespace TransferAnalysis {

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

namespace {

Extreme largest(const std::vector<double> &values, std::span<const Point> points, bool highest)
{
    const auto at = highest ? std::max_element(values.begin(), values.end())
                            : std::min_element(values.begin(), values.end());
    return {*at, points[std::size_t(at - values.begin()) + points.size() - values.size()].code};
}

} // namespace

Figures analyse(std::span<const Point> points, double referenceVolts, Method method)
{
    Figures figures {};
    figures.line = method == Method::Endpoint ? endpointLine(points) : bestFitLine(points);
    figures.idealLsb = referenceVolts / codeCount;
    figures.offsetVolts = figures.line.at(0);
    figures.offsetLsb = figures.offsetVolts / figures.idealLsb;
    figures.gainErrorPercent = (figures.line.slope / figures.idealLsb - 1) * 100;
    const double lsb = figures.idealLsb;
    for (std::size_t i = 0; i < points.size(); ++i) {
        figures.inl.push_back((points[i].volts - figures.line.at(points[i].code)) / lsb);
        if (i == 0)
            continue;
        const Point &below = points[i - 1];
        const double rise = points[i].volts - below.volts;
        figures.dnl.push_back(rise / (double(points[i].code - below.code) * lsb) - 1);
        const double doubt = std::hypot(points[i].standardError, below.standardError);
        if (!figures.nonMonotonicAt && rise < 0 && -rise > 3 * doubt)
            figures.nonMonotonicAt = points[i].code;
    }
    figures.inlMax = largest(figures.inl, points, true);
    figures.inlMin = largest(figures.inl, points, false);
    figures.dnlMax = largest(figures.dnl, points, true);
    figures.dnlMin = largest(figures.dnl, points, false);
    return figures;
}

} // namespace TransferAnalysis
