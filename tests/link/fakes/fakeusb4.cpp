// The four-function form, recording.
#include "fakeboardstate.h"

#include <cstdint>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT std::int16_t Search_For_Boards(std::int32_t vendorId, std::int32_t productId,
                                           std::int32_t *found, std::uint8_t *boardList)
{
    FakeBoardState &board = fakeBoard();
    board.record("Search_For_Boards vendorId=" + hex(vendorId) + " productId=" + hex(productId)
                 + " found=" + std::to_string(*found)
                 + " boardList[0]=" + std::to_string(boardList[0]));
    *found = board.found;
    boardList[0] = board.boardListByte;
    return 0;
}

FAKE_EXPORT std::int16_t Connect(std::int32_t vendorId, std::int32_t productId,
                                 std::uint8_t boardNumber, std::int32_t *handle)
{
    FakeBoardState &board = fakeBoard();
    board.record("Connect vendorId=" + hex(vendorId) + " productId=" + hex(productId)
                 + " board=" + std::to_string(boardNumber));
    *handle = board.handle;
    return 0;
}

FAKE_EXPORT std::int16_t Download_Firmware(std::int32_t handle, std::uint8_t *path)
{
    FakeBoardState &board = fakeBoard();
    board.record("Download_Firmware handle=" + std::to_string(handle)
                 + " path=" + reinterpret_cast<const char *>(path));
    return board.loadStatus;
}

FAKE_EXPORT std::int16_t Vendor_Request(std::int32_t handle, std::uint8_t request,
                                        std::int32_t value, std::int32_t index,
                                        std::uint8_t direction, std::int16_t length,
                                        std::uint8_t *buffer)
{
    FakeBoardState &board = fakeBoard();
    const std::string seen = board.takeRequest(length, buffer, direction);
    board.record("Vendor_Request handle=" + std::to_string(handle) + " request=" + hex(request)
                 + " value=" + hex(value) + " index=" + hex(index) + " direction="
                 + std::to_string(direction) + " length=" + std::to_string(length) + " " + seen);
    return board.requestStatus;
}
