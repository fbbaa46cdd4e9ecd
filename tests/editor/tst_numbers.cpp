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

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr int highest = std::numeric_limits<std::int32_t>::max();
constexpr int lowest = std::numeric_limits<std::int32_t>::lowest();

// Exact, sign of zero and NaN included: QCOMPARE on doubles is fuzzy.
bool same(double a, double b)
{
    return (a == b && std::signbit(a) == std::signbit(b)) || (std::isnan(a) && std::isnan(b));
}

} // namespace

// Reading, rounding and writing the numbers of the code boxes, and the code a box's text gives.
class TestNumbers final : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::system()); }

    void parseNumberStart_data();
    void parseNumberStart();
    void parseWholeNumber_data();
    void parseWholeNumber();
    void rounding_data();
    void rounding();
    void textForms_data();
    void textForms();
    void codeEntry_data();
    void codeEntry();
    void writtenVoltageReadsBackAsTheSameCode_data();
    void writtenVoltageReadsBackAsTheSameCode();
};

void TestNumbers::parseNumberStart_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    const std::pair<const char *, double> rows[]
            = {{"&Hff", 255},
               {"&h7FFF", 32767},
               {"&h8000", -32768},
               {"&h0FFFF", 65535},
               {"&h10FFFF", 1114111},
               {"&h80000000", -2147483648.0},
               {"&h123456789", 591751049},
               {"&h12G4", 18},
               {"&hG1", 0},
               {"&h-1", 0},
               {" & h 1 2", 18},
               {"+5", 5},
               {".5", 0.5},
               {"5.", 5},
               {"1.2.3", 1.2},
               {"5V", 5},
               {"1,5", 1},
               {" - 1\t2\n3\r. 5 ", -123.5},
               {"2.5E-3", 0.0025},
               {"1.e+2", 100},
               {"1e+", 1},
               {"1.5e2.5", 150},
               {"e5", 0},
               {".", 0},
               {"--1", 0},
               {"-0", 0},
               {"3.3", 3.3},
               {"1.7976931348623157e308", 1.7976931348623157e308},
               {"4.9406564584124654e-324", 4.9406564584124654e-324},
               {"1.8e308", inf},
               {"-1e400", -inf},
               {"1e99999999999999999999999", inf},
               {"-2e-324", 0},
               {"1e-99999999999999999999999", 0}};
    for (const auto &[text, expected] : rows)
        QTest::newRow(text) << QString(text) << expected;
    QTest::newRow("empty") << QString() << 0.0;
    QTest::newRow("wide digit") << QString::fromUtf8("\xef\xbc\x91") << 0.0;
    QTest::newRow("400 zeros, e-400") << "1" + QString(400, u'0') + "e-400" << 1.0;
}

void TestNumbers::parseNumberStart()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    const double actual = ParseNumberStart(text);
    QVERIFY2(same(actual, expected), qPrintable(QString::number(actual, 'g', 17)));
}

void TestNumbers::parseWholeNumber_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected"); // NaN: no number

    const struct
    {
        const char *locale, *text;
        double expected;
    } rows[] = {{"C", "-2.5", -2.5},           {"C", "  1e3 ", 1000},
                {"C", "", notANumber},         {"C", "   ", notANumber},
                {"C", "abc", notANumber},      {"C", "5V", notANumber},
                {"C", "1 5", notANumber},      {"C", "&h10", notANumber},
                {"C", "1e400", notANumber},    {"C", "inf", notANumber},
                {"C", "nan", notANumber},      {"C", "2,5", notANumber},
                {"de_DE", "-1,25", -1.25},     {"de_DE", "2.50000000000000", 2.5},
                {"de_DE", "1.000,5", 1000.5},  {"de_DE", "1.000", 1},
                {"de_DE", "2,5V", notANumber}, {"de_DE", "1,0e400", notANumber},
                {"en_US", "2,5", notANumber}};
    for (const auto &[locale, text, expected] : rows)
        QTest::addRow("%s \"%s\"", locale, text) << QString(locale) << QString(text) << expected;
}

void TestNumbers::parseWholeNumber()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(double, expected);

    QLocale::setDefault(QLocale(locale));
    const std::optional<double> actual = ParseWholeNumber(text);
    QCOMPARE(actual.has_value(), !std::isnan(expected));
    if (actual)
        QVERIFY2(same(*actual, expected), qPrintable(QString::number(*actual, 'g', 17)));
}

