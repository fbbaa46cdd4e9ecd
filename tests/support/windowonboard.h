#pragma once

#include "digitcell.h"
#include "mainform.h"
#include "messageboxanswerer.h"
#include "support/boardtrace.h"
#include "support/simulatedboardcontrol.h"
#include "textbox.h"
#include "usbstuff.h"

#include <QButtonGroup>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QTemporaryDir>

#include <memory>

// The window, not yet loaded, on a freshly reset simulated board behind one library form; the
// library calls traced, every box answered (OK unless told otherwise).
class WindowOnBoard final
{
public:
    explicit WindowOnBoard(BoardLibraryForm form = BoardLibraryForm::FourFunction);
    ~WindowOnBoard() { qunsetenv("TX4410_BOARD_TRACE"); }

    // Loads and shows it, focus on "Sample", calls forgotten; false on a failure or any box.
    [[nodiscard]] bool open();
    // Each step as a user takes it: "Tab"; "BOX=TEXT" types TEXT over all of the box; else a
    // button by name or by its caption (the one visible), clicked where seen. False if not taken.
    [[nodiscard]] bool perform(const QStringList &steps) const;

    // The calls since forgetCalls(); the requests among them as "cc 4, bb failed" (no 0 value).
    QList<TraceRecord> calls() const { return readTrace(m_traceFile); }
    QString requests() const;
    void forgetCalls() const { QFile::remove(m_traceFile); }
    // The boxes seen since the last call.
    QStringList takeBoxes();

    MainForm &form() const { return *m_form; }
    const MainFormControls &c() const { return m_form->controls(); }

    const SimulatedBoardControl board;
    MessageBoxAnswerer boxes;

private:
    QTemporaryDir m_scratch;
    const QString m_traceFile = m_scratch.filePath(QStringLiteral("trace"));
    qsizetype m_taken = 0;
    std::unique_ptr<USBStuff> m_usb;
    std::unique_ptr<MainForm> m_form;
};
