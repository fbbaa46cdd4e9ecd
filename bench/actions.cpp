#include "benchstatistics.h"
#include "benchwindow.h"
#include "digitcell.h"
#include "monotonicclock.h"
#include "scenarios.h"
#include "textbox.h"

#include <QAbstractButton>
#include <QEventLoop>
#include <QGroupBox>
#include <QTest>
#include <QTimer>
#include <QTimerEvent>

#include <sys/resource.h>

#include <functional>
#include <memory>
#include <stdexcept>

namespace {

// Two codes whose bits differ in the lowest data cell, and the DAC A outputs they give on the
// simulated board (5 V reference), which its 12-bit ADC reads back exactly.
constexpr std::uint16_t lowCode = 0x4000;
constexpr std::uint16_t highCode = 0xC000;
constexpr double lowVolts = 1.25;
constexpr double highVolts = 3.75;
constexpr int tickSlackMs = 5000;

void require(bool condition, const char *what)
{
    if (!condition)
        throw std::runtime_error(what);
}

QString hexOf(std::uint16_t code)
{
    return QString::number(code, 16).toUpper();
}

// Times the kernel took the processor away from this process: a repetition during which it did
// measured other programs too.
long involuntarySwitches()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nivcsw;
}

// Counts the paint events a widget receives: proof that a timed action really repainted it.
class PaintCounter final : public QObject
{
public:
    explicit PaintCounter(QWidget &widget) { widget.installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::Paint;
        return false;
    }
};

struct Action
{
    const char *name;
    std::function<void(int)> prepare; // untimed, before repetition i
    std::function<void(int)> act;     // the timed event
    std::function<void(int)> check;   // its effect, after the repaint
    QWidget *mustRepaint;             // a widget that every repetition changes
};

void click(BenchWindow &w, const QString &name)
{
    QTest::mouseClick(&w.control<QAbstractButton>(name), Qt::LeftButton);
}

// As a user replaces the code: the box takes the text, then a key release runs its handler.
void typeHex(BenchWindow &w, std::uint16_t code)
{
    auto &hexText = w.control<TextBox>(QStringLiteral("hexText"));
    hexText.setFocus(Qt::OtherFocusReason);
    hexText.setText(hexOf(code));
    QTest::keyClick(&hexText, Qt::Key_End);
}

// "8" and "8F" differ in the lowest data bit: even repetitions type F, odd ones take it back.
Action hexKey(BenchWindow &w, const char *name, bool wholeStroke)
{
    auto &hexText = w.control<TextBox>(QStringLiteral("hexText"));
    auto &lowestDataCell = w.control<DigitCell>(QStringLiteral("BitsDisplay_4"));
    const auto key = [](int i) {
        return i % 2 == 0 ? Qt::Key_F : Qt::Key_Backspace;
    };
    return {name,
            [&hexText, key, wholeStroke](int i) {
                if (i == 0) {
                    hexText.setFocus(Qt::OtherFocusReason);
                    hexText.setText(QStringLiteral("8"));
                }
                if (!wholeStroke) // the press edits, untimed
                    QTest::keyPress(&hexText, key(i));
            },
            [&hexText, key, wholeStroke](int i) {
                if (wholeStroke)
                    QTest::keyClick(&hexText, key(i));
                else
                    QTest::keyRelease(&hexText, key(i));
            },
            [&hexText, &lowestDataCell](int i) {
                const bool typed = i % 2 == 0;
                require(hexText.text() == (typed ? u"8f" : u"8"), "unexpected hex text");
                require(lowestDataCell.value() == (typed ? 1 : 0), "data cell not written");
            },
            &lowestDataCell};
}

Action writeToPart(BenchWindow &w)
{
    const auto code = [](int i) {
        return i % 2 == 0 ? lowCode : highCode;
    };
    return {"writeToPart",
            [&w, code](int i) {
                if (i == 0) { // "Write to Input Register n", DAC A: into input register 0
                    click(w, QStringLiteral("cmdBitsOption_0"));
                    click(w, QStringLiteral("addressBitsOption_0"));
                }
                typeHex(w, code(i));
            },
            [&w](int) { click(w, QStringLiteral("writeToPartCommand")); },
            [&w, code](int i) {
                require(w.boardState().inputRegister[0] == code(i),
                        "the word did not reach the board");
            },
            &w.control<QWidget>(QStringLiteral("writeToPartCommand"))};
}

Action sample(BenchWindow &w)
{
    auto &display = w.control<DigitCell>(QStringLiteral("ADCDisplay"));
    return {"sample",
            // Channel A's output alternates, so that every sample shows a new value.
            [&w](int i) {
                if (i == 0) {
                    click(w, QStringLiteral("cmdBitsOption_3"));
                    click(w, QStringLiteral("addressBitsOption_0"));
                }
                typeHex(w, i % 2 == 0 ? lowCode : highCode);
                click(w, QStringLiteral("writeToPartCommand"));
            },
            [&w](int) { click(w, QStringLiteral("sampleCommand")); },
            [&display](int i) {
                require(display.value() == (i % 2 == 0 ? lowVolts : highVolts),
                        "the display does not show the channel's output");
            },
            &display};
}

