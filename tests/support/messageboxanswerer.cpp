#include "messageboxanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QPushButton>
#include <QTest>

MessageBoxAnswerer::MessageBoxAnswerer(Answer answer)
    : m_answer(std::move(answer))
{
    connect(&m_poll, &QTimer::timeout, this, &MessageBoxAnswerer::poll);
    m_poll.start(5);
}

MessageBoxAnswerer::MessageBoxAnswerer(QMessageBox::StandardButton answer)
    : MessageBoxAnswerer([answer](const SeenMessageBox &) { return answer; })
{ }

void MessageBoxAnswerer::poll()
{
    int open = 0;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (qobject_cast<QMessageBox *>(window) && window->isVisible())
            ++open;
    }
    m_mostOpenAtOnce = std::max(m_mostOpenAtOnce, open);

    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (box != m_holding) {
        m_holding = box;
        m_heldSince = now;
    }
    if (now - m_heldSince < m_holdTime)
        return;
    m_holding = nullptr;

    SeenMessageBox seen;
    seen.caption = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    seen.defaultButton = box->standardButton(box->defaultButton());
    seen.modal = box->isModal();
    m_seen.append(seen);

    const QMessageBox::StandardButton answer = m_answer(seen);
    if (answer == QMessageBox::NoButton) {
        box->close();
        return;
    }
    QAbstractButton *button = box->button(answer);
    if (!button) {
        qWarning("The box offers no button %d; closing it", int(answer));
        box->close();
        return;
    }
    QTest::mouseClick(button, Qt::LeftButton);
}
