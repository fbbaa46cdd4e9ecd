#include "digitcell.h"
#include "mainform.h"
#include "messageboxanswerer.h"
#include "support/boardtrace.h"
#include "support/simulatedboardcontrol.h"
#include "textbox.h"
#include "usbstuff.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFile>
#include <QGroupBox>
#include <QLocale>
#include <QMenu>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString hexBox = QStringLiteral("hexText");
const QString voltageBox = QStringLiteral("voltageText");

bool canBeSeen(const QWidget *widget)
{
    return widget && widget->isVisible() && !widget->visibleRegion().isEmpty();
}

// A right click into the box, then the entry whose caption (less its "&") starts with `entry`.
bool chooseFromContextMenu(QWidget *box, const QString &entry)
{
    const QPoint at = box->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, box->mapToGlobal(at));
    QApplication::sendEvent(box, &event);
    QPointer<QMenu> menu; // deletes itself once closed
    const auto opened = [&menu] {
        return !(menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())).isNull();
    };
    for (QAction *action : QTest::qWaitFor(opened) ? menu->actions() : QList<QAction *> {}) {
        if (action->text().remove(u'&').startsWith(entry) && action->isEnabled()) {
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
            return QTest::qWaitFor([&menu] { return menu.isNull() || !menu->isVisible(); });
        }
    }
    return false;
}

// The command choices, their panels and the cells they light (bit i: cell i).
const struct
{
    const char *step; // the caption, or the name of the one no user can reach
    const char *panel;
    bool codeEntry, addressBits;
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

} // namespace

// The editor as a bench user drives it with mouse and keys, on the simulated board behind the
// build's four-function library, and the words "Write to Part" sends.
class TestEditorWindow final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("TX4410_BOARD_TRACE", QFile::encodeName(m_trace));
        m_board = std::make_unique<SimulatedBoardControl>(QStringLiteral(TX4410_USB4_LIBRARY));
        QVERIFY2(m_scratch.isValid() && m_board->isValid(), qPrintable(m_board->errorString()));
    }
    // A decimal comma in the user's notation: the program's own texts must still read back.
    void init()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(m_board->reset(), 0);
        m_usb = makeUSBStuff(BoardLibraryForm::FourFunction);
        m_form = std::make_unique<MainForm>(*m_usb);
        QVERIFY(m_form->load() == MainForm::LoadResult::Ready);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        m_atOpen = BoardTrace::read(m_trace).records().size();
    }
    void cleanup()
    {
        m_form.reset();
        m_usb.reset();
        QLocale::setDefault(QLocale::system());
    }

    void typed_data();
    void typed();
    void keyAfterPaste_data();
    void keyAfterPaste();
    void commandShowsItsPanel_data();
    void commandShowsItsPanel();
    void tickThenClear_data();
    void tickThenClear();
    void sendsTheWordOfTheChoices_data();
    void sendsTheWordOfTheChoices();
    void refusedWriteShowsErrorAndKeepsTheEditor();

