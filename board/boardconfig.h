// How the board library finds the board: its two USB identities, how long a load waits for it
// to come back, which board to take, and whether to load it at all. Read from a file beside the
// library (in an install a link to /etc/tx4410/board.conf), then from variables for one run.
#pragma once

#include "boardprotocol.h"
#include "usbtransport.h"

#include <chrono>
#include <functional>
#include <string>

struct BoardConfig
{
    UsbIdentity loader {BoardProtocol::loaderVendorId, BoardProtocol::loaderProductId};
    UsbIdentity firmware {BoardProtocol::vendorId, BoardProtocol::productId};
    std::chrono::milliseconds comeBack {5000};
    std::string port;    // a port path as list prints it ("1-2.3"); empty: any board
    bool attach = false; // take a board that runs the firmware as it is, without loading it
    std::string file;    // the file that was read; empty when there was none
};

struct BoardConfigReading
{
    BoardConfig config;
    std::string problem; // where and what is wrong, in one line; empty when all is well
};

using Environment = std::function<const char *(const char *name)>;

namespace BoardConfigFile {

inline constexpr const char *name = "board.conf";
inline constexpr std::size_t maxBytes = 64 * 1024;

// board.conf in the folder of the library this code is in.
std::string besideLibrary();

// Reads the file at `path` (none there: the defaults), or the one TX4410_BOARD_CONFIG names
// (which must exist), then TX4410_LOADER_ID, TX4410_FIRMWARE_ID, TX4410_COME_BACK_SECONDS,
// TX4410_BOARD_PORT and TX4410_ATTACH over it. The first fault found is the problem.
BoardConfigReading read(const std::string &path, const Environment &environment);

} // namespace BoardConfigFile
