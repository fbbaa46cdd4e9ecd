#pragma once

#include "boardfunction.h"
#include "usbstuff.h"

// The transport over the four-function library: search, connect, load, then requests that
// carry the handle Connect gave.
class USBStuffFourFunction final : public USBStuff
{
public:
    explicit USBStuffFourFunction(const QByteArray &libraryPath);

    std::int16_t InitialiseBoard() override;
    bool isBoardUp(std::int16_t status) const override { return status == 0; }
    std::int16_t VendorRequest(const VendorRequestFields &fields,
                               std::span<std::uint8_t> buffer) override;

private:
    BoardLibrary &library() override { return m_library; }
    int boardStatusOf(std::int16_t status) const override { return status; }

    BoardLibrary m_library;
    BoardFunction<std::int16_t(std::int32_t, std::int32_t, std::int32_t *, std::uint8_t *)>
            m_searchForBoards;
    BoardFunction<std::int16_t(std::int32_t, std::int32_t, std::uint8_t, std::int32_t *)> m_connect;
    BoardFunction<std::int16_t(std::int32_t, std::uint8_t *)> m_downloadFirmware;
    BoardFunction<std::int16_t(std::int32_t, std::uint8_t, std::int32_t, std::int32_t, std::uint8_t,
                               std::int16_t, std::uint8_t *)>
            m_vendorRequest;
};
