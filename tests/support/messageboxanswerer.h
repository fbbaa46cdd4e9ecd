#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QTimer>

#include <functional>

// What a test saw of one message box.
struct SeenMessageBox
{
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    bool modal = false;
};

// Answers every message box that opens while it lives, as a user would: it clicks the chosen
// button with the mouse, or closes the box from its title bar for QMessageBox::NoButton.
class MessageBoxAnswerer final : public QObject
{
public:
    using Answer = std::function<QMessageBox::StandardButton(const SeenMessageBox &)>;

    explicit MessageBoxAnswerer(Answer answer);
    explicit MessageBoxAnswerer(QMessageBox::StandardButton answer);

    // Leave each box open this long before answering it.
    void setHoldTime(int milliseconds) { m_holdTime = milliseconds; }

    const QList<SeenMessageBox> &seen() const { return m_seen; }
    // The most boxes that were open at the same time.
    int mostOpenAtOnce() const { return m_mostOpenAtOnce; }

private:
    void poll();

    Answer m_answer;
    QTimer m_poll;
    QList<SeenMessageBox> m_seen;
    QMessageBox *m_holding = nullptr;
    qint64 m_heldSince = 0;
    int m_holdTime = 0;
    int m_mostOpenAtOnce = 0;
};
