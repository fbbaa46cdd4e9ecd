#include "codeconversion.h"
#include "numberreading.h"
#include "rounding.h"
#include "textforms.h"

#include <QLocale>
#include <QTest>

#include <cfenv>
#include <cmath>
#include <limits>

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr int highest = std::numeric_limits<std::int32_t>::max();
constexpr int lowest = std::numeric_limits<std::int32_t>::lowest();

void whole(const char *name, const char *locale, const QString &text, bool valid, double value)
{
    QTest::newRow(name) << QString::fromLatin1(locale) << text << valid << value;
}

} // namespace

// The arithmetic behind the code boxes: reading, rounding and writing numbers. What the boxes do
// with it is checked through the window.
class TestNumbers final : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::system()); }

    void parseNumberStart_data();
    void parseNumberStart();
    void parseWholeNumber_data();
    void parseWholeNumber();
    void roundHalfEven_data();
    void roundHalfEven();
    void roundToInteger_data();
    void roundToInteger();
    void voltageText_data();
    void voltageText();
    void hexText_data();
    void hexText();
    void writtenVoltageReadsBackAsTheSameCode_data();
    void writtenVoltageReadsBackAsTheSameCode();
};

void TestNumbers::parseNumberStart_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    QTest::newRow("hex upper-case prefix, lower-case digits") << "&Hff" << 255.0;
    QTest::newRow("hex 7FFF, the largest positive 16-bit") << "&h7FFF" << 32767.0;
    QTest::newRow("hex 8000 reads negative") << "&h8000" << -32768.0;
    QTest::newRow("hex FFFF reads -1") << "&hFFFF" << -1.0;
    QTest::newRow("hex five digits are 32-bit") << "&h0FFFF" << 65535.0;
    QTest::newRow("hex second prefix") << "&h10FFFF" << 1114111.0;
    QTest::newRow("hex eight digits, negative") << "&h80000000" << -2147483648.0;
    QTest::newRow("hex nine digits keep the last eight") << "&h123456789" << 591751049.0;
    QTest::newRow("hex stops at a non-digit") << "&h12G4" << 18.0;
    QTest::newRow("hex without digits") << "&hG1" << 0.0;
    QTest::newRow("hex has no sign") << "&h-1" << 0.0;
    QTest::newRow("hex with blanks inside the prefix") << " & h 1 2" << 18.0;
    QTest::newRow("plus") << "+5" << 5.0;
    QTest::newRow("no digits before the point") << ".5" << 0.5;
    QTest::newRow("no digits after the point") << "5." << 5.0;
    QTest::newRow("second point ends it") << "1.2.3" << 1.2;
    QTest::newRow("unit after the number") << "5V" << 5.0;
    QTest::newRow("comma ends it") << "1,5" << 1.0;
    QTest::newRow("blanks, tabs, line feeds, returns") << " - 1\t2\n3\r. 5 " << -123.5;
    QTest::newRow("exponent") << "2.5e3" << 2500.0;
    QTest::newRow("upper-case exponent, minus") << "2.5E-3" << 0.0025;
    QTest::newRow("point then exponent") << "1.e+2" << 100.0;
    QTest::newRow("e without digits") << "1e+" << 1.0;
    QTest::newRow("exponent has no point") << "1.5e2.5" << 150.0;
    QTest::newRow("exponent alone") << "e5" << 0.0;
    QTest::newRow("point alone") << "." << 0.0;
    QTest::newRow("two signs") << "--1" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("minus zero reads zero") << "-0" << 0.0;
    QTest::newRow("nearest to 3.3") << "3.3" << 3.3;
    QTest::newRow("wide digit is not a digit") << QString::fromUtf8("\xef\xbc\x91") << 0.0;
    QTest::newRow("many zeros and the exponent") << "1" + QString(400, '0') + "e-400" << 1.0;
    QTest::newRow("largest double") << "1.7976931348623157e308" << 1.7976931348623157e308;
    QTest::newRow("smallest double") << "4.9406564584124654e-324" << 4.9406564584124654e-324;
    QTest::newRow("beyond the largest") << "1.8e308" << infinity;
    QTest::newRow("far beyond, negative") << "-1e400" << -infinity;
    QTest::newRow("exponent beyond any integer") << "1e99999999999999999999999" << infinity;
    QTest::newRow("below the smallest, negative") << "-2e-324" << 0.0;
    QTest::newRow("negative exponent beyond any integer") << "1e-99999999999999999999999" << 0.0;
}

