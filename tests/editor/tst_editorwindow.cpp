#include "editorwindow.h"
#include "messageboxanswerer.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLocale>
#include <QTest>

namespace {

const QString hexBox = QStringLiteral("hexText");
const QString voltageBox = QStringLiteral("voltageText");
const QString noLowCells(20, QLatin1Char('0')); // cells 19 down to 0

// Data cells 19 down to 4.
QString dataCellsOf(qint64 code)
{
    return QStringLiteral("%1").arg(code, 16, 2, QLatin1Char('0'));
}

void key(const char *name, const QStringList &steps, const QString &box, const char *pasted,
         Qt::Key key, const char *hex, const char *voltage, int code)
{
    QTest::newRow(name) << steps << box << QString::fromLatin1(pasted) << int(key)
                        << QString::fromLatin1(hex) << QString::fromLatin1(voltage) << code;
}

void row(const char *name, const QStringList &steps, const char *hex, const char *voltage, int code)
{
    QTest::newRow(name) << steps << QString::fromLatin1(hex) << QString::fromLatin1(voltage)
                        << code;
}

void word(const char *name, const QStringList &steps, const char *cells, int word)
{
    QTest::newRow(name) << steps << QString::fromLatin1(cells) << word;
}

// The command choices, their panels and the cells they light (bit i: cell i).
const struct
{
    const char *step; // the caption, or the name of the one no user can reach
    const char *panel;
    bool codeEntry;
    bool addressBits;
    qint64 lit;
} commands[] = {{"Write to Input Register n", "Data Bits", true, true, 0x0FFFFFF0},
                {"Update DAC Register n", "Update DAC Register", false, true, 0x0FF00000},
                {"Write to Input Register n, Update All", "Data Bits", true, true, 0x0FFFFFF0},
                {"Write to and Update DAC channel n", "Data Bits", true, true, 0x0FFFFFF0},
                {"Power Down DAC (Power-up)", "Power Down/Up Register", false, false, 0x0F0003FF},
                {"Reset", "Reset", false, false, 0x0F000010},
                {"LDAC Register Setup", "LDAC Register Setup", false, false, 0x0F0000FF},
                {"REF Setup Register", "REF Setup Register", false, false, 0x0F000010},
                {"cmdBitsOption_8", "CLR Code Register", false, false, 0x0F000001}};

const std::pair<const char *, int> panelArrays[]
        = {{"powerDownOption", 4}, {"powerDownCheck", 8},     {"ResetOption", 2},
           {"clearCodeOption", 4}, {"LDACOverwriteCheck", 8}, {"refOption", 2}};
const QStringList defaultChoices {"powerDownOption_0", "ResetOption_0", "clearCodeOption_0",
                                  "refOption_0"};

bool isOrHolds(const QWidget *outer, const QWidget *inner)
{
    return outer && inner && (outer == inner || outer->isAncestorOf(inner));
}

// What the user sees of the editor, to tell that a click on "Write to Part" changed nothing.
QStringList viewOf(const EditorWindow &window)
{
    return {window.digits(0, 31), QString::number(window.litCells()),
            window.text(QStringLiteral("hexText")), window.text(QStringLiteral("voltageText")),
            window.text(QStringLiteral("VrefText"))};
}

} // namespace

// The editor through the window as a bench user drives it on the simulated board: the code boxes,
// the command choice, the option panels, and the words "Write to Part" sends.
class TestEditorWindow final : public QObject
{
    Q_OBJECT

private slots:
    // The user's notation has a decimal comma: it serves for the reference, while the program's
    // own texts keep the point so that they read back.
    void init()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        m_window = std::make_unique<EditorWindow>();
        QVERIFY(m_window->open());
    }
    void cleanup()
    {
        m_window.reset();
        QLocale::setDefault(QLocale::system());
    }

    void typed_data();
    void typed();
    void keyWithoutTyping_data();
    void keyWithoutTyping();
    void commandShowsItsPanelAndFields_data();
    void commandShowsItsPanelAndFields();
    void tickThenClear_data();
    void tickThenClear();
    void sendsTheWordOfTheChoices_data();
    void sendsTheWordOfTheChoices();
    void refusedWriteShowsErrorAndKeepsTheEditor();

private:
    std::unique_ptr<EditorWindow> m_window;
};

