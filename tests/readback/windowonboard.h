#pragma once

#include "support/boardtrace.h"
#include "support/simulatedboardcontrol.h"
#include "usbstuff.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <memory>

class MainForm;
class QWidget;

// The main window brought up on a freshly reset simulated board and shown, as a user first
// meets it, with every call into the board library traced to a file of the test's.
class WindowOnBoard final
{
public:
    WindowOnBoard(BoardLibraryForm form, const QString &traceFile);
    ~WindowOnBoard();
    WindowOnBoard(const WindowOnBoard &) = delete;
    WindowOnBoard &operator=(const WindowOnBoard &) = delete;

    // The file the library form is bound from, for the board's control functions.
    static QString libraryPath(BoardLibraryForm form);

    // Up, shown and active; false if any step failed.
    bool isReady() const { return m_ready; }
    MainForm &form() const { return *m_form; }
    const SimulatedBoardControl &board() const { return m_board; }
    // The named control; nullptr (with a warning) when the window has none of that type.
    QWidget *control(const QString &name) const;
    template<class T> T *control(const QString &name) const
    {
        return qobject_cast<T *>(control(name));
    }

    // The vendor requests that reached the library since the last forgetRequests(), in order.
    QList<BoardTrace::Record> requests() const;
    // The request codes of requests(), for comparing sequences at a glance.
    QList<int> requestCodes() const;
    void forgetRequests() const;

    // Writes `code` to the input and DAC register of channel 0 to 3 through the library's own
    // request call, bypassing the window; returns the library's status.
    std::int16_t putCode(int channel, std::uint16_t code) const;

private:
    BoardLibraryForm m_libraryForm;
    QString m_traceFile;
    SimulatedBoardControl m_board;
    std::unique_ptr<USBStuff> m_usb;
    std::unique_ptr<MainForm> m_form;
    bool m_ready = false;
};

// The ADC code a read request brought back, from its traced buffer; -1 when it has none.
int tracedAdcCode(const BoardTrace::Record &request);
