#include "textforms.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string>

namespace {

constexpr int decimals = 14;

// Every double is a multiple of 2^-1074, so 1074 decimals write it exactly.
constexpr int exactDecimals = 1074;

// Adds one unit in the last place of a run of decimal digits with a point in it.
void roundUp(std::string &digits)
{
    for (auto at = digits.rbegin(); at != digits.rend(); ++at) {
        if (*at == '.')
            continue;
        if (*at != '9') {
            ++*at;
            return;
        }
        *at = '0';
    }
    digits.insert(digits.begin(), '1');
}

} // namespace

QString voltageText(double volts)
{
    if (std::isnan(volts))
        return QStringLiteral("Overflow");
    if (std::isinf(volts))
        return volts > 0 ? QStringLiteral("Overflow") : QStringLiteral("-Overflow");

    // 309 integer digits at most, the point, the decimals.
    std::array<char, 310 + 1 + exactDecimals> buffer;
    const auto [end, error]
            = std::to_chars(buffer.data(), buffer.data() + buffer.size(), std::fabs(volts),
                            std::chars_format::fixed, exactDecimals);
    const std::string exact(buffer.data(), error == std::errc() ? end : buffer.data());
    const std::size_t point = exact.find('.');
    if (point == std::string::npos)
        return QStringLiteral("Overflow"); // cannot happen with a buffer this size

    std::string text = exact.substr(0, point + 1 + decimals);
    if (exact[point + 1 + decimals] >= '5')
        roundUp(text);
    const bool zero = text.find_first_not_of("0.") == std::string::npos;
    if (volts < 0 && !zero)
        text.insert(text.begin(), '-');
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString hexText(std::int32_t code)
{
    return QString::number(static_cast<std::uint32_t>(code), 16).toUpper();
}
