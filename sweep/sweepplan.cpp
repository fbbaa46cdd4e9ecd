#include "sweepplan.h"

#include "readbackchannels.h"

#include <algorithm>
#include <cmath>

namespace Sweep {

QString Meter::where() const
{
    return QStringLiteral("%1:%2").arg(host.contains(u':') ? u'[' + host + u']' : host).arg(port);
}

double Plan::adcStepCodes() const
{
    return vdd / vref * TransferAnalysis::codeCount / ReadbackChannels::adcFullScale;
}

TransferAnalysis::Path Plan::path(double meterResolutionSeen) const
{
    if (meter)
        return {std::max(meter->resolutionVolts, meterResolutionSeen), 0, vref,
                meter->accuracyPercent, meter->accuracyVolts};
    return {vdd / ReadbackChannels::adcFullScale, 0, std::min(vref, vdd)};
}

std::vector<std::int32_t> codesByStep(std::int32_t from, std::int32_t to, std::int32_t step)
{
    std::vector<std::int32_t> codes;
    for (std::int64_t code = from; code < to; code += step)
        codes.push_back(std::int32_t(code));
    codes.push_back(to);
    return codes;
}

std::vector<std::int32_t> codesByCount(std::int32_t from, std::int32_t to, std::int32_t points)
{
    std::vector<std::int32_t> codes;
    for (std::int64_t i = 0; i < points; ++i)
        codes.push_back(from + std::int32_t(std::llround(double(i) * (to - from) / (points - 1))));
    return codes;
}

namespace {

// The ADC steps whose middles lie within from and to, and the middle of one.
struct Middles
{
    std::int64_t first = 0;
    std::int64_t last = -1;
    double stepCodes = 16;
    std::int32_t at(std::int64_t step) const
    {
        return std::int32_t(std::llround((double(step) + 0.5) * stepCodes));
    }
    std::int64_t count() const { return last - first + 1; }
};

Middles middlesWithin(std::int32_t from, std::int32_t to, double stepCodes)
{
    Middles middles;
    middles.stepCodes = stepCodes;
    middles.first = std::int64_t(std::ceil(from / stepCodes - 0.5));
    middles.last = std::int64_t(std::floor(to / stepCodes - 0.5));
    // Rounding to whole codes may put an end's middle just outside.
    while (middles.first <= middles.last && middles.at(middles.first) < from)
        ++middles.first;
    while (middles.last >= middles.first && middles.at(middles.last) > to)
        --middles.last;
    return middles;
}

bool atMiddle(std::int32_t code, double stepCodes)
{
    const auto step = std::int64_t(std::floor(code / stepCodes));
    return Middles {0, 0, stepCodes}.at(step) == code;
}

} // namespace

std::vector<std::int32_t> codesAtAdcMiddles(std::int32_t from, std::int32_t to, double stepCodes,
                                            std::int32_t points)
{
    const Middles middles = middlesWithin(from, to, stepCodes);
    if (middles.count() < 2)
        return codesByCount(from, to, std::min(points, to - from + 1));
    points = std::int32_t(std::min<std::int64_t>(points, middles.count()));
    std::vector<std::int32_t> codes;
    for (std::int64_t i = 0; i < points; ++i)
        codes.push_back(middles.at(
                middles.first
                + std::llround(double(i) * double(middles.last - middles.first) / (points - 1))));
    return codes;
}

std::vector<std::int32_t> codesAroundCarries(std::int32_t from, std::int32_t to, int lowestBit)
{
    std::vector<std::int32_t> codes;
    for (int bit = lowestBit; bit <= 15; ++bit) {
        for (std::int32_t code = (1 << bit) - 2; code <= (1 << bit) + 2; ++code) {
            if (code >= from && code <= to)
                codes.push_back(code);
        }
    }
    return codes;
}

std::variant<Plan, QString> makePlan(const Request &request)
{
    Plan plan;
    if (request.channel < 0 || request.channel > 3)
        return QStringLiteral("no DAC channel %1").arg(request.channel);
    plan.channel = request.channel;
    const std::int32_t from = request.from.value_or(0);
    const std::int32_t to = request.to.value_or(highestCode);
    for (const auto &[name, code] : {std::pair {"--from", from}, std::pair {"--to", to}}) {
        if (code < 0 || code > highestCode)
            return QStringLiteral("%1 %2 is out of range 0 to %3")
                    .arg(name)
                    .arg(code)
                    .arg(highestCode);
    }
    if (from >= to)
        return QStringLiteral("--from %1 is not below --to %2").arg(from).arg(to);
    if (request.step && request.points)
        return QStringLiteral("sweep takes --step or --points, not both");
    if (request.samples < 1)
        return QStringLiteral("--samples %1: a point takes at least one sample")
                .arg(request.samples);
    if (request.settleMs < 0 || request.settleMs > 3600000)
        return QStringLiteral("--settle-ms %1 is out of range 0 to 3600000").arg(request.settleMs);
    for (const auto &[name, volts] :
         {std::pair {"--vref", request.vref}, std::pair {"--vdd", request.vdd}}) {
        if (!(volts >= 0.001 && volts <= 1000))
            return QStringLiteral("%1 %2 is out of range 0.001 to 1000 V").arg(name).arg(volts);
    }
    plan.settleMs = request.settleMs;
    plan.samples = request.samples;
    plan.vref = request.vref;
    plan.vdd = request.vdd;
    plan.meter = request.meter;
    plan.endpointLine = request.endpointLine;

    const double stepCodes = plan.adcStepCodes();
    if (request.step) {
        const std::int32_t step = *request.step;
        if (step < 1 || step > highestCode)
            return QStringLiteral("--step %1: a sweep steps 1 to %2 codes")
                    .arg(step)
                    .arg(highestCode);
        const Middles middles = middlesWithin(from, to, stepCodes);
        const auto every = std::int64_t(std::llround(step / stepCodes));
        if (plan.readback() && every >= 1 && middles.count() >= 2) {
            // A step of whole ADC steps, each point at a middle; the last middle ends it.
            for (std::int64_t at = middles.first; at < middles.last; at += every)
                plan.codes.push_back(middles.at(at));
            plan.codes.push_back(middles.at(middles.last));
            plan.grid = QStringLiteral("codes %1 to %2 every %3 ADC steps (%4 codes), at their "
                                       "middles")
                                .arg(plan.codes.front())
                                .arg(plan.codes.back())
                                .arg(every)
                                .arg(double(every) * stepCodes, 0, 'g', 6);
        } else {
            plan.codes = codesByStep(from, to, step);
            plan.grid = QStringLiteral("codes %1 to %2 every %3").arg(from).arg(to).arg(step);
        }
    } else if (request.points || plan.meter) {
        const std::int32_t points = request.points.value_or(defaultPoints);
        if (points < 2 || points > to - from + 1)
            return QStringLiteral("--points %1 is out of range 2 to %2, the codes from %3 to %4")
                    .arg(points)
                    .arg(to - from + 1)
                    .arg(from)
                    .arg(to);
        if (plan.readback() && points <= middlesWithin(from, to, stepCodes).count()) {
            plan.codes = codesAtAdcMiddles(from, to, stepCodes, points);
            plan.grid = QStringLiteral("codes %1 to %2 in %3 steps, each at the middle of an ADC "
                                       "step")
                                .arg(plan.codes.front())
                                .arg(plan.codes.back())
                                .arg(points - 1);
        } else {
            plan.codes = codesByCount(from, to, points);
            plan.grid = QStringLiteral("codes %1 to %2 in %3 steps")
                                .arg(from)
                                .arg(to)
                                .arg(points - 1);
        }
    } else {
        // Through the readback every point at the same part of an ADC step: an ideal board then
        // reads without a jump where the grid's spacing changes.
        plan.codes = codesAtAdcMiddles(from, to, stepCodes, defaultPoints);
        plan.grid = QStringLiteral("codes %1 to %2 at the middle of ADC steps (%3 codes)")
                            .arg(plan.codes.front())
                            .arg(plan.codes.back())
                            .arg(stepCodes, 0, 'g', 4);
    }

    // A carry is a step of one code: only a meter resolves it. Through the readback they are
    // measured only when asked for.
    plan.carries = request.carries.value_or(plan.meter ? Carries::Major : Carries::None);
    if (!request.carries && plan.readback())
        plan.carriesLeftOut
                = QStringLiteral("not measured code by code: through the readback one ADC step is "
                                 "%1 codes, too coarse for a step of one code (a meter resolves "
                                 "them: --meter)")
                          .arg(stepCodes, 0, 'g', 4);
    if (plan.carries != Carries::None) {
        const int lowest = plan.carries == Carries::All ? 1 : 8;
        const std::vector<std::int32_t> around = codesAroundCarries(from, to, lowest);
        const std::size_t before = plan.codes.size();
        plan.codes.insert(plan.codes.end(), around.begin(), around.end());
        std::sort(plan.codes.begin(), plan.codes.end());
        plan.codes.erase(std::unique(plan.codes.begin(), plan.codes.end()), plan.codes.end());
        for (int bit = lowest; bit <= 15; ++bit) {
            if ((1 << bit) - 1 >= from && (1 << bit) <= to)
                plan.carryCodes.push_back(1 << bit);
        }
        if (plan.codes.size() > before)
            plan.grid += QStringLiteral(", and code by code around the carries at 2^%1 to 2^15")
                                 .arg(lowest);
    }
    if (plan.readback())
        plan.offMiddle = int(std::ranges::count_if(
                plan.codes, [stepCodes](std::int32_t code) { return !atMiddle(code, stepCodes); }));
    return plan;
}

} // namespace Sweep
