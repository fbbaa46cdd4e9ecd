#pragma once

#include <cstdint>

class QWidget;
class USBStuff;

// The device requests: each operation is one vendor request. A failed request shows the
// "error" box and the operation then returns as if it had succeeded.
class TX4418 final
{
public:
    explicit TX4418(USBStuff &usb, QWidget *boxParent = nullptr);

    void SendCommandWord(std::int32_t word);
    void SelectMuxChannel(std::int16_t channelMask);
    // 0 to 65535; 0 when a failed request left the reply empty.
    std::int32_t ReadAdcCode();
    void SetClrPin(bool high);
    void SetLdacPin(bool high);

private:
    std::int16_t send(const struct VendorRequestFields &fields, std::uint8_t *buffer,
                      std::size_t bufferSize);

    USBStuff &m_usb;
    QWidget *m_boxParent;
};
