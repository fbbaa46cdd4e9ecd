#include "tickinterval.h"

#include "benchreport.h"
#include "benchwindow.h"
#include "samples.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <QTimerEvent>

#include <cmath>
#include <stdexcept>
#include <vector>

namespace {

constexpr double deviationLimitMs = 2;
constexpr int slackMs = 5000;

// Notes the moment of each timer event of one QTimer, before its timeout runs any handler.
class TickRecorder final : public QObject
{
public:
    TickRecorder(QTimer &timer, const QElapsedTimer &clock, int ticks, QEventLoop &done)
        : m_timer(timer)
        , m_clock(clock)
        , m_ticks(ticks)
        , m_done(done)
    {
        m_timer.installEventFilter(this);
    }
    ~TickRecorder() override { m_timer.removeEventFilter(this); }

    const std::vector<qint64> &moments() const { return m_moments; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == &m_timer && event->type() == QEvent::Timer
            && static_cast<QTimerEvent *>(event)->timerId() == m_timer.timerId()
            && int(m_moments.size()) < m_ticks) {
            m_moments.push_back(m_clock.nsecsElapsed());
            if (int(m_moments.size()) == m_ticks)
                m_done.quit();
        }
        return false;
    }

private:
    QTimer &m_timer;
    const QElapsedTimer &m_clock;
    int m_ticks;
    QEventLoop &m_done;
    std::vector<qint64> m_moments;
};

} // namespace

TickInterval::TickInterval(BenchWindow &window, int ticks)
    : m_window(window)
    , m_ticks(ticks)
{ }

void TickInterval::run(BenchReport &report)
{
    auto &timer = m_window.control<QTimer>(QStringLiteral("sampleTimer"));
    auto &autoSample = m_window.control<QAbstractButton>(QStringLiteral("autoSampleCheck"));
    if (autoSample.isChecked() || timer.isActive())
        throw std::runtime_error("auto sampling is already on");

    QEventLoop done;
    QElapsedTimer clock;
    TickRecorder recorder(timer, clock, m_ticks, done);
    QTimer::singleShot(m_ticks * timer.interval() + slackMs, &done, &QEventLoop::quit);
    clock.start();
    QTest::mouseClick(&autoSample, Qt::LeftButton);
    const qint64 startedAt = clock.nsecsElapsed();
    if (!timer.isActive())
        throw std::runtime_error("checking Auto Sample did not start the timer");
    done.exec();
    QTest::mouseClick(&autoSample, Qt::LeftButton);
    if (timer.isActive())
        throw std::runtime_error("clearing Auto Sample did not stop the timer");
    if (int(recorder.moments().size()) != m_ticks)
        throw std::runtime_error("the timer ticked too few times");

    Samples intervalMs;
    Samples deviationMs;
    qint64 previous = startedAt;
    for (const qint64 moment : recorder.moments()) {
        const double ms = double(moment - previous) / 1e6;
        intervalMs.add(ms);
        deviationMs.add(std::abs(ms - timer.interval()));
        previous = moment;
    }
    report.count(QStringLiteral("tick.count"), m_ticks);
    report.figure(QStringLiteral("tick.interval.median_ms"), intervalMs.median(), 3);
    report.figure(QStringLiteral("tick.interval.first_ms"), intervalMs.values().front(), 3);
    report.figure(QStringLiteral("tick.deviation.worst_ms"), deviationMs.maximum(), 3);
    report.target(QStringLiteral("tick.deviation.worst_ms"), deviationMs.maximum(),
                  BenchReport::Bound::Below, deviationLimitMs, 3);
}
