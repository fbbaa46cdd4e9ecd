#pragma once

#include <QLineEdit>

// A text box whose length limit binds only what the user types, pastes or drops: the program's
// own writes are kept whole, and a text the program made longer than the limit can still be
// shortened or replaced. A user edit is refused when its result is longer than the limit and
// longer than the text before it.
class TextBox final : public QLineEdit
{
    Q_OBJECT

public:
    explicit TextBox(QWidget *parent = nullptr);

    // 0: no limit.
    int typingLimit() const { return m_typingLimit; }
    void setTypingLimit(int characters);

    // The program's own write; never cut. (A plain setText() is not cut either.)
    void writeText(const QString &text);

signals:
    // Once for each physical key release while the box has the focus; auto-repeat releases
    // do not count.
    void keyReleased();
    // The focus went to another control of the window: not when the window merely lost
    // activation or a popup or message box took the focus for a while.
    void focusMovedAway();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    class UserEdit;
    class LengthRule;

    bool refuses(const QString &edited) const;

    int m_typingLimit = 0;
    // Set while a user's input is being applied; the text it started from.
    bool m_userEditing = false;
    QString m_textBeforeEdit;
};
