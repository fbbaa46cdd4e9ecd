#include "mainform.h"
#include "messageboxanswerer.h"
#include "windowonboard.h"

#include <QCheckBox>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

struct Pin
{
    const char *box;
    const char *label;
    int lowRequest;
    int highRequest;
    std::uint8_t SimulatedBoardState::*high; // the level the board drives
};

constexpr Pin pins[] = {
        {"CLRCheck", "CLRStateLabel", 0xE0, 0xE1, &SimulatedBoardState::clrHigh},
        {"LDACCheck", "LDACStateLabel", 0xF0, 0xF1, &SimulatedBoardState::ldacHigh},
};

} // namespace

// The CLR and LDAC check boxes, parked out of sight: each click drives its pin and shows the
// level, on the simulated board, also when the board fails.
class tst_HardwarePins : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void clicksDriveThePin_data();
    void clicksDriveThePin();
    void pinsAreIndependent_data();
    void pinsAreIndependent();
    void failingBoard_data();
    void failingBoard();

private:
    void bringUp(BoardLibraryForm form);
    QCheckBox *box(const Pin &pin) const { return m_window->control<QCheckBox>(pin.box); }
    QString label(const Pin &pin) const
    {
        const auto *shown = m_window->control<QLabel>(pin.label);
        return shown ? shown->text() : QStringLiteral("(no label)");
    }
    // 1 high, 0 low, -1 when the board cannot tell.
    int level(const Pin &pin) const
    {
        const std::optional<SimulatedBoardState> state = m_window->board().state();
        return state ? int((*state).*pin.high) : -1;
    }

    QTemporaryDir m_scratch;
    std::unique_ptr<WindowOnBoard> m_window;
    // Answers and records any box a test does not expect; a test that expects boxes drops it
    // and answers them itself.
    std::unique_ptr<MessageBoxAnswerer> m_unexpectedBoxes;
};