private:
    template<class T = QWidget> T *control(const QString &name) const
    {
        return m_form->findChild<T *>(name);
    }
    QString text(const QString &box) const { return control<TextBox>(box)->text(); }
    DigitCell *cell(int i) const
    {
        return control<DigitCell>(QStringLiteral("BitsDisplay_%1").arg(i));
    }
    TextBox *focusedBox(const QString &name) const
    {
        TextBox *box = control<TextBox>(name);
        if (!canBeSeen(box))
            return nullptr;
        QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
        return QTest::qWaitFor([box] { return box->hasFocus(); }) ? box : nullptr;
    }
    // "BOX=TEXT": into the box, Ctrl+A, Backspace, TEXT typed. Otherwise a button by name, else
    // by the caption only one visible button has; clicked with the mouse where it can be seen.
    bool perform(const QStringList &steps) const
    {
        for (const QString &step : steps) {
            const QString name = step.section(u'=', 0, 0);
            if (step.contains(u'=') && name.endsWith(QLatin1String("Text"))) {
                TextBox *box = focusedBox(name);
                if (!box)
                    return false;
                QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
                QTest::keyClick(box, Qt::Key_Backspace);
                QTest::keyClicks(box, step.section(u'=', 1));
                continue;
            }
            auto *button = m_form->findChild<QAbstractButton *>(step);
            QList<QAbstractButton *> seen = m_form->findChildren<QAbstractButton *>();
            seen.removeIf([&](auto *b) { return b->text() != step || !canBeSeen(b); });
            if (!button && seen.size() == 1)
                button = seen.first();
            if (!button)
                return false;
            if (canBeSeen(button))
                QTest::mouseClick(button, Qt::LeftButton, {},
                                  button->visibleRegion().boundingRect().center());
            else
                button->click(); // hidden or outside its frame: no mouse reaches it
        }
        return true;
    }
    // The digits of cells last down to first: '0', '1', '-' for -1.
    QString digits(int first, int last) const
    {
        QString result;
        for (int i = last; i >= first; --i) {
            const double v = cell(i)->value();
            result += v == 0 ? u'0' : v == 1 ? u'1' : v == -1 ? u'-' : u'?';
        }
        return result;
    }
    // Bit i set: cell i lit; -1 for a colour neither lit nor dim.
    qint64 litCells() const
    {
        qint64 lit = 0;
        for (int i = 0; i < 32; ++i) {
            const int colour = cell(i)->segmentColor();
            if (colour != 255 && colour != 160)
                return -1;
            lit |= qint64(colour == 255) << i;
        }
        return lit;
    }
    QList<BoardTrace::Record> calls() const
    {
        return BoardTrace::read(m_trace).records().mid(m_atOpen);
    }
    // The 0xDD requests since start-up as index * 65536 + value.
    QList<qint64> sentWords() const
    {
        QList<qint64> words;
        for (const BoardTrace::Record &r : calls()) {
            if (r.function == u"Vendor_Request" && r.number(QStringLiteral("request")) == 0xDD)
                words.append(r.number(QStringLiteral("index")).value_or(-1) * 65536
                             + r.number(QStringLiteral("value")).value_or(-1));
        }
        return words;
    }
    // The one word a click on "Write to Part" sends; -1 for none or more.
    qint64 writeToPart() const
    {
        const qsizetype before = sentWords().size();
        const QList<qint64> words = perform({"Write to Part"}) ? sentWords() : QList<qint64> {};
        return words.size() == before + 1 ? words.last() : -1;
    }
    QStringList view() const
    {
        return {digits(0, 31), QString::number(litCells()), text(hexBox), text(voltageBox),
                text(QStringLiteral("VrefText"))};
    }

    QTemporaryDir m_scratch;
    const QString m_trace = m_scratch.filePath(QStringLiteral("trace.txt"));
    std::unique_ptr<SimulatedBoardControl> m_board;
    std::unique_ptr<USBStuff> m_usb;
    std::unique_ptr<MainForm> m_form;
    qsizetype m_atOpen = 0;
};

void TestEditorWindow::typed_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("hex"); // the boxes afterwards
    QTest::addColumn<QString>("voltage");
    QTest::addColumn<int>("code");

    // The box typed in keeps what it takes (4 and 8 characters); the other one is rewritten.
    const auto row = [](const char *name, const QStringList &steps, const char *hex,
                        const char *voltage, int code) {
        QTest::newRow(name) << steps << QString(hex) << QString(voltage) << code;
    };
    row("00ff stays", {"hexText=00ff"}, "00ff", "0.01945495605469", 0xFF);
    row("a fifth hex digit", {"hexText=1FFFF"}, "1FFF", "0.62492370605469", 0x1FFF);
    row("2.5 V", {"voltageText=2.5"}, "8000", "2.5", 0x8000);
    row("abc V", {"voltageText=abc"}, "0", "abc", 0);
    row("a ninth voltage character", {"voltageText=2.5000001"}, "8000", "2.500000", 0x8000);
    row("a code lost on an address choice", {"hexText=FFFF", "DAC A"}, "0", "0", 0);
    row("reference 2,5 after 8000", {"hexText=8000", "VrefText=2,5"}, "8000", "1.25000000000000",
        0x8000);
    row("no reference, 1 V", {"hexText=8000", "VrefText=", "voltageText=1"}, "8000", "1", 0x8000);
}

