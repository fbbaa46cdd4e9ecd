#include "actionbench.h"

#include "benchreport.h"
#include "benchwindow.h"
#include "digitcell.h"
#include "paintcounter.h"
#include "samples.h"
#include "textbox.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QTest>

#include <sys/resource.h>

#include <stdexcept>

namespace {

constexpr double actionLimitUs = 2000;

void require(bool condition, const QString &action, const char *what)
{
    if (!condition)
        throw std::runtime_error(action.toStdString() + ": " + what);
}

// Two codes whose bits differ in the lowest data cell, and the DAC A outputs they give on the
// simulated board (5 V reference), which its 12-bit ADC reads back exactly.
constexpr std::uint16_t lowCode = 0x4000;
constexpr std::uint16_t highCode = 0xC000;
constexpr double lowVolts = 1.25;
constexpr double highVolts = 3.75;

// Times the kernel took the processor away from this process: a repetition during which it did
// measured other programs too.
long involuntarySwitches()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nivcsw;
}

QString hexOf(std::uint16_t code)
{
    return QString::number(code, 16).toUpper();
}

} // namespace

ActionBench::ActionBench(BenchWindow &window, int warmUps, int repetitions)
    : m_window(window)
    , m_warmUps(warmUps)
    , m_repetitions(repetitions)
{ }

ActionBench::Timings ActionBench::measure(const Action &action)
{
    Timings timings;
    PaintCounter paints(*action.mustRepaint);
    QElapsedTimer timer;
    for (int i = 0; i < m_warmUps + m_repetitions; ++i) {
        action.prepare(i);
        m_window.paintPending();
        const int paintsBefore = paints.count();
        const long switchesBefore = involuntarySwitches();
        timer.start();
        action.act(i);
        m_window.paintPending();
        const qint64 ns = timer.nsecsElapsed();
        const bool preempted = involuntarySwitches() != switchesBefore;
        require(paints.count() > paintsBefore, action.name, "the changed widget was not repainted");
        action.check(i);
        if (i >= m_warmUps) {
            timings.microseconds.add(double(ns) / 1e3);
            if (preempted)
                ++timings.preempted;
        }
    }
    return timings;
}

// As a user replaces the code: the box takes the text, then a key release runs its handler.
void ActionBench::typeHex(const QString &text)
{
    auto &hexText = m_window.control<TextBox>(QStringLiteral("hexText"));
    hexText.setFocus(Qt::OtherFocusReason);
    hexText.setText(text);
    QTest::keyClick(&hexText, Qt::Key_End);
}

ActionBench::Action ActionBench::hexKeyRelease()
{
    auto &hexText = m_window.control<TextBox>(QStringLiteral("hexText"));
    auto &lowestDataCell = m_window.control<DigitCell>(QStringLiteral("BitsDisplay_4"));
    const auto key = [](int i) {
        return i % 2 == 0 ? Qt::Key_F : Qt::Key_Backspace;
    };
    const QString name = QStringLiteral("hexKeyRelease");
    return {name,
            // "8" and "8f" differ in the lowest data bit; the press edits, untimed.
            [&hexText, key](int i) {
                if (i == 0) {
                    hexText.setFocus(Qt::OtherFocusReason);
                    hexText.setText(QStringLiteral("8"));
                }
                QTest::keyPress(&hexText, key(i));
            },
            [&hexText, key](int i) { QTest::keyRelease(&hexText, key(i)); },
            [&hexText, &lowestDataCell, name](int i) {
                const bool typed = i % 2 == 0;
                require(hexText.text() == (typed ? u"8f" : u"8"), name, "unexpected hex text");
                require(lowestDataCell.value() == (typed ? 1 : 0), name, "data cell not written");
            },
            &lowestDataCell};
}

ActionBench::Action ActionBench::hexKeyStroke()
{
    auto &hexText = m_window.control<TextBox>(QStringLiteral("hexText"));
    auto &lowestDataCell = m_window.control<DigitCell>(QStringLiteral("BitsDisplay_4"));
    const QString name = QStringLiteral("hexKeyStroke");
    return {name,
            [&hexText](int i) {
                if (i == 0) {
                    hexText.setFocus(Qt::OtherFocusReason);
                    hexText.setText(QStringLiteral("8"));
                }
            },
            [&hexText](int i) {
                QTest::keyClick(&hexText, i % 2 == 0 ? Qt::Key_F : Qt::Key_Backspace);
            },
            [&hexText, &lowestDataCell, name](int i) {
                const bool typed = i % 2 == 0;
                require(hexText.text() == (typed ? u"8f" : u"8"), name, "unexpected hex text");
                require(lowestDataCell.value() == (typed ? 1 : 0), name, "data cell not written");
            },
            &lowestDataCell};
}

