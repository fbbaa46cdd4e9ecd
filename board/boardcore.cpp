#include "boardcore.h"

#include "intelheximage.h"
#include "usbboard.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <utility>

namespace {

// Handles carry the board's product id in their high half, so that a stray integer is
// unlikely to pass for one.
constexpr std::uint32_t handleBase = static_cast<std::uint32_t>(BoardProtocol::productId) << 16;

bool isBoardIdentity(std::int32_t vendorId, std::int32_t productId)
{
    return vendorId == BoardProtocol::vendorId && productId == BoardProtocol::productId;
}

} // namespace

BoardCore::BoardCore(std::unique_ptr<BoardBackend> backend, SimulatedBoard *simulated)
    : m_backend(std::move(backend))
    , m_simulated(simulated)
    , m_configSource(
              [] { return BoardConfigFile::read(BoardConfigFile::besideLibrary(), &std::getenv); })
{ }

// The backend's own word on a failure, if it has one.
BoardStatus BoardCore::failed(BoardStatus status)
{
    if (status != BoardStatus::Ok && m_detail.empty())
        m_detail = m_backend->detail();
    return status;
}

BoardCore BoardCore::simulated(SimulatedBoard::Knobs knobs)
{
    auto board = std::make_unique<SimulatedBoard>(knobs);
    SimulatedBoard *simulated = board.get();
    return BoardCore(std::move(board), simulated);
}

BoardCore BoardCore::usb()
{
    return BoardCore(std::make_unique<UsbBoard>(), nullptr);
}

BoardCore BoardCore::withBackend(std::unique_ptr<BoardBackend> backend)
{
    return BoardCore(std::move(backend), nullptr);
}

BoardCore BoardCore::fromEnvironment()
{
    const char *board = std::getenv("TX4410_BOARD");
    if (board != nullptr && std::strcmp(board, "sim") == 0)
        return simulated(SimulatedBoard::Knobs::fromEnvironment());
    return usb();
}

BoardStatus BoardCore::searchForBoards(std::int32_t vendorId, std::int32_t productId,
                                       std::int32_t *found, std::uint8_t *boardList)
{
    // Every search is a bring-up attempt, and closes whatever the last one opened.
    m_handle = 0;
    m_loaded = false;
    m_detail.clear();
    m_backend->close();
    m_found = 0;
    m_openStatus = BoardStatus::NoBoard;
    // The program's own identity stands for the board, whichever identities it shows on USB.
    if (isBoardIdentity(vendorId, productId)) {
        const BoardConfigReading reading = m_configSource();
        if (!reading.problem.empty()) {
            m_openStatus = BoardStatus::ConfigInvalid;
            m_detail = reading.problem;
        } else {
            m_found = std::max(0, m_backend->search(reading.config));
            m_openStatus = m_found > 0 ? BoardStatus::Ok : failed(m_backend->searchStatus());
        }
    }
    if (found == nullptr || boardList == nullptr)
        return BoardStatus::NullArgument;

    *found = m_found;
    std::fill_n(boardList, boardListBytes, std::uint8_t {0});
    const int listed = std::min(m_found, static_cast<int>(boardListBytes));
    for (int i = 0; i < listed; ++i)
        boardList[i] = static_cast<std::uint8_t>(i + 1);
    return m_openStatus;
}

BoardStatus BoardCore::connect(std::int32_t vendorId, std::int32_t productId, std::uint8_t board,
                               std::int32_t *handle)
{
    if (handle == nullptr)
        return BoardStatus::NullArgument;
    m_handle = 0;
    m_loaded = false;
    *handle = 0;
    m_backend->close();
    // A search that found none keeps its reason for the load the program makes regardless.
    if (m_found == 0 && m_openStatus != BoardStatus::Ok)
        return m_openStatus;
    m_openStatus = BoardStatus::NoBoard;
    if (!isBoardIdentity(vendorId, productId) || board < 1 || board > m_found)
        return m_openStatus;
    m_detail.clear();
    m_openStatus = failed(m_backend->open(board));
    if (m_openStatus != BoardStatus::Ok)
        return m_openStatus;

    ++m_connections;
    m_handle = static_cast<std::int32_t>(handleBase | (m_connections & 0xFFFF));
    *handle = m_handle;
    return BoardStatus::Ok;
}

