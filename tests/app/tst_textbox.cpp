#include "textbox.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString programVoltage = QStringLiteral("2.50000000000000"); // 16 characters

void paste(TextBox &box, const QString &text)
{
    QApplication::clipboard()->setText(text);
    QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
}

} // namespace

class TestTextBox final : public QObject
{
    Q_OBJECT

private slots:
    void typingStopsAtTheLimit_data();
    void typingStopsAtTheLimit();
    void pasteOverTheLimitIsRefused_data();
    void pasteOverTheLimitIsRefused();
    void programWritesStayWhole_data();
    void programWritesStayWhole();
    void longProgramTextCanBeEditedDownButNotUp_data();
    void longProgramTextCanBeEditedDownButNotUp();
    void undoBackToALongTextKeepsTheLimit();
    void contextMenuPasteIsHeldToTheLimit();
    void keyReleases_data();
    void keyReleases();
    void focusMovingAway_data();
    void focusMovingAway();
    void messageBoxIsNoMoveAway();
};

void TestTextBox::typingStopsAtTheLimit_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");

    QTest::newRow("hex code, 4") << 4 << QStringLiteral("12345") << QStringLiteral("1234");
    QTest::newRow("voltage, 8") << 8 << QStringLiteral("2.500000001") << QStringLiteral("2.500000");
    QTest::newRow("Vdd, 5") << 5 << QStringLiteral("3.3000") << QStringLiteral("3.300");
    QTest::newRow("within the limit") << 5 << QStringLiteral("3.3") << QStringLiteral("3.3");
    QTest::newRow("no limit") << 0 << QString(40, QLatin1Char('7'))
                              << QString(40, QLatin1Char('7'));
}

void TestTextBox::typingStopsAtTheLimit()
{
    QFETCH(int, limit);
    QFETCH(QString, typed);
    QFETCH(QString, kept);

    TextBox box;
    box.setTypingLimit(limit);
    QTest::keyClicks(&box, typed);
    QCOMPARE(box.text(), kept);
}

void TestTextBox::pasteOverTheLimitIsRefused_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("inserted");
    QTest::addColumn<QString>("after");

    const struct
    {
        const char *name;
        int limit;
        QString before;
        QString inserted;
        QString after;
    } cases[] = {
            {"too long into empty", 4, QString(), QStringLiteral("12345"), QString()},
            {"fits exactly", 4, QStringLiteral("12"), QStringLiteral("34"), QStringLiteral("1234")},
            {"one too many", 4, QStringLiteral("12"), QStringLiteral("345"), QStringLiteral("12")},
            {"no limit", 0, QStringLiteral("5"), QString(30, u'0'),
             QStringLiteral("5") + QString(30, u'0')},
    };
    for (const QString &how :
         {QStringLiteral("Ctrl+V"), QStringLiteral("drop"), QStringLiteral("input method")}) {
        for (const auto &row : cases)
            QTest::newRow(qPrintable(how + QStringLiteral(": ") + QLatin1String(row.name)))
                    << how << row.limit << row.before << row.inserted << row.after;
    }
}

