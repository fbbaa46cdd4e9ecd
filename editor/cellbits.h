// How the bits of a value are laid into a run of bit display cells.
#pragma once

#include "cellrange.h"

#include <algorithm>
#include <cstdint>

// Hands write(cell, digit) the digit of each cell from first to last, in ascending order: the
// bits of value, least significant first, a negative value giving the bits of its magnitude,
// each set bit as -1. Bits beyond the run are dropped; first > last writes nothing; indexes
// outside 0..31 are skipped, the bit meant for them dropped.
template<typename WriteDigit>
void writeCellBits(std::int32_t value, int first, int last, WriteDigit write)
{
    const int from = std::max(first, 0);
    const int to = std::min(last, bitCellCount - 1);
    if (from > to)
        return;
    // The cells skipped below 0 each take one bit; in 64 bits the shift has no edge cases.
    const long long skipped = static_cast<long long>(from) - first;
    long long rest = skipped >= 32 ? 0 : value / (1LL << skipped);
    for (int cell = from; cell <= to; ++cell) {
        // C++ division truncates toward zero and the remainder takes the value's sign.
        write(cell, static_cast<double>(rest % 2));
        rest /= 2;
    }
}
