// The two-function form, recording; C++ linkage like the library it stands in for.
#include "fakeboardstate.h"

#define FAKE_EXPORT __attribute__((visibility("default")))

FAKE_EXPORT short LoadFirmWare(char *path)
{
    FakeBoardState &board = fakeBoard();
    board.record(std::string("LoadFirmWare path=") + path);
    return board.loadStatus;
}

FAKE_EXPORT short VendorIORequest(short request, int value, int index, short direction,
                                  short length, char *buffer)
{
    FakeBoardState &board = fakeBoard();
    const std::string seen
            = board.takeRequest(length, reinterpret_cast<std::uint8_t *>(buffer), direction);
    board.record("VendorIORequest request=" + hex(request) + " value=" + hex(value)
                 + " index=" + hex(index) + " direction=" + std::to_string(direction)
                 + " length=" + std::to_string(length) + " " + seen);
    return board.requestStatus;
}
