#include "sweeprunner.h"

#include "commandchoices.h"
#include "interruption.h"
#include "readbackchannels.h"
#include "sessiondevice.h"

#include <chrono>
#include <cmath>

namespace {

constexpr int writeAndUpdate = 3; // the window's "Write to and Update DAC channel n"

} // namespace

AdcSource::AdcSource(SessionDevice &device, int channel, double vdd)
    : m_device(device)
    , m_channel(channel)
    , m_vdd(vdd)
{ }

bool AdcSource::prepare()
{
    m_device.selectChannel(m_channel);
    return !m_device.failure();
}

std::optional<double> AdcSource::read()
{
    const std::int32_t code = m_device.readAdc();
    if (m_device.failure())
        return std::nullopt;
    return ReadbackChannels::sampleVolts(code, m_vdd) + m_vdd / ReadbackChannels::adcFullScale / 2;
}

SweepRunner::SweepRunner(SessionDevice &device, VoltSource &source)
    : m_device(device)
    , m_source(source)
{ }

SweepRunner::Outcome SweepRunner::run(int channel, const std::vector<std::int32_t> &codes,
                                      int settleMs, int samples,
                                      const std::function<bool(const MeasuredPoint &)> &measured)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const auto failed = [this] {
        if (m_device.failure())
            return Outcome::RequestFailed;
        return isInterrupted() ? Outcome::Interrupted : Outcome::SourceFailed;
    };
    if (!m_source.prepare())
        return failed();
    m_points.reserve(codes.size());
    for (const std::int32_t code : codes) {
        if (isInterrupted())
            return Outcome::Interrupted;
        m_device.sendWord(commandWordFor(writeAndUpdate, channel, code));
        if (m_device.failure())
            return failed();
        if (settleMs > 0 && !sleepUntil(Clock::now() + std::chrono::milliseconds(settleMs)))
            return Outcome::Interrupted;
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        // Welford's running mean and sum of squares: no loss to cancellation.
        double mean = 0;
        double squares = 0;
        for (int sample = 1; sample <= samples; ++sample) {
            const std::optional<double> volts = m_source.read();
            if (!volts)
                return failed();
            const double delta = *volts - mean;
            mean += delta / sample;
            squares += delta * (*volts - mean);
        }
        m_points.push_back({code, mean, samples > 1 ? std::sqrt(squares / (samples - 1)) : 0.0,
                            samples, seconds});
        if (!measured(m_points.back()))
            return Outcome::Stopped;
    }
    return Outcome::Done;
}
