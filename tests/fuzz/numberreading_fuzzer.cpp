// Random texts through number reading and both code conversions; aborts when a result leaves
// the form the window relies on. Input: the typed text, a 0 byte, the reference text (5 when
// there is no 0 byte), both as UTF-8.

#include "codeconversion.h"
#include "numberreading.h"
#include "textforms.h"

#include <QByteArray>
#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool holds, const char *what, const QString &first, const QString &second = {})
{
    if (holds)
        return;
    std::fprintf(stderr, "broken: %s\n  text: \"%s\"\n  reference: \"%s\"\n", what,
                 first.toUtf8().constData(), second.toUtf8().constData());
    std::abort();
}

bool isDigit(QChar ch)
{
    return ch >= QLatin1Char('0') && ch <= QLatin1Char('9');
}

// Optional "-", digits, ".", exactly fourteen digits; or one of the words for no number.
bool isVoltageForm(const QString &text)
{
    if (text == QLatin1String("Overflow") || text == QLatin1String("-Overflow"))
        return true;
    const qsizetype start = text.startsWith(QLatin1Char('-')) ? 1 : 0;
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    if (point <= start || text.size() - point - 1 != 14)
        return false;
    for (qsizetype at = start; at < text.size(); ++at) {
        if (at != point && !isDigit(text[at]))
            return false;
    }
    return text != QLatin1String("-0.00000000000000");
}

bool isCode(std::int32_t code)
{
    return code >= 0 && code <= highestCode;
}

// Texts made only of what both readings share, where the strict one must agree with the
// lenient one.
bool isPlainDecimal(const QString &text)
{
    for (const QChar ch : text) {
        if (!isDigit(ch) && ch != QLatin1Char('.') && ch != QLatin1Char('e')
            && ch != QLatin1Char('E') && ch != QLatin1Char('+') && ch != QLatin1Char('-'))
            return false;
    }
    return true;
}

void checkReadings(const QString &text)
{
    const double lenient = ParseNumberStart(text);
    check(!std::isnan(lenient), "lenient reading gave NaN", text);

    const double hex = ParseNumberStart(QLatin1String("&h") + text);
    check(hex == std::trunc(hex) && hex >= -2147483648.0 && hex <= 2147483647.0,
          "hex reading is not a 32-bit integer", text);

    const std::optional<double> strict = ParseWholeNumber(text);
    if (strict) {
        check(std::isfinite(*strict), "strict reading not finite", text);
        if (isPlainDecimal(text))
            check(*strict == lenient, "strict and lenient readings disagree", text);
    }
}

void checkConversions(const QString &typed, const QString &vref)
{
    const HexEntryResult fromHex = convertHexEntry(typed, vref);
    check(isCode(fromHex.code), "hex entry code out of range", typed, vref);
    check(isVoltageForm(fromHex.voltageText), "voltage text out of form", typed, vref);

    const std::optional<VoltageEntryResult> fromVoltage = convertVoltageEntry(typed, vref);
    if (fromVoltage) {
        check(isCode(fromVoltage->code), "voltage entry code out of range", typed, vref);
        check(fromVoltage->hexText == hexText(fromVoltage->code), "hex text is not the code's",
              typed, vref);
    }

    // For a sensible reference the written voltage reads back as the code it came from.
    const std::optional<double> strictVref = ParseWholeNumber(vref);
    if (strictVref && *strictVref == ParseNumberStart(vref) && *strictVref >= 0.001
        && *strictVref <= 1000) {
        const std::optional<VoltageEntryResult> back
                = convertVoltageEntry(fromHex.voltageText, vref);
        check(back && back->code == fromHex.code, "written voltage reads back as another code",
              typed, vref);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const qsizetype split = bytes.indexOf('\0');
    const QString typed = QString::fromUtf8(split < 0 ? bytes : bytes.left(split));
    const QString vref = split < 0 ? QStringLiteral("5") : QString::fromUtf8(bytes.mid(split + 1));

    checkReadings(typed);
    checkReadings(vref);
    checkConversions(typed, vref);
    checkConversions(vref, typed);
    return 0;
}
