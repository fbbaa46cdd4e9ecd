#pragma once

#include <QSize>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

// The size of the program's window, which the plain windows copy so that all fill as much.
inline constexpr QSize programWindowSize(688, 504);

// The program's window and its references: a plain widget of its size; the same with one line
// of text, which costs the toolkit its font set-up as any window with text does; the same with
// as many plain controls as the program's window, made by a loop as a user writes it by hand.
// The values index tables.
enum class StartupWindow : std::size_t { Program, Bare, Label, Controls };
inline constexpr StartupWindow startupWindows[] = {StartupWindow::Program, StartupWindow::Bare,
                                                   StartupWindow::Label, StartupWindow::Controls};

// What a start-up child reports: moments in nanoseconds after its parent started it, and its
// peak resident size when its window had first been painted.
struct StartupRun
{
    std::int64_t mainNs = 0;        // main() entered
    std::int64_t applicationNs = 0; // QApplication built
    std::int64_t layoutNs = 0;      // window built: the whole layout, or the plain one
    std::int64_t loadNs = 0;        // load() returned (the program only; else as layoutNs)
    std::int64_t shownNs = 0;       // the window's first show event
    std::int64_t paintedNs = 0;     // its first paint flushed
    long peakKib = 0;

    QString toLine(StartupWindow window) const;
    // The line of a child, or nothing when it is not one.
    static std::optional<StartupRun> fromLine(const QString &line);
};

QString startupWindowName(StartupWindow window);
std::optional<StartupWindow> startupWindowNamed(const QString &name);

// One start-up, run as a process of its own: builds the window as the program does (or one of
// the plain ones), shows it, writes its StartupRun line to stdout once the window has been
// painted, and ends the process there and then. Returns only on failure, with the exit status.
int runStartupChild(int &argc, char **argv, StartupWindow window, std::int64_t spawnedAt,
                    std::int64_t mainAt);
