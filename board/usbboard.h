#pragma once

#include "boardbackend.h"

// The board on USB. Without USB access it finds no board, so a bring-up fails as it would with
// the board unplugged, and nothing ever reaches a request.
class UsbBoard final : public BoardBackend
{
public:
    int search(std::int32_t vendorId, std::int32_t productId) override;
    BoardStatus open(int board) override;
    BoardStatus loadFirmware(const IntelHexImage &image) override;
    BoardStatus transfer(const BoardProtocol::RequestKind &kind, std::int32_t value,
                         std::int32_t index, std::span<std::uint8_t> data) override;
};
