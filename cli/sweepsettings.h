// What tx4410-cli sweep is asked to do, read and checked in full before anything is touched.
#pragma once

#include "sweepplan.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>

class QCommandLineParser;

struct SweepSettings
{
    Sweep::Plan plan;
    QString csvFile;  // empty: none
    QString plotFile; // .png or .svg; empty: none
};

// The options sweep takes, and the settings they give (throws UsageError).
QList<QCommandLineOption> sweepOptions();
SweepSettings sweepSettings(const QCommandLineParser &parser);

// "0.0035%+5e-6": a meter's stated accuracy as percent of reading and volts; false when the text
// is not of that form.
bool readAccuracy(const QString &text, double &percent, double &volts);