void TestEditorWindow::typed_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("hex");     // hexText afterwards
    QTest::addColumn<QString>("voltage"); // voltageText afterwards
    QTest::addColumn<int>("code");

    // The box typed in keeps what it takes (4 and 8 characters); the other one is rewritten.
    row("8000", {"hexText=8000"}, "8000", "2.50000000000000", 0x8000);
    row("FFFF", {"hexText=FFFF"}, "FFFF", "4.99992370605469", 0xFFFF);
    row("7fff stays lower case", {"hexText=7fff"}, "7fff", "2.49992370605469", 0x7FFF);
    row("1", {"hexText=1"}, "1", "0.00007629394531", 1);
    row("empty", {"hexText="}, "", "0.00000000000000", 0);
    row("G1", {"hexText=G1"}, "G1", "0.00000000000000", 0);
    row("12G4 reads as far as it is hex", {"hexText=12G4"}, "12G4", "0.00137329101563", 0x12);
    row("00ff stays 00ff", {"hexText=00ff"}, "00ff", "0.01945495605469", 0xFF);
    row("a fifth hex digit is refused", {"hexText=1FFFF"}, "1FFF", "0.62492370605469", 0x1FFF);
    row("2.5 V", {"voltageText=2.5"}, "8000", "2.5", 0x8000);
    row("1.25 V", {"voltageText=1.25"}, "4000", "1.25", 0x4000);
    row("5 V is limited", {"voltageText=5"}, "FFFF", "5", 0xFFFF);
    row("4.9999 V rounds to FFFF", {"voltageText=4.9999"}, "FFFF", "4.9999", 0xFFFF);
    row("-1 V", {"voltageText=-1"}, "0", "-1", 0);
    row("abc", {"voltageText=abc"}, "0", "abc", 0);
    row("a ninth voltage character", {"voltageText=2.5000001"}, "8000", "2.500000", 0x8000);
    row("a code lost on an address choice", {"hexText=FFFF", "DAC A"}, "0", "0", 0);

    row("3.3 V, 1 V", {"VrefText=3.3", "voltageText=1"}, "4D93", "1", 19859);
    row("3.3 V, 4D93", {"VrefText=3.3", "hexText=4D93"}, "4D93", "0.99998016357422", 19859);
    row("65536 V, 2.5 ties to 2", {"VrefText=65536", "voltageText=2.5"}, "2", "2.5", 2);
    row("65536 V, 3.5 ties to 4", {"VrefText=65536", "voltageText=3.5"}, "4", "3.5", 4);
    row("zero reference, a voltage", {"VrefText=0", "voltageText=1"}, "FFFF", "1", 0xFFFF);
    row("zero reference, -1 V", {"VrefText=0", "voltageText=-1"}, "FFFF", "-1", 0xFFFF);
    row("zero reference, 8000", {"VrefText=0", "hexText=8000"}, "8000", "0.00000000000000", 0x8000);
    row("empty reference, FFFF", {"VrefText=", "hexText=FFFF"}, "FFFF", "0.00000000000000", 0xFFFF);
    row("reference changed", {"hexText=8000", "VrefText=2.5"}, "8000", "1.25000000000000", 0x8000);
    row("2,5 V, 1 V", {"VrefText=2,5", "voltageText=1"}, "6666", "1", 0x6666);
    row("changed to 2,5", {"hexText=8000", "VrefText=2,5"}, "8000", "1.25000000000000", 0x8000);
    row("changed to letters", {"hexText=8000", "VrefText=abc"}, "8000", "0.00000000000000", 0x8000);

    // No reference to convert a typed voltage against: the code and hexText stay.
    row("empty reference, 1 V", {"hexText=8000", "VrefText=", "voltageText=1"}, "8000", "1",
        0x8000);
    row("5V as reference, 1 V", {"hexText=8000", "VrefText=5V", "voltageText=1"}, "8000", "1",
        0x8000);

    // Extreme references and voltages: a code outside 0 to FFFF would spill into the command and
    // address fields.
    row("-5 V, 8000", {"VrefText=-5", "hexText=8000"}, "8000", "-2.50000000000000", 0x8000);
    row("-5 V, 1 V", {"VrefText=-5", "voltageText=1"}, "0", "1", 0);
    row("tiny negative reference", {"VrefText=-1e-300", "voltageText=1"}, "0", "1", 0);
    row("tiny reference", {"VrefText=1e-300", "voltageText=1"}, "FFFF", "1", 0xFFFF);
    row("voltage beyond a double", {"voltageText=1e999"}, "FFFF", "1e999", 0xFFFF);
    row("negative voltage beyond a double", {"voltageText=-1e999"}, "0", "-1e999", 0);
    row("voltage times 65536 beyond a double", {"voltageText=1e308"}, "FFFF", "1e308", 0xFFFF);
    row("reference beyond a double", {"VrefText=1e999", "hexText=8000"}, "8000", "Overflow",
        0x8000);
    row("-1e999 V, 8000", {"VrefText=-1e999", "hexText=8000"}, "8000", "-Overflow", 0x8000);
    row("1e999 V, code 0", {"VrefText=1e999", "hexText=0"}, "0", "0.00000000000000", 0);
}