void TestEditorWindow::typed()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, hex);
    QFETCH(QString, voltage);
    QFETCH(int, code);

    MessageBoxAnswerer answerer(QMessageBox::Ok);
    QVERIFY(perform(steps));
    QCOMPARE(text(hexBox), hex);
    QCOMPARE(text(voltageBox), voltage);
    QCOMPARE(digits(4, 19), QStringLiteral("%1").arg(code, 16, 2, QLatin1Char('0')));
    QCOMPARE(writeToPart(), code);
    QVERIFY(answerer.seen().isEmpty());
}

void TestEditorWindow::keyAfterPaste_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("pasted"); // with the mouse before the key, unless empty
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("voltage");

    QTest::newRow("Shift in hexText")
            << QStringList {"hexText=8000"} << hexBox << "FFFF" << int(Qt::Key_Shift) << "FFFF"
            << "4.99992370605469";
    QTest::newRow("Left in voltageText")
            << QStringList {"hexText=8000"} << voltageBox << "1.25" << int(Qt::Key_Left) << "4000"
            << "1.25";
    // What the program writes reads back as the same code, in its own form.
    QTest::newRow("End after 4d93 at 2,5 V") << QStringList {"VrefText=2,5", "hexText=4d93"}
                                             << voltageBox << "" << int(Qt::Key_End) << "4D93"
                                             << "0.75756072998047";
}

// Any key going up in a box converts what it holds; a paste with the mouse does not.
void TestEditorWindow::keyAfterPaste()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, box);
    QFETCH(QString, pasted);
    QFETCH(int, key);

    QVERIFY(perform(steps));
    if (!pasted.isEmpty()) {
        const QStringList before = view();
        QGuiApplication::clipboard()->setText(pasted);
        QVERIFY(chooseFromContextMenu(control(box), QStringLiteral("Select All")));
        QVERIFY(chooseFromContextMenu(control(box), QStringLiteral("Paste")));
        QCOMPARE(text(box), pasted);
        QStringList after = view();
        after.replace(box == hexBox ? 2 : 3, before[box == hexBox ? 2 : 3]);
        QCOMPARE(after, before);
    }
    TextBox *target = focusedBox(box);
    QVERIFY(target);
    QTest::keyClick(target, Qt::Key(key));
    QTEST(text(hexBox), "hex");
    QTEST(text(voltageBox), "voltage");
    QCOMPARE(digits(4, 19).toInt(nullptr, 2), text(hexBox).toInt(nullptr, 16));
}

void TestEditorWindow::commandShowsItsPanel_data()
{
    QTest::addColumn<int>("command");
    for (int k = 0; k < 9; ++k)
        QTest::addRow("%s", commands[k].step) << k;
}