BoardStatus BoardCore::downloadFirmware(std::int32_t handle, const char *path)
{
    if (path == nullptr)
        return BoardStatus::NullArgument;
    if (handle == 0 && m_handle == 0 && m_openStatus != BoardStatus::Ok)
        return m_openStatus;
    if (m_handle == 0 || handle != m_handle)
        return BoardStatus::BadHandle;
    return load(path);
}

BoardStatus BoardCore::vendorRequest(std::int32_t handle, const RequestArguments &request)
{
    if (request.buffer == nullptr)
        return BoardStatus::NullArgument;
    if (m_handle == 0 || handle != m_handle)
        return BoardStatus::BadHandle;
    return transfer(request);
}

BoardStatus BoardCore::bringUp(const char *path)
{
    std::int32_t found = 0;
    std::uint8_t boardList[boardListBytes] {};
    if (const BoardStatus status
        = searchForBoards(BoardProtocol::vendorId, BoardProtocol::productId, &found, boardList);
        status != BoardStatus::Ok)
        return status;
    std::int32_t handle = 0;
    if (const BoardStatus status
        = connect(BoardProtocol::vendorId, BoardProtocol::productId, boardList[0], &handle);
        status != BoardStatus::Ok)
        return status;
    return downloadFirmware(handle, path);
}

BoardStatus BoardCore::vendorRequest(const RequestArguments &request)
{
    if (request.buffer == nullptr)
        return BoardStatus::NullArgument;
    if (m_handle == 0)
        return BoardStatus::NoBoard;
    return transfer(request);
}

BoardStatus BoardCore::load(const char *path)
{
    m_loaded = false;
    m_detail.clear();
    // A board that runs the firmware is taken as it is: no file is read, nothing is sent.
    if (const std::optional<BoardStatus> attached = m_backend->attach()) {
        m_loaded = *attached == BoardStatus::Ok;
        return failed(*attached);
    }
    CheckedImage checked = readFirmware(path);
    if (checked.status != BoardStatus::Ok) {
        m_detail = path;
        return checked.status;
    }
    const BoardStatus status = m_backend->loadFirmware(*checked.image);
    m_loaded = status == BoardStatus::Ok;
    return failed(status);
}

BoardStatus BoardCore::checkFirmware(const char *path) const
{
    return readFirmware(path).status;
}

BoardCore::CheckedImage BoardCore::readFirmware(const char *path) const
{
    if (path == nullptr)
        return {BoardStatus::NullArgument, std::nullopt};
    if (::strnlen(path, maxPathBytes + 1) > maxPathBytes)
        return {BoardStatus::PathTooLong, std::nullopt};
    IntelHexImage image = IntelHexImage::load(std::string(path));
    if (image.error() == IntelHexImage::Error::Unreadable)
        return {BoardStatus::FirmwareMissing, std::nullopt};
    if (!image.isValid())
        return {BoardStatus::FirmwareInvalid, std::nullopt};
    if (const BoardStatus status = m_backend->accepts(image); status != BoardStatus::Ok)
        return {status, std::nullopt};
    return {BoardStatus::Ok, std::move(image)};
}

BoardStatus BoardCore::list(std::vector<BoardListing> &listings, bool probe)
{
    const BoardConfigReading reading = m_configSource();
    if (!reading.problem.empty()) {
        m_detail = reading.problem;
        return BoardStatus::ConfigInvalid;
    }
    m_detail.clear();
    return failed(m_backend->list(reading.config, listings, probe));
}

BoardStatus BoardCore::transfer(const RequestArguments &request)
{
    if (!m_loaded)
        return BoardStatus::NotLoaded;
    const BoardProtocol::RequestKind *kind = BoardProtocol::findRequest(request.code);
    if (kind == nullptr)
        return BoardStatus::UnknownRequest;
    if (request.direction != static_cast<int>(kind->direction))
        return BoardStatus::WrongDirection;
    if (request.length != kind->length)
        return BoardStatus::WrongLength;
    if (request.value < 0 || request.value > kind->maxValue)
        return BoardStatus::ValueOutOfRange;
    if (request.index < 0 || request.index > kind->maxIndex)
        return BoardStatus::IndexOutOfRange;
    const std::span<std::uint8_t> data(request.buffer, static_cast<std::size_t>(kind->length));
    m_detail.clear();
    return failed(m_backend->transfer(*kind, request.value, request.index, data));
}
