#include "channelcalibration.h"

#include <algorithm>
#include <cmath>

namespace Calibration {

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
// Beyond these the readings are not this channel's, or not a DAC's: a wiring fault, not an
// error to correct.
constexpr double largestGainErrorPercent = 10;
constexpr double largestOffsetShare = 0.1; // of the reference
constexpr std::size_t fewestPoints = 3;

// The straight line through (a, ya) and (b, yb), at x.
double between(double a, double ya, double b, double yb, double x)
{
    return ya + (yb - ya) * (x - a) / (b - a);
}

Readback fitReadback(std::span<const Measured> points, const std::vector<bool> &rail)
{
    // The ADC's code is a mean, fractional: fitted here rather than as TransferAnalysis's
    // integer codes. A code at either end of the ADC may be clipped there.
    std::vector<std::pair<double, double>> used; // code, volts
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!rail[i] && points[i].adcCode > 0 && points[i].adcCode < highestAdcCode)
            used.emplace_back(points[i].adcCode, points[i].volts);
    }
    Readback readback;
    const double n = double(used.size());
    double meanCode = 0;
    double meanVolts = 0;
    for (const auto &[code, volts] : used) {
        meanCode += code / n;
        meanVolts += volts / n;
    }
    double squares = 0;
    double products = 0;
    for (const auto &[code, volts] : used) {
        squares += (code - meanCode) * (code - meanCode);
        products += (code - meanCode) * (volts - meanVolts);
    }
    if (used.size() < 2 || !(squares > 0))
        return readback;
    readback.measured = true;
    readback.slope = products / squares;
    readback.offset = meanVolts - readback.slope * meanCode;
    for (const auto &[code, volts] : used)
        readback.residual = std::max(readback.residual, std::fabs(volts - readback.at(code)));
    return readback;
}

} // namespace

double Uncertainty::accuracyAt(double volts) const
{
    return accuracyPercent / 100 * std::fabs(volts) + accuracyVolts;
}

double Uncertainty::total(double volts) const
{
    return noise + resolution + interpolation + accuracyAt(volts);
}

double Channel::gainErrorPercent() const
{
    return (line.slope * codeCount / vref - 1) * 100;
}

std::variant<Channel, std::string> fit(std::span<const Measured> points,
                                       const Conditions &conditions)
{
    std::vector<TransferAnalysis::Point> analysed;
    std::vector<bool> rail;
    std::vector<const Measured *> used;
    for (const Measured &point : points) {
        analysed.push_back({point.code, point.volts, point.deviation, point.samples});
        rail.push_back(TransferAnalysis::atRail(analysed.back(), conditions.path, conditions.vref));
        if (!rail.back())
            used.push_back(&point);
    }
    const std::optional<TransferAnalysis::Figures> figures = TransferAnalysis::analyse(
            analysed, conditions.vref, TransferAnalysis::Method::BestFit, conditions.path);
    if (used.size() < fewestPoints || !figures)
        return std::to_string(used.size()) + " of the " + std::to_string(points.size())
                + " points measured are off the rails (0 V and the reference): a calibration "
                  "needs at least 3";

    Channel channel;
    channel.vref = conditions.vref;
    channel.line = figures->bestFit.line;
    const double idealLsb = conditions.vref / codeCount;
    if (!(std::fabs(channel.gainErrorPercent()) <= largestGainErrorPercent)
        || !(std::fabs(channel.line.offset) <= largestOffsetShare * conditions.vref))
        return "the meter's readings do not follow the codes (a gain error of "
                + std::to_string(channel.gainErrorPercent()) + " %, an offset of "
                + std::to_string(channel.line.offset)
                + " V): is the meter on this channel's output?";

    for (const Measured *point : used)
        channel.table.push_back({point->code, point->volts - channel.line.at(point->code)});
    // Each inner point as its neighbours' corrections predict it: the table's own error at twice
    // its spacing. A table through every point has none at the points themselves.
    std::vector<TablePoint> &table = channel.table;
    for (std::size_t j = 1; j + 1 < table.size(); ++j) {
        const double predicted = between(table[j - 1].code, table[j - 1].correction,
                                         table[j + 1].code, table[j + 1].correction, table[j].code);
        table[j].residual = table[j].correction - predicted;
        channel.uncertainty.interpolation
                = std::max(channel.uncertainty.interpolation, std::fabs(table[j].residual));
    }
    int samples = used.front()->samples;
    for (const Measured *point : used)
        samples = std::min(samples, point->samples);
    channel.uncertainty.noise = 2 * figures->noiseVolts / std::sqrt(double(std::max(samples, 1)));
    channel.uncertainty.resolution = conditions.path.resolutionVolts / 2;
    channel.uncertainty.accuracyPercent = conditions.path.accuracyPercent;
    channel.uncertainty.accuracyVolts = conditions.path.accuracyVolts;

    // Beyond a clipped end the output is the line's until it meets the rail: known down (or up)
    // to where it is clear of the rail by the band a rail point is judged by.
    const double band
            = std::max(conditions.path.resolutionVolts, 0.5 * idealLsb) + 3 * figures->noiseVolts;
    const std::size_t first = std::size_t(used.front() - points.data());
    const std::size_t last = std::size_t(used.back() - points.data());
    channel.lowestCode = used.front()->code;
    if (first > 0) {
        const double clear = conditions.path.lowRail + band - table.front().correction;
        const double code = std::ceil((clear - channel.line.offset) / channel.line.slope);
        channel.lowestCode = std::int32_t(
                std::clamp(code, double(points[first - 1].code + 1), double(used.front()->code)));
    }
    channel.highestCode = used.back()->code;
    if (last + 1 < points.size()) {
        const double clear = conditions.path.highRail - band - table.back().correction;
        const double code = std::floor((clear - channel.line.offset) / channel.line.slope);
        channel.highestCode = std::int32_t(
                std::clamp(code, double(used.back()->code), double(points[last + 1].code - 1)));
    }

    channel.readback = fitReadback(points, rail);
    const double idealAdcSlope = conditions.vdd / (highestAdcCode + 1);
    if (channel.readback.measured
        && !(std::fabs(channel.readback.slope / idealAdcSlope - 1) * 100
             <= largestGainErrorPercent))
        return "the readback does not follow the meter (its slope is "
                + std::to_string(channel.readback.slope / idealAdcSlope)
                + " times Vdd / 4096): is the meter on this channel's output?";
    return channel;
}

