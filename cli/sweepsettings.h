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
    // Checks the board's calibration in force for the channel against the meter's readings.
    bool calibrated = false;
    bool store = false; // kept in the records once measured whole
};

// The options sweep takes, and the settings they give (throws UsageError).
QList<QCommandLineOption> sweepOptions();
SweepSettings sweepSettings(const QCommandLineParser &parser);
