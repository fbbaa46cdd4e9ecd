// The main window brought up on the simulated board, driven as a bench user drives it, and what
// reached the board.
#pragma once

#include "mainform.h"
#include "support/boardtrace.h"
#include "support/simulatedboardcontrol.h"

#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class DigitCell;
class TextBox;
class QAbstractButton;

class EditorWindow final
{
public:
    // Resets the board behind the build's four-function library and traces its calls.
    EditorWindow();
    ~EditorWindow();
    EditorWindow(const EditorWindow &) = delete;
    EditorWindow &operator=(const EditorWindow &) = delete;

    // Start-up as the program runs it, then the window shown and active; false if either failed.
    bool open();

    MainForm &form() { return *m_form; }
    const SimulatedBoardControl &board() const { return m_board; }

    // One user action per step, false (with a warning) when it cannot be done:
    // - "hexText=TEXT", "voltageText=TEXT", "VrefText=TEXT": click into the box, select all
    //   with Ctrl+A and type TEXT (Backspace for an empty TEXT);
    // - a control's name ("clearCodeOption_2"): clicked with the mouse where it can be seen,
    //   otherwise as the program would;
    // - anything else is a caption: the one button with it that can be seen is clicked with
    //   the mouse ("DAC B", "Write to Part").
    bool perform(const QStringList &steps);
    void clickButton(QAbstractButton *button);
    // Click into the box, then one key pressed and released there.
    bool pressKey(const QString &box, Qt::Key key, Qt::KeyboardModifiers modifiers = {});
    // As a paste from the box's context menu: the text replaces the box's text, no key moves.
    bool pasteWithMouse(const QString &box, const QString &text);

    template<class T = QWidget> T *control(const QString &name) const
    {
        T *found = m_form->findChild<T *>(name);
        if (!found)
            qWarning("no control %s", qPrintable(name));
        return found;
    }
    TextBox *box(const QString &name) const;
    DigitCell *cell(int index) const;
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
    bool typeInto(const QString &box, const QString &text);
    QAbstractButton *buttonFor(const QString &step) const;

    QTemporaryDir m_scratch;
    QString m_traceFile;
    SimulatedBoardControl m_board;
    std::unique_ptr<USBStuff> m_usb;
    std::unique_ptr<MainForm> m_form;
    qsizetype m_recordsAtOpen = 0;
};
