#include "calibrationrun.h"

#include "sweepreport.h"

#include <QTimer>

#include <cmath>

namespace Calibration {

// The meter's samples with the readback read beside each, on the channel's multiplexer input:
// the one run calibrates both against the same readings.
class Run::Source final : public Sweep::Source
{
public:
    Source(Sweep::Target &target, Sweep::ScpiMeter &meter, int channel)
        : m_target(target)
        , m_meter(meter)
        , m_channel(channel)
    {
        connect(&m_meter, &Sweep::Source::sampled, this, &Source::sampled);
        connect(&m_meter, &Sweep::Source::failed, this, &Source::failed);
    }

    Answer prepare() override
    {
        return m_target.selectReadback(m_channel) ? Answer::Now : Answer::Failed;
    }
    Answer sample(double &volts) override
    {
        // The meter asked first: the readback is read while it measures, not before.
        const Answer answer = m_meter.sample(volts);
        if (answer == Answer::Failed)
            return answer;
        const std::optional<std::int32_t> code = m_target.readAdc();
        if (!code) {
            m_meter.cancel();
            return Answer::Failed;
        }
        m_codes += *code;
        ++m_reads;
        return answer;
    }
    void cancel() override { m_meter.cancel(); }
    QString failure() const override { return m_meter.failure(); }
    int takeUnasked() override { return m_meter.takeUnasked(); }

