#pragma once

#include "simulatedboardcontrol.h"

#include <QString>
#include <QWidget>

#include <memory>
#include <stdexcept>

class MainForm;
class USBStuff;

// The program's window on the simulated board of the four-function library, loaded and shown
// as start-up leaves it, for measurements made in this process. While it lives, a modal box
// ends the process with status 2: a run has no one to answer it, and a box means the figures
// would be of a failing board.
class BenchWindow final
{
public:
    // Throws std::runtime_error when start-up does not reach the window.
    BenchWindow();
    ~BenchWindow();

    // The control of that objectName; throws std::runtime_error when there is none.
    template<class T = QWidget> T &control(const QString &name) const
    {
        T *found = window()->findChild<T *>(name);
        if (!found)
            throw std::runtime_error("no control " + name.toStdString() + " of that kind");
        return *found;
    }

    // Handles what is posted, then paints and flushes everything that is marked for repaint,
    // as the window does when its next update comes.
    void paintPending();

    // A function exported by the board library; throws std::runtime_error when it lacks it.
    void *libraryFunction(const char *name) const;
    SimulatedBoardState boardState() const;

private:
    QWidget *window() const;

    std::unique_ptr<QObject> m_watchdog;
    std::unique_ptr<USBStuff> m_usb;
    std::unique_ptr<MainForm> m_form;
    void *m_library = nullptr;
    SimulatedBoardReadStateFunction m_readState = nullptr;
};
