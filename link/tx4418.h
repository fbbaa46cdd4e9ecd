#pragma once

#include "vendorrequest.h"

#include <cstdint>
#include <span>

class QWidget;
class USBStuff;

// The device requests: each operation is one vendor request with a fresh zeroed buffer. A failed
// request shows the "error" box; the operation then returns as if it had succeeded.
class TX4418 final
{
public:
    // Error boxes are modal over boxParent, or over the whole application without one.
    explicit TX4418(USBStuff &usb, QWidget *boxParent = nullptr);

    void SendCommandWord(std::int32_t word);
    void SelectMuxChannel(std::int16_t channelMask);
    // 0 to 65535; 0 when a failed request left the reply empty.
    std::int32_t ReadAdcCode();
    void SetClrPin(bool high);
    void SetLdacPin(bool high);

    // An "error" box of this device is open, waiting for the user.
    bool isShowingErrorBox() const { return m_showingErrorBox; }

private:
    void send(const VendorRequestFields &fields, std::span<std::uint8_t> buffer);

    USBStuff &m_usb;
    QWidget *m_boxParent;
    bool m_showingErrorBox = false;
};
