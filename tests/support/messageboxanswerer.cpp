#include "messageboxanswerer.h"

#include <QApplication>
#include <QDateTime>
#include <QPushButton>
#include <QTest>

MessageBoxAnswerer::MessageBoxAnswerer(Answer answer)
    : answer(std::move(answer))
{
    connect(&m_poll, &QTimer::timeout, this, &MessageBoxAnswerer::poll);
    m_poll.start(5);
}

void MessageBoxAnswerer::poll()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    const auto open = std::ranges::count_if(windows, [](const QWidget *window) {
        return window->isVisible() && qobject_cast<const QMessageBox *>(window);
    });
    mostOpenAtOnce = std::max(mostOpenAtOnce, int(open));
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (box != m_holding)
        std::tie(m_holding, m_heldSince) = std::pair(box, now);
    if (!box || !box->isVisible() || now - m_heldSince < holdMilliseconds)
        return;
    m_holding = nullptr;
    QStringList buttons;
    for (const QAbstractButton *button : box->buttons())
        buttons << button->text();
    const QString defaultButton = box->defaultButton() ? box->defaultButton()->text() : "none";
    const QString why = box->informativeText();
    seen << QStringLiteral("%1: %2%3 [icon %4, %5, default %6%7]")
                    .arg(box->windowTitle(), box->text(), why.isEmpty() ? "" : " | " + why)
                    .arg(box->icon())
                    .arg(buttons.join(u' '), defaultButton, box->isModal() ? ", modal" : "");
    if (QAbstractButton *button = box->button(answer(seen.constLast())))
        QTest::mouseClick(button, Qt::LeftButton);
    else
        box->close();
}
