#include "scpiparser.h"

#include "scpistatus.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace Scpi {

namespace {

// Every control character and the space, but the line feed that ends a message.
bool isBlank(char c)
{
    return static_cast<unsigned char>(c) <= 0x20;
}

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The end of a quoted string starting at `at`, just past its closing quote; npos when open.
std::size_t stringEnd(std::string_view text, std::size_t at)
{
    const char quote = text[at];
    for (std::size_t i = at + 1; i < text.size(); ++i) {
        if (text[i] != quote)
            continue;
        if (i + 1 < text.size() && text[i + 1] == quote) {
            ++i;
            continue;
        }
        return i + 1;
    }
    return std::string_view::npos;
}

// Splits at `separator` outside quotes; an unclosed quote runs to the end.
template<typename Take> void splitOutsideQuotes(std::string_view text, char separator, Take take)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '"' || text[i] == '\'') {
            i = std::min(stringEnd(text, i), text.size());
        } else if (text[i] == separator) {
            take(text.substr(start, i - start));
            start = ++i;
        } else {
            ++i;
        }
    }
    take(text.substr(start));
}

// Whether a number too far from 1 for a double is tiny rather than huge: the power of ten of its
// first significant digit, with the exponent, is negative (hundreds from 0 either way).
bool underflows(std::string_view number)
{
    const std::size_t e = std::min(number.find_first_of("eE"), number.size());
    const std::string_view mantissa = number.substr(0, e);
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos)
        return true; // zero
    const long power = first < point ? long(point - first) - 1 : -long(first - point);
    std::string_view exponent = number.substr(std::min(e + 1, number.size()));
    const bool negative = !exponent.empty() && exponent[0] == '-';
    if (!exponent.empty() && (exponent[0] == '-' || exponent[0] == '+'))
        exponent.remove_prefix(1);
    long magnitude = 0;
    if (std::from_chars(exponent.data(), exponent.data() + exponent.size(), magnitude).ec
        == std::errc::result_out_of_range)
        return negative;
    return power + (negative ? -magnitude : magnitude) < 0;
}

// "1.5", "-2e-3", ".5 mV": the mantissa and exponent, then blanks and a unit of letters.
int readDecimal(std::string_view text, Data &data)
{
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t digits = 0;
    for (; i < text.size() && isDigit(text[i]); ++i)
        ++digits;
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && isDigit(text[i]); ++i)
            ++digits;
    }
    if (digits == 0)
        return Error::invalidCharacterInNumber;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t e = i + 1;
        if (e < text.size() && (text[e] == '+' || text[e] == '-'))
            ++e;
        if (e < text.size() && isDigit(text[e])) {
            while (e < text.size() && isDigit(text[e]))
                ++e;
            i = e;
        }
    }
    const char *first = text.data() + (text[0] == '+' ? 1 : 0);
    const auto [end, error] = std::from_chars(first, text.data() + i, data.number);
    if (error == std::errc::result_out_of_range)
        data.number = underflows(text.substr(0, i)) ? (text[0] == '-' ? -0.0 : 0.0)
                                                    : std::numeric_limits<double>::infinity();
    else if (error != std::errc() || end != text.data() + i)
        return Error::invalidCharacterInNumber;
    std::string_view rest = trimmed(text.substr(i));
    for (const char c : rest) {
        if (!isLetter(c))
            return Error::invalidCharacterInNumber;
    }
    data.suffix = rest;
    return Error::none;
}

// "#HFF", "#B101", "#Q17".
int readNonDecimal(std::string_view text, Data &data)
{
    const int base = upper(text[1]) == 'H' ? 16 : upper(text[1]) == 'Q' ? 8 : 2;
    if (text.size() < 3)
        return Error::invalidCharacterInNumber;
    double value = 0;
    for (const char c : text.substr(2)) {
        const int digit = isDigit(c)                 ? c - '0'
                : upper(c) >= 'A' && upper(c) <= 'F' ? upper(c) - 'A' + 10
                                                     : 99;
        if (digit >= base)
            return Error::invalidCharacterInNumber;
        value = value * base + digit;
    }
    data.number = value;
    return Error::none;
}

int readData(std::string_view text, Data &data)
{
    text = trimmed(text);
    data.text = text;
    if (text.empty())
        return Error::syntax;
    const char first = text[0];
    if (first == '"' || first == '\'') {
        data.kind = DataKind::String;
        data.text = text.substr(1, text.size() >= 2 ? text.size() - 2 : 0);
        return stringEnd(text, 0) == text.size() ? Error::none : Error::syntax;
    }
    if (first == '(') {
        data.kind = DataKind::Expression;
        return text.back() == ')' ? Error::none : Error::syntax;
    }
    if (first == '#') {
        if (text.size() >= 2 && isDigit(text[1])) {
            data.kind = DataKind::Block;
            return Error::none;
        }
        if (text.size() >= 2
            && std::string_view("HhBbQq").find(text[1]) != std::string_view::npos) {
            data.kind = DataKind::NonDecimal;
            return readNonDecimal(text, data);
        }
        return Error::syntax;
    }
    if (isLetter(first)) {
        data.kind = DataKind::Character;
        for (const char c : text) {
            if (!isLetter(c) && !isDigit(c) && c != '_')
                return Error::syntax;
        }
        return Error::none;
    }
    if (isDigit(first) || first == '+' || first == '-' || first == '.') {
        data.kind = DataKind::Decimal;
        return readDecimal(text, data);
    }
    return Error::syntax;
}

