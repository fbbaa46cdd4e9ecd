// One DAC channel's calibration against a bench meter, as plain functions: the gain and offset
// fitted by least squares over the points off the rails, a correction table at the measured
// points with straight lines between them for what the line leaves (bow, INL), an honest
// residual, the uncertainty of a calibrated setting part by part, the code whose calibrated
// output is nearest a wanted voltage, and the readback's own line against the same meter.
#pragma once

#include "transferanalysis.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace Calibration {

inline constexpr std::int32_t highestCode = 65535;
inline constexpr double codeCount = 65536;
inline constexpr int highestAdcCode = 4095;

// What was measured at one code: the meter's mean of its samples, and the readback's mean code
// (NaN where the readback was not read).
struct Measured
{
    std::int32_t code = 0;
    double volts = 0;
    double deviation = 0; // of the meter's samples (n - 1); 0 for one
    int samples = 1;
    double adcCode = std::numeric_limits<double>::quiet_NaN();
};

struct Conditions
{
    double vref = 5; // the DAC's reference: the ideal line, and what a gain error is against
    double vdd = 5;  // the readback ADC's full scale as stated, to check its line against
    // The meter: its resolution, the rails its readings are clipped at, its stated accuracy.
    TransferAnalysis::Path path;
};

// How far a calibrated setting's output may be from what the calibration says it is, in volts,
// part by part. The parts are added, a bound rather than a root sum of squares.
struct Uncertainty
{
    // The meter's noise on each mean the table holds: two standard errors (about 95 %).
    double noise = 0;
    // Half a count of the meter: each reading is rounded to one.
    double resolution = 0;
    // The fit and the straight lines between points: the largest residual of a point predicted
    // from its two neighbours' corrections, across twice the table's spacing, so that it holds
    // between points too.
    double interpolation = 0;
    // The meter's stated accuracy against the true volts: percent of reading plus volts.
    double accuracyPercent = 0;
    double accuracyVolts = 0;

    double accuracyAt(double volts) const;
    double total(double volts) const;
};

// One measured point off the rails: what the line leaves there, and what the point's
// neighbours predict it to be (NaN at both ends of the table, which have one neighbour).
struct TablePoint
{
    std::int32_t code = 0;
    double correction = 0; // volts measured less the line's
    double residual = std::numeric_limits<double>::quiet_NaN();
};

// The readback (multiplexer and ADC) against the same meter: volts = offset + slope × code.
struct Readback
{
    bool measured = false;
    double offset = 0;
    double slope = 0;
    double residual = 0; // the largest distance of a point from the line, in volts
    double at(double adcCode) const { return offset + slope * adcCode; }
};

struct Channel
{
    double vref = 5;
    // Least squares over the points off the rails: volts = offset + slope × code.
    TransferAnalysis::Line line;
    std::vector<TablePoint> table; // codes rising
    // The codes whose output it knows: between the first and last points off the rails, and
    // beyond them down or up to where the output leaves the rail, where a rail point clipped.
    std::int32_t lowestCode = 0;
    std::int32_t highestCode = Calibration::highestCode;
    Uncertainty uncertainty;
    Readback readback;

    double gainErrorPercent() const;
};

// Fits and checks one channel's points, rising codes. The reason in words when it does not
// hold: too few points off the rails, or readings that do not follow the codes (a meter on
// another output), a readback that does not follow the meter.
std::variant<Channel, std::string> fit(std::span<const Measured> points,
                                       const Conditions &conditions);

// The output the calibration gives the code: the line and the correction, straight between the
// table's points, the nearest end's correction beyond them.
double outputAt(const Channel &channel, std::int32_t code);

// The code within the channel's codes whose output is nearest `volts` (the lower of two as near);
// nothing when `volts` is beyond every output by more than half an LSB.
std::optional<std::int32_t> codeFor(const Channel &channel, double volts);

} // namespace Calibration