void TestEditorWindow::typed()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, hex);
    QFETCH(QString, voltage);
    QFETCH(int, code);

    MessageBoxAnswerer answerer(QMessageBox::Ok);
    QVERIFY(m_window->perform(steps));
    QCOMPARE(m_window->text(hexBox), hex);
    QCOMPARE(m_window->text(voltageBox), voltage);
    QCOMPARE(m_window->dataDigits(), dataCellsOf(code));
    QCOMPARE(m_window->writeToPart(), code);
    QVERIFY(answerer.seen().isEmpty());
}

void TestEditorWindow::keyWithoutTyping_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("pasted"); // into box with the mouse first, unless empty
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("voltage");
    QTest::addColumn<int>("code");

    const QStringList mid {"hexText=8000"};
    key("Shift in hexText", mid, hexBox, "FFFF", Qt::Key_Shift, "FFFF", "4.99992370605469", 0xFFFF);
    key("Right in hexText", mid, hexBox, "G1", Qt::Key_Right, "G1", "0.00000000000000", 0);
    key("Left in voltageText", mid, voltageBox, "1.25", Qt::Key_Left, "4000", "1.25", 0x4000);
    // What the program writes reads back as the same code, in its own form.
    key("00ff", {"hexText=00ff"}, voltageBox, "", Qt::Key_Right, "FF", "0.01945495605469", 0xFF);
    key("4d93 at 3.3 V", {"VrefText=3.3", "hexText=4d93"}, voltageBox, "", Qt::Key_End, "4D93",
        "0.99998016357422", 19859);
    key("6666 at 2,5 V", {"VrefText=2,5", "hexText=6666"}, voltageBox, "", Qt::Key_Right, "6666",
        "0.99998474121094", 0x6666);
}

// Any key going up in a box converts what the box holds; a paste with the mouse does not.
void TestEditorWindow::keyWithoutTyping()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, box);
    QFETCH(QString, pasted);
    QFETCH(int, key);
    QFETCH(QString, hex);
    QFETCH(QString, voltage);
    QFETCH(int, code);

    QVERIFY(m_window->perform(steps));
    if (!pasted.isEmpty()) {
        const QString otherBox = box == hexBox ? voltageBox : hexBox;
        const QString otherBefore = m_window->text(otherBox);
        const QString cellsBefore = m_window->dataDigits();
        QVERIFY(m_window->pasteWithMouse(box, pasted));
        QCOMPARE(m_window->text(box), pasted);
        QCOMPARE(m_window->text(otherBox), otherBefore);
        QCOMPARE(m_window->dataDigits(), cellsBefore);
    }
    QVERIFY(m_window->pressKey(box, Qt::Key(key)));
    QCOMPARE(m_window->text(hexBox), hex);
    QCOMPARE(m_window->text(voltageBox), voltage);
    QCOMPARE(m_window->dataDigits(), dataCellsOf(code));
}

void TestEditorWindow::commandShowsItsPanelAndFields_data()
{
    QTest::addColumn<int>("command");
    for (int k = 0; k < 9; ++k)
        QTest::addRow("%s", commands[k].step) << k;
}

