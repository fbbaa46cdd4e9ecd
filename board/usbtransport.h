#pragma once

#include "usbdevice.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// A device's vendor and product id as it shows them on the bus.
struct UsbIdentity
{
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;

    friend bool operator==(const UsbIdentity &, const UsbIdentity &) = default;
};

// One device on the bus as one enumeration saw it. A device that leaves and comes back (after a
// firmware load, say) gets a new address, on the same port.
struct UsbDeviceAddress
{
    UsbIdentity identity;
    std::uint8_t bus = 0;
    std::uint8_t address = 0;
    std::string port; // the bus, then each hub's port down to the device: "1-2.3"

    friend bool operator==(const UsbDeviceAddress &, const UsbDeviceAddress &) = default;
};

struct UsbOpened
{
    UsbResult result = UsbResult::Failed;
    std::unique_ptr<UsbDevice> device; // set when the result is Ok
};

// The USB the board is reached through: libusb for the programs, a fake device in the tests.
class UsbTransport
{
public:
    virtual ~UsbTransport() = default;

    // Why USB cannot be looked at now (no /dev/bus/usb, libusb did not start); empty when it
    // can. Asked again each time.
    virtual std::string unavailable() { return {}; }
    // The name of the last error that fits no UsbResult but Failed ("LIBUSB_ERROR_OTHER"),
    // cleared as it is taken; empty when there was none.
    virtual std::string takeError() { return {}; }
    // The devices now on the bus that show one of these identities, in the bus's order.
    virtual std::vector<UsbDeviceAddress> devices(std::span<const UsbIdentity> identities) = 0;
    // Opens the device seen at this address, if it is still there.
    virtual UsbOpened open(const UsbDeviceAddress &address) = 0;
};
