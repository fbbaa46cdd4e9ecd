// The four-function form of the board library: C linkage, a handle per opened board.
#include "boardfaces.h"
#include "librarycore.h"
#include "traceline.h"

extern "C" {

[[gnu::visibility("default")]] std::int16_t Search_For_Boards(std::int32_t vendorId,
                                                              std::int32_t productId,
                                                              std::int32_t *found,
                                                              std::uint8_t *boardList)
{
    const BoardStatus status = LibraryCore::run([&](BoardCore &core) {
        return core.searchForBoards(vendorId, productId, found, boardList);
    });
    traceCall([&] {
        return TraceLine("Search_For_Boards")
                .hex("vendorId", vendorId)
                .hex("productId", productId)
                .decimalAt("found", found)
                .boardList("boardList", boardList, BoardCore::boardListBytes)
                .status(statusCode(status));
    });
    return statusCode(status);
}

[[gnu::visibility("default")]] std::int16_t Connect(std::int32_t vendorId, std::int32_t productId,
                                                    std::uint8_t board, std::int32_t *handle)
{
    const BoardStatus status = LibraryCore::run(
            [&](BoardCore &core) { return core.connect(vendorId, productId, board, handle); });
    traceCall([&] {
        return TraceLine("Connect")
                .hex("vendorId", vendorId)
                .hex("productId", productId)
                .decimal("board", board)
                .hexAt("handle", handle)
                .status(statusCode(status));
    });
    return statusCode(status);
}

[[gnu::visibility("default")]] std::int16_t Download_Firmware(std::int32_t handle,
                                                              std::uint8_t *path)
{
    const char *text = reinterpret_cast<const char *>(path);
    const BoardStatus status = LibraryCore::run(
            [&](BoardCore &core) { return core.downloadFirmware(handle, text); });
    traceCall([&] {
        return TraceLine("Download_Firmware")
                .hex("handle", handle)
                .path("path", text, BoardCore::maxPathBytes)
                .status(statusCode(status));
    });
    return statusCode(status);
}

[[gnu::visibility("default")]] std::int16_t
Vendor_Request(std::int32_t handle, std::uint8_t request, std::int32_t value, std::int32_t index,
               std::uint8_t direction, std::int16_t length, std::uint8_t *buffer)
{
    const RequestArguments arguments {request, value, index, direction, length, buffer};
    const BoardStatus status = LibraryCore::run(
            [&](BoardCore &core) { return core.vendorRequest(handle, arguments); });
    traceCall([&] {
        return TraceLine("Vendor_Request")
                .hex("handle", handle)
                .hex("request", request)
                .hex("value", value)
                .hex("index", index)
                .decimal("direction", direction)
                .decimal("length", length)
                .bytes("buffer", buffer, tracedBufferBytes(request, length))
                .status(statusCode(status));
    });
    return statusCode(status);
}

} // extern "C"
