#pragma once

#include "boardprotocol.h"
#include "boardstatus.h"

#include <cstdint>
#include <span>

class IntelHexImage;

// What stands behind the board core: the simulated board or one on USB. The core has already
// checked every argument against the request set before it calls here.
class BoardBackend
{
public:
    virtual ~BoardBackend() = default;

    // One bring-up attempt's look for boards with this identity; returns how many answered.
    virtual int search(std::int32_t vendorId, std::int32_t productId) = 0;
    // Opens board `board` (1 to the number found) of the last search.
    virtual BoardStatus open(int board) = 0;
    // Lets go of the board that open (or a load) took, if any; requests find no board after.
    virtual void close() = 0;
    // Loads a checked image into the opened board and starts it.
    virtual BoardStatus loadFirmware(const IntelHexImage &image) = 0;
    // One request of the request set, value and index in range; `data` is exactly the request's
    // length in bytes, filled by requests from the board.
    virtual BoardStatus transfer(const BoardProtocol::RequestKind &kind, std::int32_t value,
                                 std::int32_t index, std::span<std::uint8_t> data)
            = 0;
};
