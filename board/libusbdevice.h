#pragma once

#include "usbdevice.h"

struct libusb_device_handle;

// A device opened through libusb; closed when destroyed.
class LibusbDevice final : public UsbDevice
{
public:
    explicit LibusbDevice(libusb_device_handle *handle);
    ~LibusbDevice() override;
    LibusbDevice(const LibusbDevice &) = delete;
    LibusbDevice &operator=(const LibusbDevice &) = delete;

    UsbResult claimInterface(int interface) override;
    UsbResult releaseInterface(int interface) override;
    bool kernelDriverActive(int interface) override;
    UsbTransferResult controlTransfer(const UsbControlSetup &setup, std::span<std::uint8_t> data,
                                      std::chrono::milliseconds timeout) override;

    // A libusb error code in our terms.
    static UsbResult resultOf(int error);

private:
    libusb_device_handle *m_handle;
};
