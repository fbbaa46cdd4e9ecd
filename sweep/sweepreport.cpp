#include "sweepreport.h"

#include "readbackchannels.h"

#include <cmath>

namespace Sweep {

using namespace TransferAnalysis;

namespace {

const char *const channelNames[] = {"A", "B", "C", "D"};

QString signedText(double value, int decimals)
{
    // No "-0.00" for what rounds to zero.
    const double shown = std::fabs(value) < 0.5 * std::pow(10.0, -decimals) ? 0.0 : value;
    return (shown >= 0 ? QStringLiteral("+") : QString()) + QString::number(shown, 'f', decimals);
}

std::vector<Point> analysisPoints(const std::vector<MeasuredPoint> &points)
{
    std::vector<Point> measured;
    measured.reserve(points.size());
    for (const MeasuredPoint &point : points)
        measured.push_back({point.code, point.mean, point.deviation, point.samples, point.first});
    return measured;
}

// A figure against what the path allows it to be off by: within that, it says only so.
QString bounded(double value, double bound, int decimals, const QString &unit)
{
    if (bound > 0 && std::fabs(value) <= bound)
        return QStringLiteral("within ±%1 %2").arg(bound, 0, 'f', decimals).arg(unit);
    return signedText(value, decimals)
            + (bound > 0 ? QStringLiteral(" ±%1").arg(bound, 0, 'f', decimals) : QString()) + ' '
            + unit;
}

QString volts(double value)
{
    return QString::number(value, 'g', 4) + QStringLiteral(" V");
}

} // namespace

QStringList headLines(const Plan &plan, const Facts &facts)
{
    const QDateTime date = facts.date.isValid() ? facts.date : QDateTime::currentDateTime();
    const QString measuredBy = plan.meter
            ? QStringLiteral("the meter at %1, %2 each sample")
                      .arg(plan.meter->where(), plan.meter->query)
            : QStringLiteral("the board's readback, the multiplexer on channel %1 and the 12-bit "
                             "ADC")
                      .arg(channelNames[plan.channel]);
    QStringList lines {
            QStringLiteral("channel: %1").arg(channelNames[plan.channel]),
            QStringLiteral("board: %1").arg(facts.board),
            QStringLiteral("date: %1")
                    .arg(date.toOffsetFromUtc(date.offsetFromUtc()).toString(Qt::ISODate)),
            QStringLiteral("measured by: %1").arg(measuredBy)};
    if (!facts.identity.isEmpty())
        lines << QStringLiteral("meter: %1").arg(facts.identity);
    lines << QStringLiteral("settings: %1; %2 points, settle %3 ms, %4 a point, Vref %5 V%6, "
                            "%7 line")
                     .arg(plan.grid)
                     .arg(plan.codes.size())
                     .arg(plan.settleMs)
                     .arg(plan.samples == 1 ? QStringLiteral("1 sample")
                                            : QStringLiteral("%1 samples").arg(plan.samples))
                     .arg(plan.vref)
                     .arg(plan.readback() ? QStringLiteral(", Vdd %1 V").arg(plan.vdd) : QString())
                     .arg(plan.endpointLine ? "end-point" : "best-fit");
    QStringList carries;
    for (const std::int32_t code : plan.carryCodes)
        carries << QString::number(code);
    if (!carries.isEmpty())
        lines << QStringLiteral("carries: %1").arg(carries.join(u' '));
    else if (!plan.carriesLeftOut.isEmpty())
        lines << QStringLiteral("carries: %1").arg(plan.carriesLeftOut);
    if (plan.offMiddle > 0)
        lines << QStringLiteral("off the ADC's middles: %1 of %2 points are not at the middle of "
                                "an ADC step, so each reads off by up to half a step (%3 LSB); "
                                "INL jumps between them and their neighbours by as much")
                         .arg(plan.offMiddle)
                         .arg(plan.codes.size())
                         .arg(plan.adcStepCodes() / 2, 0, 'g', 3);
    return lines;
}

QByteArray csvHead(const QStringList &head)
{
    QByteArray text = "# tx4410-cli sweep\n";
    for (const QString &line : head)
        text += "# " + line.toUtf8() + '\n';
    return text
            + "code,ideal_v,measured_v,stddev_v,samples,time_s,error_lsb,rail,inl_lsb,dnl_lsb,"
              "step_error_lsb\n";
}

Summary summarise(const Plan &plan, const std::vector<MeasuredPoint> &points, const Facts &facts)
{
    Summary summary;
    const Path path = plan.path(facts.resolutionSeen);
    const std::vector<Point> measured = analysisPoints(points);
    summary.figures = analyse(measured, plan.vref,
                              plan.endpointLine ? Method::Endpoint : Method::BestFit, path);
    const std::optional<Figures> &figures = summary.figures;
    QStringList &lines = summary.lines;

    if (figures)
        summary.lag = firstSampleLag(measured, figures->averageStep, path.resolutionVolts);
    int outOfStep = 0;
    for (const MeasuredPoint &point : points)
        outOfStep += point.unasked > 0;
    if (plan.meter && outOfStep >= 2)
        summary.untrusted
                = QStringLiteral("the meter at %1 sent %2 lines that no query asked for, around "
                                 "%3 points: its answers cannot be matched to the codes written "
                                 "(a meter that answers twice, or late)")
                          .arg(plan.meter->where())
                          .arg(facts.unaskedLines)
                          .arg(outOfStep);
    else if (summary.lag && summary.lag->lags)
        summary.untrusted = QStringLiteral("the readings lag the codes written: each point's first "
                                           "sample leans %1 % of the way back to the code before "
                                           "(noise allows ±%2 %): %3")
                                    .arg(summary.lag->fraction * 100, 0, 'f', 1)
                                    .arg(summary.lag->bound * 100, 0, 'f', 1)
                                    .arg(plan.meter ? QStringLiteral("the meter answered an "
                                                                     "earlier reading, or "
                                                                     "--settle-ms %1 is too short")
                                                              .arg(plan.settleMs)
                                                    : QStringLiteral("--settle-ms %1 is too short "
                                                                     "for the output")
                                                              .arg(plan.settleMs));

    QString measuredLine
            = QStringLiteral("measured: %1 of %2 points").arg(points.size()).arg(plan.codes.size());
    if (!points.empty() && points.size() < plan.codes.size())
        measuredLine += QStringLiteral(", codes %1 to %2")
                                .arg(points.front().code)
                                .arg(points.back().code);
    if (figures && figures->railPoints > 0)
        measuredLine += QStringLiteral("; %1 at a rail (0 V or %2 V, within the noise), left out "
                                       "of the figures")
                                .arg(figures->railPoints)
                                .arg(path.highRail);
    lines << measuredLine;
    if (!summary.untrusted.isEmpty())
        lines << QStringLiteral("warning: ") + summary.untrusted;
    if (facts.unaskedLines > 0)
        lines << QStringLiteral("unasked answers: %1 line%2 from the meter that no query asked "
                                "for, dropped before the next query")
                         .arg(facts.unaskedLines)
                         .arg(facts.unaskedLines == 1 ? "" : "s");
    const double idealLsb = plan.vref / codeCount;
    if (plan.readback()) {
        const double step = plan.vdd / ReadbackChannels::adcFullScale;
        lines << QStringLiteral("resolution: one ADC step, Vdd / 4096 = %1 mV = %2 LSB; each "
                                "reading the middle of its step")
                         .arg(step * 1e3, 0, 'f', 3)
                         .arg(step / idealLsb, 0, 'f', 1);
    } else if (plan.meter->resolutionVolts >= facts.resolutionSeen
               && plan.meter->resolutionVolts > 0) {
        lines << QStringLiteral("resolution: one count of the meter, %1 (--meter-resolution) = %2 "
                                "LSB")
                         .arg(volts(plan.meter->resolutionVolts))
                         .arg(plan.meter->resolutionVolts / idealLsb, 0, 'g', 3);
    } else if (facts.resolutionSeen > 0) {
        lines << QStringLiteral("resolution: the last digit of the meter's answers, %1 = %2 LSB")
                         .arg(volts(facts.resolutionSeen))
                         .arg(facts.resolutionSeen / idealLsb, 0, 'g', 3);
    } else {
        lines << QStringLiteral("resolution: the meter's own");
    }
    if (plan.meter && (plan.meter->accuracyPercent > 0 || plan.meter->accuracyVolts > 0))
        lines << QStringLiteral("meter accuracy: %1 % of reading + %2, as stated: in the offset "
                                "and gain bounds")
                         .arg(plan.meter->accuracyPercent, 0, 'g', 4)
                         .arg(volts(plan.meter->accuracyVolts));
    if (figures && figures->noiseFromNeighbours)
        lines << QStringLiteral("noise: %1 mV (%2 LSB), one sample a point: estimated from each "
                                "point's distance to the line through its neighbours")
                         .arg(figures->noiseVolts * 1e3, 0, 'f', 4)
                         .arg(figures->noiseVolts / idealLsb, 0, 'f', 3);
    else if (figures && figures->noiseDegrees > 0)
        lines << QStringLiteral("noise: the samples deviated by %1 mV (%2 LSB), pooled over the "
                                "points off the rails")
                         .arg(figures->noiseVolts * 1e3, 0, 'f', 4)
                         .arg(figures->noiseVolts / idealLsb, 0, 'f', 3);
    else if (plan.samples == 1)
        lines << QStringLiteral("noise: not known, one sample a point");
    if (!figures) {
        lines << QStringLiteral("figures: none, fewer than two points measured off the rails");
        return summary;
    }
    const QString method = plan.endpointLine ? "end-point" : "best-fit";
    lines << QStringLiteral("LSB: %1 uV, the %2 line's slope (ideal: Vref / 65536 = %3 uV)")
                     .arg(figures->lsb * 1e6, 0, 'f', 3)
                     .arg(method)
                     .arg(idealLsb * 1e6, 0, 'f', 3)
          << QStringLiteral("units: INL in that LSB; DNL and step error in the average step, "
                            "the end-point line's slope (%1 uV); offsets also in ideal LSB")
                     .arg(figures->averageStep * 1e6, 0, 'f', 3);
    const auto offset = [&](const LineFigures &line) {
        const QString text = bounded(line.offsetVolts * 1e3, line.offsetBoundVolts * 1e3, 3, "mV");
        return text.startsWith(u'w') ? text
                                     : text
                        + QStringLiteral(" (%1 LSB)")
                                  .arg(signedText(line.offsetVolts / idealLsb, 2));
    };
    lines << QStringLiteral("offset error: end-point line %1, best-fit line %2, at code 0")
                     .arg(offset(figures->endpoint), offset(figures->bestFit))
          << QStringLiteral("gain error: end-point line %1, best-fit line %2, of full scale")
                     .arg(bounded(figures->endpoint.gainErrorPercent,
                                  figures->endpoint.gainBoundPercent, 4, "%"),
                          bounded(figures->bestFit.gainErrorPercent,
                                  figures->bestFit.gainBoundPercent, 4, "%"));
    const QString why = plan.readback()
            ? (figures->noiseVolts > 0 ? QStringLiteral("the readback's resolution and noise")
                                       : QStringLiteral("the readback's resolution"))
            : (path.resolutionVolts > 0 ? QStringLiteral("the meter's resolution and noise")
                                        : QStringLiteral("the noise"));
    // Each extreme as measured, or within the bound; both within: the bound alone.
    const auto extremes = [&](const Extreme &high, const Extreme &low, double bound) {
        const auto within = [bound](const Extreme &extreme) {
            return bound > 0 && std::fabs(extreme.lsb) <= bound;
        };
        if (within(high) && within(low))
            return QStringLiteral("within ±%1 LSB, %2").arg(bound, 0, 'f', 2).arg(why);
        const auto one = [&](const char *name, const Extreme &extreme) {
            return within(extreme)
                    ? QStringLiteral("%1 within ±%2 LSB").arg(name).arg(bound, 0, 'f', 2)
                    : QStringLiteral("%1 %2 LSB at code %3")
                              .arg(name, signedText(extreme.lsb, 2))
                              .arg(extreme.code);
        };
        return one("max", high) + ", " + one("min", low)
                + QStringLiteral(" (±%1 LSB, %2)").arg(bound, 0, 'f', 2).arg(why);
    };
    lines << QStringLiteral("INL: ")
                    + extremes(figures->inlMax, figures->inlMin, figures->inlBoundLsb);
    const QString wide = figures->narrowestWide == figures->widestWide
            ? QString::number(figures->widestWide)
            : QStringLiteral("%1 to %2").arg(figures->narrowestWide).arg(figures->widestWide);
    if (figures->dnlSteps == 0)
        lines << QStringLiteral("DNL: not measured (steps of %1 codes)").arg(wide);
    else
        lines << QStringLiteral("DNL: %1; over %2 steps of one code%3")
                         .arg(extremes(figures->dnlMax, figures->dnlMin, figures->dnlBoundLsb))
                         .arg(figures->dnlSteps)
                         .arg(plan.carryCodes.empty() ? QString()
                                                      : QStringLiteral(", at the carries"));
    if (figures->wideSteps > 0)
        lines << QStringLiteral("step error: over %1 codes, each step's rise less its codes, in "
                                "LSB: %2")
                         .arg(wide)
                         .arg(extremes(figures->stepMax, figures->stepMin, figures->stepBoundLsb));
    const bool cutShort = points.size() < plan.codes.size();
    if (!summary.untrusted.isEmpty()) {
        lines << QStringLiteral("monotonic: not established, the readings cannot be taken for "
                                "the codes written (see the warning)");
    } else if (figures->monotonic == Monotonic::No) {
        lines << (figures->fallCode - figures->fallFrom == 1
                          ? QStringLiteral("monotonic: no, the output falls %1 LSB at code %2")
                                    .arg(figures->fallLsb, 0, 'f', 2)
                                    .arg(figures->fallCode)
                          : QStringLiteral("monotonic: no, the output falls %1 LSB between "
                                           "codes %2 and %3")
                                    .arg(figures->fallLsb, 0, 'f', 2)
                                    .arg(figures->fallFrom)
                                    .arg(figures->fallCode));
    } else if (figures->monotonic == Monotonic::Yes && !cutShort) {
        lines << QStringLiteral("monotonic: yes, every code measured rises above its guard band");
    } else if (figures->monotonic == Monotonic::Yes) {
        // Yes is for the range asked: the codes after the end were never written.
        lines << QStringLiteral("monotonic: not established for codes %1 to %2, the sweep ended "
                                "after code %3; every code up to there rises above its guard "
                                "band")
                         .arg(plan.codes.front())
                         .arg(plan.codes.back())
                         .arg(points.back().code);
    } else {
        lines << QStringLiteral("monotonic: not established %1; a single fall of more than %2 "
                                "LSB would have been seen%3")
                         .arg(figures->wideSteps > 0
                                      ? QStringLiteral("between the codes measured (steps of up "
                                                       "to %1 codes)")
                                                .arg(figures->widestWide)
                                      : QStringLiteral("(%1)").arg(why))
                         .arg(figures->visibleFallLsb, 0, 'f', 2)
                         .arg(figures->wideSteps > 0
                                      ? QStringLiteral(", the other codes of its step rising as "
                                                       "ideal")
                                      : QString());
    }
    QStringList bands {QStringLiteral("INL ±%1 LSB").arg(figures->inlBoundLsb, 0, 'f', 3)};
    if (figures->dnlSteps > 0)
        bands << QStringLiteral("DNL ±%1 LSB").arg(figures->dnlBoundLsb, 0, 'f', 3);
    if (figures->wideSteps > 0)
        bands << QStringLiteral("step error ±%1 LSB").arg(figures->stepBoundLsb, 0, 'f', 3);
    lines << QStringLiteral("bands: %1; each holds for the whole sweep with 99.9 % confidence "
                            "against its noise, and in full against the resolution")
                     .arg(bands.join(QStringLiteral(", ")));
    return summary;
}

QByteArray csvRow(const Plan &plan, const MeasuredPoint &point, const Figures *figures,
                  std::size_t at, const Facts &facts)
{
    const double lsb = plan.vref / codeCount;
    const double ideal = point.code * lsb;
    const auto cell = [&](const std::vector<double> &values) {
        return figures && !std::isnan(values[at]) ? QString::number(values[at], 'f', 4) : QString();
    };
    const bool rail = figures ? bool(figures->rail[at])
                              : atRail({point.code, point.mean, point.deviation, point.samples},
                                       plan.path(facts.resolutionSeen), plan.vref);
    return QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9,%10,%11\n")
            .arg(point.code)
            .arg(ideal, 0, 'f', 9)
            .arg(point.mean, 0, 'f', 9)
            .arg(point.deviation, 0, 'f', 9)
            .arg(point.samples)
            .arg(point.seconds, 0, 'f', 6)
            .arg((point.mean - ideal) / lsb, 0, 'f', 4)
            .arg(rail ? 1 : 0)
            .arg(figures ? cell(figures->inl) : QString(), figures ? cell(figures->dnl) : QString(),
                 figures ? cell(figures->stepError) : QString())
            .toUtf8();
}

QByteArray wholeCsv(const QStringList &head, const Plan &plan,
                    const std::vector<MeasuredPoint> &points, const Summary &summary,
                    const Facts &facts)
{
    QByteArray whole = csvHead(head);
    const Figures *figures = summary.figures ? &*summary.figures : nullptr;
    for (std::size_t i = 0; i < points.size(); ++i)
        whole += csvRow(plan, points[i], figures, i, facts);
    for (const QString &line : summary.lines)
        whole += "# " + line.toUtf8() + '\n';
    return whole;
}

} // namespace Sweep