void TestNumbers::parseNumberStart()
{
    QFETCH(QString, text);
    QFETCH(double, expected);

    // Exact, sign of zero included: QCOMPARE on doubles is fuzzy.
    const double actual = ParseNumberStart(text);
    QVERIFY2(actual == expected && std::signbit(actual) == std::signbit(expected),
             qPrintable(QString::number(actual, 'g', 17)));
}

void TestNumbers::parseWholeNumber_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("expected");

    whole("point notation", "C", "-2.5", true, -2.5);
    whole("exponent, blanks aside", "C", "  1e3 ", true, 1000);
    whole("empty", "C", "", false, 0);
    whole("blanks only", "C", "   ", false, 0);
    whole("letters", "C", "abc", false, 0);
    whole("unit after the number", "C", "5V", false, 0);
    whole("blank inside", "C", "1 5", false, 0);
    whole("hex prefix", "C", "&h10", false, 0);
    whole("beyond the largest double", "C", "1e400", false, 0);
    whole("infinity word", "C", "inf", false, 0);
    whole("not-a-number word", "C", "nan", false, 0);
    whole("C, comma is no decimal point", "C", "2,5", false, 0);
    whole("German comma", "de_DE", "-1,25", true, -1.25);
    whole("German, what the program writes", "de_DE", "2.50000000000000", true, 2.5);
    whole("German grouping", "de_DE", "1.000,5", true, 1000.5);
    whole("German, point notation wins", "de_DE", "1.000", true, 1);
    whole("German, unit after", "de_DE", "2,5V", false, 0);
    whole("German, beyond the largest", "de_DE", "1,0e400", false, 0);
    whole("English, comma is no decimal point", "en_US", "2,5", false, 0);
}

void TestNumbers::parseWholeNumber()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(double, expected);

    QLocale::setDefault(QLocale(locale));
    const std::optional<double> actual = ParseWholeNumber(text);
    QCOMPARE(actual.has_value(), valid);
    if (valid)
        QVERIFY2(*actual == expected, qPrintable(QString::number(*actual, 'g', 17)));
}

void TestNumbers::roundHalfEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("expected");

    QTest::newRow("2.5 to even below") << 2.5 << 2.0;
    QTest::newRow("3.5 to even above") << 3.5 << 4.0;
    QTest::newRow("0.5 to zero") << 0.5 << 0.0;
    QTest::newRow("-2.5 to even") << -2.5 << -2.0;
    QTest::newRow("-3.5 to even") << -3.5 << -4.0;
    QTest::newRow("32767.5 to even above") << 32767.5 << 32768.0;
    QTest::newRow("below a tie") << 65534.69 << 65535.0;
    QTest::newRow("above a whole number") << 19859.39 << 19859.0;
    QTest::newRow("-2.6") << -2.6 << -3.0;
    QTest::newRow("just below one half") << 0.49999999999999994 << 0.0;
    QTest::newRow("just above 2.5") << 2.5000000000000004 << 3.0;
    QTest::newRow("tie at the last fraction bit") << 4503599627370495.5 << 4503599627370496.0;
    QTest::newRow("whole beyond 2^52") << 4503599627370497.0 << 4503599627370497.0;
    QTest::newRow("minus infinity") << -infinity << -infinity;
}

// The same in every floating-point rounding mode.
void TestNumbers::roundHalfEven()
{
    QFETCH(double, value);
    QFETCH(double, expected);

    const int saved = std::fegetround();
    for (const int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        QVERIFY(std::fesetround(mode) == 0);
        const double actual = ::roundHalfEven(value);
        std::fesetround(saved);
        QVERIFY2(actual == expected, qPrintable(QString::number(actual, 'g', 17)));
    }
}

void TestNumbers::roundToInteger_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("int32");
    QTest::addColumn<int>("int16");

    QTest::newRow("digit sum") << 7.0 << 7 << 7;
    QTest::newRow("negative tie") << -1.5 << -2 << -2;
    QTest::newRow("tie to even") << 32766.5 << 32766 << 32766;
    QTest::newRow("tie beyond the 16-bit largest") << 32767.5 << 32768 << 32767;
    QTest::newRow("tie at the 16-bit lowest") << -32768.5 << -32768 << -32768;
    QTest::newRow("rounds below the largest") << 2147483647.4 << highest << 32767;
    QTest::newRow("rounds beyond the largest") << 2147483647.5 << highest << 32767;
    QTest::newRow("tie at the lowest") << -2147483648.5 << lowest << -32768;
    QTest::newRow("infinity") << infinity << highest << 32767;
    QTest::newRow("minus infinity") << -infinity << lowest << -32768;
    QTest::newRow("NaN") << notANumber << 0 << 0;
}

