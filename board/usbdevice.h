#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

// What a USB call came to, in our own terms.
enum class UsbResult {
    Ok,
    Gone,         // the device is no longer on the bus
    Access,       // no permission to open it
    Busy,         // another program holds the interface
    Timeout,      // no answer within the timeout
    Stall,        // the device refused the request
    Unconfigured, // the device has no active configuration, so no interface to claim
    Failed,       // anything else
};

// The setup fields of a control transfer; its length is the size of the data.
struct UsbControlSetup
{
    // Bits of the request type.
    static constexpr std::uint8_t directionIn = 0x80;
    static constexpr std::uint8_t typeVendor = 0x40;
    static constexpr std::uint8_t recipientDevice = 0x00;

    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;

    bool isIn() const { return (requestType & directionIn) != 0; }
};

struct UsbTransferResult
{
    UsbResult result = UsbResult::Failed;
    std::size_t transferred = 0; // bytes moved, never more than the data's size
};

// One opened device; destroying it closes it.
class UsbDevice
{
public:
    virtual ~UsbDevice() = default;

    // A kernel driver on the interface is detached first.
    virtual UsbResult claimInterface(int interface) = 0;
    virtual bool kernelDriverActive(int interface) = 0;
    virtual UsbResult releaseInterface(int interface) = 0;
    // Moves `data` to the device, or fills it from the device, as the setup's direction says.
    virtual UsbTransferResult controlTransfer(const UsbControlSetup &setup,
                                              std::span<std::uint8_t> data,
                                              std::chrono::milliseconds timeout)
            = 0;
};