    // The readback's mean code since the last call.
    double takeAdcMean()
    {
        const double mean = m_reads > 0 ? m_codes / m_reads : std::nan("");
        m_codes = 0;
        m_reads = 0;
        return mean;
    }

private:
    Sweep::Target &m_target;
    Sweep::ScpiMeter &m_meter;
    int m_channel;
    double m_codes = 0;
    int m_reads = 0;
};

QString routeFor(const QString &route, int channel)
{
    return QString(route)
            .replace(QStringLiteral("%n"), QString::number(channel + 1))
            .replace(QStringLiteral("%c"), QString(QChar(u'A' + channel)));
}

Run::Run(Sweep::Target &target, Sweep::ScpiMeter &meter, RunSettings settings)
    : m_target(target)
    , m_meter(meter)
    , m_settings(std::move(settings))
{
    connect(&m_meter, &Sweep::ScpiMeter::commanded, this, [this] {
        if (m_running && !m_runner)
            measure();
    });
    connect(&m_meter, &Sweep::Source::failed, this, [this] {
        // Switching the meter failed; while measuring, the runner hears of it instead.
        if (m_running && !m_runner)
            end(Outcome::MeterFailed,
                QStringLiteral("DAC %1: %2")
                        .arg(QChar(u'A' + m_settings.channels[m_next]))
                        .arg(m_meter.failure()));
    });
}

Run::~Run() = default;

int Run::pointsTotal() const
{
    return int(m_settings.channels.size()) * m_settings.points;
}

void Run::start()
{
    if (m_running || m_settings.channels.empty())
        return;
    m_running = true;
    m_results.clear();
    m_failure.clear();
    m_done = 0;
    m_next = 0;
    nextChannel();
}

void Run::nextChannel()
{
    if (m_next >= m_settings.channels.size())
        return end(Outcome::Done);
    const int channel = m_settings.channels[m_next];
    m_plan = {};
    m_plan.channel = channel;
    m_plan.codes = Sweep::codesByCount(0, Sweep::highestCode, m_settings.points);
    m_plan.settleMs = m_settings.settleMs;
    m_plan.samples = m_settings.samples;
    m_plan.vref = m_settings.vref;
    m_plan.vdd = m_settings.vdd;
    m_plan.meter = m_settings.meter;
    m_plan.grid = QStringLiteral("codes 0 to 65535 in %1 steps").arg(m_settings.points - 1);
    m_points.clear();
    if (m_settings.route.isEmpty())
        return measure();
    m_meter.command(routeFor(m_settings.route, channel));
}

void Run::measure()
{
    const int channel = m_settings.channels[m_next];
    m_source = std::make_unique<Source>(m_target, m_meter, channel);
    m_runner = std::make_unique<Sweep::Runner>(m_target, *m_source, m_plan);
    connect(m_runner.get(), &Sweep::Runner::measured, this,
            [this, channel](const Sweep::MeasuredPoint &point) {
                m_points.push_back({point.code, point.mean, point.deviation, point.samples,
                                    m_source->takeAdcMean()});
                ++m_done;
                emit measured(channel, point);
            });
    connect(m_runner.get(), &Sweep::Runner::finished, this, &Run::channelMeasured);
    m_runner->start();
}

void Run::channelMeasured(Sweep::Runner::Outcome outcome)
{
    const int channel = m_settings.channels[m_next];
    const QString dac = QStringLiteral("DAC %1").arg(QChar(u'A' + channel));
    const std::vector<Sweep::MeasuredPoint> points = m_runner->points();
    m_runner.release()->deleteLater(); // it is calling
    const QString at = points.size() < m_plan.codes.size()
            ? QStringLiteral("%1 at code %2: ").arg(dac).arg(m_plan.codes[points.size()])
            : dac + QStringLiteral(": ");
    switch (outcome) {
    case Sweep::Runner::Outcome::Done:
        break;
    case Sweep::Runner::Outcome::Cancelled:
    case Sweep::Runner::Outcome::Stopped:
        return end(Outcome::Cancelled,
                   QStringLiteral("interrupted at %1 point %2 of %3")
                           .arg(dac)
                           .arg(points.size() + 1)
                           .arg(m_plan.codes.size()));
    case Sweep::Runner::Outcome::RequestFailed:
        return end(Outcome::RequestFailed, at + m_target.failure());
    case Sweep::Runner::Outcome::SourceFailed:
        return end(Outcome::MeterFailed, at + m_source->failure());
    }
    // Readings the sweep would not take for the codes' are no calibration either.
    Sweep::Facts facts;
    facts.unaskedLines = m_meter.takeUnasked();
    facts.resolutionSeen = m_meter.resolutionSeen();
    for (const Sweep::MeasuredPoint &point : points)
        facts.unaskedLines += point.unasked;
    const Sweep::Summary summary = Sweep::summarise(m_plan, points, facts);
    if (!summary.untrusted.isEmpty())
        return end(Outcome::MeterFailed, dac + QStringLiteral(": ") + summary.untrusted);

    Conditions conditions;
    conditions.vref = m_settings.vref;
    conditions.vdd = m_settings.vdd;
    conditions.path = m_plan.path(m_meter.resolutionSeen());
    std::variant<Channel, std::string> fitted = fit(m_points, conditions);
    if (const std::string *refusal = std::get_if<std::string>(&fitted))
        return end(Outcome::Refused, dac + QStringLiteral(": ") + QString::fromStdString(*refusal));
    m_results.push_back({channel, m_points, std::get<Channel>(std::move(fitted))});
    ++m_next;
    nextChannel();
}

void Run::cancel(Outcome why)
{
    if (!m_running)
        return;
    if (m_runner && m_runner->running()) {
        m_runner->disconnect(this);
        m_runner->cancel();
    }
    m_meter.cancel();
    end(why,
        QStringLiteral("interrupted at DAC %1, point %2 of %3")
                .arg(QChar(u'A'
                           + m_settings.channels[std::min(m_next, m_settings.channels.size() - 1)]))
                .arg(m_points.size() + 1)
                .arg(m_settings.points));
}

void Run::end(Outcome outcome, const QString &why)
{
    if (!m_running)
        return;
    m_running = false;
    m_failure = outcome == Outcome::Done ? QString() : why;
    if (outcome != Outcome::Done)
        m_results.clear();
    QTimer::singleShot(0, this, [this, outcome] { emit finished(outcome); });
}

} // namespace Calibration
