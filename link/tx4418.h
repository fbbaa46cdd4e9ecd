#pragma once

#include "vendorrequest.h"

#include <cstdint>
#include <span>

class RequestFailureReporter;
class USBStuff;

// The device requests: each operation is one vendor request with a fresh zeroed buffer. A failed
// request is told to the reporter; the operation then returns as if it had succeeded.
class TX4418 final
{
public:
    TX4418(USBStuff &usb, RequestFailureReporter &reporter);

    void SendCommandWord(std::int32_t word);
    void SelectMuxChannel(std::int16_t channelMask);
    // 0 to 65535; 0 when a failed request left the reply empty.
    std::int32_t ReadAdcCode();
    void SetClrPin(bool high);
    void SetLdacPin(bool high);

    // The reporter is being told of a failure and has not returned yet: in the window, an
    // "error" box is open, waiting for the user.
    bool isReportingFailure() const { return m_reportingFailure; }

private:
    void send(const char *operation, const VendorRequestFields &fields,
              std::span<std::uint8_t> buffer);

    USBStuff &m_usb;
    RequestFailureReporter &m_reporter;
    bool m_reportingFailure = false;
};
