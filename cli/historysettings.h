// What tx4410-cli history is asked to do.
#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>

class QCommandLineParser;

struct HistorySettings
{
    QString board;      // an identity or a name; empty: every board
    bool json = false;  // the listing as one JSON object
    QString exportFile; // .csv or .json: the board's calibrations in force as a certificate
    QString plotFile;   // .png or .svg: their residuals drawn
};

QList<QCommandLineOption> historyOptions();
HistorySettings historySettings(const QCommandLineParser &parser);
