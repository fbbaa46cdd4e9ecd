#pragma once

#include "mainform.h"
#include "messageboxanswerer.h"
#include "support/boardtrace.h"
#include "support/simulatedboardcontrol.h"
#include "usbstuff.h"

#include <QTemporaryDir>

#include <cstdint>
#include <memory>

// The main window on a freshly reset simulated board (four-function library), shown and active
// with the focus on "Sample". Every call into the library is traced; every message box is
// answered with OK and recorded.
class WindowOnBoard final
{
public:
    WindowOnBoard();
    ~WindowOnBoard();

    bool isReady() const { return m_ready; }
    const SimulatedBoardControl &board() const { return m_board; }
    template<class T = QWidget> T *control(const QString &name) const
    {
        return m_form ? m_form->findChild<T *>(name) : nullptr;
    }
    // A mouse click on the named control; false when no user could reach it.
    [[nodiscard]] bool click(const QString &name) const;
    // Into the text box with the mouse, all of its text replaced by typing.
    [[nodiscard]] bool type(const QString &box, const QString &text) const;
    double display() const;

    // The vendor requests since the last forgetRequests(), in order, and their codes.
    QList<BoardTrace::Record> requests() const;
    QList<int> requestCodes() const;
    void forgetRequests() const;

    // Writes and updates DAC channel 0 to 3 through the library, bypassing the window.
    std::int16_t putCode(int channel, std::uint16_t code) const;

    MessageBoxAnswerer &boxes() { return m_boxes; }
    // The boxes seen since the last call.
    QList<SeenMessageBox> takeBoxes();

private:
    QTemporaryDir m_scratch;
    QString m_traceFile;
    MessageBoxAnswerer m_boxes {QMessageBox::Ok};
    qsizetype m_taken = 0;
    SimulatedBoardControl m_board;
    std::unique_ptr<USBStuff> m_usb;
    std::unique_ptr<MainForm> m_form;
    bool m_ready = false;
};
