// tx4410-cli sweep: the options and the output around the sweep library.
#pragma once

#include "recordstore.h"
#include "sweepreport.h"
#include "sweepsettings.h"

#include <QTextStream>

#include <functional>
#include <memory>
#include <optional>

class SessionDevice;
class USBStuff;

namespace Sweep {
class ScpiMeter;
}

class SweepCommand final
{
public:
    using Complain = std::function<void(const QString &message)>;

    // `database`: the records' file for --calibrated and --store; empty for the default.
    SweepCommand(const SweepSettings &settings, const QString &database, QTextStream &out,
                 QTextStream &err, Complain complain);
    ~SweepCommand();

    // Before the board is brought up (which resets the DAC), on this machine's board library
    // (`usb`) or a server's (nullptr): the output files can be written, the meter answers, this
    // machine's board is named. 0, or the exit status to end with.
    int prepare(USBStuff *usb);
    // On the board brought up, or the server's: measures, then writes the CSV, the summary and
    // the plot of what was measured, however the sweep ended. The exit status.
    int run(SessionDevice &device);

private:
    // tx4410-plot on the CSV; the exit status its drawing gives.
    int drawPlot(const QByteArray &csv);
    // --calibrated: the lines that compare each point with what the calibration says it is;
    // false when a point is beyond its stated uncertainty.
    bool verify(const std::vector<Sweep::MeasuredPoint> &points);
    // --store: the sweep, whole, in the records; false said.
    bool store(const Sweep::Summary &summary, const QByteArray &csv, const QDateTime &time);

    SweepSettings m_settings;
    QTextStream &m_out;
    QTextStream &m_err;
    Complain m_complain;
    std::unique_ptr<Sweep::ScpiMeter> m_meter;
    std::unique_ptr<Records::Store> m_store;
    std::optional<Records::CalibrationRecord> m_calibration;
    QString m_database;
    QString m_board;
};
