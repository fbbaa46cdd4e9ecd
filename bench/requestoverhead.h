#pragma once

class BenchReport;

// The time the program's own code adds to one vendor request. A transport of the program's own
// kind binds a timing library that forwards to the board library and adds up the time spent
// inside it; batches of SelectMuxChannel go through the device and transport layers, and the
// overhead of a batch is its whole time less the library's time inside it, which cannot be
// negative. The same measured around direct calls of the timing library gives the cost of the
// measuring itself, which the overhead includes.
class RequestOverhead final
{
public:
    RequestOverhead(int batches, int callsPerBatch);

    // Prints the per-call times, the overhead with its spread, and the target; throws
    // std::runtime_error when the board is not found or a request fails.
    void run(BenchReport &report);

private:
    int m_batches;
    int m_callsPerBatch;
};
