#include "sweeprunner.h"

#include "commandchoices.h"
#include "readbackchannels.h"

#include <cmath>

namespace Sweep {

namespace {

constexpr int writeAndUpdateCommand = 3; // the window's "Write to and Update DAC channel n"
// The longest run of points taken before the event loop has its say (clients, signals).
constexpr qint64 slice = 4'000'000; // ns

} // namespace

std::int32_t writeAndUpdate(int channel, std::int32_t code)
{
    return commandWordFor(writeAndUpdateCommand, channel, code);
}

ReadbackSource::ReadbackSource(Target &target, int channel, double vdd)
    : m_target(target)
    , m_channel(channel)
    , m_vdd(vdd)
{ }

Source::Answer ReadbackSource::prepare()
{
    return m_target.selectReadback(m_channel) ? Answer::Now : Answer::Failed;
}

Source::Answer ReadbackSource::sample(double &volts)
{
    const std::optional<std::int32_t> code = m_target.readAdc();
    if (!code)
        return Answer::Failed;
    volts = ReadbackChannels::sampleVolts(*code, m_vdd)
            + m_vdd / ReadbackChannels::adcFullScale / 2;
    return Answer::Now;
}

Runner::Runner(Target &target, Source &source, const Plan &plan)
    : m_target(target)
    , m_source(source)
    , m_channel(plan.channel)
    , m_codes(plan.codes)
    , m_settleMs(plan.settleMs)
    , m_samples(plan.samples)
{
    m_settle.setSingleShot(true);
    m_settle.setTimerType(Qt::PreciseTimer);
    connect(&m_settle, &QTimer::timeout, this, &Runner::settled);
    connect(&m_source, &Source::prepared, this, [this](bool ok) {
        if (m_state != State::Preparing)
            return;
        if (!ok)
            return fail();
        m_state = State::Settling;
        proceed();
    });
    connect(&m_source, &Source::sampled, this, [this](double volts) {
        if (m_state != State::Sampling)
            return;
        take(volts);
        if (takeSamples())
            proceed();
    });
    connect(&m_source, &Source::failed, this, [this] {
        if (m_state == State::Sampling)
            fail();
    });
}

void Runner::start()
{
    if (m_state != State::Idle)
        return;
    m_clock.start();
    m_points.reserve(m_codes.size());
    m_state = State::Preparing;
    switch (m_source.prepare()) {
    case Source::Answer::Now:
        m_state = State::Settling;
        // From the event loop: whoever started it sees its signals connected first.
        QTimer::singleShot(0, this, &Runner::proceed);
        return;
    case Source::Answer::Later:
        return;
    case Source::Answer::Failed:
        return fail();
    }
}

void Runner::cancel(Outcome why)
{
    if (!running())
        return;
    m_settle.stop();
    m_source.cancel();
    end(why);
}

// Writes the next code and settles it, point after point, until a wait or a slice is over.
void Runner::proceed()
{
    const qint64 began = m_clock.nsecsElapsed();
    while (m_state == State::Settling) {
        if (m_next >= m_codes.size())
            return end(Outcome::Done);
        // The clock as the last point read it: one reading a point is enough.
        if (m_sampledAt - began > slice) {
            QTimer::singleShot(0, this, &Runner::proceed);
            return;
        }
        if (!m_target.sendWord(writeAndUpdate(m_channel, m_codes[m_next])))
            return end(Outcome::RequestFailed);
        m_point = {m_codes[m_next]};
        m_squares = 0;
        if (m_settleMs > 0) {
            m_settleUntil = m_clock.nsecsElapsed() + qint64(m_settleMs) * 1'000'000;
            m_settle.start(m_settleMs);
            return;
        }
        if (!takeSamples())
            return;
    }
}

void Runner::settled()
{
    if (m_state != State::Settling)
        return;
    // A timer may fire a little early: never less than the settle time.
    const qint64 left = m_settleUntil - m_clock.nsecsElapsed();
    if (left > 0) {
        m_settle.start(int((left + 999'999) / 1'000'000));
        return;
    }
    if (takeSamples())
        proceed();
}

bool Runner::takeSamples()
{
    if (m_point.samples == 0) {
        m_sampledAt = m_clock.nsecsElapsed();
        m_point.seconds = double(m_sampledAt) / 1e9;
    }
    while (m_point.samples < m_samples) {
        double volts = 0;
        m_state = State::Sampling;
        switch (m_source.sample(volts)) {
        case Source::Answer::Now:
            take(volts);
            continue;
        case Source::Answer::Later:
            return false;
        case Source::Answer::Failed:
            fail();
            return false;
        }
    }
    m_point.deviation = m_samples > 1 ? std::sqrt(m_squares / (m_samples - 1)) : 0.0;
    m_point.unasked = m_source.takeUnasked();
    m_points.push_back(m_point);
    ++m_next;
    m_state = State::Settling;
    emit measured(m_points.back());
    return m_state == State::Settling;
}

void Runner::take(double volts)
{
    // Welford's running mean and sum of squares: no loss to cancellation.
    const int n = ++m_point.samples;
    if (n == 1)
        m_point.first = volts;
    const double delta = volts - m_point.mean;
    m_point.mean += delta / n;
    m_squares += delta * (volts - m_point.mean);
}

void Runner::fail()
{
    end(m_target.failure().isEmpty() ? Outcome::SourceFailed : Outcome::RequestFailed);
}

void Runner::end(Outcome outcome)
{
    if (m_state == State::Ended)
        return;
    m_state = State::Ended;
    m_settle.stop();
    QMetaObject::invokeMethod(
            this, [this, outcome] { emit finished(outcome); }, Qt::QueuedConnection);
}

} // namespace Sweep
