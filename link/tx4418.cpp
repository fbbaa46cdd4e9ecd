#include "tx4418.h"

#include "requestencoding.h"
#include "requestfailurereporter.h"
#include "usbstuff.h"

#include <QScopedValueRollback>

#include <array>

TX4418::TX4418(USBStuff &usb, RequestFailureReporter &reporter)
    : m_usb(usb)
    , m_reporter(reporter)
{ }

void TX4418::send(const char *operation, const VendorRequestFields &fields,
                  std::span<std::uint8_t> buffer)
{
    const std::int16_t status = m_usb.VendorRequest(fields, buffer);
    if (status == 0)
        return;
    const QScopedValueRollback reporting(m_reportingFailure, true);
    m_reporter.requestFailed({operation, fields, status});
}

void TX4418::SendCommandWord(std::int32_t word)
{
    std::array<std::uint8_t, 1> buffer {};
    send("SendCommandWord", RequestEncoding::commandWord(word), buffer);
}

void TX4418::SelectMuxChannel(std::int16_t channelMask)
{
    std::array<std::uint8_t, 1> buffer {};
    send("SelectMuxChannel", RequestEncoding::selectMuxChannel(channelMask), buffer);
}

std::int32_t TX4418::ReadAdcCode()
{
    std::array<std::uint8_t, 2> buffer {};
    send("ReadAdcCode", RequestEncoding::readAdc(), buffer);
    return RequestEncoding::adcCode(buffer[0], buffer[1]);
}

void TX4418::SetClrPin(bool high)
{
    std::array<std::uint8_t, 1> buffer {};
    send("SetClrPin", RequestEncoding::clrPin(high), buffer);
}

void TX4418::SetLdacPin(bool high)
{
    std::array<std::uint8_t, 1> buffer {};
    send("SetLdacPin", RequestEncoding::ldacPin(high), buffer);
}
