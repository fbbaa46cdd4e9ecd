#include "digitcell.h"

#include <QImage>
#include <QTest>

#include <limits>

namespace {

const QColor windowBlue(0, 0, 192);
const QColor fullRed(255, 0, 0);

int pixelsOf(const QImage &image, const QColor &colour, const QRect &area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            count += image.pixelColor(x, y) == colour;
    }
    return count;
}

QImage picture(QWidget &widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestDigitCell final : public QObject
{
    Q_OBJECT

private slots:
    void valueReadsBackExactly_data();
    void valueReadsBackExactly();
    void segmentColourIsDrawn_data();
    void segmentColourIsDrawn();
    void minusOneIsLegibleInOneDigit();
    void digitsFor_data();
    void digitsFor();
    void showsWhatDigitsForGives_data();
    void showsWhatDigitsForGives();
};

void TestDigitCell::valueReadsBackExactly_data()
{
    QTest::addColumn<int>("digits");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("shownIn"); // the positions the cell widens to

    QTest::newRow("bit 1") << 1 << 1.0 << 1;
    QTest::newRow("bit of a negative value") << 1 << -1.0 << 1;
    QTest::newRow("a fraction in one digit") << 1 << 0.5 << 1;
    QTest::newRow("two digits into one") << 1 << 12.0 << 2;
    QTest::newRow("code 4095 at 5 V") << 6 << 4.998779296875 << 6;
    QTest::newRow("negative volts") << 6 << -79.998779296875 << 6;
    QTest::newRow("huge") << 6 << 1e300 << 6;
    QTest::newRow("smallest step") << 6 << std::numeric_limits<double>::denorm_min() << 6;
}

void TestDigitCell::valueReadsBackExactly()
{
    QFETCH(int, digits);
    QFETCH(double, value);
    QFETCH(int, shownIn);

    DigitCell cell(digits);
    QCOMPARE(cell.value(), 0.0);
    QCOMPARE(cell.segmentColor(), 160);
    QVERIFY(cell.setProperty("Value", value));
    QCOMPARE(cell.value(), value);
    QCOMPARE(cell.property("Value").toDouble(), value);
    QCOMPARE(cell.digitCount(), shownIn);
    // The next value that fits takes the cell back to its own width.
    cell.setValue(0);
    QCOMPARE(cell.digitCount(), digits);
}

void TestDigitCell::segmentColourIsDrawn_data()
{
    QTest::addColumn<int>("segmentColour"); // red + 256 green + 65536 blue
    QTest::addColumn<QColor>("drawn");

    QTest::newRow("lit: full red") << 255 << fullRed;
    QTest::newRow("dim: dark red") << 160 << QColor(160, 0, 0);
    QTest::newRow("green byte") << 0x00FF00 << QColor(0, 255, 0);
    QTest::newRow("three bytes") << 0x123456 << QColor(0x56, 0x34, 0x12);
}

void TestDigitCell::segmentColourIsDrawn()
{
    QFETCH(int, segmentColour);
    QFETCH(QColor, drawn);

    DigitCell cell(1);
    cell.resize(19, 33);
    cell.setValue(8); // every segment
    cell.setSegmentColor(segmentColour == 255 ? 160 : 255);
    QVERIFY(cell.setProperty("SegmentColor", segmentColour));
    QCOMPARE(cell.segmentColor(), segmentColour);
    QCOMPARE(cell.property("SegmentColor").toInt(), segmentColour);

    const QImage image = picture(cell);
    // Seven segments of a 19 x 33 cell are well over 60 pixels.
    QVERIFY(pixelsOf(image, drawn, image.rect()) > 60);
    const QColor earlier = segmentColour == 255 ? QColor(160, 0, 0) : fullRed;
    QCOMPARE(pixelsOf(image, earlier, image.rect()), 0);
    QCOMPARE(image.pixelColor(0, 0), windowBlue);
}

void TestDigitCell::minusOneIsLegibleInOneDigit()
{
    DigitCell cell(1);
    cell.resize(19, 33);
    cell.setSegmentColor(255);
    // The left half at mid-height: where a 1 has no segment and a sign stands.
    const QRect signArea(1, 12, 8, 9);
    cell.setValue(1);
    const QImage one = picture(cell);
    cell.setValue(-1);
    const QImage minusOne = picture(cell);

    QCOMPARE(cell.digitCount(), 1);
    QCOMPARE(pixelsOf(one, fullRed, signArea), 0);
    QVERIFY(pixelsOf(minusOne, fullRed, signArea) >= 4);
    // The digit 1 stays whole beside the sign.
    const QRect digitArea(10, 0, 9, 33);
    QCOMPARE(minusOne.copy(digitArea), one.copy(digitArea));
}

void TestDigitCell::digitsFor_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("digits");
    QTest::addColumn<QString>("shown");

    const double infinity = std::numeric_limits<double>::infinity();
    QTest::newRow("bit 1") << 1.0 << 1 << "1";
    QTest::newRow("two digits into one: shorter fixed") << 12.0 << 1 << "12";
    QTest::newRow("code 2048 at 5 V") << 2.5 << 6 << "2.50000";
    QTest::newRow("code 4095 at 5 V") << 4.998779296875 << 6 << "4.99878";
    QTest::newRow("code 65535 at 5 V") << 79.998779296875 << 6 << "79.9988";
    QTest::newRow("code 0") << 0.0 << 6 << "0.00000";
    QTest::newRow("negative: the sign takes a place") << -79.998779296875 << 6 << "-79.999";
    QTest::newRow("rounding carries into a new digit") << 9.9999999 << 6 << "10.0000";
    QTest::newRow("six whole digits") << 123456.0 << 6 << "123456";
    QTest::newRow("too wide: exponent form") << 65535.0 / 4096 * 99999 << 6 << "1.600E6";
    QTest::newRow("negative, too wide") << -123456.0 << 6 << "-1.23E5";
    QTest::newRow("three-digit exponent") << 65535.0 / 4096 * 9e99 << 6 << "1.4E101";
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 6 << "------";
    QTest::newRow("infinite") << infinity << 6 << "------";
    QTest::newRow("infinite in one digit") << -infinity << 1 << "-";
}

