// What the commands that measure share: the board as the sweep library drives it, the wait on
// the event loop that a signal cuts short, the progress line, the meter reached before the
// board is touched, and which board the library will take.
#pragma once

#include "sweeprunner.h"

#include <QString>
#include <QTextStream>

#include <chrono>
#include <cstddef>
#include <functional>

class QEventLoop;
class SessionDevice;
class USBStuff;

namespace Sweep {
class ScpiMeter;
}

// The board of this run, or a server's, as the sweep drives it.
class DeviceTarget final : public Sweep::Target
{
public:
    explicit DeviceTarget(SessionDevice &device);
    bool sendWord(std::int32_t word) override;
    bool selectReadback(int channel) override;
    std::optional<std::int32_t> readAdc() override;
    QString failure() const override;

private:
    SessionDevice &m_device;
};

// Runs `loop` until it quits, or a signal comes (then `interrupted`, once).
void runUntilInterrupted(QEventLoop &loop, const std::function<void()> &interrupted);

// "what: points done/all, percent, time left" on standard error, redrawn in place on a terminal
// only.
class ProgressLine final
{
public:
    ProgressLine(QTextStream &err, QString what, std::size_t total);
    ~ProgressLine();
    ProgressLine(const ProgressLine &) = delete;
    ProgressLine &operator=(const ProgressLine &) = delete;

    void update(std::size_t done);
    void clear();

private:
    using Clock = std::chrono::steady_clock;
    QTextStream &m_err;
    QString m_what;
    std::size_t m_total;
    bool m_shown;
    bool m_drawing = false;
    Clock::time_point m_start = Clock::now();
    Clock::time_point m_drawn {};
};

// Connects to the meter and asks *IDN?, before the board is brought up (which resets the DAC):
// 0, or the exit status to end with, the reason said.
int reachMeter(Sweep::ScpiMeter &meter, const std::function<void(const QString &)> &complain);

// The USB port path of the board the library will take: the one chosen, else the first that
// can be opened; empty when it cannot tell.
QString chosenBoard(USBStuff &usb);
