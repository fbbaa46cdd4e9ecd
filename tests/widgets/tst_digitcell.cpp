#include "digitcell.h"

#include <QImage>
#include <QTest>

#include <limits>

namespace {

const QColor windowBlue(0, 0, 192);
const QColor fullRed(255, 0, 0);

QImage picture(QWidget &widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int pixelsOf(const QImage &image, const QColor &colour, const QRect &area)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            count += image.pixelColor(x, y) == colour;
    }
    return count;
}

} // namespace

class TestDigitCell final : public QObject
{
    Q_OBJECT

private slots:
    void shows_data();
    void shows();
};

void TestDigitCell::shows_data()
{
    QTest::addColumn<int>("digits");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("shownIn");       // the positions the cell widens to
    QTest::addColumn<int>("segmentColour"); // red + 256 green + 65536 blue
    QTest::addColumn<QColor>("drawn");

    // As the bit cells of the command word: dim.
    for (int bit = 0; bit <= 9; ++bit)
        QTest::addRow("%d", bit) << 1 << double(bit) << QString::number(bit) << 1 << 160
                                 << QColor(160, 0, 0);
    QTest::newRow("three colour bytes")
            << 1 << 8.0 << "8" << 1 << 0x123456 << QColor(0x56, 0x34, 0x12);
    // As the readback display: lit.
    const auto row = [](const char *name, int digits, double value, const char *shown, int in) {
        QTest::newRow(name) << digits << value << QString::fromLatin1(shown) << in << 255
                            << fullRed;
    };
    const double infinity = std::numeric_limits<double>::infinity();
    row("a fraction in one digit", 1, 0.5, "1", 1);
    row("two digits into one: shorter fixed", 1, 12.0, "12", 2);
    row("code 4095 at 5 V", 6, 4.998779296875, "4.99878", 6);
    row("code 65535 at 5 V", 6, 79.998779296875, "79.9988", 6);
    row("negative: the sign takes a place", 6, -79.998779296875, "-79.999", 6);
    row("rounding carries into a new digit", 6, 9.9999999, "10.0000", 6);
    row("six whole digits", 6, 123456.0, "123456", 6);
    row("too wide: exponent form", 6, 65535.0 / 4096 * 99999, "1.600E6", 6);
    row("negative, too wide", 6, -123456.0, "-1.23E5", 6);
    row("three-digit exponent", 6, 65535.0 / 4096 * 9e99, "1.4E101", 6);
    row("smallest step", 6, std::numeric_limits<double>::denorm_min(), "0.00000", 6);
    row("not a number", 6, std::numeric_limits<double>::quiet_NaN(), "------", 6);
    row("infinite", 6, infinity, "------", 6);
    row("infinite in one digit", 1, infinity, "-", 1);
    row("minus one in one digit", 1, -1.0, "-1", 1);
}

void TestDigitCell::shows()
{
    QFETCH(int, digits);
    QFETCH(double, value);
    QFETCH(QString, shown);
    QFETCH(int, shownIn);
    QFETCH(int, segmentColour);
    QFETCH(QColor, drawn);

    QCOMPARE(DigitCell::digitsFor(value, digits), shown);
    DigitCell cell(digits);
    QVERIFY(cell.value() == 0 && cell.segmentColor() == 160);
    cell.resize(digits == 1 ? 19 : 121, 33);
    cell.setSegmentColor(0xFFFFFF); // what the new colour must replace
    QVERIFY(cell.setProperty("SegmentColor", segmentColour));
    QVERIFY(cell.setProperty("Value", value));
    QCOMPARE(cell.property("SegmentColor").toInt(), segmentColour);
    QCOMPARE(cell.property("Value").toDouble(), value);
    QCOMPARE(cell.digitCount(), shownIn);

    // The plain display showing the expected text is the picture the cell must give.
    QLCDNumber reference(shownIn);
    reference.resize(cell.size());
    reference.setSegmentStyle(QLCDNumber::Flat);
    reference.setFrameShape(QFrame::NoFrame);
    reference.setSmallDecimalPoint(digits > 1);
    reference.setAutoFillBackground(true);
    QPalette colours = reference.palette();
    colours.setColor(QPalette::Window, windowBlue);
    colours.setColor(QPalette::WindowText, drawn);
    reference.setPalette(colours);
    const bool minusBar = digits == 1 && value < 0; // no position for the sign
    reference.display(minusBar ? shown.mid(1) : shown);
    const QImage image = picture(cell), expected = picture(reference);
    if (minusBar) {
        // The left half at mid-height, where a 1 has no segment, holds the sign; the digit
        // stays whole beside it.
        const QRect signArea(1, 12, 8, 9), digitArea(10, 0, 9, 33);
        QCOMPARE(pixelsOf(expected, drawn, signArea), 0);
        QVERIFY(pixelsOf(image, drawn, signArea) >= 4);
        QCOMPARE(image.copy(digitArea), expected.copy(digitArea));
    } else {
        QCOMPARE(image, expected);
    }
    // The next value that fits takes the cell back to its own width.
    cell.setValue(0);
    QCOMPARE(cell.digitCount(), digits);
}

QTEST_MAIN(TestDigitCell)
#include "tst_digitcell.moc"
