#include "commandword.h"

#include "cellrange.h"
#include "rounding.h"

#include <cmath>

namespace {

// C2..C0 or A2..A0 from the three sent cells of a field.
std::int16_t threeBitField(std::span<const double, 32> cells, int first)
{
    return roundToInt16(4 * cells[first + 2] + (2 * cells[first + 1] + cells[first]));
}

} // namespace

std::int32_t composeCommandWord(std::span<const double, 32> cellDigits)
{
    const std::int16_t command = threeBitField(cellDigits, commandCells.first);
    const std::int16_t address = threeBitField(cellDigits, addressCells.first);
    std::int32_t data = 0;
    for (int f = dataCells.first; f <= dataCells.last; ++f)
        data = roundToInt32(cellDigits[f] * std::ldexp(1.0, f - dataCells.first) + data);
    return roundToInt32(524288.0 * command + (65536.0 * address + data));
}
