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
// menu), "drop" (at the end, from another program) or "input method" (a committed string);
// or deletes with "Backspace".
void insert(TextBox &box, const QString &how, const QString &text)
{
    QApplication::clipboard()->setText(text);
    if (how == u"type") {
        QTest::keyClicks(&box, text);
    } else if (how == u"Backspace") {
        QTest::keyClick(&box, Qt::Key_Backspace);
    } else if (how == u"Ctrl+V") {
        QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
    } else if (how == u"menu") {
        QContextMenuEvent event(QContextMenuEvent::Mouse, {5, 5}, box.mapToGlobal(QPoint(5, 5)));
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
        QDropEvent drop(end, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDragEnterEvent enter(end, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&box, &enter);
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
    void undoBackToALongTextKeepsTheLimit();
};

void TestTextBox::userInputIsHeldToTheLimit_data()
{
    QTest::addColumn<int>("limit");  // 0: none
    QTest::addColumn<int>("writer"); // of the text before: 0 typed, 1 writeText(), 2 setText()
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("selected"); // characters selected from the end
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("inserted");
    QTest::addColumn<QString>("after");

    const auto row
            = [](const QByteArray &name, int limit, int writer, const QString &before, int selected,
                 const char *how, const QString &inserted, const QString &after) {
                  QTest::newRow(name) << limit << writer << before << selected << QString(how)
                                      << inserted << after;
              };
    // Typing stops at the limit; any other input that would go over it is refused whole.
    row("type: over", 4, 0, "", 0, "type", "12345", "1234");
    row("type: no limit", 0, 0, "", 0, "type", QString(40, u'7'), QString(40, u'7'));
    row("Ctrl+V: no limit", 0, 0, "5", 0, "Ctrl+V", QString(30, u'0'), "5" + QString(30, u'0'));
    for (const char *how : {"Ctrl+V", "menu", "drop", "input method"}) {
        row(QByteArray(how) + ": fits exactly", 4, 0, "12", 0, how, "34", "1234");
        row(QByteArray(how) + ": one too many", 4, 0, "12", 0, how, "345", "12");
    }
    // The program's own longer text stays whole; it can be edited down but not up.
    const QString text = programText;
    row("typing at the end", 8, 1, text, 0, "type", "1", text);
    row("typing at the end of setText", 8, 2, text, 0, "type", "1", text);
    row("pasting at the end", 8, 1, text, 0, "Ctrl+V", "1", text);
    row("one by one", 8, 1, text, 1, "type", "7", text.chopped(1) + u'7');
    row("one by two", 8, 1, text, 1, "Ctrl+V", "77", text);
    row("three by one", 8, 1, text, 3, "type", "7", text.chopped(3) + u'7');
    row("deleting", 8, 1, text, 0, "Backspace", "", text.chopped(1));
    row("replacing all", 8, 1, text, 16, "type", "123456789", "12345678");
}

void TestTextBox::userInputIsHeldToTheLimit()
{
    QFETCH(int, limit);
    QFETCH(int, writer);
    QFETCH(QString, before);
    QFETCH(int, selected);
    QFETCH(QString, how);
    QFETCH(QString, inserted);

    TextBox box;
    box.setTypingLimit(limit);
    box.resize(300, 20);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QTest::keyClicks(&box, writer ? QStringLiteral("1") : before);
    if (writer)
        writer == 1 ? box.writeText(before) : box.setText(before);
    QCOMPARE(box.text(), before);
    box.end(false);
    for (int i = 0; i < selected; ++i)
        QTest::keyClick(&box, Qt::Key_Left, Qt::ShiftModifier);
    insert(box, how, inserted);
    QTEST(box.text(), "after");
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
