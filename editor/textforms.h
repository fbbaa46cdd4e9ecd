// The texts the program writes into the code entry boxes.
#pragma once

#include <QString>

#include <cstdint>

// Volts with at least one digit before the point and exactly fourteen after it
// ("0.00007629394531"), always "." and never grouped; the exact binary value is rounded at the
// fourteenth decimal with ties away from zero, and a value that rounds to zero has no sign. Values
// a double cannot hold are written as words: "Overflow" for +infinity and for NaN, "-Overflow" for
// -infinity.
QString voltageText(double volts);

// Upper-case hex digits, no prefix, no leading zeros (0 -> "0", 65535 -> "FFFF"); a negative code
// is written as its 32-bit two's complement.
QString hexText(std::int32_t code);
