#include "bitdisplay.h"
#include "codeconversion.h"
#include "commandtable.h"
#include "commandword.h"
#include "digitcell.h"

#include <QTest>

#include <limits>
#include <memory>

namespace {

using Cells = std::array<double, bitCellCount>;

struct PanelWrite
{
    CellRange cells;
    int value;
};

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
Q_DECLARE_METATYPE(QList<PanelWrite>)

class TestCommandWord final : public QObject
{
    Q_OBJECT

private slots:
    void composeFromCells_data();
    void composeFromCells();
    void composeFromEditorChoices_data();
    void composeFromEditorChoices();
};

void TestCommandWord::composeFromCells_data()
{
    QTest::addColumn<Cells>("cells");
    QTest::addColumn<int>("word");

    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double infinity = std::numeric_limits<double>::infinity();

    Cells allOnes;
    allOnes.fill(1);
    Cells allNaN;
    allNaN.fill(nan);
    Cells allInfinite;
    allInfinite.fill(infinity);
    Cells dataMinusOne {};
    for (int f = dataCells.first; f <= dataCells.last; ++f)
        dataMinusOne[static_cast<std::size_t>(f)] = -1;

    QTest::newRow("all zero") << Cells {} << 0;
    QTest::newRow("every cell 1") << allOnes << 0x3FFFFF;
    QTest::newRow("D0") << cellsWith({{4, 1}}) << 0x1;
    QTest::newRow("D15") << cellsWith({{19, 1}}) << 0x8000;
    QTest::newRow("A0") << cellsWith({{20, 1}}) << 0x10000;
    QTest::newRow("A2") << cellsWith({{22, 1}}) << 0x40000;
    QTest::newRow("C0") << cellsWith({{24, 1}}) << 0x80000;
    QTest::newRow("C2") << cellsWith({{26, 1}}) << 0x200000;
    QTest::newRow("unsent cells") << cellsWith(
            {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {23, 1}, {27, 1}, {28, 1}, {29, 1}, {30, 1}, {31, 1}})
                                  << 0;
    QTest::newRow("-1 in every data cell") << dataMinusOne << -65535;
    QTest::newRow("negative code under a command")
            << cellsWith({{5, -1}, {6, -1}, {24, 1}, {25, 1}, {20, 1}}) << 0x190000 - 6;
    QTest::newRow("a half digit rounds to even") << cellsWith({{24, 1.5}}) << 0x100000;
    QTest::newRow("NaN in every cell") << allNaN << 0;
    QTest::newRow("infinite cells saturate")
            << allInfinite << std::numeric_limits<std::int32_t>::max();
    QTest::newRow("huge negative data saturates")
            << cellsWith({{19, -1e300}}) << std::numeric_limits<std::int32_t>::lowest();
}

void TestCommandWord::composeFromCells()
{
    QFETCH(Cells, cells);
    QFETCH(int, word);
    QCOMPARE(composeCommandWord(cells), word);
}

void TestCommandWord::composeFromEditorChoices_data()
{
    using namespace CommandTable;

    QTest::addColumn<int>("command");
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("hex"); // typed into the code entry; empty when not typed
    QTest::addColumn<QList<PanelWrite>>("panel");
    QTest::addColumn<int>("word");

    QTest::newRow("Write to Input Register, DAC A, 0")
            << 0 << 0 << "0" << QList<PanelWrite> {} << 0;
    QTest::newRow("Write to and Update, DAC B, FFFF")
            << 3 << 1 << "FFFF" << QList<PanelWrite> {} << 0x19FFFF;
    QTest::newRow("Write, Update All, All DACs, 8000")
            << 2 << 8 << "8000" << QList<PanelWrite> {} << 0x178000;
    QTest::newRow("Update DAC Register after DAC C")
            << 1 << 2 << "" << QList<PanelWrite> {} << 0xA0000;
    QTest::newRow("All DACs is sent as address 7")
            << 0 << 8 << "1" << QList<PanelWrite> {} << 0x70001;
    QTest::newRow("DAC H is address 7 as well") << 0 << 7 << "1" << QList<PanelWrite> {} << 0x70001;
    QTest::newRow("Power Down, DAC A and C, 1k Ohm")
            << 4 << 0 << ""
            << QList<PanelWrite> {{powerDownCheckCells(0), 1},
                                  {powerDownCheckCells(2), 1},
                                  {powerDownOptionCells, 1}}
            << 0x200015;
    QTest::newRow("Power Down, DAC E clears a bit of the mode")
            << 4 << 0 << ""
            << QList<PanelWrite> {{powerDownOptionCells, 3}, {powerDownCheckCells(4), 0}}
            << 0x200020;
    QTest::newRow("Reset All Registers")
            << 5 << 0 << "" << QList<PanelWrite> {{ResetOptionCells, 1}} << 0x280001;
    QTest::newRow("Reset after DAC C keeps the address")
            << 5 << 2 << "" << QList<PanelWrite> {} << 0x2A0000;
    QTest::newRow("LDAC overwrite for DAC A and D")
            << 6 << 0 << ""
            << QList<PanelWrite> {{LDACOverwriteCheckCells(0), 1}, {LDACOverwriteCheckCells(3), 1}}
            << 0x300009;
    QTest::newRow("Internal reference ON")
            << 7 << 0 << "" << QList<PanelWrite> {{refOptionCells, 1}} << 0x380001;
    QTest::newRow("CLR Code, Full Scale, sent as command 0")
            << 8 << 0 << "" << QList<PanelWrite> {{clearCodeOptionCells, 2}} << 0;
}

// The cells written the way the window's handlers write them, then composed as the button does.
void TestCommandWord::composeFromEditorChoices()
{
    QFETCH(int, command);
    QFETCH(int, address);
    QFETCH(QString, hex);
    QFETCH(QList<PanelWrite>, panel);
    QFETCH(int, word);

    QWidget window;
    std::array<DigitCell *, bitCellCount> cells {};
    for (DigitCell *&cell : cells)
        cell = new DigitCell(1, &window);
    BitDisplay display(cells);

    display.ShowBits(0, CommandTable::resetEditorCells);
    display.ShowBits(CommandTable::addressCodes[address], addressCells);
    display.ShowBits(0, CommandTable::resetEditorCells);
    display.ShowBits(command, commandCells);
    display.ShowFieldMask(CommandTable::commands[command].fieldMask);
    if (!hex.isEmpty()) {
        QVERIFY(CommandTable::commands[command].showsDataFrame);
        display.ShowBits(convertHexEntry(hex, QStringLiteral("5")).code, dataCells);
    }
    for (const PanelWrite &write : panel)
        display.ShowBits(write.value, write.cells);

    QCOMPARE(composeCommandWord(display.digits()), word);
    // A second click sends the same word: composing reads the cells only.
    QCOMPARE(composeCommandWord(display.digits()), word);
}

QTEST_MAIN(TestCommandWord)
#include "tst_commandword.moc"
