#pragma once

class BenchReport;
class BenchWindow;

// The auto-sample timer as the user starts it: "Auto Sample" checked, then the moment of each
// tick of `sampleTimer`, the first measured from the click.
class TickInterval final
{
public:
    TickInterval(BenchWindow &window, int ticks);

    // Prints the median interval and the worst deviation from the timer's interval, with its
    // target; throws std::runtime_error when the ticks do not come.
    void run(BenchReport &report);

private:
    BenchWindow &m_window;
    int m_ticks;
};