double outputAt(const Channel &channel, std::int32_t code)
{
    const std::vector<TablePoint> &table = channel.table;
    double correction = 0;
    if (table.empty()) {
        correction = 0;
    } else if (code <= table.front().code) {
        correction = table.front().correction;
    } else if (code >= table.back().code) {
        correction = table.back().correction;
    } else {
        const auto above = std::ranges::upper_bound(table, code, {}, &TablePoint::code);
        const auto below = std::prev(above);
        correction = between(below->code, below->correction, above->code, above->correction, code);
    }
    return channel.line.at(code) + correction;
}

std::optional<std::int32_t> codeFor(const Channel &channel, double volts)
{
    // The output is straight between breakpoints: the ends and the table's codes between them,
    // walked once in rising order. A setting's cost is this walk.
    std::int32_t best = channel.lowestCode;
    double bestDistance = std::numeric_limits<double>::infinity();
    const auto consider = [&](std::int32_t code, double output) {
        const double distance = std::fabs(output - volts);
        if (distance < bestDistance || (distance == bestDistance && code < best)) {
            best = code;
            bestDistance = distance;
        }
    };
    std::int32_t a = channel.lowestCode;
    double ya = outputAt(channel, a);
    double lowest = ya;
    double highest = ya;
    consider(a, ya);
    const auto reach = [&](std::int32_t b, double yb) {
        lowest = std::min(lowest, yb);
        highest = std::max(highest, yb);
        // Within the piece, the codes either side of where it crosses `volts`.
        if (ya != yb && (volts - ya) * (volts - yb) <= 0) {
            const double x = a + (volts - ya) * double(b - a) / (yb - ya);
            for (const double near : {std::floor(x), std::ceil(x)}) {
                const auto code = std::int32_t(std::clamp(near, double(a), double(b)));
                consider(code, outputAt(channel, code));
            }
        }
        consider(b, yb);
        a = b;
        ya = yb;
    };
    for (const TablePoint &point : channel.table) {
        if (point.code > channel.lowestCode && point.code < channel.highestCode)
            reach(point.code, channel.line.at(point.code) + point.correction);
    }
    if (channel.highestCode > channel.lowestCode)
        reach(channel.highestCode, outputAt(channel, channel.highestCode));

    // Within half an LSB of the outputs it gives, every voltage is reachable.
    const double halfLsb = std::fabs(channel.line.slope) / 2;
    if (!(volts >= lowest - halfLsb && volts <= highest + halfLsb))
        return std::nullopt;
    return best;
}

} // namespace Calibration