void tst_HardwarePins::initTestCase()
{
    QVERIFY(m_scratch.isValid());
    QCoreApplication::setApplicationName(QStringLiteral("TX4410(version2)"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.4"));
}

void tst_HardwarePins::init()
{
    m_unexpectedBoxes = std::make_unique<MessageBoxAnswerer>(QMessageBox::Ok);
}

void tst_HardwarePins::cleanup()
{
    m_window.reset();
    if (m_unexpectedBoxes) {
        const QList<SeenMessageBox> seen = m_unexpectedBoxes->seen();
        m_unexpectedBoxes.reset();
        QVERIFY2(seen.isEmpty(), seen.isEmpty() ? "" : qPrintable(seen.first().text));
    }
}

void tst_HardwarePins::bringUp(BoardLibraryForm form)
{
    m_window = std::make_unique<WindowOnBoard>(
            form, m_scratch.filePath(QStringLiteral("trace-%1").arg(QTest::currentTestFunction())));
    QVERIFY(m_window->isReady());
    for (const Pin &pin : pins) {
        QVERIFY(box(pin));
        // No mouse reaches them.
        QVERIFY(box(pin)->visibleRegion().isEmpty());
        QVERIFY(!box(pin)->isChecked());
        QCOMPARE(label(pin), QStringLiteral("HI"));
        QCOMPARE(level(pin), 1);
    }
}

void tst_HardwarePins::clicksDriveThePin_data()
{
    QTest::addColumn<BoardLibraryForm>("form");
    QTest::addColumn<int>("pin");

    QTest::newRow("CLR, four-function") << BoardLibraryForm::FourFunction << 0;
    QTest::newRow("LDAC, four-function") << BoardLibraryForm::FourFunction << 1;
    QTest::newRow("CLR, BoardPort") << BoardLibraryForm::BoardPort << 0;
    QTest::newRow("LDAC, BoardPort") << BoardLibraryForm::BoardPort << 1;
}

void tst_HardwarePins::clicksDriveThePin()
{
    QFETCH(BoardLibraryForm, form);
    QFETCH(int, pin);

    bringUp(form);
    const Pin &clicked = pins[pin];
    const Pin &other = pins[1 - pin];
    // Checked drives low, cleared high, and again.
    for (const bool checked : {true, false, true}) {
        m_window->forgetRequests();
        box(clicked)->click();
        QCOMPARE(box(clicked)->isChecked(), checked);
        QCOMPARE(label(clicked), checked ? QStringLiteral("LOW") : QStringLiteral("HI"));
        QCOMPARE(m_window->requestCodes(),
                 QList<int> {checked ? clicked.lowRequest : clicked.highRequest});
        const BoardTrace::Record request = m_window->requests().first();
        QCOMPARE(request.status, 0);
        QCOMPARE(request.number(QStringLiteral("value")).value_or(-1), 0);
        QCOMPARE(request.number(QStringLiteral("index")).value_or(-1), 0);
        QCOMPARE(level(clicked), checked ? 0 : 1);
        QCOMPARE(label(other), QStringLiteral("HI"));
        QCOMPARE(level(other), 1);
    }
}

void tst_HardwarePins::pinsAreIndependent_data()
{
    QTest::addColumn<int>("first");

    QTest::newRow("CLR first") << 0;
    QTest::newRow("LDAC first") << 1;
}

void tst_HardwarePins::pinsAreIndependent()
{
    QFETCH(int, first);

    bringUp(BoardLibraryForm::FourFunction);
    const Pin &one = pins[first];
    const Pin &two = pins[1 - first];
    box(one)->click();

    // Both low, then the first back high: each click moves only its own pin.
    m_window->forgetRequests();
    box(two)->click();
    QCOMPARE(m_window->requestCodes(), QList<int> {two.lowRequest});
    QCOMPARE(label(two), QStringLiteral("LOW"));
    QCOMPARE(label(one), QStringLiteral("LOW"));
    QVERIFY(box(one)->isChecked());
    QCOMPARE(level(one), 0);
    QCOMPARE(level(two), 0);

    m_window->forgetRequests();
    box(one)->click();
    QCOMPARE(m_window->requestCodes(), QList<int> {one.highRequest});
    QCOMPARE(label(one), QStringLiteral("HI"));
    QCOMPARE(label(two), QStringLiteral("LOW"));
    QVERIFY(box(two)->isChecked());
    QCOMPARE(level(one), 1);
    QCOMPARE(level(two), 0);
}

void tst_HardwarePins::failingBoard_data()
{
    QTest::addColumn<int>("pin");
    QTest::addColumn<bool>("checked"); // the state the failing click leaves

    QTest::newRow("CLR checked") << 0 << true;
    QTest::newRow("CLR cleared") << 0 << false;
    QTest::newRow("LDAC checked") << 1 << true;
    QTest::newRow("LDAC cleared") << 1 << false;
}

void tst_HardwarePins::failingBoard()
{
    QFETCH(int, pin);
    QFETCH(bool, checked);

    bringUp(BoardLibraryForm::FourFunction);
    const Pin &clicked = pins[pin];
    if (!checked)
        box(clicked)->click();
    const int levelBefore = level(clicked);
    QCOMPARE(m_window->board().setFailRequests(true), 0);
    m_window->forgetRequests();

    const QString newLabel = checked ? QStringLiteral("LOW") : QStringLiteral("HI");
    m_unexpectedBoxes.reset();
    QString labelWhileBoxOpen;
    bool checkedWhileBoxOpen = !checked;
    MessageBoxAnswerer answerer([&](const SeenMessageBox &) {
        labelWhileBoxOpen = label(clicked);
        checkedWhileBoxOpen = box(clicked)->isChecked();
        return QMessageBox::Ok;
    });
    box(clicked)->click();

    QCOMPARE(answerer.seen().size(), 1);
    const SeenMessageBox seen = answerer.seen().first();
    QCOMPARE(seen.caption, QStringLiteral("TX4410(version2)"));
    QCOMPARE(seen.text, QStringLiteral("error"));
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(seen.icon, QMessageBox::NoIcon);
    // The label was set before the request went out, and nothing is rolled back after it.
    QCOMPARE(labelWhileBoxOpen, newLabel);
    QCOMPARE(checkedWhileBoxOpen, checked);
    QCOMPARE(label(clicked), newLabel);
    QCOMPARE(box(clicked)->isChecked(), checked);
    QCOMPARE(m_window->requestCodes(),
             QList<int> {checked ? clicked.lowRequest : clicked.highRequest});
    QVERIFY(m_window->requests().first().status != 0);
    // The pin did not move.
    QCOMPARE(level(clicked), levelBefore);
    QCOMPARE(label(pins[1 - pin]), QStringLiteral("HI"));
}

QTEST_MAIN(tst_HardwarePins)
#include "tst_hardwarepins.moc"
