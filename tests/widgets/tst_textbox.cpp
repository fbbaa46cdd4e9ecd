#include "textbox.h"

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QMimeData>
#include <QTest>

namespace {

const QString programText = QStringLiteral("2.50000000000000"); // 16 characters

// Puts `text` in as a user can: "type", "Ctrl+V", "menu" (Paste), "drop", "input method";
// "undo" types it after an undone deletion; "n:" first selects the last n characters.
void insert(TextBox &box, const QString &how, const QString &text)
{
    for (int i = 0; i < how.section(u':', 0, -2).toInt(); ++i)
        QTest::keyClick(&box, Qt::Key_Left, Qt::ShiftModifier);
    if (how == u"undo") {
        QTest::keyClick(&box, Qt::Key_Backspace);
        QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
    }
    QApplication::clipboard()->setText(text);
    QMimeData data;
    data.setText(text);
    QDragEnterEvent enter(QPoint(box.width() - 5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
    QDropEvent drop(QPointF(box.width() - 5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, {5, 5}, box.mapToGlobal(QPoint(5, 5)));
    if (how.endsWith(u"type") || how == u"undo" || how == u"Backspace")
        QTest::keyClicks(&box, how == u"Backspace" ? QString(u'\b') : text);
    if (how.endsWith(u"Ctrl+V"))
        QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
    QEvent *event = how == u"drop"   ? static_cast<QEvent *>(&drop)
            : how == u"menu"         ? static_cast<QEvent *>(&menu)
            : how == u"input method" ? static_cast<QEvent *>(&commit)
                                     : nullptr;
    if (event == &drop)
        QApplication::sendEvent(&box, &enter);
    if (event)
        QApplication::sendEvent(&box, event);
    if (auto *popup = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
        for (QAction *action : popup->actions())
            action->text() == u"&Paste\tCtrl+V" ? action->trigger() : void();
        popup->close();
    }
}

} // namespace

// The length limit binds only what the user puts in, however it comes.
class TestTextBox final : public QObject
{
    Q_OBJECT

private slots:
    void userInputIsHeldToTheLimit_data()
    {
        QTest::addColumn<int>("limit");      // 0: none
        QTest::addColumn<QString>("before"); // written by the program, or typed after "typed:"
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("inserted");
        QTest::addColumn<QString>("after");
        const auto row = [](const char *name, int limit, const QString &before, const char *how,
                            const char *inserted, const QString &after) {
            QTest::newRow(name) << limit << before << how << inserted << after;
        };
        // Typing stops at the limit; each other way in takes what fits, refuses what does not.
        row("type over", 4, "typed:", "type", "12345", "1234");
        for (const char *how : {"Ctrl+V", "menu", "drop", "input method"})
            row(how, 4, "typed:1", how, "23|45", "123");
        // The program's own longer text stays whole; it can be edited down but not up.
        row("typing at the end", 8, programText, "type", "1", programText);
        row("one by one", 8, programText, "1:type", "7", programText.chopped(1) + u'7');
        row("one by two", 8, programText, "1:Ctrl+V", "77", programText);
        row("deleting", 8, programText, "Backspace", "", programText.chopped(1));
        row("replacing all", 8, programText, "16:type", "123456789", "12345678");
        // Had the undo counted as a refused edit, the next one would slip through.
        row("undo back to the long text", 8, programText, "undo", "12", programText);
    }

    void userInputIsHeldToTheLimit()
    {
        QFETCH(int, limit);
        QFETCH(QString, before);
        QFETCH(QString, how);
        QFETCH(QString, inserted);
        TextBox box;
        box.setTypingLimit(limit);
        box.resize(300, 20);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        if (before.startsWith(u"typed:"))
            QTest::keyClicks(&box, before.mid(6));
        else
            box.writeText(before);
        for (const QString &part : inserted.split(u'|'))
            insert(box, how, part);
        QTEST(box.text(), "after");
    }
};

QTEST_MAIN(TestTextBox)
#include "tst_textbox.moc"
