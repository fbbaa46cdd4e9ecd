#include "numberreading.h"

#include <QLocale>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// QCOMPARE on doubles is fuzzy; these readings must be exact, sign of zero included.
bool identical(double a, double b)
{
    return a == b && std::signbit(a) == std::signbit(b);
}

} // namespace

class TestNumberReading final : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::system()); }

    void parseNumberStart_data();
    void parseNumberStart();
    void parseWholeNumber_data();
    void parseWholeNumber();
    void parseWholeNumberInLocale_data();
    void parseWholeNumberInLocale();
};

void TestNumberReading::parseNumberStart_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    QTest::newRow("hex lower-case prefix") << "&h12" << 18.0;
    QTest::newRow("hex upper-case prefix") << "&H12" << 18.0;
    QTest::newRow("hex lower-case digits") << "&hff" << 255.0;
    QTest::newRow("hex 7FFF is the largest positive 16-bit") << "&h7FFF" << 32767.0;
    QTest::newRow("hex 8000 reads negative") << "&h8000" << -32768.0;
    QTest::newRow("hex FFFF reads -1") << "&hFFFF" << -1.0;
    QTest::newRow("hex five digits are 32-bit") << "&h0FFFF" << 65535.0;
    QTest::newRow("hex second prefix") << "&h10FFFF" << 1114111.0;
    QTest::newRow("hex eight digits, largest") << "&h7FFFFFFF" << 2147483647.0;
    QTest::newRow("hex eight digits, negative") << "&h80000000" << -2147483648.0;
    QTest::newRow("hex eight digits, -1") << "&hFFFFFFFF" << -1.0;
    QTest::newRow("hex nine digits keep the last eight") << "&h123456789" << 591751049.0;
    QTest::newRow("hex stops at a non-digit") << "&h12G4" << 18.0;
    QTest::newRow("hex without digits") << "&h" << 0.0;
    QTest::newRow("hex starting with junk") << "&hG1" << 0.0;
    QTest::newRow("hex has no sign") << "&h-1" << 0.0;
    QTest::newRow("hex with blanks inside the prefix") << " & h 1 2" << 18.0;
    QTest::newRow("ampersand alone") << "&" << 0.0;

    QTest::newRow("whole number") << "5" << 5.0;
    QTest::newRow("minus") << "-5" << -5.0;
    QTest::newRow("plus") << "+5" << 5.0;
    QTest::newRow("no digits before the point") << ".5" << 0.5;
    QTest::newRow("no digits after the point") << "5." << 5.0;
    QTest::newRow("minus and no integer digits") << "-.5" << -0.5;
    QTest::newRow("second point ends it") << "1.2.3" << 1.2;
    QTest::newRow("unit after the number") << "5V" << 5.0;
    QTest::newRow("comma ends it") << "1,5" << 1.0;
    QTest::newRow("blanks anywhere") << " - 1 . 5 " << -1.5;
    QTest::newRow("tabs, line feeds, returns") << "1\t2\n3\r4" << 1234.0;
    QTest::newRow("exponent") << "2.5e3" << 2500.0;
    QTest::newRow("upper-case exponent, minus") << "2.5E-3" << 0.0025;
    QTest::newRow("exponent with plus") << "1e+2" << 100.0;
    QTest::newRow("point then exponent") << "1.e2" << 100.0;
    QTest::newRow("e without digits") << "1e" << 1.0;
    QTest::newRow("e and sign without digits") << "1e+" << 1.0;
    QTest::newRow("e followed by junk") << "3eV" << 3.0;
    QTest::newRow("exponent has no point") << "1.5e2.5" << 150.0;
    QTest::newRow("exponent alone") << "e5" << 0.0;
    QTest::newRow("point then exponent, no digits") << ".e5" << 0.0;
    QTest::newRow("point alone") << "." << 0.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("two signs") << "--1" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("C hex notation") << "0x10" << 0.0;
    QTest::newRow("leading and trailing zeros") << "00012.500" << 12.5;
    QTest::newRow("minus zero reads zero") << "-0" << 0.0;
    QTest::newRow("decimal nearest to 3.3") << "3.3" << 3.3;
    QTest::newRow("decimal nearest to 0.1") << "0.1" << 0.1;
    QTest::newRow("wide digit is not a digit") << QString::fromUtf8("\xef\xbc\x91") << 0.0;
    QTest::newRow("non-ASCII after the number") << QString::fromUtf8("2\xc2\xa0V") << 2.0;
    QTest::newRow("many zeros balanced by the exponent")
            << "1" + QString(400, '0') + "e-400" << 1.0;
    QTest::newRow("many fraction digits") << "0." + QString(400, '0') + "25e401" << 2.5;

    QTest::newRow("largest double")
            << "1.7976931348623157e308" << std::numeric_limits<double>::max();
    QTest::newRow("smallest double")
            << "4.9406564584124654e-324" << std::numeric_limits<double>::denorm_min();
    QTest::newRow("beyond the largest") << "1.8e308" << infinity;
    QTest::newRow("far beyond the largest") << "1e400" << infinity;
    QTest::newRow("far beyond, negative") << "-1e400" << -infinity;
    QTest::newRow("digits beyond the largest") << "1" + QString(400, '0') << infinity;
    QTest::newRow("exponent too long for any integer") << "1e99999999999999999999999" << infinity;
    QTest::newRow("below the smallest") << "2e-324" << 0.0;
    QTest::newRow("far below the smallest, negative") << "-1e-400" << 0.0;
    QTest::newRow("negative exponent too long for any integer")
            << "1e-99999999999999999999999" << 0.0;
}

