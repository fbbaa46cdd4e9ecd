#include "commandchoices.h"

#include "cellbits.h"
#include "commandtable.h"
#include "commandword.h"

#include <array>

std::int32_t commandWordFor(int commandIndex, int addressIndex, std::int32_t dataCode)
{
    std::array<double, bitCellCount> cells {};
    const auto into = [&cells](CellRange range, std::int32_t value) {
        writeCellBits(value, range.first, range.last,
                      [&cells](int cell, double digit) { cells[std::size_t(cell)] = digit; });
    };
    if (commandIndex >= 0 && std::size_t(commandIndex) < CommandTable::commands.size())
        into(commandCells, commandIndex);
    if (addressIndex >= 0 && std::size_t(addressIndex) < CommandTable::addressCodes.size())
        into(addressCells, CommandTable::addressCodes[std::size_t(addressIndex)]);
    into(dataCells, dataCode);
    return composeCommandWord(cells);
}
