#include "bitdisplay.h"
#include "commandtable.h"
#include "digitcell.h"

#include <QTest>

#include <limits>
#include <memory>
#include <set>

namespace {

// What every cell holds before a test step, so that an untouched cell can be told apart.
constexpr double markerDigit = 7;
constexpr int markerColour = 0x00FF00;

// "0-9,24-27" -> {0, ..., 9, 24, ..., 27}
std::set<int> cellSet(const QString &ranges)
{
    std::set<int> cells;
    for (const QString &part : ranges.split(',', Qt::SkipEmptyParts)) {
        const QStringList ends = part.split('-');
        for (int cell = ends.first().toInt(); cell <= ends.last().toInt(); ++cell)
            cells.insert(cell);
    }
    return cells;
}

} // namespace

class TestBitDisplay final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void showBits_data();
    void showBits();
    void showFieldMask_data();
    void showFieldMask();
    void commandFields_data();
    void commandFields();
    void digitOutsideTheDisplayReadsZero();

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

void TestBitDisplay::cleanup()
{
    m_window.reset();
}

void TestBitDisplay::showBits_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("firstWritten");
    QTest::addColumn<QList<int>>("written"); // digits of cells firstWritten onward

    constexpr int highest = std::numeric_limits<std::int32_t>::max();
    constexpr int lowest = std::numeric_limits<std::int32_t>::lowest();
    const QList<int> ones16(16, 1);
    const QList<int> zeros16(16, 0);

    QTest::newRow("5 into the command cells") << 5 << 24 << 27 << 24 << QList<int> {1, 0, 1, 0};
    QTest::newRow("15 into the address cells") << 15 << 20 << 23 << 20 << QList<int> {1, 1, 1, 1};
    QTest::newRow("command 8 sets only the fourth cell")
            << 8 << 24 << 27 << 24 << QList<int> {0, 0, 0, 1};
    QTest::newRow("0 clears cells 0 to 19") << 0 << 0 << 19 << 0 << QList<int>(20, 0);
    QTest::newRow("1 into cell 6") << 1 << 6 << 6 << 6 << QList<int> {1};
    QTest::newRow("FFFF into the data cells") << 65535 << 4 << 19 << 4 << ones16;
    QTest::newRow("8000 into the data cells")
            << 32768 << 4 << 19 << 4 << QList<int>(15, 0) + QList<int> {1};
    QTest::newRow("65536 into the data cells clears them") << 65536 << 4 << 19 << 4 << zeros16;
    QTest::newRow("first above last writes nothing") << 5 << 10 << 9 << 0 << QList<int> {};
    QTest::newRow("-1 into cells 4 and 5") << -1 << 4 << 5 << 4 << QList<int> {-1, 0};
    QTest::newRow("-6 into cells 4 to 6") << -6 << 4 << 6 << 4 << QList<int> {0, -1, -1};
    QTest::newRow("largest into all cells")
            << highest << 0 << 31 << 0 << QList<int>(31, 1) + QList<int> {0};
    QTest::newRow("lowest into all cells")
            << lowest << 0 << 31 << 0 << QList<int>(31, 0) + QList<int> {-1};
    QTest::newRow("run starting below cell 0") << 5 << -2 << 1 << 0 << QList<int> {1, 0};
    QTest::newRow("run ending beyond cell 31") << 3 << 30 << 40 << 30 << QList<int> {1, 1};
    QTest::newRow("run far around the display") << 1 << -100000 << 100000 << 0 << QList<int>(32, 0);
    QTest::newRow("run above the display") << 1 << 32 << 32767 << 0 << QList<int> {};
    QTest::newRow("run below the display") << 1 << -32768 << -1 << 0 << QList<int> {};
    QTest::newRow("widest run") << -1 << lowest << highest << 0 << QList<int>(32, 0);
}

void TestBitDisplay::showBits()
{
    QFETCH(int, value);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(int, firstWritten);
    QFETCH(QList<int>, written);

    BitDisplay display(m_cells);
    display.ShowBits(value, first, last);

    for (int cell = 0; cell < bitCellCount; ++cell) {
        const int offset = cell - firstWritten;
        const bool inRun = offset >= 0 && offset < written.size();
        const double expected = inRun ? written[offset] : markerDigit;
        QVERIFY2(m_cells[cell]->value() == expected,
                 qPrintable(QStringLiteral("cell %1 holds %2, not %3")
                                    .arg(cell)
                                    .arg(m_cells[cell]->value())
                                    .arg(expected)));
        QCOMPARE(m_cells[cell]->segmentColor(), markerColour);
    }
}