// Chosen after DAC C, choices in every panel, another command and a code: only its panel shows,
// where a user sees it, its fields light, and every choice is back to its default.
void TestEditorWindow::commandShowsItsPanel()
{
    QFETCH(int, command);
    const auto &[step, panel, codeEntry, addressBits, lit] = commands[command];

    QVERIFY(perform({"DAC C", "Power Down DAC (Power-up)", "Three State", "DAC B",
                     "powerDownCheck_6", "Reset", "Reset All Registers", "clearCodeOption_3",
                     "LDAC Register Setup", "DAC A", "LDACOverwriteCheck_7", "REF Setup Register",
                     "Internal reference ON", commands[command == 0 ? 3 : 0].step, "hexText=FFFF",
                     step}));
    for (int i = 0; i < 9; ++i) {
        const auto *frame = control<QGroupBox>(QStringLiteral("dataBitsFrame_%1").arg(i));
        QVERIFY(frame);
        QCOMPARE(frame->isVisible(), i == command);
        if (i == command)
            QCOMPARE(frame->title(), QString(panel));
    }
    // What sits on top where the panel and the address choice stand.
    const auto topmostIn = [this](const QString &name, const QString &outer) {
        const QWidget *at = control(name);
        const QWidget *top = m_form->childAt(at->mapTo(m_form.get(), at->rect().center()));
        return top && (top == control(outer) || control(outer)->isAncestorOf(top));
    };
    const QString shown = QStringLiteral("dataBitsFrame_%1").arg(command);
    QVERIFY(topmostIn(shown, codeEntry ? QStringLiteral("dataFrame") : shown));
    QVERIFY(topmostIn(QStringLiteral("noAddressBitsFrame"),
                      addressBits ? QStringLiteral("addressBitsFrame")
                                  : QStringLiteral("noAddressBitsFrame")));

    // Cell 31 keeps its start colour, dim; cells 28 to 31 hold 0.
    QCOMPARE(litCells(), lit);
    QCOMPARE(digits(20, 31),
             QStringLiteral("0000%1").arg(command, 4, 2, QLatin1Char('0')) + "0010");
    QCOMPARE(digits(0, 19), QString(20, QLatin1Char('0')));
    QCOMPARE(text(hexBox) + text(voltageBox), QStringLiteral("00"));
    QStringList checked; // a missing button counts as checked
    for (const auto &[array, size] : {std::pair {"powerDownOption", 4},
                                      {"powerDownCheck", 8},
                                      {"ResetOption", 2},
                                      {"clearCodeOption", 4},
                                      {"LDACOverwriteCheck", 8},
                                      {"refOption", 2}}) {
        for (int i = 0; i < size; ++i) {
            const QString name = QStringLiteral("%1_%2").arg(array).arg(i);
            const auto *button = control<QAbstractButton>(name);
            if (!button || button->isChecked())
                checked.append(name);
        }
    }
    QCOMPARE(checked,
             (QStringList {"powerDownOption_0", "ResetOption_0", "clearCodeOption_0",
                           "refOption_0"}));
    // The dim address goes out with the commands that light none.
    QCOMPARE(writeToPart(), (qint64(command & 7) << 19) | 0x20000);
}

void TestEditorWindow::tickThenClear_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("array");
    QTest::newRow("power down") << 4 << "powerDownCheck";
    QTest::newRow("LDAC overwrite") << 6 << "LDACOverwriteCheck";
}

// Box k, "DAC A" to "DAC H", sets and then clears data bit k alone.
void TestEditorWindow::tickThenClear()
{
    QFETCH(int, command);
    QFETCH(QString, array);

    const qint64 commandBits = qint64(command) << 19;
    QVERIFY(perform({commands[command].step}));
    for (int k = 0; k < 8; ++k) {
        const QString box = QStringLiteral("%1_%2").arg(array).arg(k);
        QVERIFY(perform({box}));
        QCOMPARE(writeToPart(), commandBits | (qint64(1) << k));
        QVERIFY(perform({box}));
        QCOMPARE(writeToPart(), commandBits);
    }
}

