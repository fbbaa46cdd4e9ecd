#pragma once

class BenchReport;

// Start-up and peak memory of the program's window against three references of the same size:
// a bare window, one with a line of text, and one with as many plain controls made by a loop.
// Each start-up is a fresh process of this binary, the kinds taken in turn.
class StartupBench final
{
public:
    StartupBench(int warmUpRuns, int runs);

    // Prints the figures and the start-up and memory targets; throws std::runtime_error when a
    // child fails.
    void run(BenchReport &report) const;

private:
    int m_warmUpRuns;
    int m_runs;
};
