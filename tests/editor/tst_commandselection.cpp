#include "editorwindow.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QTest>

namespace {

// Cells last down to first, grouped for reading.
QString cells(const char *grouped)
{
    return QString::fromLatin1(grouped).remove(QLatin1Char(' '));
}

// The caption of command k, or its name for the one no user can reach.
QString commandStep(int k)
{
    static const QStringList captions {"Write to Input Register n",
                                       "Update DAC Register n",
                                       "Write to Input Register n, Update All",
                                       "Write to and Update DAC channel n",
                                       "Power Down DAC (Power-up)",
                                       "Reset",
                                       "LDAC Register Setup",
                                       "REF Setup Register",
                                       "cmdBitsOption_8"};
    return captions.value(k);
}

bool isOrHolds(const QWidget *outer, const QWidget *inner)
{
    return inner && (outer == inner || outer->isAncestorOf(inner));
}

} // namespace

// Choosing a command, an address and the bits of the option panels in the window: what shows,
// what the cells hold and which word then goes to the board.
class TestCommandSelection final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void commandShowsItsPanelAndFields_data();
    void commandShowsItsPanelAndFields();
    void choicesReturnToDefaults_data();
    void choicesReturnToDefaults();
    void resetKindReturnsToRegistersOnly_data();
    void resetKindReturnsToRegistersOnly();
    void addressClearsTheTypedCode_data();
    void addressClearsTheTypedCode();
    void panelBits_data();
    void panelBits();
    void tickThenClear_data();
    void tickThenClear();

private:
    qint64 wordSent();

    std::unique_ptr<EditorWindow> m_window;
};

void TestCommandSelection::init()
{
    m_window = std::make_unique<EditorWindow>();
    QVERIFY(m_window->open());
}

void TestCommandSelection::cleanup()
{
    m_window.reset();
}

qint64 TestCommandSelection::wordSent()
{
    const qsizetype before = m_window->sentWords().size();
    if (!m_window->perform({"Write to Part"}))
        return -1;
    const QList<qint64> words = m_window->sentWords();
    return words.size() == before + 1 ? words.last() : -1;
}

void TestCommandSelection::commandShowsItsPanelAndFields_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("panel"); // caption of the panel shown
    QTest::addColumn<bool>("codeEntry");
    QTest::addColumn<bool>("addressBits");
    QTest::addColumn<qint64>("lit"); // bit i: cell i lit

    QTest::newRow("Write to Input Register n")
            << 0 << "Data Bits" << true << true << qint64(0x0FFFFFF0);
    QTest::newRow("Update DAC Register n")
            << 1 << "Update DAC Register" << false << true << qint64(0x0FF00000);
    QTest::newRow("Write to Input Register n, Update All")
            << 2 << "Data Bits" << true << true << qint64(0x0FFFFFF0);
    QTest::newRow("Write to and Update DAC channel n")
            << 3 << "Data Bits" << true << true << qint64(0x0FFFFFF0);
    QTest::newRow("Power Down DAC (Power-up)")
            << 4 << "Power Down/Up Register" << false << false << qint64(0x0F0003FF);
    QTest::newRow("Reset") << 5 << "Reset" << false << false << qint64(0x0F000010);
    QTest::newRow("LDAC Register Setup")
            << 6 << "LDAC Register Setup" << false << false << qint64(0x0F0000FF);
    QTest::newRow("REF Setup Register")
            << 7 << "REF Setup Register" << false << false << qint64(0x0F000010);
    QTest::newRow("CLR Code Register, parked")
            << 8 << "CLR Code Register" << false << false << qint64(0x0F000001);
}

