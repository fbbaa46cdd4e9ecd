#pragma once

#include "usbtransport.h"

// USB through libusb's default context: one per process, made at the first call that succeeds
// and kept for the run (both board libraries in one process share it).
class LibusbTransport final : public UsbTransport
{
public:
    std::string unavailable() override;
    std::string takeError() override;
    std::vector<UsbDeviceAddress> devices(std::span<const UsbIdentity> identities) override;
    UsbOpened open(const UsbDeviceAddress &address) override;
};
