// Rounding of a real to an integer, wherever the program rounds.
#pragma once

#include <cstdint>

// Nearest integer, ties to the even neighbour (2.5 -> 2, 3.5 -> 4), whatever the floating-point
// rounding mode. NaN and infinities come back unchanged.
double roundHalfEven(double value);

// roundHalfEven, then limited to the target type: NaN gives 0, a value out of range the nearer
// limit.
std::int32_t roundToInt32(double value);
std::int16_t roundToInt16(double value);
