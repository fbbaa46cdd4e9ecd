#include "windowonboard.h"

#include <QTest>

class TestKeyboard final : public QObject
{
    Q_OBJECT

    static QWidget *focus() { return QApplication::focusWidget(); }
    static bool focusIn(const QString &array) { return focus()->objectName().startsWith(array); }
    // The key; then the focus's name unless it is shown and lies wholly in each container.
    static QString press(int key, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::keyClick(focus(), Qt::Key(key), modifiers);
        bool seen = focus() && focus()->isVisible();
        for (const QWidget *c = seen ? focus()->parentWidget() : nullptr; c; c = c->parentWidget())
            seen = seen && c->rect().contains(QRect(focus()->mapTo(c, QPoint()), focus()->size()));
        return seen ? QString() : focus() ? focus()->objectName() : "no focus";
    }

private slots:
    void keysReachOnlyWhatIsSeen_data();
    void keysReachOnlyWhatIsSeen();
};

void TestKeyboard::keysReachOnlyWhatIsSeen_data()
{
    QTest::addColumn<QString>("array");   // reached by Tab, then walked with the arrow keys
    QTest::addColumn<int>("seen");        // its members on screen
    QTest::addColumn<QString>("command"); // clicked first: it shows its panel
    QTest::newRow("readback channels E-H parked") << "Option_MUX" << 4 << "cmdBitsOption_0";
    QTest::newRow("command 8 parked") << "cmdBitsOption" << 8 << "cmdBitsOption_0";
    QTest::newRow("power-down boxes E-H parked") << "powerDownCheck" << 4 << "cmdBitsOption_4";
    QTest::newRow("clear codes parked") << "ResetOption" << 2 << "cmdBitsOption_5";
    QTest::newRow("LDAC boxes E-H parked") << "LDACOverwriteCheck" << 4 << "cmdBitsOption_6";
    QTest::newRow("reference panel") << "refOption" << 2 << "cmdBitsOption_7";
}

void TestKeyboard::keysReachOnlyWhatIsSeen()
{
    QFETCH(QString, command);
    QFETCH(QString, array);
    // Every box answered: a refused request fails the test at once instead of waiting on a box.
    WindowOnBoard window;
    QVERIFY(window.open());
    QVERIFY(window.perform({command}));

    // Twice round the window each way, ticking each box passed; into the array, and along it.
    for (int step = 0; step < 80 || (!focusIn(array) && step < 120); ++step) {
        QCOMPARE(press(Qt::Key_Tab, step < 40 ? Qt::NoModifier : Qt::ShiftModifier), QString());
        if (focus()->inherits("QCheckBox"))
            QCOMPARE(press(Qt::Key_Space), QString());
    }
    const Qt::Key arrows[] {Qt::Key_Down, Qt::Key_Right, Qt::Key_Up, Qt::Key_Left, Qt::Key_Down};
    QSet<QWidget *> reached {focus()};
    for (int step = 0; step < 45; ++step) {
        QCOMPARE(press(arrows[step / 9]), QString());
        QVERIFY(focusIn(array));
        reached.insert(focus());
    }
    QTEST(int(reached.size()), "seen");

    // Samples of channels A to D: no pin moves, no hidden channel is read, no box.
    const QStringList samples {"0xbb 0x0", "0xcc 0x1", "0xcc 0x2", "0xcc 0x4", "0xcc 0x8"};
    QVERIFY(window.takeBoxes().isEmpty());
    for (const TraceRecord &r : window.calls()) {
        const QString request = QStringLiteral("0x%1 0x%2")
                                        .arg(r.number("request").value_or(-1), 0, 16)
                                        .arg(r.number("value").value_or(-1), 0, 16);
        QVERIFY2(!r.function.endsWith(u"Request") || samples.contains(request),
                 qPrintable(request));
    }
}

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