// Chosen after DAC C, a code and another command, so that every part of the switch shows.
void TestCommandSelection::commandShowsItsPanelAndFields()
{
    QFETCH(int, command);
    QFETCH(QString, panel);
    QFETCH(bool, codeEntry);
    QFETCH(bool, addressBits);
    QFETCH(qint64, lit);

    const int before = command == 0 ? 3 : 0;
    QVERIFY(m_window->perform({"DAC C", commandStep(before), "hexText=FFFF"}));
    if (command >= 4)
        QVERIFY(m_window->perform({commandStep(4), "Three State", "DAC B"}));
    QVERIFY(m_window->perform({commandStep(command)}));

    QVERIFY(m_window->control<QAbstractButton>(QStringLiteral("cmdBitsOption_%1").arg(command))
                    ->isChecked());
    for (int i = 0; i < 9; ++i) {
        const auto *frame = m_window->control<QGroupBox>(QStringLiteral("dataBitsFrame_%1").arg(i));
        QVERIFY(frame);
        QCOMPARE(frame->isVisible(), i == command);
    }
    QCOMPARE(m_window->control<QGroupBox>(QStringLiteral("dataBitsFrame_%1").arg(command))->title(),
             panel);
    auto *dataFrame = m_window->control(QStringLiteral("dataFrame"));
    auto *addressBitsFrame = m_window->control(QStringLiteral("addressBitsFrame"));
    QCOMPARE(dataFrame->isVisible(), codeEntry);
    QCOMPARE(addressBitsFrame->isVisible(), addressBits);

    // What the user sees where the panel and the address choice stand.
    QWidget *atPanel = m_window->topmostAtCentreOf(QStringLiteral("dataBitsFrame_%1").arg(command));
    QVERIFY(isOrHolds(codeEntry
                              ? dataFrame
                              : m_window->control(QStringLiteral("dataBitsFrame_%1").arg(command)),
                      atPanel));
    QWidget *atAddress = m_window->topmostAtCentreOf(QStringLiteral("noAddressBitsFrame"));
    QVERIFY(isOrHolds(addressBits ? addressBitsFrame
                                  : m_window->control(QStringLiteral("noAddressBitsFrame")),
                      atAddress));

    // Cell 31 keeps its start colour, dim; cells 28 and 29 stay dim and 0.
    QCOMPARE(m_window->litCells(), lit);
    QCOMPARE(m_window->digits(28, 31), QStringLiteral("0000"));
    QCOMPARE(m_window->digits(24, 27), QStringLiteral("%1").arg(command, 4, 2, QLatin1Char('0')));
    QCOMPARE(m_window->digits(20, 23), cells("0010"));
    QCOMPARE(m_window->digits(0, 19), cells("0000 0000 0000 0000 0000"));
    QCOMPARE(m_window->text(QStringLiteral("hexText")), QStringLiteral("0"));
    QCOMPARE(m_window->text(QStringLiteral("voltageText")), QStringLiteral("0"));

    // The dim address goes out with the commands that light none.
    QCOMPARE(wordSent(), (qint64(command & 7) << 19) | 0x20000);
}

void TestCommandSelection::choicesReturnToDefaults_data()
{
    QTest::addColumn<QStringList>("choices");
    QTest::addColumn<int>("next");

    const QStringList powerDown {"Power Down DAC (Power-up)", "Three State", "DAC A", "DAC D",
                                 "powerDownCheck_6"};
    const QStringList reset {"Reset", "Reset All Registers", "clearCodeOption_3"};
    const QStringList ldac {"LDAC Register Setup", "DAC B", "DAC C", "LDACOverwriteCheck_7"};
    const QStringList reference {"REF Setup Register", "Internal reference ON"};

    QTest::newRow("power down choices, then Write to Input Register n") << powerDown << 0;
    QTest::newRow("power down choices, then Power Down again") << powerDown << 4;
    QTest::newRow("reset choices, then Update DAC Register n") << reset << 1;
    QTest::newRow("reset choices, then Reset again") << reset << 5;
    QTest::newRow("LDAC choices, then REF Setup Register") << ldac << 7;
    QTest::newRow("LDAC choices, then LDAC Register Setup again") << ldac << 6;
    QTest::newRow("internal reference, then CLR Code Register") << reference << 8;
    QTest::newRow("internal reference, then Write to and Update DAC channel n") << reference << 3;
}

