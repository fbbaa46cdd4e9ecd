// What tx4410-cli calibrate is asked to do, read and checked in full before anything is touched.
#pragma once

#include "calibrationrun.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>

class QCommandLineParser;

struct CalibrateSettings
{
    Calibration::RunSettings run;
    int validDays = 365; // the record is due this many days after it is made
    QString name;        // the board's name in the records; empty: as it was
};

// The options calibrate takes, and the settings they give (throws UsageError).
QList<QCommandLineOption> calibrateOptions();
CalibrateSettings calibrateSettings(const QCommandLineParser &parser);
