// A calibration's measuring: channel after channel, the meter switched to it where a route is
// given, each code of an even grid from 0 to full scale written, settled and sampled through the
// meter with the readback read beside each sample, then fitted and checked. A stepper on its
// caller's event loop, built on the sweep's runner and meter: the same in tx4410-cli and in
// tx4410-server's *CAL?. It stores nothing: its results leave it as values once every channel
// was measured whole and held.
#pragma once

#include "channelcalibration.h"
#include "scpimeter.h"
#include "sweepplan.h"
#include "sweeprunner.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace Calibration {

inline constexpr int defaultPoints = 33;

struct RunSettings
{
    std::vector<int> channels; // 0..3, in the order measured
    int points = defaultPoints;
    int samples = 4;
    int settleMs = 2;
    double vref = 5;
    double vdd = 5;
    Sweep::Meter meter;
    // Sent to the meter before each channel, %n its number (1 to 4) and %c its letter; empty
    // for a meter that stays where it is.
    QString route;
};

// The route for one channel: "ROUT:CLOS (@10%n)" for DAC B is "ROUT:CLOS (@102)".
QString routeFor(const QString &route, int channel);

struct ChannelResult
{
    int channel = 0;
    std::vector<Measured> points;
    Channel fit;
};

class Run final : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { Done, Cancelled, RequestFailed, MeterFailed, Refused };

    // `meter` reached already (its *IDN? answered).
    Run(Sweep::Target &target, Sweep::ScpiMeter &meter, RunSettings settings);
    ~Run() override;

    void start();
    // Ends it now; finished(why) follows from the event loop. Nothing it measured is kept.
    void cancel(Outcome why = Outcome::Cancelled);
    bool running() const { return m_running; }

    // Every channel's, once finished(Done).
    const std::vector<ChannelResult> &results() const { return m_results; }
    // Why it did not end Done, naming the channel and code; empty when it did.
    const QString &failure() const { return m_failure; }
    int pointsTotal() const;
    int pointsDone() const { return m_done; }

signals:
    void measured(int channel, const Sweep::MeasuredPoint &point);
    void finished(Calibration::Run::Outcome outcome);

private:
    class Source;

    void nextChannel();
    void measure();
    void channelMeasured(Sweep::Runner::Outcome outcome);
    void end(Outcome outcome, const QString &why = {});

    Sweep::Target &m_target;
    Sweep::ScpiMeter &m_meter;
    RunSettings m_settings;
    std::size_t m_next = 0; // the channel in hand, an index of m_settings.channels
    Sweep::Plan m_plan;
    std::unique_ptr<Source> m_source;
    std::unique_ptr<Sweep::Runner> m_runner;
    std::vector<Measured> m_points;
    std::vector<ChannelResult> m_results;
    QString m_failure;
    int m_done = 0;
    bool m_running = false;
};

} // namespace Calibration
