// The command word that "Write to Part" sends, composed from the digits of the bit display.
#pragma once

#include <cstdint>
#include <span>

// word = 2^19 * command + 2^16 * address + data, from cells 24..26, 20..22 and 4..19; the other
// cells take no part. Sums are formed in double and rounded ties-to-even at each step,
// saturating, so that any cell contents (-1, fractions, NaN) give a defined word.
// Cells holding 0 or 1 give 0..0x3FFFFF; data cells holding -1 can make the word negative.
std::int32_t composeCommandWord(std::span<const double, 32> cellDigits);
