// tx4410-cli sweep: the DAC's static transfer function, measured and summed up.
#pragma once

#include "sweepsettings.h"

#include <QTextStream>

#include <functional>
#include <memory>

class ScpiMeter;
class SessionDevice;
class USBStuff;

class SweepCommand final
{
public:
    using Complain = std::function<void(const QString &message)>;

    SweepCommand(const SweepSettings &settings, QTextStream &out, QTextStream &err,
                 Complain complain);
    ~SweepCommand();

    // Before the board is brought up (which resets the DAC), on this machine's board library or
    // a server: the output files can be written, the meter answers, the board is named. 0, or
    // the exit status to end with.
    int prepare(USBStuff *usb, const QString &server);
    // On the board brought up, or the server's: measures, then writes the CSV, the summary and
    // the plot of what was measured, however the sweep ended. The exit status.
    int run(SessionDevice &device);

private:
    // tx4410-plot on the CSV; the exit status its drawing gives.
    int drawPlot(const QByteArray &csv);

    SweepSettings m_settings;
    QTextStream &m_out;
    QTextStream &m_err;
    Complain m_complain;
    std::unique_ptr<ScpiMeter> m_meter;
    QString m_board;
};
