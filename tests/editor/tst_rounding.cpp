#include "rounding.h"

#include <QTest>

#include <cfenv>
#include <cmath>
#include <limits>

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

} // namespace

class TestRounding final : public QObject
{
    Q_OBJECT

private slots:
    void roundHalfEven_data();
    void roundHalfEven();
    void roundHalfEvenInEveryRoundingMode_data();
    void roundHalfEvenInEveryRoundingMode();
    void roundToInt32_data();
    void roundToInt32();
    void roundToInt16_data();
    void roundToInt16();
};

void TestRounding::roundHalfEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("expected");

    QTest::newRow("2.5 to even below") << 2.5 << 2.0;
    QTest::newRow("3.5 to even above") << 3.5 << 4.0;
    QTest::newRow("0.5 to zero") << 0.5 << 0.0;
    QTest::newRow("1.5 to two") << 1.5 << 2.0;
    QTest::newRow("-2.5 to even") << -2.5 << -2.0;
    QTest::newRow("-3.5 to even") << -3.5 << -4.0;
    QTest::newRow("32767.5 to even above") << 32767.5 << 32768.0;
    QTest::newRow("below a tie") << 65534.69 << 65535.0;
    QTest::newRow("above a whole number") << 19859.39 << 19859.0;
    QTest::newRow("just below one half") << 0.49999999999999994 << 0.0;
    QTest::newRow("just below 2.5") << 2.4999999999999996 << 2.0;
    QTest::newRow("just above 2.5") << 2.5000000000000004 << 3.0;
    QTest::newRow("tie at the last fraction bit") << 4503599627370495.5 << 4503599627370496.0;
    QTest::newRow("whole beyond 2^52") << 4503599627370497.0 << 4503599627370497.0;
    QTest::newRow("huge") << 1e300 << 1e300;
    QTest::newRow("infinity") << infinity << infinity;
    QTest::newRow("minus infinity") << -infinity << -infinity;
}

void TestRounding::roundHalfEven()
{
    QFETCH(double, value);
    QFETCH(double, expected);
    QVERIFY2(::roundHalfEven(value) == expected,
             qPrintable(QString::number(::roundHalfEven(value), 'g', 17)));
}

void TestRounding::roundHalfEvenInEveryRoundingMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("expected");

    const struct
    {
        const char *name;
        int mode;
    } modes[] = {{"upward", FE_UPWARD}, {"downward", FE_DOWNWARD}, {"toward zero", FE_TOWARDZERO}};
    for (const auto &m : modes) {
        QTest::addRow("%s, 2.5", m.name) << m.mode << 2.5 << 2.0;
        QTest::addRow("%s, 3.5", m.name) << m.mode << 3.5 << 4.0;
        QTest::addRow("%s, -2.5", m.name) << m.mode << -2.5 << -2.0;
        QTest::addRow("%s, 2.6", m.name) << m.mode << 2.6 << 3.0;
        QTest::addRow("%s, -2.6", m.name) << m.mode << -2.6 << -3.0;
        QTest::addRow("%s, just below one half", m.name) << m.mode << 0.49999999999999994 << 0.0;
    }
}

void TestRounding::roundHalfEvenInEveryRoundingMode()
{
    QFETCH(int, mode);
    QFETCH(double, value);
    QFETCH(double, expected);

    const int saved = std::fegetround();
    QVERIFY(std::fesetround(mode) == 0);
    const double actual = ::roundHalfEven(value);
    std::fesetround(saved);
    QVERIFY2(actual == expected, qPrintable(QString::number(actual, 'g', 17)));
}

void TestRounding::roundToInt32_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");

    constexpr int highest = std::numeric_limits<std::int32_t>::max();
    constexpr int lowest = std::numeric_limits<std::int32_t>::lowest();
    QTest::newRow("tie to even") << 32767.5 << 32768;
    QTest::newRow("negative tie") << -1.5 << -2;
    QTest::newRow("largest") << 2147483647.0 << highest;
    QTest::newRow("rounds below the largest") << 2147483647.4 << highest;
    QTest::newRow("rounds beyond the largest") << 2147483647.5 << highest;
    QTest::newRow("far beyond") << 1e10 << highest;
    QTest::newRow("lowest") << -2147483648.0 << lowest;
    QTest::newRow("tie at the lowest") << -2147483648.5 << lowest;
    QTest::newRow("beyond the lowest") << -2147483649.0 << lowest;
    QTest::newRow("far below") << -1e10 << lowest;
    QTest::newRow("infinity") << infinity << highest;
    QTest::newRow("minus infinity") << -infinity << lowest;
    QTest::newRow("NaN") << notANumber << 0;
}

void TestRounding::roundToInt32()
{
    QFETCH(double, value);
    QFETCH(int, expected);
    QCOMPARE(::roundToInt32(value), expected);
}

void TestRounding::roundToInt16_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");

    QTest::newRow("digit sum") << 7.0 << 7;
    QTest::newRow("tie to even") << 32766.5 << 32766;
    QTest::newRow("tie beyond the largest") << 32767.5 << 32767;
    QTest::newRow("beyond the largest") << 40000.0 << 32767;
    QTest::newRow("tie at the lowest") << -32768.5 << -32768;
    QTest::newRow("beyond the lowest") << -40000.0 << -32768;
    QTest::newRow("infinity") << infinity << 32767;
    QTest::newRow("NaN") << notANumber << 0;
}

void TestRounding::roundToInt16()
{
    QFETCH(double, value);
    QFETCH(int, expected);
    QCOMPARE(int(::roundToInt16(value)), expected);
}

QTEST_APPLESS_MAIN(TestRounding)
#include "tst_rounding.moc"