void TestEditorWindow::sendsTheWordOfTheChoices_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("low"); // cells 3 down to 0, which hold option bits not sent
    QTest::addColumn<int>("word");

    const auto word = [](const char *name, const QStringList &steps, const char *low, int word) {
        QTest::newRow(name) << steps << QString(low) << word;
    };
    const QString powerDown = QStringLiteral("Power Down DAC (Power-up)");
    const QString update = QStringLiteral("Write to and Update DAC channel n");
    word("nothing chosen since start-up", {}, "0000", 0);
    word("Write to and Update DAC channel n, DAC B, FFFF", {update, "DAC B", "hexText=FFFF"},
         "0000", 0x19FFFF);
    word("Write to Input Register n, Update All, All DACs, 8000",
         {"Write to Input Register n, Update All", "All DACs", "hexText=8000"}, "0000", 0x178000);
    word("Update DAC Register n after DAC C", {"DAC C", "Update DAC Register n"}, "0000", 0xA0000);
    word("power down DAC A and C, 1k Ohm", {powerDown, "DAC A", "DAC C", "1k Ohm to Ground"},
         "0000", 0x200015);
    word("all four three-state", {powerDown, "DAC A", "DAC B", "DAC C", "DAC D", "Three State"},
         "0000", 0x20003F);
    word("DAC E after 1k Ohm: the same cell", {powerDown, "1k Ohm to Ground", "powerDownCheck_4"},
         "0000", 0x200010);
    word("100k Ohm after DAC E: the mode wins",
         {powerDown, "powerDownCheck_4", "100k Ohm to Ground"}, "0000", 0x200020);
    word("Reset All Registers", {"Reset", "Reset All Registers"}, "0000", 0x280001);
    word("Reset All Registers, then registers only",
         {"Reset", "Reset All Registers", "Reset DAC and Input Registers Only"}, "0000", 0x280000);
    word("Mid Scale, not sent", {"Reset", "clearCodeOption_1"}, "0001", 0x280000);
    word("CLR Code Register, No Operation", {"cmdBitsOption_8", "clearCodeOption_3"}, "0011", 0);
    word("LDAC overwrite DAC A and DAC D", {"LDAC Register Setup", "DAC A", "DAC D"}, "0000",
         0x300009);
    word("Internal reference ON", {"REF Setup Register", "Internal reference ON"}, "0000",
         0x380001);
    word("Internal reference ON, then OFF",
         {"REF Setup Register", "Internal reference ON",
          "Internal reference OFF (default) (use external reference) "},
         "0000", 0x380000);
    // An address choice loses the code typed before it.
    word("a code, then DAC D", {update, "hexText=FFFF", "DAC D"}, "0000", 0x1B0000);
    word("a code, then DAC H, hidden", {update, "hexText=FFFF", "addressBitsOption_7"}, "0000",
         0x1F0000);
    word("a voltage, then All DACs: DAC H", {update, "voltageText=2.5", "All DACs"}, "0000",
         0x1F0000);
}

// Two clicks: the word twice, nothing else reaches the board, nothing in the window changes.
void TestEditorWindow::sendsTheWordOfTheChoices()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, low);
    QFETCH(int, word);

    QVERIFY(perform(steps));
    QCOMPARE(digits(0, 3), low);
    const QStringList before = view();
    QVERIFY(perform({"Write to Part", "Write to Part"}));
    QCOMPARE(sentWords(), (QList<qint64> {word, word}));
    // But the Vdd box's sample (0xBB), which a click may take the focus from.
    QList<BoardTrace::Record> sent = calls();
    sent.removeIf([](const auto &call) { return call.number(QStringLiteral("request")) == 0xBB; });
    QCOMPARE(sent.size(), 2);
    QCOMPARE(view(), before);
}

void TestEditorWindow::refusedWriteShowsErrorAndKeepsTheEditor()
{
    QVERIFY(perform({"Write to and Update DAC channel n", "DAC B", "hexText=8000"}));
    const QStringList before = view();
    QCOMPARE(m_board->setFailRequests(true), 0);
    {
        MessageBoxAnswerer answerer(QMessageBox::Ok);
        QVERIFY(perform({"Write to Part"}));
        QCOMPARE(answerer.seen().size(), 1);
        QCOMPARE(answerer.seen().first().text, QStringLiteral("error"));
    }
    QCOMPARE(view(), before);
    QVERIFY(calls().last().status != 0);

    // The same word goes again once the board takes it, and the DAC follows.
    QCOMPARE(m_board->setFailRequests(false), 0);
    MessageBoxAnswerer answerer(QMessageBox::Ok);
    QCOMPARE(writeToPart(), 0x198000);
    QVERIFY(answerer.seen().isEmpty());
    QCOMPARE(sentWords(), (QList<qint64> {0x198000, 0x198000}));
    QCOMPARE(m_board->channelVolts(1).value_or(-1), 2.5);
}

QTEST_MAIN(TestEditorWindow)
#include "tst_editorwindow.moc"
