#pragma once

class BenchReport;
class BenchWindow;

// The time the program's own code adds to one vendor request: batches of SelectMuxChannel
// through the device and transport layers, against batches of the same request made straight
// through the library's Vendor_Request with the same handle and arguments.
class RequestOverhead final
{
public:
    RequestOverhead(BenchWindow &window, int batches, int callsPerBatch);

    // Prints the per-call times and the overhead with its target; throws std::runtime_error
    // when a request fails.
    void run(BenchReport &report);

private:
    BenchWindow &m_window;
    int m_batches;
    int m_callsPerBatch;
};