void TestNumberReading::parseNumberStart()
{
    QFETCH(QString, text);
    QFETCH(double, expected);

    const double actual = ParseNumberStart(text);
    QVERIFY2(identical(actual, expected),
             qPrintable(QString::number(actual, 'g', 17)
                        + " != " + QString::number(expected, 'g', 17)));
}

void TestNumberReading::parseWholeNumber_data()
{
    // Rows that hold in every locale: the test also runs with a comma locale as the system's.
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("expected");

    QTest::newRow("whole number") << "5" << true << 5.0;
    QTest::newRow("point notation") << "2.5" << true << 2.5;
    QTest::newRow("what the program writes") << "2.50000000000000" << true << 2.5;
    QTest::newRow("negative") << "-3.3" << true << -3.3;
    QTest::newRow("plus") << "+3" << true << 3.0;
    QTest::newRow("exponent") << "1e3" << true << 1000.0;
    QTest::newRow("blanks aside") << "  5  " << true << 5.0;
    QTest::newRow("zero") << "0" << true << 0.0;
    QTest::newRow("smallest double")
            << "4.9406564584124654e-324" << true << std::numeric_limits<double>::denorm_min();
    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("blanks only") << "   " << false << 0.0;
    QTest::newRow("letters") << "abc" << false << 0.0;
    QTest::newRow("unit after the number") << "5V" << false << 0.0;
    QTest::newRow("two points") << "1.2.3" << false << 0.0;
    QTest::newRow("blank inside") << "1 5" << false << 0.0;
    QTest::newRow("hex prefix") << "&h10" << false << 0.0;
    QTest::newRow("beyond the largest double") << "1e400" << false << 0.0;
    QTest::newRow("infinity word") << "inf" << false << 0.0;
    QTest::newRow("not-a-number word") << "nan" << false << 0.0;
}

void TestNumberReading::parseWholeNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(double, expected);

    const std::optional<double> actual = ParseWholeNumber(text);
    QCOMPARE(actual.has_value(), valid);
    if (valid)
        QVERIFY2(*actual == expected, qPrintable(QString::number(*actual, 'g', 17)));
}

void TestNumberReading::parseWholeNumberInLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("expected");

    QTest::newRow("German comma") << "de_DE"
                                  << "2,5" << true << 2.5;
    QTest::newRow("German, point still read") << "de_DE"
                                              << "2.5" << true << 2.5;
    QTest::newRow("German negative") << "de_DE"
                                     << "-1,25" << true << -1.25;
    QTest::newRow("German grouping") << "de_DE"
                                     << "1.000,5" << true << 1000.5;
    QTest::newRow("German, point notation wins") << "de_DE"
                                                 << "1.000" << true << 1.0;
    QTest::newRow("German exponent") << "de_DE"
                                     << "2,5e3" << true << 2500.0;
    QTest::newRow("German, blanks aside") << "de_DE"
                                          << " 2,5 " << true << 2.5;
    QTest::newRow("German, unit after") << "de_DE"
                                        << "2,5V" << false << 0.0;
    QTest::newRow("German, two commas") << "de_DE"
                                        << "2,,5" << false << 0.0;
    QTest::newRow("German, beyond the largest") << "de_DE"
                                                << "1,0e400" << false << 0.0;
    QTest::newRow("English grouping") << "en_US"
                                      << "1,000.5" << true << 1000.5;
    QTest::newRow("English, comma is no decimal point") << "en_US"
                                                        << "2,5" << false << 0.0;
    QTest::newRow("C, comma is no decimal point") << "C"
                                                  << "2,5" << false << 0.0;
}

void TestNumberReading::parseWholeNumberInLocale()
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

QTEST_GUILESS_MAIN(TestNumberReading)
#include "tst_numberreading.moc"
