// The main window brought up on the simulated board, driven as a bench user drives it, and what
// reached the board.
#pragma once

#include "mainform.h"
#include "support/boardtrace.h"
#include "support/simulatedboardcontrol.h"

#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class TextBox;

class EditorWindow final
{
public:
    // Resets the board behind the build's four-function library and traces its calls.
    EditorWindow();
    ~EditorWindow();

    // Start-up as the program runs it, then the window shown and active; false if either failed.
    bool open();

    const SimulatedBoardControl &board() const { return m_board; }

    // One user action per step, false (with a warning) when it cannot be done:
    // - "hexText=TEXT", "voltageText=TEXT", "VrefText=TEXT": click into the box, select all
    //   with Ctrl+A, Backspace, and type TEXT;
    // - a control's name ("clearCodeOption_2"): clicked with the mouse where it can be seen,
    //   otherwise as the program would;
    // - anything else is the caption of the one button with it that can be seen ("DAC B").
    bool perform(const QStringList &steps);
    // Click into the box, then one key pressed and released there.
    bool pressKey(const QString &box, Qt::Key key);
    // As a paste from the box's context menu: the text replaces the box's text, no key moves.
    bool pasteWithMouse(const QString &box, const QString &text);
    // Clicks "Write to Part": the one word it sent, -1 for none or more than one.
    qint64 writeToPart();

    template<class T = QWidget> T *control(const QString &name) const
    {
        T *found = m_form->findChild<T *>(name);
        if (!found)
            qWarning("no control %s", qPrintable(name));
        return found;
    }
    QString text(const QString &box) const;
    // The digits of cells last down to first, one character each: '0', '1', '-' for -1.
    QString digits(int first, int last) const;
    QString dataDigits() const { return digits(4, 19); }
    // Bit i set: cell i is lit; -1 when a cell shows a colour that is neither lit nor dim.
    qint64 litCells() const;
    // The widget a user sees at the centre of the named control.
    QWidget *topmostAtCentreOf(const QString &name) const;

    // Board calls made since open() returned.
    QList<BoardTrace::Record> callsSinceOpen() const;
    // The command words of the 0xDD requests since open(): index * 65536 + value.
    QList<qint64> sentWords() const;

private:
    TextBox *focusedBox(const QString &name);

    QTemporaryDir m_scratch;
    QString m_traceFile;
    SimulatedBoardControl m_board;
    std::unique_ptr<USBStuff> m_usb;
    std::unique_ptr<MainForm> m_form;
    qsizetype m_recordsAtOpen = 0;
};
