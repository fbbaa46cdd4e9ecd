#include "modalwatchdog.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int checkIntervalMs = 100;
constexpr int exitStatus = 2;

} // namespace

ModalWatchdog::ModalWatchdog(QObject *parent)
    : QObject(parent)
{
    startTimer(checkIntervalMs);
}

void ModalWatchdog::timerEvent(QTimerEvent *)
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    const auto *box = qobject_cast<QMessageBox *>(modal);
    const QString text = box ? box->windowTitle() + QStringLiteral(": ") + box->text()
                             : QString::fromLatin1(modal->metaObject()->className());
    // Start-up offers Retry only when the board did not come up.
    const char *why = box && box->button(QMessageBox::Retry) ? "the board was not found"
                                                             : "a box opened during the run";
    std::fprintf(stderr, "error: could not measure: %s (%s)\n", why,
                 text.toLocal8Bit().constData());
    std::fflush(stdout);
    std::_Exit(exitStatus);
}
