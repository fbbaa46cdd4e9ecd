// What a sweep will do, checked in full before anything is touched: the codes, how each is
// measured, and against what. The same plan whichever program runs it.
#pragma once

#include "transferanalysis.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

namespace Sweep {

inline constexpr std::int32_t highestCode = 65535;
inline constexpr int defaultPoints = 257;

// Which carries are also measured code by code: none, bits 8 to 15, or every bit.
enum class Carries { None, Major, All };

// A bench meter that speaks SCPI over a raw TCP socket.
struct Meter
{
    QString host;
    quint16 port = 5025;
    QString query = QStringLiteral("MEAS:VOLT:DC?");
    int timeoutMs = 5000;
    // One count of its readings, as the user states it; 0: the last digit of its answers.
    double resolutionVolts = 0;
    // Its stated accuracy: percent of reading plus volts; 0 and 0 when not given.
    double accuracyPercent = 0;
    double accuracyVolts = 0;
    // "host:port", "[::1]:5025" for an IPv6 address.
    QString where() const;
};

// What a front end asks for; what it leaves unset takes the defaults.
struct Request
{
    int channel = 0; // 0..3, "A" to "D"
    std::optional<std::int32_t> from;
    std::optional<std::int32_t> to;
    std::optional<std::int32_t> step;
    std::optional<std::int32_t> points;
    std::optional<Carries> carries;
    int settleMs = 2;
    int samples = 4;
    double vref = 5;            // the DAC's full scale, for the ideal line
    double vdd = 5;             // the readback ADC's full scale
    std::optional<Meter> meter; // nothing: the board's own readback measures
    bool endpointLine = false;  // else the least-squares best fit
};

struct Plan
{
    int channel = 0;
    std::vector<std::int32_t> codes; // rising, at least two: the grid and the carries
    QString grid;                    // the codes in words, for the summary
    Carries carries = Carries::None;
    std::vector<std::int32_t> carryCodes; // each 2^k measured code by code around it
    // Why the carries are not measured code by code, when the path decided it; empty otherwise.
    QString carriesLeftOut;
    // Through the readback: the points not at the middle of an ADC step (each reads off by up to
    // half a step, so that INL jumps between them and their neighbours).
    int offMiddle = 0;
    int settleMs = 2;
    int samples = 4;
    double vref = 5;
    double vdd = 5;
    std::optional<Meter> meter;
    bool endpointLine = false;

    bool readback() const { return !meter.has_value(); }
    // The codes of one readback ADC step: 16 when Vdd is Vref.
    double adcStepCodes() const;
    // What the measuring path adds; a meter's resolution as stated, or as its answers showed.
    TransferAnalysis::Path path(double meterResolutionSeen = 0) const;
};

// The plan, or the reason the request is refused: one line naming the setting.
std::variant<Plan, QString> makePlan(const Request &request);

// from, from + step, ... up to `to`, which always ends the series.
std::vector<std::int32_t> codesByStep(std::int32_t from, std::int32_t to, std::int32_t step);
// `points` codes from `from` to `to`, as evenly spaced as whole codes allow.
std::vector<std::int32_t> codesByCount(std::int32_t from, std::int32_t to, std::int32_t points);
// `points` codes within from and to (every middle, when there are fewer), each at the middle of
// an ADC step of `stepCodes` codes, as evenly spread as whole steps allow: every reading off by
// the same part of a step. With fewer than two middles, codes as evenly spaced as they come.
std::vector<std::int32_t> codesAtAdcMiddles(std::int32_t from, std::int32_t to, double stepCodes,
                                            std::int32_t points);
// The codes 2^k - 2 to 2^k + 2 for k from `lowestBit` to 15, within from and to.
std::vector<std::int32_t> codesAroundCarries(std::int32_t from, std::int32_t to, int lowestBit);

} // namespace Sweep
