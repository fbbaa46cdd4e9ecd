#include "libusbdevice.h"

#include <libusb.h>

#include <limits>
#include <utility>

namespace {

// Per thread, as libusb's own calls are: the server's board and a test's may differ.
std::string &noted()
{
    thread_local std::string name;
    return name;
}

} // namespace

LibusbDevice::LibusbDevice(libusb_device_handle *handle)
    : m_handle(handle)
{ }

LibusbDevice::~LibusbDevice()
{
    libusb_close(m_handle);
}

UsbResult LibusbDevice::claimInterface(int interface)
{
    // A kernel driver that took the board's vendor interface is let go for the run, and given
    // the interface back when it is released (where the platform can detach at all).
    libusb_set_auto_detach_kernel_driver(m_handle, 1);
    const int error = libusb_claim_interface(m_handle, interface);
    int configuration = -1;
    // No interface to claim because no configuration is set: say so, not that it has gone.
    if (error == LIBUSB_ERROR_NOT_FOUND
        && libusb_get_configuration(m_handle, &configuration) == LIBUSB_SUCCESS
        && configuration == 0)
        return UsbResult::Unconfigured;
    return resultOf(error);
}

bool LibusbDevice::kernelDriverActive(int interface)
{
    return libusb_kernel_driver_active(m_handle, interface) == 1;
}

UsbResult LibusbDevice::releaseInterface(int interface)
{
    return resultOf(libusb_release_interface(m_handle, interface));
}

UsbTransferResult LibusbDevice::controlTransfer(const UsbControlSetup &setup,
                                                std::span<std::uint8_t> data,
                                                std::chrono::milliseconds timeout)
{
    if (data.size() > std::numeric_limits<std::uint16_t>::max() || timeout.count() < 1)
        return {UsbResult::Failed, 0};
    const int moved = libusb_control_transfer(
            m_handle, setup.requestType, setup.request, setup.value, setup.index, data.data(),
            static_cast<std::uint16_t>(data.size()), static_cast<unsigned int>(timeout.count()));
    if (moved < 0)
        return {resultOf(moved), 0};
    return {UsbResult::Ok, static_cast<std::size_t>(moved)};
}

UsbResult LibusbDevice::resultOf(int error)
{
    switch (error) {
    case LIBUSB_SUCCESS:
        return UsbResult::Ok;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
        return UsbResult::Gone;
    case LIBUSB_ERROR_ACCESS:
        return UsbResult::Access;
    case LIBUSB_ERROR_BUSY:
        return UsbResult::Busy;
    case LIBUSB_ERROR_TIMEOUT:
        return UsbResult::Timeout;
    case LIBUSB_ERROR_PIPE:
        return UsbResult::Stall;
    default:
        noted() = libusb_error_name(error);
        return UsbResult::Failed;
    }
}

std::string LibusbDevice::takeNoted()
{
    return std::exchange(noted(), {});
}
