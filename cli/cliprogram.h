#pragma once

#include <QStringList>
#include <QTextStream>

// The exit statuses of tx4410-cli.
namespace ExitStatus {
inline constexpr int done = 0;
inline constexpr int libraryUnusable = 1; // the board library or the firmware path
inline constexpr int outputFailed = 1;    // standard output or error took not all it was given
inline constexpr int usage = 2;
inline constexpr int noBoard = 3;
inline constexpr int requestFailed = 4;
inline constexpr int meterFailed = 5; // a sweep's meter could not be reached or failed
// A calibration that does not hold, or a calibrated setting with no calibration to apply.
inline constexpr int notCalibrated = 6;
inline constexpr int interrupted
        = 130; // a batch, a sweep or a wait ended by Ctrl-C, as a shell counts it
} // namespace ExitStatus

// The whole program after start-up: checks the command line (and a batch in full), brings the
// board up, runs. Messages go to err, one line each; results to out. A failed write to either
// ends the run with outputFailed.
int runCli(const QStringList &arguments, QTextStream &out, QTextStream &err);