void TestNumbers::rounding_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("even");
    QTest::addColumn<int>("int32");
    QTest::addColumn<int>("int16");

    const struct
    {
        double value, even;
        int int32, int16;
    } rows[] = {{2.5, 2, 2, 2},
                {3.5, 4, 4, 4},
                {0.5, 0, 0, 0},
                {-2.5, -2, -2, -2},
                {-3.5, -4, -4, -4},
                {-2.6, -3, -3, -3},
                {32766.5, 32766, 32766, 32766},
                {32767.5, 32768, 32768, 32767},
                {-32768.5, -32768, -32768, -32768},
                {0.49999999999999994, 0, 0, 0},
                {2.5000000000000004, 3, 3, 3},
                {4503599627370495.5, 4503599627370496, highest, 32767},
                {4503599627370497.0, 4503599627370497, highest, 32767},
                {2147483647.5, 2147483648, highest, 32767},
                {-2147483648.5, -2147483648.0, lowest, -32768},
                {inf, inf, highest, 32767},
                {-inf, -inf, lowest, -32768},
                {notANumber, notANumber, 0, 0}};
    for (const auto &[value, even, int32, int16] : rows)
        QTest::addRow("%.17g", value) << value << even << int32 << int16;
}

// Ties to even in every floating-point rounding mode, then limited to the type.
void TestNumbers::rounding()
{
    QFETCH(double, value);
    QFETCH(double, even);

    const int saved = std::fegetround();
    for (const int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        QVERIFY(std::fesetround(mode) == 0);
        const double actual = roundHalfEven(value);
        std::fesetround(saved);
        QVERIFY2(actual == even || (std::isnan(actual) && std::isnan(even)),
                 qPrintable(QString::number(actual, 'g', 17)));
    }
    QTEST(int(roundToInt32(value)), "int32");
    QTEST(int(roundToInt16(value)), "int16");
}

void TestNumbers::textForms_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");

    const auto volts = [](const char *name, double value, const char *text) {
        QTest::newRow(name) << false << value << QString(text);
    };
    volts("zero", 0, "0.00000000000000");
    volts("negative zero has no sign", -0.0, "0.00000000000000");
    volts("code FFFF at 5 V", 65535 * 5 / 65536.0, "4.99992370605469");
    volts("code 2 at 5 V: tie away from zero", 0.000152587890625, "0.00015258789063");
    volts("negative tie", -0.000152587890625, "-0.00015258789063");
    volts("exact binary value", 0.123456789012345, "0.12345678901234");
    volts("binary error in large values", 12345.678, "12345.67799999999988");
    volts("carry into the units", std::nextafter(1.0, 0.0), "1.00000000000000");
    volts("carry into a new digit", std::nextafter(10.0, 0.0), "10.00000000000000");
    volts("smallest that shows", 1.5e-14, "0.00000000000001");
    volts("negative, rounds to zero", -5e-15, "0.00000000000000");
    volts("no grouping", 1e20, "100000000000000000000.00000000000000");
    volts("largest double", std::numeric_limits<double>::max(),
          "17976931348623157081452742373170435679807056752584499659891747680315726078002853"
          "87605895586327668781715404589535143824642343213268894641827684675467035375169860"
          "49910576551282076245490090389328944075868508455133942304583236903222948165808559"
          "332123348274797826204144723168738177180919299881250404026184124858368.00000000000000");
    volts("infinity", inf, "Overflow");
    volts("minus infinity", -inf, "-Overflow");
    volts("NaN", notANumber, "Overflow");
    for (const auto &[code, text] : {std::pair {0, "0"},
                                     {255, "FF"},
                                     {65535, "FFFF"},
                                     {65536, "10000"},
                                     {-1, "FFFFFFFF"},
                                     {lowest, "80000000"}})
        QTest::addRow("hex %d", code) << true << double(code) << QString(text);
}

void TestNumbers::textForms()
{
    QFETCH(bool, hex);
    QFETCH(double, value);
    QTEST(hex ? hexText(std::int32_t(value)) : voltageText(value), "expected");
}

