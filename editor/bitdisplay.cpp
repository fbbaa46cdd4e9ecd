#include "bitdisplay.h"

#include "cellbits.h"
#include "digitcell.h"

BitDisplay::BitDisplay(const std::array<DigitCell *, bitCellCount> &cells)
    : m_cells(cells)
{ }

void BitDisplay::ShowBits(std::int32_t value, int first, int last)
{
    writeCellBits(value, first, last, [this](int cell, double digit) {
        if (DigitCell *digitCell = m_cells[static_cast<std::size_t>(cell)])
            digitCell->setValue(digit);
    });
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
