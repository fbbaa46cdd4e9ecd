#pragma once

#include "samples.h"

#include <QString>

#include <functional>

class BenchReport;
class BenchWindow;
class QWidget;

// The user's actions on the loaded window, each a real input event delivered to its control,
// timed with the repaint it causes: a key release in the hex box, "Write to Part", "Sample"
// and a command choice.
class ActionBench final
{
public:
    ActionBench(BenchWindow &window, int warmUps, int repetitions);

    // Prints median and 99th percentile of each action, how many repetitions were preempted, and
    // the target; throws std::runtime_error when an action does not have its effect or does not
    // repaint.
    void run(BenchReport &report);

private:
    struct Action
    {
        QString name;
        std::function<void(int)> prepare; // untimed, before repetition i
        std::function<void(int)> act;     // the timed event
        std::function<void(int)> check;   // its effect, after the repaint
        QWidget *mustRepaint;             // a widget that every repetition changes
    };

    struct Timings
    {
        Samples microseconds;
        int preempted = 0; // repetitions during which another process got the processor
    };

    Timings measure(const Action &action);
    void typeHex(const QString &text);

    Action hexKeyRelease();
    Action hexKeyStroke();
    Action writeToPart();
    Action sample();
    Action commandChoice();

    BenchWindow &m_window;
    int m_warmUps;
    int m_repetitions;
};
