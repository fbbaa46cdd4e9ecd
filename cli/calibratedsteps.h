// Calibrated settings and readings on this machine's board: each write --calibrated turned into
// the words of the codes its channel's calibration gives, each read --calibrated given its
// channels' readback lines, from the records of the board the run takes, before it is brought
// up. Another board's record is never applied.
#pragma once

#include "clicommand.h"

#include <QStringList>

#include <utility>
#include <vector>

using NumberedStep = std::pair<int, BoardStep>;
using NumberedParsedStep = std::pair<int, ParsedStep>;

struct ResolvedSteps
{
    std::vector<NumberedStep> steps;
    int status = 0;  // 0, or the exit status to end with
    QString failure; // why, one line
    QStringList warnings;
};

bool needsCalibration(const std::vector<NumberedParsedStep> &parsed);
// `board`: the identity of the board the run takes; `database` empty for the default.
ResolvedSteps resolveSteps(const std::vector<NumberedParsedStep> &parsed, const QString &board,
                           const QString &database);