// Chosen after DAC C, choices in every panel, another command and a code, so that every part of
// the switch shows and every choice returns to its default.
void TestEditorWindow::commandShowsItsPanelAndFields()
{
    QFETCH(int, command);
    const auto &[step, panel, codeEntry, addressBits, lit] = commands[command];

    QVERIFY(m_window->perform(
            {"DAC C", "Power Down DAC (Power-up)", "Three State", "DAC B", "powerDownCheck_6",
             "Reset", "Reset All Registers", "clearCodeOption_3", "LDAC Register Setup", "DAC A",
             "LDACOverwriteCheck_7", "REF Setup Register", "Internal reference ON",
             commands[command == 0 ? 3 : 0].step, "hexText=FFFF", step}));

    for (int i = 0; i < 9; ++i) {
        const auto *frame = m_window->control<QGroupBox>(QStringLiteral("dataBitsFrame_%1").arg(i));
        QVERIFY(frame);
        QCOMPARE(frame->isVisible(), i == command);
        if (i == command)
            QCOMPARE(frame->title(), QString::fromLatin1(panel));
    }
    // What the user sees where the panel and the address choice stand.
    const QString shownPanel = QStringLiteral("dataBitsFrame_%1").arg(command);
    QVERIFY(isOrHolds(m_window->control(codeEntry ? QStringLiteral("dataFrame") : shownPanel),
                      m_window->topmostAtCentreOf(shownPanel)));
    QVERIFY(isOrHolds(m_window->control(addressBits ? QStringLiteral("addressBitsFrame")
                                                    : QStringLiteral("noAddressBitsFrame")),
                      m_window->topmostAtCentreOf(QStringLiteral("noAddressBitsFrame"))));

    // Cell 31 keeps its start colour, dim; cells 28 and 29 stay dim and 0.
    QCOMPARE(m_window->litCells(), lit);
    QCOMPARE(m_window->digits(28, 31), QStringLiteral("0000"));
    QCOMPARE(m_window->digits(24, 27), QStringLiteral("%1").arg(command, 4, 2, QLatin1Char('0')));
    QCOMPARE(m_window->digits(20, 23), QStringLiteral("0010"));
    QCOMPARE(m_window->digits(0, 19), noLowCells);
    QCOMPARE(m_window->text(QStringLiteral("hexText")), QStringLiteral("0"));
    QCOMPARE(m_window->text(QStringLiteral("voltageText")), QStringLiteral("0"));
    QStringList checked;
    for (const auto &[array, size] : panelArrays) {
        for (int i = 0; i < size; ++i) {
            const QString name = QStringLiteral("%1_%2").arg(array).arg(i);
            const auto *button = m_window->control<QAbstractButton>(name);
            if (!button || button->isChecked())
                checked.append(name);
        }
    }
    QCOMPARE(checked, defaultChoices);
    // The dim address goes out with the commands that light none.
    QCOMPARE(m_window->writeToPart(), (qint64(command & 7) << 19) | 0x20000);
}

void TestEditorWindow::tickThenClear_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("array");

    QTest::newRow("power down") << 4 << "powerDownCheck";
    QTest::newRow("LDAC overwrite") << 6 << "LDACOverwriteCheck";
}

// Box k, "DAC A" to "DAC H", writes 1 and then 0 into data bit k.
void TestEditorWindow::tickThenClear()
{
    QFETCH(int, command);
    QFETCH(QString, array);

    const qint64 commandBits = qint64(command) << 19;
    QVERIFY(m_window->perform({commands[command].step}));
    for (int k = 0; k < 8; ++k) {
        const QString box = QStringLiteral("%1_%2").arg(array).arg(k);
        QVERIFY(m_window->perform({box}));
        QString ticked = noLowCells;
        ticked[15 - k] = QLatin1Char('1');
        QCOMPARE(m_window->digits(0, 19), ticked);
        QCOMPARE(m_window->writeToPart(), commandBits | (qint64(1) << k));
        QVERIFY(m_window->perform({box}));
        QCOMPARE(m_window->digits(0, 19), noLowCells);
        QCOMPARE(m_window->writeToPart(), commandBits);
    }
}

