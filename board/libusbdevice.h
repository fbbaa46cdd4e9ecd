#pragma once

#include "usbdevice.h"

#include <string>

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

    // A libusb error code in our terms; one that is only Failed is noted by its name.
    static UsbResult resultOf(int error);
    // libusb's name of the last error noted ("LIBUSB_ERROR_OTHER"), cleared as it is taken.
    static std::string takeNoted();

private:
    libusb_device_handle *m_handle;
};