void TestCommandSelection::choicesReturnToDefaults()
{
    QFETCH(QStringList, choices);
    QFETCH(int, next);

    QVERIFY(m_window->perform(choices));
    QVERIFY(m_window->perform({commandStep(next)}));

    const auto checked = [this](const QString &name) {
        const auto *button = m_window->control<QAbstractButton>(name);
        return button && button->isChecked();
    };
    for (int i = 0; i < 4; ++i)
        QCOMPARE(checked(QStringLiteral("powerDownOption_%1").arg(i)), i == 0);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(checked(QStringLiteral("clearCodeOption_%1").arg(i)), i == 0);
    for (int i = 0; i < 8; ++i) {
        QVERIFY(!checked(QStringLiteral("powerDownCheck_%1").arg(i)));
        QVERIFY(!checked(QStringLiteral("LDACOverwriteCheck_%1").arg(i)));
    }
    QVERIFY(checked(QStringLiteral("ResetOption_0")));
    QVERIFY(!checked(QStringLiteral("ResetOption_1")));
    QVERIFY(checked(QStringLiteral("refOption_0")));
    QVERIFY(!checked(QStringLiteral("refOption_1")));
    QCOMPARE(m_window->digits(0, 19), cells("0000 0000 0000 0000 0000"));
    QCOMPARE(wordSent(), qint64(next & 7) << 19);
}

void TestCommandSelection::resetKindReturnsToRegistersOnly_data()
{
    QTest::addColumn<int>("between");

    for (int k = 0; k < 9; ++k)
        QTest::addRow("via %s", qPrintable(commandStep(k))) << k;
}

void TestCommandSelection::resetKindReturnsToRegistersOnly()
{
    QFETCH(int, between);

    QVERIFY(m_window->perform({"Reset", "Reset All Registers"}));
    QCOMPARE(m_window->digits(4, 4), QStringLiteral("1"));
    QCOMPARE(wordSent(), 0x280001);

    QVERIFY(m_window->perform({commandStep(between), "Reset"}));
    QVERIFY(m_window->control<QAbstractButton>(QStringLiteral("ResetOption_0"))->isChecked());
    QVERIFY(!m_window->control<QAbstractButton>(QStringLiteral("ResetOption_1"))->isChecked());
    QCOMPARE(m_window->digits(4, 4), QStringLiteral("0"));
    QCOMPARE(wordSent(), 0x280000);
}

void TestCommandSelection::addressClearsTheTypedCode_data()
{
    QTest::addColumn<QString>("typed"); // "hexText=..." or "voltageText=..."
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("addressCells"); // 23 down to 20
    QTest::addColumn<int>("word");

    QTest::newRow("DAC A") << "hexText=FFFF"
                           << "DAC A"
                           << "0000" << 0x180000;
    QTest::newRow("DAC B") << "hexText=FFFF"
                           << "DAC B"
                           << "0001" << 0x190000;
    QTest::newRow("DAC C") << "hexText=FFFF"
                           << "DAC C"
                           << "0010" << 0x1A0000;
    QTest::newRow("DAC D") << "hexText=FFFF"
                           << "DAC D"
                           << "0011" << 0x1B0000;
    QTest::newRow("DAC E, hidden") << "hexText=FFFF"
                                   << "addressBitsOption_4"
                                   << "0100" << 0x1C0000;
    QTest::newRow("DAC H, hidden") << "hexText=FFFF"
                                   << "addressBitsOption_7"
                                   << "0111" << 0x1F0000;
    QTest::newRow("All DACs: four ones, sent as 111") << "hexText=FFFF"
                                                      << "All DACs"
                                                      << "1111" << 0x1F0000;
    QTest::newRow("a typed voltage, then DAC B") << "voltageText=2.5"
                                                 << "DAC B"
                                                 << "0001" << 0x190000;
}

