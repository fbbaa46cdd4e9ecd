// Reading SCPI program messages: one line split into its units, each unit's header and data,
// and headers matched against patterns such as "SOURce#:VOLTage[:LEVel]". Plain functions over
// the bytes of the line: the views point into it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Scpi {

// One node of a header as sent: the mnemonic without its numeric suffix.
struct Node
{
    std::string_view name;
    int suffix = -1; // -1: none given
};

enum class DataKind { Decimal, NonDecimal, Character, String, Block, Expression };

// One data element. Numbers carry their value; character data its mnemonic; a string its
// contents with the quotes still doubled.
struct Data
{
    DataKind kind = DataKind::Decimal;
    double number = 0;
    std::string_view text;
    std::string_view suffix; // the unit after a decimal number, e.g. "mV"
};

struct Unit
{
    static constexpr int maxNodes = 8;
    static constexpr int maxKeptData = 2;

    int error = 0;       // an SCPI error number when the unit could not be read
    bool common = false; // *IDN? and the like
    bool query = false;
    bool rooted = false;     // a leading ':'
    std::string_view header; // as sent, for messages
    std::array<Node, maxNodes> nodes {};
    int nodeCount = 0;
    std::array<Data, maxKeptData> data {};
    int dataCount = 0; // all elements read; only the first maxKeptData are kept
};

// The units of a program message, split at each ';' outside quotes; blank units are dropped.
std::vector<std::string_view> splitUnits(std::string_view message);

// One unit: header, then data elements separated by commas.
Unit readUnit(std::string_view text);

// A header pattern: mnemonics in long form with the short form in capitals ("VOLTage"), ':'
// between nodes, "[:NODE]" for an optional node, '#' after a node that takes a numeric suffix;
// or a common command ("*IDN").
class Pattern
{
public:
    explicit Pattern(std::string_view text);

    // Whether the nodes match; `suffix` gets the suffix of the '#' node (1 when none was given).
    bool matches(const Node *nodes, int count, int &suffix) const;
    bool isCommon() const { return m_common; }

private:
    struct PatternNode
    {
        std::string shortForm; // upper case
        std::string longForm;  // upper case
        bool optional = false;
        bool takesSuffix = false;
    };
    bool matchFrom(std::size_t at, const Node *nodes, int count, int &suffix) const;

    std::vector<PatternNode> m_nodes;
    bool m_common = false;
};

// Case-insensitive equality of ASCII text.
bool sameLetters(std::string_view a, std::string_view b);

// Whether character data is a keyword given as "MINimum" (short or long form).
bool isKeyword(std::string_view text, std::string_view keyword);

} // namespace Scpi
