// The measuring loop of a sweep: each code written with "Write to and Update DAC channel n",
// settled, sampled and averaged. Shared by tx4410-cli sweep and the benchmark, which times it
// against the bare requests.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class SessionDevice;

// Where the volts of each sample come from.
class VoltSource
{
public:
    virtual ~VoltSource() = default;
    // Once, before the first code is written; false when it failed.
    virtual bool prepare() { return true; }
    // One sample; nothing when it failed.
    virtual std::optional<double> read() = 0;
    // Why the last call failed, in words.
    virtual QString failure() const = 0;
};

// The board's own readback: the multiplexer on the swept channel and the 12-bit ADC, in volts
// as the window computes them.
class AdcSource final : public VoltSource
{
public:
    AdcSource(SessionDevice &device, int channel, double vdd);
    bool prepare() override;
    std::optional<double> read() override;
    QString failure() const override { return {}; } // the device's failure says it

private:
    SessionDevice &m_device;
    int m_channel;
    double m_vdd;
};

struct MeasuredPoint
{
    std::int32_t code;
    double mean;
    double deviation; // standard deviation of the samples; 0 for one
    int samples;
};

class SweepRunner final
{
public:
    enum class Outcome { Done, Interrupted, RequestFailed, SourceFailed };

    // On the board brought up by this run, or held by a server.
    SweepRunner(SessionDevice &device, VoltSource &source);

    // Measures the codes in order. Ctrl-C ends it between two points, never inside one (the
    // settling included); a failure ends it at once. The points measured are kept either way.
    // `measured` is told the count after each point.
    Outcome run(int channel, const std::vector<std::int32_t> &codes, int settleMs, int samples,
                const std::function<void(std::size_t measured)> &measured);

    const std::vector<MeasuredPoint> &points() const { return m_points; }

private:
    SessionDevice &m_device;
    VoltSource &m_source;
    std::vector<MeasuredPoint> m_points;
};
