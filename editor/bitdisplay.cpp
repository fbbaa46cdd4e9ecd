#include "bitdisplay.h"

#include "digitcell.h"

#include <algorithm>

BitDisplay::BitDisplay(const std::array<DigitCell *, bitCellCount> &cells)
    : m_cells(cells)
{ }

void BitDisplay::ShowBits(std::int32_t value, int first, int last)
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
        if (DigitCell *digitCell = m_cells[static_cast<std::size_t>(cell)])
            digitCell->setValue(static_cast<double>(rest % 2));
        rest /= 2;
    }
}

void BitDisplay::ShowFieldMask(std::int32_t mask)
{
    for (int cell = 0; cell < bitCellCount - 1; ++cell) {
        if (DigitCell *digitCell = m_cells[static_cast<std::size_t>(cell)])
            digitCell->setSegmentColor((mask & (1 << cell)) != 0 ? litColour : dimColour);
    }
}

double BitDisplay::digit(int cell) const
{
    if (cell < 0 || cell >= bitCellCount || !m_cells[static_cast<std::size_t>(cell)])
        return 0;
    return m_cells[static_cast<std::size_t>(cell)]->value();
}

std::array<double, bitCellCount> BitDisplay::digits() const
{
    std::array<double, bitCellCount> result {};
    for (int cell = 0; cell < bitCellCount; ++cell)
        result[static_cast<std::size_t>(cell)] = digit(cell);
    return result;
}
