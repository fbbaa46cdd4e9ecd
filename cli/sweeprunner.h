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

// The board's own readback: the multiplexer on the swept channel and the 12-bit ADC. A reading
// is the middle of its ADC step: the ADC rounds down, and the middle takes that bias away.
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
    double deviation; // standard deviation of the samples (over n - 1); 0 for one
    int samples;
    double seconds; // its first sample, from the start of the sweep
};

class SweepRunner final
{
public:
    enum class Outcome { Done, Interrupted, RequestFailed, SourceFailed, Stopped };

    // On the board brought up by this run, or held by a server.
    SweepRunner(SessionDevice &device, VoltSource &source);

    // Measures the codes in order. Ctrl-C (or SIGTERM, SIGHUP) ends it at once, the point in
    // hand dropped, its settling or a meter's answer cut short; a failure ends it at once. The
    // points measured are kept either way. `measured` is given each point as it is measured;
    // false from it stops the sweep.
    Outcome run(int channel, const std::vector<std::int32_t> &codes, int settleMs, int samples,
                const std::function<bool(const MeasuredPoint &point)> &measured);

    const std::vector<MeasuredPoint> &points() const { return m_points; }

private:
    SessionDevice &m_device;
    VoltSource &m_source;
    std::vector<MeasuredPoint> m_points;
};
