#include "usbboard.h"

#include "intelheximage.h"
#include "libusbtransport.h"
#include "standinimage.h"
#include "traceline.h"

#include <algorithm>
#include <array>
#include <thread>

namespace {

constexpr std::uint8_t vendorOut = UsbControlSetup::typeVendor | UsbControlSetup::recipientDevice;
constexpr std::uint8_t vendorIn = vendorOut | UsbControlSetup::directionIn;

BoardStatus transferStatus(UsbResult result)
{
    switch (result) {
    case UsbResult::Ok:
        return BoardStatus::Ok;
    case UsbResult::Gone:
        return BoardStatus::BoardGone;
    case UsbResult::Timeout:
        return BoardStatus::TimedOut;
    case UsbResult::Stall:
        return BoardStatus::Stalled;
    default:
        return BoardStatus::RequestFailed;
    }
}

BoardStatus openStatus(UsbResult result)
{
    switch (result) {
    case UsbResult::Ok:
        return BoardStatus::Ok;
    case UsbResult::Access:
        return BoardStatus::NoAccess;
    case UsbResult::Busy:
        return BoardStatus::BoardBusy;
    default:
        return BoardStatus::NoBoard;
    }
}

} // namespace

UsbBoard::UsbBoard()
    : UsbBoard(std::make_unique<LibusbTransport>())
{ }

UsbBoard::UsbBoard(std::unique_ptr<UsbTransport> transport)
    : UsbBoard(std::move(transport), ComeBack {})
{ }

UsbBoard::UsbBoard(std::unique_ptr<UsbTransport> transport, ComeBack comeBack)
    : m_transport(std::move(transport))
    , m_comeBack(comeBack)
{ }

UsbBoard::~UsbBoard()
{
    close();
}

int UsbBoard::search(std::int32_t vendorId, std::int32_t productId)
{
    m_found.clear();
    if (vendorId != BoardProtocol::vendorId || productId != BoardProtocol::productId)
        return 0;
    // A board that runs our firmware already (the program started again) is loaded again too:
    // its loader answers whatever runs on the CPU.
    constexpr std::array identities {loaderIdentity, firmwareIdentity};
    m_found = m_transport->devices(identities);
    return static_cast<int>(m_found.size());
}

BoardStatus UsbBoard::open(int board)
{
    close();
    if (board < 1 || static_cast<std::size_t>(board) > m_found.size())
        return BoardStatus::NoBoard;
    return openAt(m_found[static_cast<std::size_t>(board) - 1]);
}

void UsbBoard::close()
{
    if (!m_device)
        return;
    // A board that has gone cannot be released; closing still frees our side.
    m_device->releaseInterface(boardInterface);
    m_device.reset();
}

BoardStatus UsbBoard::openAt(const UsbDeviceAddress &address)
{
    UsbOpened opened = m_transport->open(address);
    if (opened.result != UsbResult::Ok || !opened.device)
        return openStatus(opened.result);
    if (const UsbResult claimed = opened.device->claimInterface(boardInterface);
        claimed != UsbResult::Ok)
        return openStatus(claimed);
    m_device = std::move(opened.device);
    return BoardStatus::Ok;
}

BoardStatus UsbBoard::loadFirmware(const IntelHexImage &image)
{
    if (StandInImage::isMarked(image))
        return BoardStatus::StandInFirmware;
    if (!m_device)
        return BoardStatus::NoBoard;

    // The board comes back as a new device; one that already shows the firmware identity now
    // is not it.
    const std::vector<UsbDeviceAddress> before
            = m_transport->devices(std::span(&firmwareIdentity, 1));
    constexpr std::array<std::uint8_t, 1> holdReset {1}, run {0};
    if (const BoardStatus status = writeMemory(cpuControlAddress, holdReset);
        status != BoardStatus::Ok)
        return status;
    for (const IntelHexImage::Segment &segment : image.runs()) {
        const std::span<const std::uint8_t> bytes(segment.bytes);
        for (std::size_t at = 0; at < bytes.size(); at += maxChunkBytes) {
            const auto address = static_cast<std::uint16_t>(segment.address + at);
            const BoardStatus status = writeMemory(
                    address, bytes.subspan(at, std::min(maxChunkBytes, bytes.size() - at)));
            if (status != BoardStatus::Ok)
                return status;
        }
    }
    // The board may leave the bus as soon as its CPU runs, before it answers this write.
    if (const BoardStatus status = writeMemory(cpuControlAddress, run);
        status != BoardStatus::Ok && status != BoardStatus::BoardGone)
        return status;
    close();
    return awaitFirmware(before);
}

BoardStatus UsbBoard::awaitFirmware(const std::vector<UsbDeviceAddress> &before)
{
    BoardStatus status = BoardStatus::BoardNotBack;
    for (int look = 0; look < m_comeBack.looks; ++look) {
        if (look > 0)
            std::this_thread::sleep_for(m_comeBack.apart);
        for (const UsbDeviceAddress &device :
             m_transport->devices(std::span(&firmwareIdentity, 1))) {
            if (std::ranges::find(before, device) != before.end())
                continue;
            // Right after it appears the device may not be ours to open yet (the udev rule
            // has not run): keep looking, and report that if it stays so.
            status = openAt(device);
            if (status == BoardStatus::Ok)
                return status;
        }
    }
    return status;
}

BoardStatus UsbBoard::writeMemory(std::uint16_t address, std::span<const std::uint8_t> bytes)
{
    // Out of the chunk's own copy: a transfer never writes to data that goes to the board.
    std::array<std::uint8_t, maxChunkBytes> chunk {};
    const std::size_t size = std::min(bytes.size(), chunk.size());
    std::copy_n(bytes.begin(), size, chunk.begin());
    return control({vendorOut, loadRequest, address, 0}, std::span(chunk).first(size));
}

BoardStatus UsbBoard::transfer(const BoardProtocol::RequestKind &kind, std::int32_t value,
                               std::int32_t index, std::span<std::uint8_t> data)
{
    if (!m_device)
        return BoardStatus::NoBoard;
    const bool fromBoard = kind.direction == BoardProtocol::Direction::FromBoard;
    const UsbControlSetup setup {fromBoard ? vendorIn : vendorOut, kind.code,
                                 static_cast<std::uint16_t>(value),
                                 static_cast<std::uint16_t>(index)};
    if (!fromBoard)
        return control(setup, data);
    std::array<std::uint8_t, maxChunkBytes> reply {};
    if (data.size() > reply.size())
        return BoardStatus::WrongLength;
    const BoardStatus status = control(setup, std::span(reply).first(data.size()));
    if (status == BoardStatus::Ok)
        std::copy_n(reply.begin(), data.size(), data.begin());
    return status;
}

BoardStatus UsbBoard::control(const UsbControlSetup &setup, std::span<std::uint8_t> data)
{
    const UsbTransferResult result = m_device->controlTransfer(setup, data, transferTimeout);
    const std::size_t moved = std::min(result.transferred, data.size());
    BoardStatus status = transferStatus(result.result);
    if (status == BoardStatus::Ok && moved < data.size())
        status = BoardStatus::ShortTransfer;
    traceCall([&] {
        return TraceLine("ControlTransfer")
                .hex("requestType", setup.requestType)
                .hex("request", setup.request)
                .hex("value", setup.value)
                .hex("index", setup.index)
                .decimal("length", static_cast<std::int64_t>(data.size()))
                .bytes("data", data.data(), setup.isIn() ? moved : data.size())
                .decimal("transferred", static_cast<std::int64_t>(result.transferred))
                .status(statusCode(status));
    });
    return status;
}
