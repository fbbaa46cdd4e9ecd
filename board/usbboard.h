#pragma once

#include "boardbackend.h"
#include "usbtransport.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <vector>

// The board on USB. A search finds it under either of its identities, open claims interface 0,
// a load writes the image through the board's loader and opens the board again when it comes
// back with its firmware identity, and each request is one vendor control transfer.
class UsbBoard final : public BoardBackend
{
public:
    // How often, and how far apart, a load looks for the board to come back.
    struct ComeBack
    {
        int looks = 50;
        std::chrono::milliseconds apart {100};
    };

    static constexpr UsbIdentity loaderIdentity {BoardProtocol::loaderVendorId,
                                                 BoardProtocol::loaderProductId};
    static constexpr UsbIdentity firmwareIdentity {BoardProtocol::vendorId,
                                                   BoardProtocol::productId};
    static constexpr int boardInterface = 0;
    static constexpr std::chrono::milliseconds transferTimeout {1000};
    // The loader's request: write `data` to the board's memory at the address in the value.
    static constexpr std::uint8_t loadRequest = 0xA0;
    // Writing 1 there holds the board's CPU in reset, 0 lets it run.
    static constexpr std::uint16_t cpuControlAddress = 0xE600;
    static constexpr std::size_t maxChunkBytes = 64;

    UsbBoard(); // through libusb
    explicit UsbBoard(std::unique_ptr<UsbTransport> transport);
    UsbBoard(std::unique_ptr<UsbTransport> transport, ComeBack comeBack);
    ~UsbBoard() override;
    UsbBoard(const UsbBoard &) = delete;
    UsbBoard &operator=(const UsbBoard &) = delete;

    int search(std::int32_t vendorId, std::int32_t productId) override;
    BoardStatus open(int board) override;
    // Refuses our stand-in image before any transfer.
    BoardStatus loadFirmware(const IntelHexImage &image) override;
    // Reads into a buffer of its own, so that a failed or short read leaves `data` as it was.
    BoardStatus transfer(const BoardProtocol::RequestKind &kind, std::int32_t value,
                         std::int32_t index, std::span<std::uint8_t> data) override;
    void close() override;

private:
    BoardStatus openAt(const UsbDeviceAddress &address);
    BoardStatus writeMemory(std::uint16_t address, std::span<const std::uint8_t> bytes);
    BoardStatus awaitFirmware(const std::vector<UsbDeviceAddress> &before);
    // One control transfer, traced.
    BoardStatus control(const UsbControlSetup &setup, std::span<std::uint8_t> data);

    std::unique_ptr<UsbTransport> m_transport;
    ComeBack m_comeBack;
    std::vector<UsbDeviceAddress> m_found;
    std::unique_ptr<UsbDevice> m_device; // opened with its interface claimed
};
