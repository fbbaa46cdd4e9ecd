#include "codeconversion.h"

#include "numberreading.h"
#include "rounding.h"
#include "textforms.h"

#include <algorithm>
#include <cmath>

namespace {

// Offset that takes the "10" in front of the digits off again.
constexpr double secondPrefixOffset = 1048576;

std::int32_t limitedCode(std::int32_t code)
{
    return std::clamp(code, 0, highestCode);
}

} // namespace

HexEntryResult convertHexEntry(const QString &hexText, const QString &vrefText)
{
    // Four digits from 8000 up read negative; "10" in front of them makes the reading positive.
    std::int32_t code = roundToInt32(ParseNumberStart(QLatin1String("&h") + hexText));
    if (code < 0)
        code = roundToInt32(ParseNumberStart(QLatin1String("&h10") + hexText) - secondPrefixOffset);
    // The box takes four digits; longer texts (pasted, or from a fuzzer) must not leave the range.
    code = limitedCode(code);

    // A reference in the user's notation ("2,5") must mean here what it means for a typed
    // voltage, or every key release in one box and then the other would move the code.
    const std::optional<double> wholeVref = ParseWholeNumber(vrefText);
    const double vref = wholeVref ? *wholeVref : ParseNumberStart(vrefText);
    // code / fullScale is exact; a zero code gives 0 V even against an infinite reference.
    const double volts = code == 0 ? 0.0 : code / fullScale * vref;
    return {code, voltageText(volts)};
}

std::optional<VoltageEntryResult> convertVoltageEntry(const QString &voltageText,
                                                      const QString &vrefText)
{
    const std::optional<double> vref = ParseWholeNumber(vrefText);
    if (!vref)
        return std::nullopt;

    double code = highestCode;
    if (*vref != 0) {
        const double volts = ParseNumberStart(voltageText);
        const double scaled = volts * fullScale;
        // Against a huge reference the product can leave the range of a double while the code
        // does not: divide first then.
        code = std::isinf(scaled) && std::isfinite(volts) ? volts / *vref * fullScale
                                                          : scaled / *vref;
        if (volts < 0)
            code = 0;
        if (code > highestCode)
            code = highestCode;
        // A negative reference turns the code negative; keep it in range all the same.
        if (!(code >= 0))
            code = 0;
    }
    const std::int32_t rounded = roundToInt32(code);
    return VoltageEntryResult {rounded, hexText(rounded)};
}