void TestDigitCell::digitsFor()
{
    QFETCH(double, value);
    QFETCH(int, digits);
    QFETCH(QString, shown);

    QCOMPARE(DigitCell::digitsFor(value, digits), shown);
}

void TestDigitCell::showsWhatDigitsForGives_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("shown");

    QTest::newRow("code 4095 at 5 V") << 4.998779296875 << "4.99878";
    QTest::newRow("negative") << -2.5 << "-2.5000";
    QTest::newRow("exponent form") << 1e300 << "1.0E300";
}

void TestDigitCell::showsWhatDigitsForGives()
{
    QFETCH(double, value);
    QFETCH(QString, shown);

    DigitCell cell(6);
    cell.resize(121, 33);
    cell.setSegmentColor(255);
    cell.setValue(value);

    // The plain display showing the expected text is the picture the cell must give.
    QLCDNumber reference(6);
    reference.resize(121, 33);
    reference.setSegmentStyle(QLCDNumber::Flat);
    reference.setFrameShape(QFrame::NoFrame);
    reference.setSmallDecimalPoint(true);
    reference.setAutoFillBackground(true);
    QPalette colours = reference.palette();
    colours.setColor(QPalette::Window, windowBlue);
    colours.setColor(QPalette::WindowText, fullRed);
    reference.setPalette(colours);
    reference.display(shown);

    QCOMPARE(cell.digitCount(), 6);
    QCOMPARE(picture(cell), picture(reference));
}

QTEST_MAIN(TestDigitCell)
#include "tst_digitcell.moc"
