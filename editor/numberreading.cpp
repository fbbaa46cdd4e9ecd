#include "numberreading.h"

#include <QLocale>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace {

bool isDecimalDigit(char ch)
{
    return ch >= '0' && ch <= '9';
}

int hexDigitValue(char ch)
{
    if (isDecimalDigit(ch))
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

// The text without blanks, as ASCII; any other character becomes one that no number accepts.
std::string withoutBlanks(QStringView text)
{
    std::string ascii;
    ascii.reserve(static_cast<std::size_t>(text.size()));
    for (const QChar ch : text) {
        const char16_t unit = ch.unicode();
        if (unit == u' ' || unit == u'\t' || unit == u'\n' || unit == u'\r')
            continue;
        ascii.push_back(unit < 0x80 ? static_cast<char>(unit) : '\x7f');
    }
    return ascii;
}

double readHex(std::string_view text)
{
    std::uint32_t bits = 0; // shifting drops all but the last eight digits
    std::size_t count = 0;
    for (; count < text.size(); ++count) {
        const int digit = hexDigitValue(text[count]);
        if (digit < 0)
            break;
        bits = (bits << 4) | static_cast<std::uint32_t>(digit);
    }
    if (count == 0)
        return 0;
    if (count <= 4)
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(bits));
    return static_cast<std::int32_t>(bits);
}

double readDecimal(std::string_view text)
{
    std::size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }

    std::string digits; // integer and fraction digits run together
    bool anyDigit = false;
    long long fractionDigits = 0;
    for (; at < text.size() && isDecimalDigit(text[at]); ++at) {
        digits.push_back(text[at]);
        anyDigit = true;
    }
    if (at < text.size() && text[at] == '.') {
        for (++at; at < text.size() && isDecimalDigit(text[at]); ++at) {
            digits.push_back(text[at]);
            ++fractionDigits;
            anyDigit = true;
        }
    }
    if (!anyDigit)
        return 0;

    long long exponent = 0;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        std::size_t next = at + 1;
        bool negativeExponent = false;
        if (next < text.size() && (text[next] == '+' || text[next] == '-')) {
            negativeExponent = text[next] == '-';
            ++next;
        }
        // Saturates far beyond any double, so that a long run of digits cannot overflow.
        constexpr long long exponentCap = 1'000'000'000;
        for (; next < text.size() && isDecimalDigit(text[next]); ++next) {
            if (exponent < exponentCap)
                exponent = exponent * 10 + (text[next] - '0');
        }
        if (negativeExponent)
            exponent = -exponent;
    }

    const std::size_t firstSignificant = digits.find_first_not_of('0');
    if (firstSignificant == std::string::npos)
        return 0;
    const std::size_t lastSignificant = digits.find_last_not_of('0');
    const std::string_view significant = std::string_view(digits).substr(
            firstSignificant, lastSignificant - firstSignificant + 1);
    // value = significant * 10^scale, and 10^(order - 1) <= value < 10^order
    const long long scale = exponent - fractionDigits
            + static_cast<long long>(digits.size() - 1 - lastSignificant);
    const long long order = static_cast<long long>(significant.size()) + scale;

    constexpr double infinity = std::numeric_limits<double>::infinity();
    double magnitude = 0;
    if (order > 400) {
        magnitude = infinity;
    } else if (order >= -400) {
        const std::string normal = std::string(significant) + 'e' + std::to_string(scale);
        const auto [end, error] = std::from_chars(normal.data(), normal.data() + normal.size(),
                                                  magnitude, std::chars_format::scientific);
        if (error == std::errc::result_out_of_range)
            magnitude = order > 0 ? infinity : 0;
    }
    if (magnitude == 0)
        return 0; // never a negative zero
    return negative ? -magnitude : magnitude;
}

} // namespace

double ParseNumberStart(QStringView text)
{
    const std::string ascii = withoutBlanks(text);
    if (ascii.size() >= 2 && ascii[0] == '&' && (ascii[1] == 'h' || ascii[1] == 'H'))
        return readHex(std::string_view(ascii).substr(2));
    return readDecimal(ascii);
}

std::optional<double> ParseWholeNumber(QStringView text)
{
    const QStringView number = text.trimmed();
    if (number.isEmpty())
        return std::nullopt;

    static const QLocale pointNotation = [] {
        QLocale c = QLocale::c();
        c.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
        return c;
    }();
    bool ok = false;
    double value = pointNotation.toDouble(number, &ok);
    if (!ok)
        value = QLocale().toDouble(number, &ok);
    // Qt reads "inf" and "nan" as numbers; none of them is a usable reference.
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}
