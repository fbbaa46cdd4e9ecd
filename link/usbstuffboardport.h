#pragma once

#include "boardfunction.h"
#include "usbstuff.h"

// The transport over the two-function library: one firmware load brings the board up, and the
// library itself addresses that board in every request.
class USBStuffBoardPort final : public USBStuff
{
public:
    explicit USBStuffBoardPort(const QByteArray &libraryName);

    // The firmware path must have been stored first.
    std::int16_t InitialiseBoard() override;
    bool isBoardUp(std::int16_t status) const override { return status >= 0; }
    std::int16_t VendorRequest(const VendorRequestFields &fields,
                               std::span<std::uint8_t> buffer) override;

private:
    BoardLibrary &library() override { return m_library; }
    int boardStatusOf(std::int16_t status) const override { return -status; }

    BoardLibrary m_library;
    BoardFunction<short(char *)> m_loadFirmware;
    BoardFunction<short(short, int, int, short, short, char *)> m_vendorIORequest;
};
