#include "tx4418.h"

#include "requestencoding.h"
#include "usbstuff.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QScopedValueRollback>

#include <array>

namespace {

void showErrorBox(QWidget *parent)
{
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(),
                    QStringLiteral("error"), QMessageBox::Ok, parent);
    box.exec();
}

} // namespace

TX4418::TX4418(USBStuff &usb, QWidget *boxParent)
    : m_usb(usb)
    , m_boxParent(boxParent)
{ }

void TX4418::send(const VendorRequestFields &fields, std::span<std::uint8_t> buffer)
{
    if (m_usb.VendorRequest(fields, buffer) == 0)
        return;
    const QScopedValueRollback showing(m_showingErrorBox, true);
    showErrorBox(m_boxParent);
}

void TX4418::SendCommandWord(std::int32_t word)
{
    std::array<std::uint8_t, 1> buffer {};
    send(RequestEncoding::commandWord(word), buffer);
}

void TX4418::SelectMuxChannel(std::int16_t channelMask)
{
    std::array<std::uint8_t, 1> buffer {};
    send(RequestEncoding::selectMuxChannel(channelMask), buffer);
}

std::int32_t TX4418::ReadAdcCode()
{
    std::array<std::uint8_t, 2> buffer {};
    send(RequestEncoding::readAdc(), buffer);
    return RequestEncoding::adcCode(buffer[0], buffer[1]);
}

void TX4418::SetClrPin(bool high)
{
    std::array<std::uint8_t, 1> buffer {};
    send(RequestEncoding::clrPin(high), buffer);
}

void TX4418::SetLdacPin(bool high)
{
    std::array<std::uint8_t, 1> buffer {};
    send(RequestEncoding::ldacPin(high), buffer);
}