void TestNumbers::codeEntry_data()
{
    QTest::addColumn<bool>("fromHex");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("vref");
    QTest::addColumn<int>("code");      // -1: nothing is to change
    QTest::addColumn<QString>("other"); // the text for the other box

    const struct
    {
        const char *typed, *vref;
        int code;
        const char *volts;
    } hex[] = {{"8000", "5", 0x8000, "2.50000000000000"},
               {"FFFF", "5", 0xFFFF, "4.99992370605469"},
               {"1", "5", 1, "0.00007629394531"},
               {"", "5", 0, "0.00000000000000"},
               {"G1", "5", 0, "0.00000000000000"},
               {"12G4", "5", 0x12, "0.00137329101563"},
               {"1FFFF", "5", 0xFFFF, "4.99992370605469"},
               {"80000000", "5", 0, "0.00000000000000"},
               {"4D93", "3.3", 19859, "0.99998016357422"},
               {"8000", "0", 0x8000, "0.00000000000000"},
               {"FFFF", "", 0xFFFF, "0.00000000000000"},
               {"8000", "2,5", 0x8000, "1.25000000000000"},
               {"8000", "abc", 0x8000, "0.00000000000000"},
               {"8000", "5V", 0x8000, "2.50000000000000"},
               {"8000", "-5", 0x8000, "-2.50000000000000"},
               {"8000", "1e999", 0x8000, "Overflow"},
               {"8000", "-1e999", 0x8000, "-Overflow"},
               {"0", "1e999", 0, "0.00000000000000"}};
    for (const auto &[typed, vref, code, volts] : hex)
        QTest::addRow("&h%s at %s", typed, vref)
                << true << QString(typed) << QString(vref) << code << QString(volts);

    const struct
    {
        const char *typed, *vref;
        int code;
    } volts[] = {{"2.5", "5", 0x8000},    {"1.25", "5", 0x4000}, {"5", "5", 0xFFFF},
                 {"4.9999", "5", 0xFFFF}, {"-1", "5", 0},        {"abc", "5", 0},
                 {"1", "3.3", 19859},     {"2.5", "65536", 2},   {"3.5", "65536", 4},
                 {"1", "0", 0xFFFF},      {"-1", "0", 0xFFFF},   {"1", "2,5", 0x6666},
                 {"1", "", -1},           {"1", "5V", -1},       {"1", "abc", -1},
                 {"1", "-5", 0},          {"1", "-1e-300", 0},   {"1", "1e-300", 0xFFFF},
                 {"1e999", "5", 0xFFFF},  {"-1e999", "5", 0},    {"1e999", "-5", 0},
                 {"1e308", "5", 0xFFFF}};
    for (const auto &[typed, vref, code] : volts)
        QTest::addRow("%s V at %s", typed, vref) << false << QString(typed) << QString(vref) << code
                                                 << (code < 0 ? QString() : hexText(code));
}

// The user's notation has a decimal comma.
void TestNumbers::codeEntry()
{
    QFETCH(bool, fromHex);
    QFETCH(QString, typed);
    QFETCH(QString, vref);
    QFETCH(int, code);

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    if (fromHex) {
        const HexEntryResult result = convertHexEntry(typed, vref);
        QCOMPARE(result.code, code);
        QTEST(result.voltageText, "other");
        return;
    }
    const std::optional<VoltageEntryResult> result = convertVoltageEntry(typed, vref);
    QCOMPARE(result.has_value(), code >= 0);
    if (result) {
        QCOMPARE(result->code, code);
        QTEST(result->hexText, "other");
    }
}

void TestNumbers::writtenVoltageReadsBackAsTheSameCode_data()
{
    QTest::addColumn<QString>("vref");
    for (const char *vref : {"5", "3.3", "0.001", "1000", "1e308"})
        QTest::newRow(vref) << QString(vref);
}

// Every code typed as hex, then a key going up in the voltage box: the code must not move.
void TestNumbers::writtenVoltageReadsBackAsTheSameCode()
{
    QFETCH(QString, vref);
    for (int code = 0; code <= highestCode; ++code) {
        const HexEntryResult fromHex = convertHexEntry(QString::number(code, 16), vref);
        const auto back = convertVoltageEntry(fromHex.voltageText, vref);
        if (fromHex.code != code || !back || back->code != code)
            QFAIL(qPrintable(QStringLiteral("code %1 as %2").arg(code).arg(fromHex.voltageText)));
    }
}

QTEST_GUILESS_MAIN(TestNumbers)
#include "tst_numbers.moc"
