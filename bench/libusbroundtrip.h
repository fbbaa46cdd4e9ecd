#pragma once

class BenchReport;

// The time our own board code adds around libusb to one vendor request, against a USB 2.0
// microframe. A child under umockdev-wrapper brings up the four-function library's USB board on
// a board in a testbed, then reads the ADC through Vendor_Request, our UsbBoard and
// LibusbTransport, and the real libusb. The bench stands in front of libusb_control_transfer, so
// each request gives its whole time and the time inside libusb, which here includes the emulated
// kernel: the testbed's thread that answers the ioctls. Ours is each request's whole time less
// its time inside libusb, and cannot be negative.
class LibusbRoundTrip final
{
public:
    explicit LibusbRoundTrip(int requests);

    // Prints the whole round trip, the time inside libusb, ours with its spread, and the target;
    // throws std::runtime_error when the child could not measure.
    void run(BenchReport &report) const;

private:
    int m_requests;
};

// The child: makes `requests` requests after a warm-up, writes one line per request, its whole
// time and its time inside libusb in nanoseconds, and ends the process with its status.
[[noreturn]] void runLibusbChild(int requests);