void TestCommandSelection::addressClearsTheTypedCode()
{
    QFETCH(QString, typed);
    QFETCH(QString, address);
    QFETCH(QString, addressCells);
    QFETCH(int, word);

    QVERIFY(m_window->perform({"Write to and Update DAC channel n", typed}));
    QVERIFY(m_window->dataDigits() != cells("0000 0000 0000 0000"));
    QVERIFY(m_window->perform({address}));

    QCOMPARE(m_window->text(QStringLiteral("hexText")), QStringLiteral("0"));
    QCOMPARE(m_window->text(QStringLiteral("voltageText")), QStringLiteral("0"));
    QCOMPARE(m_window->digits(0, 19), cells("0000 0000 0000 0000 0000"));
    QCOMPARE(m_window->digits(20, 23), addressCells);
    // The command, its fields and its panel stay.
    QCOMPARE(m_window->digits(24, 27), QStringLiteral("0011"));
    QCOMPARE(m_window->litCells(), qint64(0x0FFFFFF0));
    QVERIFY(m_window->control(QStringLiteral("dataBitsFrame_3"))->isVisible());
    QVERIFY(m_window->control(QStringLiteral("dataFrame"))->isVisible());
    QCOMPARE(wordSent(), word);
}

void TestCommandSelection::panelBits_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("lowCells"); // cells 19 down to 0
    QTest::addColumn<int>("word");

    const QString powerDown = QStringLiteral("Power Down DAC (Power-up)");
    QTest::newRow("power down DAC A and DAC C, 1k Ohm to Ground")
            << QStringList {powerDown, "DAC A", "DAC C", "1k Ohm to Ground"}
            << cells("0000 0000 0001 0101 0000") << 0x200015;
    QTest::newRow("power down DAC B and DAC D, 100k Ohm to Ground")
            << QStringList {powerDown, "100k Ohm to Ground", "DAC B", "DAC D"}
            << cells("0000 0000 0010 1010 0000") << 0x20002A;
    QTest::newRow("all four three-state")
            << QStringList {powerDown, "DAC A", "DAC B", "DAC C", "DAC D", "Three State"}
            << cells("0000 0000 0011 1111 0000") << 0x20003F;
    QTest::newRow("DAC E after 1k Ohm: the same cell")
            << QStringList {powerDown, "1k Ohm to Ground", "powerDownCheck_4"}
            << cells("0000 0000 0001 0000 0000") << 0x200010;
    QTest::newRow("100k Ohm after DAC E: the mode wins")
            << QStringList {powerDown, "powerDownCheck_4", "100k Ohm to Ground"}
            << cells("0000 0000 0010 0000 0000") << 0x200020;
    QTest::newRow("DAC F after 1k Ohm")
            << QStringList {powerDown, "1k Ohm to Ground", "powerDownCheck_5"}
            << cells("0000 0000 0011 0000 0000") << 0x200030;
    QTest::newRow("1k Ohm after DAC F")
            << QStringList {powerDown, "powerDownCheck_5", "1k Ohm to Ground"}
            << cells("0000 0000 0001 0000 0000") << 0x200010;
    QTest::newRow("Normal Operation after DAC E and DAC F")
            << QStringList {powerDown, "powerDownCheck_4", "powerDownCheck_5", "Normal Operation"}
            << cells("0000 0000 0000 0000 0000") << 0x200000;
    QTest::newRow("DAC G and DAC H: data bits 6 and 7")
            << QStringList {powerDown, "powerDownCheck_6", "powerDownCheck_7"}
            << cells("0000 0000 1100 0000 0000") << 0x2000C0;
    QTest::newRow("Reset All Registers") << QStringList {"Reset", "Reset All Registers"}
                                         << cells("0000 0000 0000 0001 0000") << 0x280001;
    QTest::newRow("Reset All Registers, then back to registers only")
            << QStringList {"Reset", "Reset All Registers", "Reset DAC and Input Registers Only"}
            << cells("0000 0000 0000 0000 0000") << 0x280000;
    QTest::newRow("Mid Scale, not sent") << QStringList {"Reset", "clearCodeOption_1"}
                                         << cells("0000 0000 0000 0000 0001") << 0x280000;
    QTest::newRow("Full Scale, not sent") << QStringList {"Reset", "clearCodeOption_2"}
                                          << cells("0000 0000 0000 0000 0010") << 0x280000;
    QTest::newRow("CLR Code Register, No Operation: command 0, data 0")
            << QStringList {"cmdBitsOption_8", "clearCodeOption_3"}
            << cells("0000 0000 0000 0000 0011") << 0;
    QTest::newRow("CLR Code Register, Zero Scale after No Operation")
            << QStringList {"cmdBitsOption_8", "clearCodeOption_3", "clearCodeOption_0"}
            << cells("0000 0000 0000 0000 0000") << 0;
    QTest::newRow("LDAC overwrite DAC A and DAC D")
            << QStringList {"LDAC Register Setup", "DAC A", "DAC D"}
            << cells("0000 0000 0000 1001 0000") << 0x300009;
    QTest::newRow("LDAC overwrite DAC E to DAC H, parked")
            << QStringList {"LDAC Register Setup", "LDACOverwriteCheck_4", "LDACOverwriteCheck_5",
                            "LDACOverwriteCheck_6", "LDACOverwriteCheck_7"}
            << cells("0000 0000 1111 0000 0000") << 0x3000F0;
    QTest::newRow("Internal reference ON")
            << QStringList {"REF Setup Register", "Internal reference ON"}
            << cells("0000 0000 0000 0001 0000") << 0x380001;
    QTest::newRow("Internal reference ON, then OFF again")
            << QStringList {"REF Setup Register", "Internal reference ON",
                            "Internal reference OFF (default) (use external reference) "}
            << cells("0000 0000 0000 0000 0000") << 0x380000;
}