void TestBitDisplay::showFieldMask_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<QString>("lit");

    QTest::newRow("start mask") << 0x0FFFFFF0 << "4-27";
    QTest::newRow("command and address") << 0x0FF00000 << "20-27";
    QTest::newRow("command, D0 to D5") << 0x0F0003FF << "0-9,24-27";
    QTest::newRow("command, D0 to D3") << 0x0F0000FF << "0-7,24-27";
    QTest::newRow("command, D0") << 0x0F000010 << "4,24-27";
    QTest::newRow("command only") << 0x0F000001 << "0,24-27";
    QTest::newRow("nothing") << 0 << "";
    QTest::newRow("bit 30 lights cell 30") << 0x40000000 << "30";
    QTest::newRow("bit 31 is ignored") << std::numeric_limits<std::int32_t>::lowest() << "";
    QTest::newRow("every bit") << -1 << "0-30";
}

void TestBitDisplay::showFieldMask()
{
    QFETCH(int, mask);
    QFETCH(QString, lit);

    BitDisplay display(m_cells);
    // The opposite pattern first: the mask must replace it, dimming as well as lighting.
    display.ShowFieldMask(~mask);
    display.ShowFieldMask(mask);

    const std::set<int> litCells = cellSet(lit);
    for (int cell = 0; cell < bitCellCount - 1; ++cell) {
        const int expected = litCells.count(cell) ? BitDisplay::litColour : BitDisplay::dimColour;
        QVERIFY2(m_cells[cell]->segmentColor() == expected,
                 qPrintable(QStringLiteral("cell %1").arg(cell)));
    }
    QCOMPARE(m_cells[31]->segmentColor(), markerColour);
    for (const DigitCell *cell : m_cells)
        QCOMPARE(cell->value(), markerDigit);
}

void TestBitDisplay::commandFields_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("lit");
    QTest::addColumn<bool>("dataFrameShown");
    QTest::addColumn<bool>("addressBitsFrameShown");

    QTest::newRow("Write to Input Register n") << 0 << "4-27" << true << true;
    QTest::newRow("Update DAC Register n") << 1 << "20-27" << false << true;
    QTest::newRow("Write to Input Register n, Update All") << 2 << "4-27" << true << true;
    QTest::newRow("Write to and Update DAC channel n") << 3 << "4-27" << true << true;
    QTest::newRow("Power Down DAC (Power-up)") << 4 << "0-9,24-27" << false << false;
    QTest::newRow("Reset") << 5 << "4,24-27" << false << false;
    QTest::newRow("LDAC Register Setup") << 6 << "0-7,24-27" << false << false;
    QTest::newRow("REF Setup Register") << 7 << "4,24-27" << false << false;
    QTest::newRow("CLR Code Register") << 8 << "0,24-27" << false << false;
}

void TestBitDisplay::commandFields()
{
    QFETCH(int, command);
    QFETCH(QString, lit);
    QFETCH(bool, dataFrameShown);
    QFETCH(bool, addressBitsFrameShown);

    const CommandTable::Command &entry = CommandTable::commands[command];
    QCOMPARE(entry.showsDataFrame, dataFrameShown);
    QCOMPARE(entry.showsAddressBitsFrame, addressBitsFrameShown);

    BitDisplay display(m_cells);
    display.ShowFieldMask(entry.fieldMask);
    const std::set<int> litCells = cellSet(lit);
    for (int cell = 0; cell < bitCellCount - 1; ++cell) {
        const int expected = litCells.count(cell) ? BitDisplay::litColour : BitDisplay::dimColour;
        QVERIFY2(m_cells[cell]->segmentColor() == expected,
                 qPrintable(QStringLiteral("cell %1").arg(cell)));
    }
    // No command lights the top cells.
    QCOMPARE(m_cells[28]->segmentColor(), BitDisplay::dimColour);
    QCOMPARE(m_cells[29]->segmentColor(), BitDisplay::dimColour);
}

void TestBitDisplay::digitOutsideTheDisplayReadsZero()
{
    BitDisplay display(m_cells);
    display.ShowBits(-1, 0, 31);
    QCOMPARE(display.digit(0), -1.0);
    QCOMPARE(display.digit(-1), 0.0);
    QCOMPARE(display.digit(32), 0.0);
    QCOMPARE(display.digit(std::numeric_limits<int>::lowest()), 0.0);
}

QTEST_MAIN(TestBitDisplay)
#include "tst_bitdisplay.moc"
