#pragma once

#include <QMessageBox>
#include <QTimer>

#include <functional>

// Answers each message box as a user would, clicking the button `answer` names (NoButton: the
// title bar's close); each is seen as "caption: text [icon, buttons, default button, modal]".
class MessageBoxAnswerer final : public QObject
{
public:
    using Answer = std::function<QMessageBox::StandardButton(const QString &box)>;
    explicit MessageBoxAnswerer(Answer answer = [](const QString &) { return QMessageBox::Ok; });

    Answer answer;
    int holdMilliseconds = 0; // each box is left open this long first
    QStringList seen;
    int mostOpenAtOnce = 0;

private:
    void poll();

    QTimer m_poll;
    const QMessageBox *m_holding = nullptr;
    qint64 m_heldSince = 0;
};
