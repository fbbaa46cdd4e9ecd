#include "textbox.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QValidator>

// Marks the span of one user input: edits inside it are held to the limit.
class TextBox::UserEdit final
{
public:
    explicit UserEdit(TextBox &box)
        : m_box(box)
        , m_outer(box.m_userEditing)
    {
        if (!m_outer)
            m_box.m_textBeforeEdit = m_box.text();
        m_box.m_userEditing = true;
    }
    ~UserEdit() { m_box.m_userEditing = m_outer; }
    UserEdit(const UserEdit &) = delete;
    UserEdit &operator=(const UserEdit &) = delete;

private:
    TextBox &m_box;
    bool m_outer;
};

// QLineEdit asks its validator about every change before it keeps it; Invalid undoes a user's
// edit. Program writes and undo/redo must come out Acceptable: an Invalid there would leave the
// box unable to undo the next refused edit.
class TextBox::LengthRule final : public QValidator
{
public:
    explicit LengthRule(TextBox &box)
        : QValidator(&box)
        , m_box(box)
    { }

    State validate(QString &input, int &) const override
    {
        return m_box.refuses(input) ? Invalid : Acceptable;
    }

private:
    TextBox &m_box;
};

TextBox::TextBox(QWidget *parent)
    : QLineEdit(parent)
{
    setValidator(new LengthRule(*this));
}

void TextBox::setTypingLimit(int characters)
{
    m_typingLimit = std::max(0, characters);
}

void TextBox::writeText(const QString &text)
{
    setText(text);
}

bool TextBox::refuses(const QString &edited) const
{
    return m_userEditing && m_typingLimit > 0 && edited.size() > m_typingLimit
            && edited.size() > m_textBeforeEdit.size();
}

void TextBox::keyPressEvent(QKeyEvent *event)
{
    // Undo and redo go back to texts the box already held.
    if (event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo)) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    const UserEdit edit(*this);
    QLineEdit::keyPressEvent(event);
}

void TextBox::keyReleaseEvent(QKeyEvent *event)
{
    QLineEdit::keyReleaseEvent(event);
    if (!event->isAutoRepeat())
        emit keyReleased();
}

void TextBox::inputMethodEvent(QInputMethodEvent *event)
{
    const UserEdit edit(*this);
    QLineEdit::inputMethodEvent(event);
}

void TextBox::mouseReleaseEvent(QMouseEvent *event)
{
    // Middle-click pastes the selection here.
    const UserEdit edit(*this);
    QLineEdit::mouseReleaseEvent(event);
}

void TextBox::dropEvent(QDropEvent *event)
{
    const UserEdit edit(*this);
    QLineEdit::dropEvent(event);
}

void TextBox::contextMenuEvent(QContextMenuEvent *event)
{
    // Qt's own menu would paste after this event has returned, outside any user-edit span and
    // so past the limit: the same menu, with a paste held to the limit.
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const auto add = [this, menu](const char *caption, QKeySequence::StandardKey key, bool enabled,
                                  auto run) {
        QString text = QCoreApplication::translate("QLineEdit", caption);
        if (key != QKeySequence::UnknownKey)
            text += QLatin1Char('\t') + QKeySequence(key).toString(QKeySequence::NativeText);
        menu->addAction(text, this, run)->setEnabled(enabled);
    };
    const bool editable = !isReadOnly();
    const bool selection = hasSelectedText() && echoMode() == QLineEdit::Normal;
    add("&Undo", QKeySequence::Undo, editable && isUndoAvailable(), [this] { undo(); });
    add("&Redo", QKeySequence::Redo, editable && isRedoAvailable(), [this] { redo(); });
    menu->addSeparator();
    add("Cu&t", QKeySequence::Cut, editable && selection, [this] { cut(); });
    add("&Copy", QKeySequence::Copy, selection, [this] { copy(); });
    add("&Paste", QKeySequence::Paste, editable && !QGuiApplication::clipboard()->text().isEmpty(),
        [this] {
            const UserEdit edit(*this);
            paste();
        });
    add("Delete", QKeySequence::UnknownKey, editable && hasSelectedText(), [this] { del(); });
    menu->addSeparator();
    add("Select All", QKeySequence::SelectAll, !text().isEmpty(), [this] { selectAll(); });
    menu->popup(event->globalPos());
}

void TextBox::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
        emit focusMovedAway();
}