// The header's nodes, or the error that stops it being read.
int readHeader(std::string_view header, Unit &unit)
{
    std::size_t i = 0;
    if (header[0] == '*') {
        unit.common = true;
        for (i = 1; i < header.size() && isLetter(header[i]); ++i) { }
        if (i == 1)
            return Error::syntax;
        unit.nodes[0].name = header.substr(0, i);
        unit.nodeCount = 1;
    } else {
        if (header[0] == ':') {
            unit.rooted = true;
            i = 1;
        }
        while (true) {
            const std::size_t start = i;
            if (i >= header.size() || !isLetter(header[i]))
                return Error::syntax;
            while (i < header.size()
                   && (isLetter(header[i]) || isDigit(header[i]) || header[i] == '_'))
                ++i;
            std::size_t letters = i;
            while (letters > start && isDigit(header[letters - 1]))
                --letters;
            if (letters - start > 12)
                return Error::mnemonicTooLong;
            if (unit.nodeCount == Unit::maxNodes)
                return Error::undefinedHeader;
            Node &node = unit.nodes[std::size_t(unit.nodeCount++)];
            node.name = header.substr(start, letters - start);
            if (letters < i) {
                int suffix = 0;
                const auto [end, error]
                        = std::from_chars(header.data() + letters, header.data() + i, suffix);
                node.suffix = error == std::errc() ? suffix : std::numeric_limits<int>::max();
            }
            if (i >= header.size() || header[i] != ':')
                break;
            ++i;
        }
    }
    if (i < header.size() && header[i] == '?') {
        unit.query = true;
        ++i;
    }
    return i == header.size() ? Error::none : Error::syntax;
}

} // namespace

std::vector<std::string_view> splitUnits(std::string_view message)
{
    std::vector<std::string_view> units;
    splitOutsideQuotes(message, ';', [&units](std::string_view unit) {
        if (!trimmed(unit).empty())
            units.push_back(unit);
    });
    return units;
}

Unit readUnit(std::string_view text)
{
    Unit unit;
    text = trimmed(text);
    std::size_t headerEnd = 0;
    while (headerEnd < text.size() && !isBlank(text[headerEnd]))
        ++headerEnd;
    unit.header = text.substr(0, headerEnd);
    if ((unit.error = readHeader(unit.header, unit)) != Error::none)
        return unit;
    const std::string_view rest = trimmed(text.substr(headerEnd));
    if (rest.empty())
        return unit;
    splitOutsideQuotes(rest, ',', [&unit](std::string_view element) {
        Data data;
        const int error = readData(element, data);
        if (unit.error == Error::none)
            unit.error = error;
        if (unit.dataCount < Unit::maxKeptData)
            unit.data[std::size_t(unit.dataCount)] = data;
        ++unit.dataCount;
    });
    return unit;
}

bool sameLetters(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i]))
            return false;
    }
    return true;
}

bool isKeyword(std::string_view text, std::string_view keyword)
{
    std::size_t shortLength = 0;
    while (shortLength < keyword.size()
           && !(keyword[shortLength] >= 'a' && keyword[shortLength] <= 'z'))
        ++shortLength;
    return sameLetters(text, keyword) || sameLetters(text, keyword.substr(0, shortLength));
}

Pattern::Pattern(std::string_view text)
{
    m_common = !text.empty() && text[0] == '*';
    std::size_t i = 0;
    while (i < text.size()) {
        PatternNode node;
        if (text[i] == '[') {
            node.optional = true;
            ++i;
        }
        if (text[i] == ':')
            ++i;
        for (; i < text.size() && text[i] != ':' && text[i] != '[' && text[i] != ']'
             && text[i] != '#';
             ++i) {
            if (!(text[i] >= 'a' && text[i] <= 'z'))
                node.shortForm += text[i];
            node.longForm += upper(text[i]);
        }
        if (i < text.size() && text[i] == '#') {
            node.takesSuffix = true;
            ++i;
        }
        if (i < text.size() && text[i] == ']')
            ++i;
        m_nodes.push_back(std::move(node));
    }
}

bool Pattern::matches(const Node *nodes, int count, int &suffix) const
{
    suffix = 1; // an optional '#' node left out is the first
    return matchFrom(0, nodes, count, suffix);
}

bool Pattern::matchFrom(std::size_t at, const Node *nodes, int count, int &suffix) const
{
    if (at == m_nodes.size())
        return count == 0;
    const PatternNode &node = m_nodes[at];
    if (node.optional && matchFrom(at + 1, nodes, count, suffix))
        return true;
    if (count == 0
        || !(sameLetters(nodes->name, node.shortForm) || sameLetters(nodes->name, node.longForm)))
        return false;
    // "SOURce1" is "SOURce"; a suffix on a node that takes none names nothing.
    if (nodes->suffix >= 0 && !node.takesSuffix)
        return false;
    if (!matchFrom(at + 1, nodes + 1, count - 1, suffix))
        return false;
    if (node.takesSuffix)
        suffix = nodes->suffix < 0 ? 1 : nodes->suffix;
    return true;
}

} // namespace Scpi
