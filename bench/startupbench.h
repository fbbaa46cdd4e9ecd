#pragma once

class BenchReport;

// Start-up and peak memory of the program's window against a plain window of the same size
// (and the same with one line of text), each start-up a fresh process of this binary, the kinds
// taken in turn.
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
