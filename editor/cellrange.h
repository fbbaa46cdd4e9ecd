// Runs of cells in the bit display: cell i stands for bit i of the 32-bit layout.
#pragma once

struct CellRange
{
    int first;
    int last; // inclusive
};

inline constexpr int bitCellCount = 32;

// The fields of the layout. Only the low three cells of the address and of the command
// reach the part; the fourth is written but not sent.
inline constexpr CellRange dataCells {4, 19};
inline constexpr CellRange addressCells {20, 23};
inline constexpr CellRange commandCells {24, 27};
