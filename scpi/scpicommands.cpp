#include "scpicommands.h"

#include <array>

namespace Scpi {

namespace {

constexpr std::size_t rowCount = std::size(commandTable);

const std::array<Pattern, rowCount> &patterns()
{
    static const std::array<Pattern, rowCount> compiled =
            []<std::size_t... Row>(std::index_sequence<Row...>)
    {
        return std::array<Pattern, rowCount> {Pattern(commandTable[Row].pattern)...};
    }
    (std::make_index_sequence<rowCount>());
    return compiled;
}

} // namespace

const CommandRow *findCommand(const Unit &unit, const Node *nodes, int count, int &suffix)
{
    for (std::size_t row = 0; row < rowCount; ++row) {
        const Pattern &pattern = patterns()[row];
        if (pattern.isCommon() == unit.common && pattern.matches(nodes, count, suffix))
            return &commandTable[row];
    }
    return nullptr;
}

} // namespace Scpi