void TestTextBox::pasteOverTheLimitIsRefused()
{
    QFETCH(QString, how);
    QFETCH(int, limit);
    QFETCH(QString, before);
    QFETCH(QString, inserted);
    QFETCH(QString, after);

    TextBox box;
    box.setTypingLimit(limit);
    box.resize(300, 20);
    QTest::keyClicks(&box, before);
    if (how == u"Ctrl+V") {
        paste(box, inserted);
    } else if (how == u"drop") {
        // Dropped at the end of the text, as from another program.
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QMimeData data;
        data.setText(inserted);
        const QPointF end(box.width() - 5, box.height() / 2);
        QDragEnterEvent enter(end.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&box, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(end, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&box, &drop);
    } else {
        QInputMethodEvent commit;
        commit.setCommitString(inserted);
        QApplication::sendEvent(&box, &commit);
    }
    QCOMPARE(box.text(), after);
}

void TestTextBox::programWritesStayWhole_data()
{
    QTest::addColumn<bool>("plainSetText");
    QTest::newRow("writeText") << false;
    QTest::newRow("setText") << true;
}

void TestTextBox::programWritesStayWhole()
{
    QFETCH(bool, plainSetText);

    TextBox box;
    box.setTypingLimit(8);
    QTest::keyClicks(&box, QStringLiteral("1"));
    plainSetText ? box.setText(programVoltage) : box.writeText(programVoltage);
    QCOMPARE(box.text(), programVoltage);

    // The write leaves the limit working for the user.
    box.writeText(QString());
    QTest::keyClicks(&box, QStringLiteral("123456789"));
    QCOMPARE(box.text(), QStringLiteral("12345678"));
}

void TestTextBox::longProgramTextCanBeEditedDownButNotUp_data()
{
    QTest::addColumn<QString>("selection"); // characters selected from the end
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("after");

    const QString whole = programVoltage;
    QTest::newRow("typing at the end") << QString() << QStringLiteral("1") << QString() << whole;
    QTest::newRow("pasting at the end") << QString() << QString() << QStringLiteral("1") << whole;
    QTest::newRow("replacing one by one") << QStringLiteral("0") << QStringLiteral("7") << QString()
                                          << whole.chopped(1) + QLatin1Char('7');
    QTest::newRow("replacing one by two")
            << QStringLiteral("0") << QString() << QStringLiteral("77") << whole;
    QTest::newRow("replacing three by one") << QStringLiteral("000") << QStringLiteral("7")
                                            << QString() << whole.chopped(3) + QLatin1Char('7');
}

void TestTextBox::longProgramTextCanBeEditedDownButNotUp()
{
    QFETCH(QString, selection);
    QFETCH(QString, typed);
    QFETCH(QString, pasted);
    QFETCH(QString, after);

    TextBox box;
    box.setTypingLimit(8);
    box.writeText(programVoltage);
    box.end(false);
    for (qsizetype i = 0; i < selection.size(); ++i)
        QTest::keyClick(&box, Qt::Key_Left, Qt::ShiftModifier);
    QCOMPARE(box.selectedText(), selection);
    QTest::keyClicks(&box, typed);
    if (!pasted.isEmpty())
        paste(box, pasted);
    QCOMPARE(box.text(), after);

    // Deleting always works, and so does replacing everything.
    QTest::keyClick(&box, Qt::Key_Backspace);
    QCOMPARE(box.text(), after.chopped(1));
    QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(&box, QStringLiteral("1.25"));
    QCOMPARE(box.text(), QStringLiteral("1.25"));
}

void TestTextBox::undoBackToALongTextKeepsTheLimit()
{
    TextBox box;
    box.setTypingLimit(8);
    box.writeText(programVoltage);
    QTest::keyClick(&box, Qt::Key_Backspace);
    QCOMPARE(box.text(), programVoltage.chopped(1));
    QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(box.text(), programVoltage);
    // Had the undo counted as a refused edit, this one would slip through.
    QTest::keyClicks(&box, QStringLiteral("12"));
    QCOMPARE(box.text(), programVoltage);
    QTest::keyClick(&box, Qt::Key_Backspace);
    QTest::keyClicks(&box, QStringLiteral("12"));
    QCOMPARE(box.text(), programVoltage.chopped(1));
}

void TestTextBox::contextMenuPasteIsHeldToTheLimit()
{
    TextBox box;
    box.setTypingLimit(4);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QTest::keyClicks(&box, QStringLiteral("12"));

    // Opens the box's context menu as a right click does and chooses Paste in it.
    const auto pasteFromMenu = [&box] {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                box.mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(&box, &event);
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QAction *paste = nullptr;
        for (QAction *action : menu->actions()) {
            if (action->text().startsWith(QLatin1String("&Paste")))
                paste = action;
        }
        QVERIFY(paste);
        QVERIFY(paste->isEnabled());
        paste->trigger();
        menu->close();
    };

    QApplication::clipboard()->setText(QStringLiteral("345"));
    pasteFromMenu();
    QCOMPARE(box.text(), QStringLiteral("12"));
    QApplication::clipboard()->setText(QStringLiteral("34"));
    pasteFromMenu();
    QCOMPARE(box.text(), QStringLiteral("1234"));
}

void TestTextBox::keyReleases_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("autoRepeat");
    QTest::addColumn<int>("released");

    QTest::newRow("a digit") << int(Qt::Key_5) << QStringLiteral("5") << false << 1;
    QTest::newRow("a letter") << int(Qt::Key_F) << QStringLiteral("f") << false << 1;
    QTest::newRow("Shift") << int(Qt::Key_Shift) << QString() << false << 1;
    QTest::newRow("an arrow") << int(Qt::Key_Left) << QString() << false << 1;
    QTest::newRow("Backspace") << int(Qt::Key_Backspace) << QString() << false << 1;
    QTest::newRow("auto-repeat release") << int(Qt::Key_5) << QStringLiteral("5") << true << 0;
}

