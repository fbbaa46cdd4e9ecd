#pragma once

#include "boardbackend.h"
#include "usbtransport.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

// The board on USB. A search finds it under either of its configured identities, open claims
// interface 0 (skipping boards held elsewhere unless one was chosen), a load writes the image
// through the board's loader and opens the board again when it comes back with its firmware
// identity on the same port, and each request is one vendor control transfer.
class UsbBoard final : public BoardBackend
{
public:
    // How far apart a load looks for the board to come back; the configuration says how long.
    // Tests may fix the number of looks.
    struct ComeBack
    {
        int looks = 0; // 0: as many as the configured wait holds
        std::chrono::milliseconds apart {100};
    };

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

    int search(const BoardConfig &config) override;
    BoardStatus searchStatus() const override { return m_searchStatus; }
    std::string detail() const override { return m_detail; }
    BoardStatus open(int board) override;
    std::optional<BoardStatus> attach() override;
    // Refuses our stand-in image.
    BoardStatus accepts(const IntelHexImage &image) const override;
    BoardStatus loadFirmware(const IntelHexImage &image) override;
    // Reads into a buffer of its own, so that a failed or short read leaves `data` as it was.
    BoardStatus transfer(const BoardProtocol::RequestKind &kind, std::int32_t value,
                         std::int32_t index, std::span<std::uint8_t> data) override;
    void close() override;
    BoardStatus list(const BoardConfig &config, std::vector<BoardListing> &listings,
                     bool probe) override;

private:
    BoardStatus openAt(const UsbDeviceAddress &address);
    BoardStatus writeMemory(std::uint16_t address, std::span<const std::uint8_t> bytes);
    BoardStatus awaitFirmware(const UsbDeviceAddress &loaded);
    // One control transfer, traced.
    BoardStatus control(const UsbControlSetup &setup, std::span<std::uint8_t> data);
    // "claiming its interface at port 1-2: LIBUSB_ERROR_OTHER", taking the transport's error.
    std::string failedStep(const std::string &step, const UsbDeviceAddress &address);

    std::unique_ptr<UsbTransport> m_transport;
    ComeBack m_comeBack;
    BoardConfig m_config;
    std::vector<UsbDeviceAddress> m_found;
    BoardStatus m_searchStatus = BoardStatus::NoBoard;
    std::string m_detail;
    std::string m_failedStep;            // the last open's, when it met an error of no known kind
    std::unique_ptr<UsbDevice> m_device; // opened with its interface claimed
    UsbDeviceAddress m_opened;           // where m_device is
};
