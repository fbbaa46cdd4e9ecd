#pragma once

#include <QObject>

// Ends the process when a modal box opens: a bench run has no one to answer it, and a box
// means the figures would be of a failing board, not of the program.
class ModalWatchdog final : public QObject
{
public:
    explicit ModalWatchdog(QObject *parent = nullptr);

protected:
    void timerEvent(QTimerEvent *event) override;
};