void TestEditorWindow::sendsTheWordOfTheChoices_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("cells"); // 27 down to 0: command, address, data, low option bits
    QTest::addColumn<int>("word");

    const QString powerDown = QStringLiteral("Power Down DAC (Power-up)");
    const QString update = QStringLiteral("Write to and Update DAC channel n");
    word("nothing chosen since start-up", {}, "0000 0000 0000 0000 0000 0000 0000", 0);
    word("Write to Input Register n, DAC A, code 0",
         {"Write to Input Register n", "DAC A", "hexText=0"}, "0000 0000 0000 0000 0000 0000 0000",
         0);
    word("Write to and Update DAC channel n, DAC B, FFFF", {update, "DAC B", "hexText=FFFF"},
         "0011 0001 1111 1111 1111 1111 0000", 0x19FFFF);
    word("Write to Input Register n, Update All, All DACs, 8000",
         {"Write to Input Register n, Update All", "All DACs", "hexText=8000"},
         "0010 1111 1000 0000 0000 0000 0000", 0x178000);
    word("Update DAC Register n after DAC C", {"DAC C", "Update DAC Register n"},
         "0001 0010 0000 0000 0000 0000 0000", 0xA0000);
    word("power down DAC A and DAC C, 1k Ohm to Ground",
         {powerDown, "DAC A", "DAC C", "1k Ohm to Ground"}, "0100 0000 0000 0000 0001 0101 0000",
         0x200015);
    word("Reset All Registers", {"Reset", "Reset All Registers"},
         "0101 0000 0000 0000 0000 0001 0000", 0x280001);
    word("Internal reference ON", {"REF Setup Register", "Internal reference ON"},
         "0111 0000 0000 0000 0000 0001 0000", 0x380001);

    word("all four three-state", {powerDown, "DAC A", "DAC B", "DAC C", "DAC D", "Three State"},
         "0100 0000 0000 0000 0011 1111 0000", 0x20003F);
    word("DAC E after 1k Ohm: the same cell", {powerDown, "1k Ohm to Ground", "powerDownCheck_4"},
         "0100 0000 0000 0000 0001 0000 0000", 0x200010);
    word("100k Ohm after DAC E: the mode wins",
         {powerDown, "powerDownCheck_4", "100k Ohm to Ground"},
         "0100 0000 0000 0000 0010 0000 0000", 0x200020);
    word("Reset All Registers, then back to registers only",
         {"Reset", "Reset All Registers", "Reset DAC and Input Registers Only"},
         "0101 0000 0000 0000 0000 0000 0000", 0x280000);
    word("Mid Scale, not sent", {"Reset", "clearCodeOption_1"},
         "0101 0000 0000 0000 0000 0000 0001", 0x280000);
    word("CLR Code Register, No Operation: command 0, data 0",
         {"cmdBitsOption_8", "clearCodeOption_3"}, "1000 0000 0000 0000 0000 0000 0011", 0);
    word("LDAC overwrite DAC A and DAC D", {"LDAC Register Setup", "DAC A", "DAC D"},
         "0110 0000 0000 0000 0000 1001 0000", 0x300009);
    word("Internal reference ON, then OFF again",
         {"REF Setup Register", "Internal reference ON",
          "Internal reference OFF (default) (use external reference) "},
         "0111 0000 0000 0000 0000 0000 0000", 0x380000);

    // An address choice loses the code typed before it.
    word("a code, then DAC D", {update, "hexText=FFFF", "DAC D"},
         "0011 0011 0000 0000 0000 0000 0000", 0x1B0000);
    word("a code, then DAC H, hidden", {update, "hexText=FFFF", "addressBitsOption_7"},
         "0011 0111 0000 0000 0000 0000 0000", 0x1F0000);
    word("a voltage, then All DACs: sent as DAC H", {update, "voltageText=2.5", "All DACs"},
         "0011 1111 0000 0000 0000 0000 0000", 0x1F0000);
}

// Two clicks: the word twice, and nothing in the window changes.
void TestEditorWindow::sendsTheWordOfTheChoices()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, cells);
    QFETCH(int, word);

    QVERIFY(m_window->perform(steps));
    QCOMPARE(m_window->digits(0, 27), cells.remove(QLatin1Char(' ')));
    const QStringList before = viewOf(*m_window);
    QVERIFY(m_window->perform({"Write to Part", "Write to Part"}));
    QCOMPARE(m_window->sentWords(), (QList<qint64> {word, word}));
    // Nothing else reaches the board but the sample of the Vdd box (0xBB), which a click may take
    // the focus from.
    QList<BoardTrace::Record> calls = m_window->callsSinceOpen();
    calls.removeIf([](const auto &call) { return call.number(QStringLiteral("request")) == 0xBB; });
    QCOMPARE(calls.size(), 2);
    QCOMPARE(viewOf(*m_window), before);
}

void TestEditorWindow::refusedWriteShowsErrorAndKeepsTheEditor()
{
    QVERIFY(m_window->perform({"Write to and Update DAC channel n", "DAC B", "hexText=8000"}));
    const QStringList before = viewOf(*m_window);
    QCOMPARE(m_window->board().setFailRequests(true), 0);
    {
        MessageBoxAnswerer answerer(QMessageBox::Ok);
        QVERIFY(m_window->perform({"Write to Part"}));
        QCOMPARE(answerer.seen().size(), 1);
        QCOMPARE(answerer.seen().first().text, QStringLiteral("error"));
    }
    QCOMPARE(viewOf(*m_window), before);
    QVERIFY(m_window->callsSinceOpen().last().status != 0);

    // The same word goes again once the board takes it, and the DAC follows.
    QCOMPARE(m_window->board().setFailRequests(false), 0);
    MessageBoxAnswerer answerer(QMessageBox::Ok);
    QCOMPARE(m_window->writeToPart(), 0x198000);
    QVERIFY(answerer.seen().isEmpty());
    QCOMPARE(m_window->sentWords(), (QList<qint64> {0x198000, 0x198000}));
    QCOMPARE(m_window->board().channelVolts(1).value_or(-1), 2.5);
}

QTEST_MAIN(TestEditorWindow)
#include "tst_editorwindow.moc"