ActionBench::Action ActionBench::writeToPart()
{
    auto &button = m_window.control<QAbstractButton>(QStringLiteral("writeToPartCommand"));
    const QString name = QStringLiteral("writeToPart");
    const auto code = [](int i) {
        return i % 2 == 0 ? lowCode : highCode;
    };
    return {name,
            [this, code](int i) {
                if (i == 0) {
                    // "Write to Input Register n", DAC A: the write lands in input register 0.
                    QTest::mouseClick(
                            &m_window.control<QAbstractButton>(QStringLiteral("cmdBitsOption_0")),
                            Qt::LeftButton);
                    QTest::mouseClick(&m_window.control<QAbstractButton>(
                                              QStringLiteral("addressBitsOption_0")),
                                      Qt::LeftButton);
                }
                typeHex(hexOf(code(i)));
            },
            [&button](int) { QTest::mouseClick(&button, Qt::LeftButton); },
            [this, code, name](int i) {
                require(m_window.boardState().inputRegister[0] == code(i), name,
                        "the word did not reach the board");
            },
            &button};
}

ActionBench::Action ActionBench::sample()
{
    auto &button = m_window.control<QAbstractButton>(QStringLiteral("sampleCommand"));
    auto &display = m_window.control<DigitCell>(QStringLiteral("ADCDisplay"));
    const QString name = QStringLiteral("sample");
    return {name,
            // Channel A's output alternates, so that every sample shows a new value.
            [this](int i) {
                if (i == 0) {
                    QTest::mouseClick(
                            &m_window.control<QAbstractButton>(QStringLiteral("cmdBitsOption_3")),
                            Qt::LeftButton);
                    QTest::mouseClick(&m_window.control<QAbstractButton>(
                                              QStringLiteral("addressBitsOption_0")),
                                      Qt::LeftButton);
                }
                typeHex(hexOf(i % 2 == 0 ? lowCode : highCode));
                QTest::mouseClick(
                        &m_window.control<QAbstractButton>(QStringLiteral("writeToPartCommand")),
                        Qt::LeftButton);
            },
            [&button](int) { QTest::mouseClick(&button, Qt::LeftButton); },
            [&display, name](int i) {
                require(display.value() == (i % 2 == 0 ? lowVolts : highVolts), name,
                        "the display does not show the channel's output");
            },
            &display};
}

ActionBench::Action ActionBench::commandChoice()
{
    auto &commandCell = m_window.control<DigitCell>(QStringLiteral("BitsDisplay_24"));
    const QString name = QStringLiteral("commandChoice");
    // "Write to and Update DAC channel n" and "Power Down DAC (Power-up)": different panels,
    // address frame shown and hidden, different lit cells.
    const auto command = [](int i) {
        return i % 2 == 0 ? 4 : 3;
    };
    return {name,
            [this](int i) {
                if (i == 0)
                    QTest::mouseClick(
                            &m_window.control<QAbstractButton>(QStringLiteral("cmdBitsOption_3")),
                            Qt::LeftButton);
            },
            [this, command](int i) {
                QTest::mouseClick(&m_window.control<QAbstractButton>(
                                          QStringLiteral("cmdBitsOption_%1").arg(command(i))),
                                  Qt::LeftButton);
            },
            [this, &commandCell, command, name](int i) {
                const int chosen = command(i);
                require(m_window.control<QGroupBox>(QStringLiteral("dataBitsFrame_%1").arg(chosen))
                                .isVisible(),
                        name, "the command's panel is not shown");
                require(commandCell.value() == (chosen & 1), name, "command cell not written");
            },
            &commandCell};
}

void ActionBench::run(BenchReport &report)
{
    for (const Action &action :
         {hexKeyRelease(), hexKeyStroke(), writeToPart(), sample(), commandChoice()}) {
        const Timings timings = measure(action);
        const Samples &us = timings.microseconds;
        const QString prefix = QStringLiteral("action.") + action.name;
        report.figure(prefix + QStringLiteral(".median_us"), us.median(), 1);
        report.figure(prefix + QStringLiteral(".p99_us"), us.percentile(0.99), 1);
        report.count(prefix + QStringLiteral(".preempted"), timings.preempted);
        report.target(prefix + QStringLiteral(".p99_us"), us.percentile(0.99),
                      BenchReport::Bound::Below, actionLimitUs, 1);
    }
}