void TestNumbers::roundToInteger()
{
    QFETCH(double, value);
    QFETCH(int, int32);
    QFETCH(int, int16);
    QCOMPARE(::roundToInt32(value), int32);
    QCOMPARE(int(::roundToInt16(value)), int16);
}

void TestNumbers::voltageText_data()
{
    QTest::addColumn<double>("volts");
    QTest::addColumn<QString>("expected");

    QTest::newRow("zero") << 0.0 << "0.00000000000000";
    QTest::newRow("negative zero has no sign") << -0.0 << "0.00000000000000";
    QTest::newRow("code FFFF at 5 V") << 65535 * 5 / 65536.0 << "4.99992370605469";
    QTest::newRow("exact tie goes away from zero") << 0.000152587890625 << "0.00015258789063";
    QTest::newRow("negative tie goes away from zero") << -0.000152587890625 << "-0.00015258789063";
    QTest::newRow("exact binary value, not its shortest text")
            << 0.123456789012345 << "0.12345678901234";
    QTest::newRow("binary error shows in large values") << 12345.678 << "12345.67799999999988";
    QTest::newRow("carry into the units") << std::nextafter(1.0, 0.0) << "1.00000000000000";
    QTest::newRow("carry into a new digit") << std::nextafter(10.0, 0.0) << "10.00000000000000";
    QTest::newRow("smallest that shows") << 1.5e-14 << "0.00000000000001";
    QTest::newRow("negative, rounds to zero") << -5e-15 << "0.00000000000000";
    QTest::newRow("no grouping") << 1e20 << "100000000000000000000.00000000000000";
    QTest::newRow("largest double")
            << std::numeric_limits<double>::max()
            << "17976931348623157081452742373170435679807056752584499659891747680315726078002853"
               "87605895586327668781715404589535143824642343213268894641827684675467035375169860"
               "49910576551282076245490090389328944075868508455133942304583236903222948165808559"
               "332123348274797826204144723168738177180919299881250404026184124858368."
               "00000000000000";
    QTest::newRow("infinity") << infinity << "Overflow";
    QTest::newRow("minus infinity") << -infinity << "-Overflow";
    QTest::newRow("NaN") << notANumber << "Overflow";
}

void TestNumbers::voltageText()
{
    QFETCH(double, volts);
    QFETCH(QString, expected);
    QCOMPARE(::voltageText(volts), expected);
}

void TestNumbers::hexText_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("expected");

    QTest::newRow("zero") << 0 << "0";
    QTest::newRow("upper case, no leading zeros") << 255 << "FF";
    QTest::newRow("highest code") << 65535 << "FFFF";
    QTest::newRow("beyond 16 bits") << 65536 << "10000";
    QTest::newRow("-1 as two's complement") << -1 << "FFFFFFFF";
    QTest::newRow("lowest") << lowest << "80000000";
}

void TestNumbers::hexText()
{
    QFETCH(int, code);
    QFETCH(QString, expected);
    QCOMPARE(::hexText(code), expected);
}

void TestNumbers::writtenVoltageReadsBackAsTheSameCode_data()
{
    QTest::addColumn<QString>("vref");

    QTest::newRow("5 V") << "5";
    QTest::newRow("3.3 V") << "3.3";
    QTest::newRow("1 mV") << "0.001";
    QTest::newRow("1 kV") << "1000";
    QTest::newRow("1e308 V, hundreds of digits") << "1e308";
}

// Every code typed into hexText, then a key going up in voltageText: the code must not move.
void TestNumbers::writtenVoltageReadsBackAsTheSameCode()
{
    QFETCH(QString, vref);

    for (int code = 0; code <= highestCode; ++code) {
        const HexEntryResult fromHex = convertHexEntry(QString::number(code, 16), vref);
        const std::optional<VoltageEntryResult> back
                = convertVoltageEntry(fromHex.voltageText, vref);
        if (fromHex.code != code || !back || back->code != code)
            QFAIL(qPrintable(
                    QStringLiteral("code %1 through %2").arg(code).arg(fromHex.voltageText)));
    }
}

QTEST_GUILESS_MAIN(TestNumbers)
#include "tst_numbers.moc"
