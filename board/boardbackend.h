#pragma once

#include "boardconfig.h"
#include "boardprotocol.h"
#include "boardstatus.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

class IntelHexImage;

// One board on the bus as a listing shows it, without bringing it up.
struct BoardListing
{
    UsbDeviceAddress address;
    bool firmwareRunning = false;         // shows the firmware identity, not only its loader's
    BoardStatus access = BoardStatus::Ok; // what opening and claiming it gives
    bool kernelDriver = false;            // a kernel driver holds its interface
    std::string failure;                  // the step and USB's error, when access is UsbError
};

// What stands behind the board core: the simulated board or one on USB. The core has already
// checked every argument against the request set before it calls here.
class BoardBackend
{
public:
    virtual ~BoardBackend() = default;

    // One bring-up attempt's look for boards as the configuration says; returns how many.
    virtual int search(const BoardConfig &config) = 0;
    // Why the last search found none.
    virtual BoardStatus searchStatus() const { return BoardStatus::NoBoard; }
    // More on the last failure, for a person: which port, which board; empty when nothing more.
    virtual std::string detail() const { return {}; }
    // Opens board `board` (1 to the number found) of the last search.
    virtual BoardStatus open(int board) = 0;
    // Lets go of the board that open (or a load) took, if any; requests find no board after.
    virtual void close() = 0;
    // When the configuration says attach: whether the opened board runs the firmware, which is
    // then taken as it is in place of a load. Nothing when it says load.
    virtual std::optional<BoardStatus> attach() { return std::nullopt; }
    // Whether this board would take the image, before it is opened.
    virtual BoardStatus accepts(const IntelHexImage &) const { return BoardStatus::Ok; }
    // Loads a checked image into the opened board and starts it.
    virtual BoardStatus loadFirmware(const IntelHexImage &image) = 0;
    // One request of the request set, value and index in range; `data` is exactly the request's
    // length in bytes, filled by requests from the board.
    virtual BoardStatus transfer(const BoardProtocol::RequestKind &kind, std::int32_t value,
                                 std::int32_t index, std::span<std::uint8_t> data)
            = 0;
    // The boards there are, and, when `probe`, whether each could be opened (claimed and let go
    // at once; without it no board is touched, so a program claiming one meanwhile is never
    // refused); changes nothing. Fails when the bus cannot be looked at.
    virtual BoardStatus list(const BoardConfig &config, std::vector<BoardListing> &listings,
                             bool probe)
            = 0;
};
