// tx4410-cli sweep: the DAC's static transfer function, measured and summed up.
#pragma once

#include "sweepsettings.h"

#include <QTextStream>

#include <functional>
#include <memory>

class ScpiMeter;
class USBStuff;

class SweepCommand final
{
public:
    using Complain = std::function<void(const QString &message)>;

    SweepCommand(const SweepSettings &settings, QTextStream &out, QTextStream &err,
                 Complain complain);
    ~SweepCommand();

    // Before the board is brought up (which resets the DAC): the output files can be written,
    // the meter answers, the board is named. 0, or the exit status to end with.
    int prepare(USBStuff &usb);
    // On the board brought up: measures, then writes the CSV, the summary and the plot of what
    // was measured, however the sweep ended. The exit status.
    int run(USBStuff &usb);

private:
    SweepSettings m_settings;
    QTextStream &m_out;
    QTextStream &m_err;
    Complain m_complain;
    std::unique_ptr<ScpiMeter> m_meter;
    QString m_board;
};
