// The two-function form of the board library: C++ linkage, no handle; LoadFirmWare brings the
// board up and the requests go to it.
#include "boardfaces.h"
#include "librarycore.h"
#include "traceline.h"

namespace {

// LoadFirmWare's callers read any status of 0 or more as success.
short loadStatus(BoardStatus status)
{
    return static_cast<short>(-statusCode(status));
}

} // namespace

[[gnu::visibility("default")]] short LoadFirmWare(char *path)
{
    const BoardStatus status
            = LibraryCore::run([&](BoardCore &core) { return core.bringUp(path); });
    traceCall([&] {
        return TraceLine("LoadFirmWare")
                .path("path", path, BoardCore::maxPathBytes)
                .status(loadStatus(status));
    });
    return loadStatus(status);
}

[[gnu::visibility("default")]] short VendorIORequest(short request, int value, int index,
                                                     short direction, short length, char *buffer)
{
    auto *bytes = reinterpret_cast<std::uint8_t *>(buffer);
    const RequestArguments arguments {request, value, index, direction, length, bytes};
    const BoardStatus status
            = LibraryCore::run([&](BoardCore &core) { return core.vendorRequest(arguments); });
    traceCall([&] {
        return TraceLine("VendorIORequest")
                .hex("request", request)
                .hex("value", value)
                .hex("index", index)
                .decimal("direction", direction)
                .decimal("length", length)
                .bytes("buffer", bytes, tracedBufferBytes(request, length))
                .status(statusCode(status));
    });
    return statusCode(status);
}
