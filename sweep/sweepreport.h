// What a sweep says of itself: the summary's lines, the CSV's head, rows and closing block. The
// same text whichever program ran the sweep.
#pragma once

#include "sweepplan.h"
#include "sweeprunner.h"
#include "transferanalysis.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>

#include <optional>
#include <vector>

namespace Sweep {

// What is known of a sweep beyond its plan and points.
struct Facts
{
    QString board;             // its USB port path, "sim", or "unknown"
    QDateTime date;            // when it began
    QString identity;          // the meter's answer to *IDN?
    int unaskedLines = 0;      // lines from the meter that no query asked for, dropped
    double resolutionSeen = 0; // the coarsest last digit of the meter's readings
};

// The lines before the first point: on standard output, and as the CSV's head.
QStringList headLines(const Plan &plan, const Facts &facts);
QByteArray csvHead(const QStringList &head);

struct Summary
{
    std::optional<TransferAnalysis::Figures> figures;
    std::optional<TransferAnalysis::Lag> lag;
    // Why the readings cannot be taken for the codes written (a meter out of step with its
    // queries, readings that lag): the sweep failed, whatever its figures say. Empty when they
    // can.
    QString untrusted;
    QStringList lines; // "key: value"
};

Summary summarise(const Plan &plan, const std::vector<MeasuredPoint> &points, const Facts &facts);

// A row; the figures' columns empty until they are known.
QByteArray csvRow(const Plan &plan, const MeasuredPoint &point,
                  const TransferAnalysis::Figures *figures, std::size_t at, const Facts &facts);
// The whole file: head, every row with its figures, and the summary as a closing block.
QByteArray wholeCsv(const QStringList &head, const Plan &plan,
                    const std::vector<MeasuredPoint> &points, const Summary &summary,
                    const Facts &facts);

} // namespace Sweep