void TestCommandSelection::panelBits()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, lowCells);
    QFETCH(int, word);

    QVERIFY(m_window->perform(steps));
    QCOMPARE(m_window->digits(0, 19), lowCells);
    QCOMPARE(wordSent(), word);
}

void TestCommandSelection::tickThenClear_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("cell");

    for (int i = 0; i < 8; ++i) {
        QTest::addRow("power down DAC %c", 'A' + i)
                << 4 << QStringLiteral("powerDownCheck_%1").arg(i) << 4 + i;
    }
    for (int i = 0; i < 8; ++i) {
        QTest::addRow("LDAC overwrite DAC %c", 'A' + i)
                << 6 << QStringLiteral("LDACOverwriteCheck_%1").arg(i) << 4 + i;
    }
}

void TestCommandSelection::tickThenClear()
{
    QFETCH(int, command);
    QFETCH(QString, box);
    QFETCH(int, cell);

    auto *check = m_window->control<QAbstractButton>(box);
    QVERIFY(check);
    const qint64 commandBits = qint64(command) << 19;
    QVERIFY(m_window->perform({commandStep(command), box}));
    QVERIFY(check->isChecked());
    QString ticked(20, QLatin1Char('0'));
    ticked[19 - cell] = QLatin1Char('1');
    QCOMPARE(m_window->digits(0, 19), ticked);
    QCOMPARE(wordSent(), commandBits | (qint64(1) << (cell - 4)));

    QVERIFY(m_window->perform({box}));
    QVERIFY(!check->isChecked());
    QCOMPARE(m_window->digits(0, 19), cells("0000 0000 0000 0000 0000"));
    QCOMPARE(wordSent(), commandBits);
}

QTEST_MAIN(TestCommandSelection)
#include "tst_commandselection.moc"