void TestTextBox::keyReleases()
{
    QFETCH(int, key);
    QFETCH(QString, text);
    QFETCH(bool, autoRepeat);
    QFETCH(int, released);

    TextBox box;
    box.setTypingLimit(4);
    QSignalSpy spy(&box, &TextBox::keyReleased);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text, autoRepeat);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text, autoRepeat);
    QApplication::sendEvent(&box, &press);
    QCOMPARE(spy.count(), 0); // a press is no release
    QApplication::sendEvent(&box, &release);
    QCOMPARE(spy.count(), released);
}

void TestTextBox::focusMovingAway_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("movedAway");

    QTest::newRow("Tab") << QStringLiteral("tab") << 1;
    QTest::newRow("Shift+Tab") << QStringLiteral("backtab") << 1;
    QTest::newRow("click on another control") << QStringLiteral("click") << 1;
    QTest::newRow("another window activated") << QStringLiteral("window") << 0;
    QTest::newRow("context menu") << QStringLiteral("popup") << 0;
}

void TestTextBox::focusMovingAway()
{
    QFETCH(QString, how);
    QFETCH(int, movedAway);

    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *box = new TextBox;
    auto *other = new QLineEdit;
    layout->addWidget(other);
    layout->addWidget(box);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    box->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(box->hasFocus());
    QSignalSpy spy(box, &TextBox::focusMovedAway);

    QWidget elsewhere;
    if (how == u"tab") {
        QTest::keyClick(box, Qt::Key_Tab);
    } else if (how == u"backtab") {
        QTest::keyClick(box, Qt::Key_Backtab, Qt::ShiftModifier);
    } else if (how == u"click") {
        QTest::mouseClick(other, Qt::LeftButton);
    } else if (how == u"window") {
        elsewhere.show();
        elsewhere.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
    } else if (how == u"popup") {
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(2, 2),
                                box->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(box, &event);
        QTRY_VERIFY(QApplication::activePopupWidget());
        QApplication::activePopupWidget()->close();
    }
    QTRY_VERIFY(!box->hasFocus() || how == u"popup");
    QCOMPARE(spy.count(), movedAway);
}

void TestTextBox::messageBoxIsNoMoveAway()
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *box = new TextBox;
    layout->addWidget(box);
    layout->addWidget(new QLineEdit);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    box->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(box->hasFocus());
    QSignalSpy spy(box, &TextBox::focusMovedAway);

    QMessageBox message(QMessageBox::Warning, QString(), QStringLiteral("error"), QMessageBox::Ok,
                        &window);
    message.open();
    QVERIFY(QTest::qWaitForWindowActive(&message));
    QTRY_VERIFY(!box->hasFocus());
    message.accept();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTRY_VERIFY(box->hasFocus());
    QCOMPARE(spy.count(), 0);
}

QTEST_MAIN(TestTextBox)
#include "tst_textbox.moc"
