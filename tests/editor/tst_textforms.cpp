#include "textforms.h"

#include <QTest>

#include <cmath>
#include <limits>

class TestTextForms final : public QObject
{
    Q_OBJECT

private slots:
    void voltageText_data();
    void voltageText();
    void hexText_data();
    void hexText();
};

void TestTextForms::voltageText_data()
{
    QTest::addColumn<double>("volts");
    QTest::addColumn<QString>("expected");

    QTest::newRow("zero") << 0.0 << "0.00000000000000";
    QTest::newRow("negative zero has no sign") << -0.0 << "0.00000000000000";
    QTest::newRow("code 8000 at 5 V") << 32768 * 5 / 65536.0 << "2.50000000000000";
    QTest::newRow("code FFFF at 5 V") << 65535 * 5 / 65536.0 << "4.99992370605469";
    QTest::newRow("code 7FFF at 5 V") << 32767 * 5 / 65536.0 << "2.49992370605469";
    QTest::newRow("code 1 at 5 V") << 1 * 5 / 65536.0 << "0.00007629394531";
    QTest::newRow("exact tie goes away from zero") << 0.000152587890625 << "0.00015258789063";
    QTest::newRow("negative tie goes away from zero") << -0.000152587890625 << "-0.00015258789063";
    QTest::newRow("exact binary value below the decimal text")
            << 0.123456789012345 << "0.12345678901234";
    QTest::newRow("binary error shows in large values") << 12345.678 << "12345.67799999999988";
    QTest::newRow("two thirds") << 2.0 / 3 << "0.66666666666667";
    QTest::newRow("carry into the units") << std::nextafter(1.0, 0.0) << "1.00000000000000";
    QTest::newRow("carry into a new digit") << std::nextafter(10.0, 0.0) << "10.00000000000000";
    QTest::newRow("smallest that shows") << 1.5e-14 << "0.00000000000001";
    QTest::newRow("negative smallest that shows") << -1.5e-14 << "-0.00000000000001";
    QTest::newRow("negative, rounds to zero") << -5e-15 << "0.00000000000000";
    QTest::newRow("smallest double")
            << std::numeric_limits<double>::denorm_min() << "0.00000000000000";
    QTest::newRow("negative") << -2.5 << "-2.50000000000000";
    QTest::newRow("no grouping") << 1e20 << "100000000000000000000.00000000000000";
    QTest::newRow("largest double")
            << std::numeric_limits<double>::max()
            << "17976931348623157081452742373170435679807056752584499659891747680315726078002853876"
               "058"
               "95586327668781715404589535143824642343213268894641827684675467035375169860499105765"
               "512"
               "82076245490090389328944075868508455133942304583236903222948165808559332123348274797"
               "826"
               "204144723168738177180919299881250404026184124858368.00000000000000";
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << "Overflow";
    QTest::newRow("minus infinity") << -std::numeric_limits<double>::infinity() << "-Overflow";
    QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << "Overflow";
    QTest::newRow("negative NaN") << -std::numeric_limits<double>::quiet_NaN() << "Overflow";
}

void TestTextForms::voltageText()
{
    QFETCH(double, volts);
    QFETCH(QString, expected);
    QCOMPARE(::voltageText(volts), expected);
}

void TestTextForms::hexText_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("expected");

    QTest::newRow("zero") << 0 << "0";
    QTest::newRow("one digit") << 1 << "1";
    QTest::newRow("upper case, no leading zeros") << 255 << "FF";
    QTest::newRow("reference 3.3, 1 V") << 19859 << "4D93";
    QTest::newRow("highest code") << 65535 << "FFFF";
    QTest::newRow("beyond 16 bits") << 65536 << "10000";
    QTest::newRow("largest") << std::numeric_limits<std::int32_t>::max() << "7FFFFFFF";
    QTest::newRow("-1 as two's complement") << -1 << "FFFFFFFF";
    QTest::newRow("lowest") << std::numeric_limits<std::int32_t>::lowest() << "80000000";
}

void TestTextForms::hexText()
{
    QFETCH(int, code);
    QFETCH(QString, expected);
    QCOMPARE(::hexText(code), expected);
}

QTEST_GUILESS_MAIN(TestTextForms)
#include "tst_textforms.moc"
