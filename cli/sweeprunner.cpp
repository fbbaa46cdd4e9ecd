#include "sweeprunner.h"

#include "commandchoices.h"
#include "interruption.h"
#include "readbackchannels.h"

#include <chrono>
#include <cmath>

namespace {

constexpr int writeAndUpdate = 3; // the window's "Write to and Update DAC channel n"

} // namespace

SweepBoard::SweepBoard(USBStuff &usb)
    : m_device(usb, *this)
{ }

void SweepBoard::requestFailed(const RequestFailure &failure)
{
    if (!m_failure)
        m_failure = failure;
}

bool SweepBoard::writeCode(int channel, std::int32_t code)
{
    m_device.SendCommandWord(commandWordFor(writeAndUpdate, channel, code));
    return !m_failure;
}

bool SweepBoard::selectReadback(int channel)
{
    m_device.SelectMuxChannel(ReadbackChannels::mask(channel));
    return !m_failure;
}

std::optional<std::int32_t> SweepBoard::readAdcCode()
{
    const std::int32_t code = m_device.ReadAdcCode();
    return m_failure ? std::nullopt : std::optional(code);
}

AdcSource::AdcSource(SweepBoard &board, int channel, double vdd)
    : m_board(board)
    , m_channel(channel)
    , m_vdd(vdd)
{ }

bool AdcSource::prepare()
{
    return m_board.selectReadback(m_channel);
}

std::optional<double> AdcSource::read()
{
    const std::optional<std::int32_t> code = m_board.readAdcCode();
    if (!code)
        return std::nullopt;
    return ReadbackChannels::sampleVolts(*code, m_vdd);
}

SweepRunner::SweepRunner(SweepBoard &board, VoltSource &source)
    : m_board(board)
    , m_source(source)
{ }

SweepRunner::Outcome SweepRunner::run(int channel, const std::vector<std::int32_t> &codes,
                                      int settleMs, int samples,
                                      const std::function<void(std::size_t)> &measured)
{
    const auto failed = [this] {
        return m_board.failure() ? Outcome::RequestFailed : Outcome::SourceFailed;
    };
    if (!m_source.prepare())
        return failed();
    m_points.reserve(codes.size());
    for (const std::int32_t code : codes) {
        if (isInterrupted())
            return Outcome::Interrupted;
        if (!m_board.writeCode(channel, code))
            return failed();
        if (settleMs > 0)
            sleepThrough(std::chrono::steady_clock::now() + std::chrono::milliseconds(settleMs));
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
        m_points.push_back(
                {code, mean, samples > 1 ? std::sqrt(squares / (samples - 1)) : 0.0, samples});
        measured(m_points.size());
    }
    return Outcome::Done;
}
