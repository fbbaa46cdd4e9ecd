// The commands, addresses and option panel controls of the editor, and the cells each writes.
#pragma once

#include "cellrange.h"

#include <array>
#include <cstdint>

namespace CommandTable {

struct Command
{
    std::int32_t fieldMask; // bit i lights cell i
    bool showsDataFrame;    // the code entry panel
    bool showsAddressBitsFrame;
};

// Index: the cmdBitsOption member, which is also the code written into commandCells.
// Code 8 sets only the unsent fourth command cell, so the part sees command 0.
inline constexpr std::array<Command, 9> commands = {{
        {0x0FFFFFF0, true, true},
        {0x0FF00000, false, true},
        {0x0FFFFFF0, true, true},
        {0x0FFFFFF0, true, true},
        {0x0F0003FF, false, false},
        {0x0F000010, false, false},
        {0x0F0000FF, false, false},
        {0x0F000010, false, false},
        {0x0F000001, false, false},
}};

// Index: the addressBitsOption member; value: the code written into addressCells.
// "All DACs" writes 15, of which the part sees 7.
inline constexpr std::array<std::int32_t, 9> addressCodes = {0, 1, 2, 3, 4, 5, 6, 7, 15};

// The mask of the command selected when the window opens.
inline constexpr std::int32_t startMask = 0x0FFFFFF0;

// Cleared on every return of the editor to its defaults: the data and the low option bits.
inline constexpr CellRange resetEditorCells {0, 19};

// Option arrays: member k writes the value k into its cells.
inline constexpr CellRange powerDownOptionCells {8, 9};
inline constexpr CellRange ResetOptionCells {4, 4};
inline constexpr CellRange clearCodeOptionCells {0, 1}; // low option bits, never sent
inline constexpr CellRange refOptionCells {4, 4};

// Check-box arrays, one box per channel "DAC A" = 0 to "DAC H" = 7: box k writes its state
// (1 ticked, 0 cleared) into data bit k.
inline constexpr int channelCheckCount = 8;
constexpr CellRange powerDownCheckCells(int k)
{
    return {dataCells.first + k, dataCells.first + k};
}
constexpr CellRange LDACOverwriteCheckCells(int k)
{
    return {dataCells.first + k, dataCells.first + k};
}

} // namespace CommandTable
