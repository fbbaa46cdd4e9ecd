#pragma once

#include "boardbackend.h"
#include "boardstatus.h"
#include "intelheximage.h"
#include "simulatedboard.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One vendor request as either library form hands it over, in widths that hold both forms'.
struct RequestArguments
{
    int code = 0;
    std::int32_t value = 0;
    std::int32_t index = 0;
    int direction = 0;
    int length = 0;
    // At least one byte and at least `length` bytes, or null.
    std::uint8_t *buffer = nullptr;
};

// The board behind both library forms: bring-up, handles and the request set's rules, in front
// of the simulated or the USB board. A request that breaks the rules fails before it reaches the
// board and leaves the buffer as it was.
class BoardCore final
{
public:
    static constexpr std::size_t boardListBytes = 128;
    // Longer paths are refused before anything opens them.
    static constexpr std::size_t maxPathBytes = 4096;

    static BoardCore simulated(SimulatedBoard::Knobs knobs = {});
    static BoardCore usb();
    // Any other board, the simulated board's controls aside.
    static BoardCore withBackend(std::unique_ptr<BoardBackend> backend);
    // TX4410_BOARD=sim selects the simulated board, with its knobs from the environment;
    // anything else, or nothing, the USB board. The configuration is read at each attempt.
    static BoardCore fromEnvironment();

    // Where each bring-up attempt and listing takes the configuration from; by default the
    // file beside the library and the process's environment.
    using ConfigSource = std::function<BoardConfigReading()>;
    void setConfigSource(ConfigSource source) { m_configSource = std::move(source); }
    BoardConfigReading readConfig() const { return m_configSource(); }

    // One bring-up attempt. Writes the number of boards found and fills the list: byte i is
    // the number Connect takes for the i-th board (numbers start at 1), the rest are 0.
    BoardStatus searchForBoards(std::int32_t vendorId, std::int32_t productId, std::int32_t *found,
                                std::uint8_t *boardList);
    // Sets *handle to a new non-zero handle, or to 0 when the board cannot be opened.
    BoardStatus connect(std::int32_t vendorId, std::int32_t productId, std::uint8_t board,
                        std::int32_t *handle);
    // Loads the Intel HEX image at the NUL-terminated path. With handle 0 after an attempt that
    // opened no board, fails with the reason it opened none.
    BoardStatus downloadFirmware(std::int32_t handle, const char *path);
    BoardStatus vendorRequest(std::int32_t handle, const RequestArguments &request);

    // The library form without a handle: one attempt searches, opens and loads, and its
    // requests go to the board that the last attempt brought up.
    BoardStatus bringUp(const char *path);
    BoardStatus vendorRequest(const RequestArguments &request);

    // More on why the last attempt failed, for a person; empty when there is nothing more.
    const std::string &statusDetail() const { return m_detail; }
    // The boards on the bus, opened and let go again when `probe`; ConfigInvalid when the
    // configuration is.
    BoardStatus list(std::vector<BoardListing> &listings, bool probe);
    // Whether a load of the image at the path would get past the file checks and this board's.
    BoardStatus checkFirmware(const char *path) const;

    // The simulated board behind the core, or nullptr for the USB board.
    SimulatedBoard *simulatedBoard() const { return m_simulated; }

private:
    BoardCore(std::unique_ptr<BoardBackend> backend, SimulatedBoard *simulated);

    BoardStatus load(const char *path);
    // The image at the path, read once, and whether a load of it would get past the file checks
    // and this board's; the image only when it would.
    struct CheckedImage
    {
        BoardStatus status;
        std::optional<IntelHexImage> image;
    };
    CheckedImage readFirmware(const char *path) const;
    BoardStatus failed(BoardStatus status);
    BoardStatus transfer(const RequestArguments &request);

    std::unique_ptr<BoardBackend> m_backend;
    SimulatedBoard *m_simulated;
    ConfigSource m_configSource;
    std::string m_detail;
    int m_found = 0;
    std::int32_t m_handle = 0; // 0 while no board is open
    // Why the last attempt opened no board, for the load that the program makes regardless.
    BoardStatus m_openStatus = BoardStatus::NoBoard;
    std::uint32_t m_connections = 0;
    bool m_loaded = false;
};