// "Write to and Update DAC channel n" and "Power Down DAC (Power-up)": different panels,
// address frame shown and hidden, different lit cells.
Action commandChoice(BenchWindow &w)
{
    auto &commandCell = w.control<DigitCell>(QStringLiteral("BitsDisplay_24"));
    const auto command = [](int i) {
        return i % 2 == 0 ? 4 : 3;
    };
    return {"commandChoice",
            [&w](int i) {
                if (i == 0)
                    click(w, QStringLiteral("cmdBitsOption_3"));
            },
            [&w, command](int i) { click(w, QStringLiteral("cmdBitsOption_%1").arg(command(i))); },
            [&w, &commandCell, command](int i) {
                const int chosen = command(i);
                require(w.control<QGroupBox>(QStringLiteral("dataBitsFrame_%1").arg(chosen))
                                .isVisible(),
                        "the command's panel is not shown");
                require(commandCell.value() == (chosen & 1), "command cell not written");
            },
            &commandCell};
}

// Notes the moment of each timer event of one QTimer, before its timeout runs any handler.
class TickRecorder final : public QObject
{
public:
    explicit TickRecorder(QTimer &timer)
        : m_timer(timer)
    {
        m_timer.installEventFilter(this);
        m_giveUp.setSingleShot(true);
        connect(&m_giveUp, &QTimer::timeout, &m_loop, &QEventLoop::quit);
    }
    ~TickRecorder() override { m_timer.removeEventFilter(this); }

    // The moment of the next tick, or -1 when none came in time.
    std::int64_t next()
    {
        m_tickAt = -1;
        m_giveUp.start(m_timer.interval() + tickSlackMs);
        m_loop.exec();
        m_giveUp.stop();
        return m_tickAt;
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Timer
            && static_cast<QTimerEvent *>(event)->timerId() == m_timer.timerId() && m_tickAt < 0) {
            m_tickAt = monotonicNanoseconds();
            m_loop.quit();
        }
        return false;
    }

private:
    QTimer &m_timer;
    QEventLoop m_loop;
    QTimer m_giveUp;
    std::int64_t m_tickAt = -1;
};

double tickIntervalSeconds = 1;

// The worst deviation of one tick's interval from the timer's.
double worstDeviation(const std::vector<double> &intervals)
{
    double worst = 0;
    for (const double seconds : intervals)
        worst = std::max(worst, std::abs(seconds - tickIntervalSeconds));
    return worst;
}

} // namespace

void registerActions(BenchWindow &window, const Amounts &amounts)
{
    const Action actions[]
            = {hexKey(window, "hexKeyRelease", false), hexKey(window, "hexKeyStroke", true),
               writeToPart(window), sample(window), commandChoice(window)};
    for (const Action &action : actions) {
        auto paints = std::make_shared<PaintCounter>(*action.mustRepaint);
        auto done = std::make_shared<int>(0); // repetitions so far, warm-ups included
        const auto one = [&window, action, paints, done](benchmark::State &state) {
            const int i = (*done)++;
            action.prepare(i);
            window.paintPending();
            const int paintsBefore = paints->count;
            const long switchesBefore = involuntarySwitches();
            const std::int64_t start = monotonicNanoseconds();
            action.act(i);
            window.paintPending();
            const std::int64_t ns = monotonicNanoseconds() - start;
            state.counters["preempted"] = involuntarySwitches() != switchesBefore;
            require(paints->count > paintsBefore, "the changed widget was not repainted");
            action.check(i);
            return double(ns) / 1e9;
        };
        const int warmUps = amounts.actionWarmUps;
        repeatedManually(
                benchmark::RegisterBenchmark(
                        (std::string("action/") + action.name).c_str(),
                        [one, done, warmUps, name = action.name](benchmark::State &state) {
                            for (auto _ : state) {
                                try {
                                    while (*done < warmUps)
                                        one(state);
                                    state.SetIterationTime(one(state));
                                } catch (const std::exception &error) {
                                    couldNotMeasure(state, std::string(name) + ": " + error.what());
                                    break;
                                }
                            }
                        }),
                amounts.actionRepetitions)
                ->ComputeStatistics("p99", p99);
    }
}

void registerTicks(BenchWindow &window, int ticks)
{
    auto &timer = window.control<QTimer>(QStringLiteral("sampleTimer"));
    auto &autoSample = window.control<QAbstractButton>(QStringLiteral("autoSampleCheck"));
    tickIntervalSeconds = timer.interval() / 1e3;
    auto recorder = std::make_shared<TickRecorder>(timer);
    auto previous = std::make_shared<std::int64_t>(0);
    auto done = std::make_shared<int>(0);
    repeatedManually(
            benchmark::RegisterBenchmark(
                    "tick/autoSample",
                    [&timer, &autoSample, recorder, previous, done,
                     ticks](benchmark::State &state) {
                        for (auto _ : state) {
                            if ((*done)++ == 0) {
                                if (autoSample.isChecked() || timer.isActive()) {
                                    couldNotMeasure(state, "auto sampling is already on");
                                    break;
                                }
                                QTest::mouseClick(&autoSample, Qt::LeftButton);
                                *previous = monotonicNanoseconds();
                                if (!timer.isActive()) {
                                    couldNotMeasure(state,
                                                    "checking Auto Sample did not start the timer");
                                    break;
                                }
                            }
                            const std::int64_t tick = recorder->next();
                            if (tick < 0) {
                                couldNotMeasure(state, "the auto-sample timer did not tick");
                                break;
                            }
                            state.SetIterationTime(double(tick - *previous) / 1e9);
                            *previous = tick;
                            if (*done == ticks) {
                                QTest::mouseClick(&autoSample, Qt::LeftButton);
                                if (timer.isActive())
                                    couldNotMeasure(state,
                                                    "clearing Auto Sample did not stop the timer");
                            }
                        }
                    }),
            ticks, benchmark::kMillisecond)
            ->ComputeStatistics("worst_deviation", worstDeviation);
}
