// A sweep's measuring as a stepper on its caller's event loop: each code written with "Write to
// and Update DAC channel n", settled on a timer (no sleep inside), sampled and averaged, one point
// after another, with cancel. The same engine in tx4410-cli and in tx4410-server; it knows
// nothing of files or clients: points and the end leave it as signals.
#pragma once

#include "sweepplan.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <optional>
#include <vector>

namespace Sweep {

struct MeasuredPoint
{
    std::int32_t code = 0;
    double mean = 0;
    double deviation = 0; // standard deviation of the samples (over n - 1); 0 for one
    int samples = 0;
    double seconds = 0; // its first sample, from the start of the sweep
    double first = 0;   // its first sample's volts
    int unasked = 0;    // lines the source got while measuring it that nothing asked for
};

// The board as a sweep drives it, whichever program holds it.
class Target
{
public:
    virtual ~Target() = default;
    // False when the request failed.
    virtual bool sendWord(std::int32_t word) = 0;
    // The readback multiplexer on input 0 to 7.
    virtual bool selectReadback(int channel) = 0;
    // The 12-bit ADC on the input selected; nothing when the request failed.
    virtual std::optional<std::int32_t> readAdc() = 0;
    // Why the first failed request failed, one line; empty while none has.
    virtual QString failure() const = 0;

protected:
    Target() = default;
    Target(const Target &) = default;
    Target &operator=(const Target &) = default;
};

// The command word that writes `code` to DAC `channel` (0..3) and updates its output.
std::int32_t writeAndUpdate(int channel, std::int32_t code);

// Where each sample's volts come from. A source answers at once, or later by a signal.
class Source : public QObject
{
    Q_OBJECT

public:
    enum class Answer { Now, Later, Failed };

    // Once, before the first code; Later: prepared() follows.
    virtual Answer prepare() { return Answer::Now; }
    // One sample into `volts`; Later: sampled() or failed() follows.
    virtual Answer sample(double &volts) = 0;
    // Drops what it waits for; no signal follows.
    virtual void cancel() { }
    // Why it failed, in words; empty when a request to the board failed instead.
    virtual QString failure() const = 0;
    // Lines it got that no request asked for, since the last call.
    virtual int takeUnasked() { return 0; }

signals:
    void prepared(bool ok);
    void sampled(double volts);
    void failed();
};

// The board's own readback: the multiplexer on the swept channel and the 12-bit ADC. A reading
// is the middle of its ADC step: the ADC rounds down, and the middle takes that bias away.
class ReadbackSource final : public Source
{
    Q_OBJECT

public:
    ReadbackSource(Target &target, int channel, double vdd);
    Answer prepare() override;
    Answer sample(double &volts) override;
    QString failure() const override { return {}; } // the target's says it

private:
    Target &m_target;
    int m_channel;
    double m_vdd;
};

class Runner final : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { Done, Cancelled, RequestFailed, SourceFailed, Stopped };

    // The plan's channel, codes, settle and samples, on `target` through `source`.
    Runner(Target &target, Source &source, const Plan &plan);

    void start();
    // Ends it now: the point in hand dropped, a settle or a wait for the source cut short.
    // finished(why) follows from the event loop; the points measured are kept.
    void cancel(Outcome why = Outcome::Cancelled);
    bool running() const { return m_state != State::Idle && m_state != State::Ended; }
    const std::vector<MeasuredPoint> &points() const { return m_points; }

signals:
    // Each point as it is measured; cancel() from here stops the sweep after it.
    void measured(const Sweep::MeasuredPoint &point);
    void finished(Sweep::Runner::Outcome outcome);

private:
    enum class State { Idle, Preparing, Settling, Sampling, Ended };

    void proceed();
    // Takes the samples of the code in hand; false when it waits for the source, or ended.
    bool takeSamples();
    void take(double volts);
    void settled();
    void fail();
    void end(Outcome outcome);

    Target &m_target;
    Source &m_source;
    int m_channel;
    std::vector<std::int32_t> m_codes;
    int m_settleMs;
    int m_samples;
    State m_state = State::Idle;
    std::vector<MeasuredPoint> m_points;
    std::size_t m_next = 0; // the code in hand
    MeasuredPoint m_point;
    double m_squares = 0;
    QElapsedTimer m_clock;
    qint64 m_settleUntil = 0; // on m_clock, nanoseconds
    qint64 m_sampledAt = 0;   // the last point's first sample, on m_clock
    QTimer m_settle;
};

} // namespace Sweep
