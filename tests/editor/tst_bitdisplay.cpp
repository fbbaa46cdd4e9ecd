#include "bitdisplay.h"
#include "commandword.h"
#include "digitcell.h"

#include <QTest>

#include <limits>
#include <memory>

namespace {

// What every cell holds before a step, so that an untouched cell shows.
constexpr double markerDigit = 7;
constexpr int markerColour = 0x00FF00;

using Cells = std::array<double, bitCellCount>;

// Cells all 0 but the given ones.
Cells cellsWith(std::initializer_list<std::pair<int, double>> digits)
{
    Cells cells {};
    for (const auto &[cell, digit] : digits)
        cells[static_cast<std::size_t>(cell)] = digit;
    return cells;
}

} // namespace

Q_DECLARE_METATYPE(Cells)

// The cells of the command word and the word "Write to Part" composes from them; the words of
// the editor's choices are checked through the window.
class TestBitDisplay final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_window.reset(); }

    void showBits_data();
    void showBits();
    void showFieldMask_data();
    void showFieldMask();
    void composeCommandWord_data();
    void composeCommandWord();

private:
    std::unique_ptr<QWidget> m_window;
    std::array<DigitCell *, bitCellCount> m_cells {};
};

void TestBitDisplay::init()
{
    m_window = std::make_unique<QWidget>();
    for (DigitCell *&cell : m_cells) {
        cell = new DigitCell(1, m_window.get());
        cell->setValue(markerDigit);
        cell->setSegmentColor(markerColour);
    }
}

void TestBitDisplay::showBits_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<QList<int>>("written"); // digits of cells first onward

    QTest::newRow("5 into the command cells") << 5 << 24 << 27 << QList<int> {1, 0, 1, 0};
    QTest::newRow("8000 into the data cells") << 32768 << 4 << 19 << QList<int>(15, 0) + QList {1};
    QTest::newRow("65536 into the data cells clears them") << 65536 << 4 << 19 << QList<int>(16, 0);
    QTest::newRow("first above last writes nothing") << 5 << 10 << 9 << QList<int> {};
    QTest::newRow("-1 into cells 4 and 5") << -1 << 4 << 5 << QList<int> {-1, 0};
    QTest::newRow("-6 into cells 4 to 6") << -6 << 4 << 6 << QList<int> {0, -1, -1};
    QTest::newRow("from cell -1, its bit dropped") << 6 << -1 << 1 << QList<int> {0, 1, 1};
}

// Only the cells of the run change, and only their digits.
void TestBitDisplay::showBits()
{
    QFETCH(int, value);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(QList<int>, written);

    BitDisplay(m_cells).ShowBits(value, first, last);
    for (int cell = 0; cell < bitCellCount; ++cell) {
        const int offset = cell - first;
        const double expected
                = offset >= 0 && offset < written.size() ? written[offset] : markerDigit;
        QVERIFY2(m_cells[cell]->value() == expected,
                 qPrintable(
                         QStringLiteral("cell %1 holds %2").arg(cell).arg(m_cells[cell]->value())));
        QCOMPARE(m_cells[cell]->segmentColor(), markerColour);
    }
}

void TestBitDisplay::showFieldMask_data()
{
    QTest::addColumn<int>("mask");

    QTest::newRow("start mask") << 0x0FFFFFF0;
    QTest::newRow("nothing") << 0;
    QTest::newRow("bit 30 lights cell 30") << 0x40000000;
    QTest::newRow("bit 31 is ignored") << std::numeric_limits<std::int32_t>::lowest();
    QTest::newRow("every bit") << -1;
}

// Cell i of 0 to 30 lit for bit i of the mask, dim otherwise; cell 31 and the digits untouched.
void TestBitDisplay::showFieldMask()
{
    QFETCH(int, mask);

    BitDisplay display(m_cells);
    // The opposite pattern first: the mask must replace it, dimming as well as lighting.
    display.ShowFieldMask(~mask);
    display.ShowFieldMask(mask);
    for (int cell = 0; cell < bitCellCount - 1; ++cell) {
        const bool lit = (quint32(mask) >> cell) & 1;
        QVERIFY2(m_cells[cell]->segmentColor() == (lit ? 255 : 160),
                 qPrintable(QStringLiteral("cell %1").arg(cell)));
    }
    QCOMPARE(m_cells[31]->segmentColor(), markerColour);
    for (const DigitCell *cell : m_cells)
        QCOMPARE(cell->value(), markerDigit);
}

void TestBitDisplay::composeCommandWord_data()
{
    QTest::addColumn<Cells>("cells");
    QTest::addColumn<int>("word");

    Cells allOnes;
    allOnes.fill(1);
    Cells dataMinusOne {};
    for (int f = dataCells.first; f <= dataCells.last; ++f)
        dataMinusOne[static_cast<std::size_t>(f)] = -1;

    QTest::newRow("every cell 1") << allOnes << 0x3FFFFF;
    QTest::newRow("unsent cells") << cellsWith(
            {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {23, 1}, {27, 1}, {28, 1}, {29, 1}, {30, 1}, {31, 1}})
                                  << 0;
    QTest::newRow("-1 in every data cell") << dataMinusOne << -65535;
    QTest::newRow("negative code under a command")
            << cellsWith({{5, -1}, {6, -1}, {24, 1}, {25, 1}, {20, 1}}) << 0x190000 - 6;
}

void TestBitDisplay::composeCommandWord()
{
    QFETCH(Cells, cells);
    QFETCH(int, word);
    QCOMPARE(::composeCommandWord(cells), word);
}

QTEST_MAIN(TestBitDisplay)
#include "tst_bitdisplay.moc"
