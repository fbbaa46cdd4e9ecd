#include "rounding.h"

#include <cmath>
#include <limits>

namespace {

template<typename Integer> Integer roundSaturating(double value)
{
    if (std::isnan(value))
        return 0;
    const double rounded = roundHalfEven(value);
    constexpr Integer lowest = std::numeric_limits<Integer>::lowest();
    constexpr Integer highest = std::numeric_limits<Integer>::max();
    if (rounded <= static_cast<double>(lowest))
        return lowest;
    if (rounded >= static_cast<double>(highest))
        return highest;
    return static_cast<Integer>(rounded);
}

} // namespace

double roundHalfEven(double value)
{
    // From 2^52 on every double is a whole number; below it floor and the difference are exact,
    // so no step depends on the rounding mode.
    constexpr double allWhole = 4503599627370496.0;
    if (!(std::fabs(value) < allWhole))
        return value;
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction < 0.5)
        return below;
    if (fraction > 0.5)
        return below + 1;
    return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

std::int32_t roundToInt32(double value)
{
    return roundSaturating<std::int32_t>(value);
}

std::int16_t roundToInt16(double value)
{
    return roundSaturating<std::int16_t>(value);
}
