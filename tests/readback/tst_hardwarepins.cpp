#include "windowonboard.h"

#include <QCheckBox>
#include <QLabel>
#include <QTest>

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

// The CLR and LDAC check boxes, parked out of sight and clicked by the program: each click drives
// its own pin and shows the level; a failing board keeps the new label.
class tst_HardwarePins : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_window = std::make_unique<WindowOnBoard>();
        QVERIFY(m_window->isReady());
    }
    void cleanup() { m_window.reset(); }
    void clicksDriveThePin_data();
    void clicksDriveThePin();

private:
    QCheckBox *box(const Pin &pin) const { return m_window->control<QCheckBox>(pin.box); }
    QString label(const Pin &pin) const { return m_window->control<QLabel>(pin.label)->text(); }
    int level(const Pin &pin) const { return int(m_window->board().state().value().*pin.high); }

    std::unique_ptr<WindowOnBoard> m_window;
};

void tst_HardwarePins::clicksDriveThePin_data()
{
    QTest::addColumn<int>("pin");

    QTest::newRow("CLR") << 0;
    QTest::newRow("LDAC") << 1;
}

void tst_HardwarePins::clicksDriveThePin()
{
    QFETCH(int, pin);

    const Pin &clicked = pins[pin];
    const Pin &other = pins[1 - pin];
    for (const Pin &p : pins) {
        QVERIFY(box(p)->visibleRegion().isEmpty());
        QVERIFY(!box(p)->isChecked());
        QCOMPARE(label(p), QStringLiteral("HI"));
        QCOMPARE(level(p), 1);
    }
    // The other pin low, and left so.
    box(other)->click();
    QCOMPARE(level(other), 0);

    // A failed request leaves the pin where it was.
    bool checked = false;
    for (const auto &[fail, levelAfter] :
         {std::pair {true, 1}, std::pair {false, 1}, std::pair {false, 0}, std::pair {true, 0}}) {
        checked = !checked;
        m_window->forgetRequests();
        QCOMPARE(m_window->board().setFailRequests(fail), 0);
        box(clicked)->click();
        QCOMPARE(box(clicked)->isChecked(), checked);
        QCOMPARE(label(clicked), checked ? QStringLiteral("LOW") : QStringLiteral("HI"));
        QCOMPARE(m_window->requestCodes(),
                 QList<int> {checked ? clicked.lowRequest : clicked.highRequest});
        QCOMPARE(m_window->requests().first().status != 0, fail);
        const QList<SeenMessageBox> boxes = m_window->takeBoxes();
        QCOMPARE(boxes.size(), fail ? 1 : 0);
        if (fail)
            QCOMPARE(boxes.first().text, QStringLiteral("error"));
        QCOMPARE(m_window->board().setFailRequests(false), 0);
        QCOMPARE(level(clicked), levelAfter);
        QVERIFY(box(other)->isChecked());
        QCOMPARE(label(other), QStringLiteral("LOW"));
        QCOMPARE(level(other), 0);
    }
}

QTEST_MAIN(tst_HardwarePins)
#include "tst_hardwarepins.moc"
