// The row of digit cells that holds the command word being built.
#pragma once

#include "cellrange.h"

#include <array>
#include <cstdint>

class DigitCell;

// Writes and reads the cells of the window's bit display; the cells themselves belong to the
// window. Cell i stands for bit i.
class BitDisplay final
{
public:
    static constexpr int litColour = 255; // the cell is in a field of the current command
    static constexpr int dimColour = 160;

    explicit BitDisplay(const std::array<DigitCell *, bitCellCount> &cells);

    // The bits of value, least significant first, into cells first to last: a negative value
    // writes the bits of its magnitude, each set bit as -1. Bits beyond the run are dropped;
    // first > last writes nothing; indexes outside 0..31 are skipped, the bit meant for them
    // dropped.
    void ShowBits(std::int32_t value, int first, int last);
    void ShowBits(std::int32_t value, CellRange cells) { ShowBits(value, cells.first, cells.last); }

    // Lights cells 0..30 whose bit is set in mask and dims the rest; cell 31 and bit 31 of the
    // mask play no part.
    void ShowFieldMask(std::int32_t mask);

    // The digit a cell holds; 0 for an index outside 0..31.
    double digit(int cell) const;
    std::array<double, bitCellCount> digits() const;

private:
    std::array<DigitCell *, bitCellCount> m_cells;
};
