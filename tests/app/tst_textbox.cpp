#include "textbox.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMimeData>
#include <QTest>

namespace {

const QString programText = QStringLiteral("2.50000000000000"); // 16 characters

// Puts `text` in at the cursor as a user can: "type", "Ctrl+V", "menu" (Paste in the context
// menu), "drop" (at the end, from another program) or "input method" (a committed string).
void insert(TextBox &box, const QString &how, const QString &text)
{
    QApplication::clipboard()->setText(text);
    if (how == u"type") {
        QTest::keyClicks(&box, text);
    } else if (how == u"Ctrl+V") {
        QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
    } else if (how == u"menu") {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                box.mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(&box, &event);
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        for (QAction *action : menu->actions()) {
            if (action->text().startsWith(QLatin1String("&Paste")))
                action->trigger();
        }
        menu->close();
    } else if (how == u"drop") {
        QMimeData data;
        data.setText(text);
        const QPoint end(box.width() - 5, box.height() / 2);
        QDragEnterEvent enter(end, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&box, &enter);
        QDropEvent drop(end, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&box, &drop);
    } else {
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QApplication::sendEvent(&box, &commit);
    }
}

} // namespace

class TestTextBox final : public QObject
{
    Q_OBJECT

private slots:
    void userInputIsHeldToTheLimit_data();
    void userInputIsHeldToTheLimit();
    void longProgramTextCanBeEditedDownButNotUp_data();
    void longProgramTextCanBeEditedDownButNotUp();
    void undoBackToALongTextKeepsTheLimit();
};

void TestTextBox::userInputIsHeldToTheLimit_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("limit"); // 0: none
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("inserted");
    QTest::addColumn<QString>("after");

    // Typing stops at the limit.
    QTest::newRow("type: over") << "type" << 4 << ""
                                << "12345"
                                << "1234";
    QTest::newRow("type: within") << "type" << 5 << ""
                                  << "3.3"
                                  << "3.3";
    QTest::newRow("type: no limit") << "type" << 0 << "" << QString(40, u'7') << QString(40, u'7');
    // Any other input that would go over the limit is refused whole.
    for (const char *how : {"Ctrl+V", "menu", "drop", "input method"}) {
        const QByteArray tag = QByteArray(how) + ": ";
        QTest::newRow(tag + "too long into empty") << how << 4 << ""
                                                   << "12345"
                                                   << "";
        QTest::newRow(tag + "fits exactly") << how << 4 << "12"
                                            << "34"
                                            << "1234";
        QTest::newRow(tag + "one too many") << how << 4 << "12"
                                            << "345"
                                            << "12";
        QTest::newRow(tag + "no limit")
                << how << 0 << "5" << QString(30, u'0') << "5" + QString(30, u'0');
    }
}

void TestTextBox::userInputIsHeldToTheLimit()
{
    QFETCH(QString, how);
    QFETCH(int, limit);
    QFETCH(QString, before);
    QFETCH(QString, inserted);
    QFETCH(QString, after);

    TextBox box;
    box.setTypingLimit(limit);
    box.resize(300, 20);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QTest::keyClicks(&box, before);
    insert(box, how, inserted);
    QCOMPARE(box.text(), after);
}

void TestTextBox::longProgramTextCanBeEditedDownButNotUp_data()
{
    QTest::addColumn<bool>("plainSetText"); // the write by setText(), not writeText()
    QTest::addColumn<int>("selected");      // characters selected from the end
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("after");

    const QString whole = programText;
    QTest::newRow("typing at the end") << false << 0 << "1"
                                       << "" << whole;
    QTest::newRow("typing at the end, setText") << true << 0 << "1"
                                                << "" << whole;
    QTest::newRow("pasting at the end") << false << 0 << ""
                                        << "1" << whole;
    QTest::newRow("replacing one by one") << false << 1 << "7"
                                          << "" << whole.chopped(1) + u'7';
    QTest::newRow("replacing one by two") << false << 1 << ""
                                          << "77" << whole;
    QTest::newRow("replacing three by one") << false << 3 << "7"
                                            << "" << whole.chopped(3) + u'7';
}

void TestTextBox::longProgramTextCanBeEditedDownButNotUp()
{
    QFETCH(bool, plainSetText);
    QFETCH(int, selected);
    QFETCH(QString, typed);
    QFETCH(QString, pasted);
    QFETCH(QString, after);

    TextBox box;
    box.setTypingLimit(8);
    QTest::keyClicks(&box, QStringLiteral("1"));
    // The program's own write is kept whole.
    plainSetText ? box.setText(programText) : box.writeText(programText);
    QCOMPARE(box.text(), programText);

    box.end(false);
    for (int i = 0; i < selected; ++i)
        QTest::keyClick(&box, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClicks(&box, typed);
    if (!pasted.isEmpty())
        insert(box, QStringLiteral("Ctrl+V"), pasted);
    QCOMPARE(box.text(), after);

    // Deleting always works, and so does replacing everything.
    QTest::keyClick(&box, Qt::Key_Backspace);
    QCOMPARE(box.text(), after.chopped(1));
    QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(&box, QStringLiteral("123456789"));
    QCOMPARE(box.text(), QStringLiteral("12345678"));
}

void TestTextBox::undoBackToALongTextKeepsTheLimit()
{
    TextBox box;
    box.setTypingLimit(8);
    box.writeText(programText);
    QTest::keyClick(&box, Qt::Key_Backspace);
    QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(box.text(), programText);
    // Had the undo counted as a refused edit, this one would slip through.
    QTest::keyClicks(&box, QStringLiteral("12"));
    QCOMPARE(box.text(), programText);
    QTest::keyClick(&box, Qt::Key_Backspace);
    QTest::keyClicks(&box, QStringLiteral("12"));
    QCOMPARE(box.text(), programText.chopped(1));
}

QTEST_MAIN(TestTextBox)
#include "tst_textbox.moc"
