// The meter's options, as sweep and calibrate both take them, read and checked in one place.
#pragma once

#include "sweepplan.h"

#include <QCommandLineOption>
#include <QList>

#include <optional>

class QCommandLineParser;

// --meter HOST[:PORT], --meter-query, --meter-timeout, --meter-resolution, --meter-accuracy.
QList<QCommandLineOption> meterOptions();
// The meter asked for; nothing without --meter, whose companions then are refused. Throws
// UsageError.
std::optional<Sweep::Meter> meterSettings(const QCommandLineParser &parser);

// "0.0035%+5e-6": a meter's stated accuracy as percent of reading and volts; false when the text
// is not of that form.
bool readAccuracy(const QString &text, double &percent, double &volts);
