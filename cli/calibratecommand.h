// tx4410-cli calibrate: the options, the run and its record around the calibration library.
#pragma once

#include "calibratesettings.h"

#include <QTextStream>

#include <functional>
#include <memory>

class SessionDevice;
class USBStuff;

namespace Records {
class Store;
}
namespace Sweep {
class ScpiMeter;
}

class CalibrateCommand final
{
public:
    using Complain = std::function<void(const QString &message)>;

    CalibrateCommand(const CalibrateSettings &settings, const QString &database, QTextStream &out,
                     QTextStream &err, Complain complain);
    ~CalibrateCommand();

    // Before the board is brought up (which resets the DAC): the database can take a record, the
    // meter answers, the board is named. 0, or the exit status to end with.
    int prepare(USBStuff &usb);
    // Measures every channel, then prints and stores the record in one transaction, or nothing
    // when any part failed. The exit status.
    int run(SessionDevice &device);

private:
    // Which calibration stays in force for each channel asked, in words.
    void sayWhatStays();

    CalibrateSettings m_settings;
    QTextStream &m_out;
    QTextStream &m_err;
    Complain m_complain;
    std::unique_ptr<Records::Store> m_store;
    std::unique_ptr<Sweep::ScpiMeter> m_meter;
    QString m_board;
};
