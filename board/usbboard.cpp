#include "usbboard.h"

#include "intelheximage.h"
#include "libusbtransport.h"
#include "standinimage.h"
#include "traceline.h"

#include <algorithm>
#include <array>
#include <cstdio>
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
    case UsbResult::Unconfigured:
        return BoardStatus::Unconfigured;
    case UsbResult::Failed:
        return BoardStatus::UsbError;
    default:
        return BoardStatus::NoBoard;
    }
}

// Worth trying the next board for: this one is there but not ours to open.
bool heldElsewhere(BoardStatus status)
{
    return status == BoardStatus::NoAccess || status == BoardStatus::BoardBusy
            || status == BoardStatus::Unconfigured;
}

std::string identityText(const UsbIdentity &identity)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", identity.vendorId, identity.productId);
    return text;
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

int UsbBoard::search(const BoardConfig &config)
{
    m_config = config;
    m_found.clear();
    m_detail.clear();
    m_searchStatus = BoardStatus::NoBoard;
    if (std::string why = m_transport->unavailable(); !why.empty()) {
        m_searchStatus = BoardStatus::UsbUnavailable;
        m_detail = std::move(why);
        return 0;
    }
    // A board that runs our firmware already (the program started again) is loaded again too,
    // unless it is to be attached: its loader answers whatever runs on the CPU.
    const std::array identities {config.loader, config.firmware};
    m_transport->takeError();
    std::vector<UsbDeviceAddress> present = m_transport->devices(identities);
    if (const std::string error = m_transport->takeError(); !error.empty()) {
        m_searchStatus = BoardStatus::UsbError;
        m_detail = "listing the bus: " + error;
        return 0;
    }
    // In the order of the ports, whatever order the bus lists them in: "first" means the same
    // board every time.
    std::ranges::sort(present, {}, &UsbDeviceAddress::port);
    const auto elsewhere = [&](const UsbDeviceAddress &device) {
        return !config.port.empty() && device.port != config.port;
    };
    const auto loaderOnly = [&](const UsbDeviceAddress &device) {
        return config.attach && device.identity != config.firmware;
    };
    std::vector<UsbDeviceAddress> atPort = present;
    std::erase_if(atPort, elsewhere);
    m_found = atPort;
    std::erase_if(m_found, loaderOnly);
    if (!m_found.empty())
        return static_cast<int>(m_found.size());

    if (!atPort.empty()) {
        m_searchStatus = BoardStatus::NotRunningFirmware;
        m_detail = "the board at port " + atPort.front().port + " shows its loader's identity "
                + identityText(config.loader);
    } else if (!config.port.empty()) {
        m_searchStatus = BoardStatus::PortNotFound;
        m_detail = "no board at port " + config.port + "; ";
        if (present.empty()) {
            m_detail += "none on the bus";
        } else {
            m_detail += "boards at";
            for (const UsbDeviceAddress &device : present)
                m_detail += ' ' + device.port;
        }
    } else {
        m_detail = "none shows " + identityText(config.loader) + " or "
                + identityText(config.firmware);
    }
    return 0;
}

BoardStatus UsbBoard::open(int board)
{
    close();
    if (board < 1 || static_cast<std::size_t>(board) > m_found.size())
        return BoardStatus::NoBoard;
    // With no board chosen, one held by another program or closed to us gives way to the next;
    // the first one's reason is the one reported when none opens.
    BoardStatus first = BoardStatus::Ok;
    std::string tried;
    for (std::size_t at = static_cast<std::size_t>(board) - 1; at < m_found.size(); ++at) {
        const BoardStatus status = openAt(m_found[at]);
        if (status == BoardStatus::Ok)
            return status;
        first = first == BoardStatus::Ok ? status : first;
        tried += (tried.empty() ? "port " : ", ") + m_found[at].port;
        if (!m_config.port.empty() || !heldElsewhere(status))
            break;
    }
    // The step that failed names its port itself.
    m_detail = first == BoardStatus::UsbError ? m_failedStep : tried;
    return first;
}

void UsbBoard::close()
{
    if (!m_device)
        return;
    // A board that has gone cannot be released; closing still frees our side.
    m_device->releaseInterface(boardInterface);
    m_device.reset();
}

std::string UsbBoard::failedStep(const std::string &step, const UsbDeviceAddress &address)
{
    std::string error = m_transport->takeError();
    return step + " at port " + address.port + ": "
            + (error.empty() ? "an error of no known kind" : error);
}

BoardStatus UsbBoard::openAt(const UsbDeviceAddress &address)
{
    m_transport->takeError();
    UsbOpened opened = m_transport->open(address);
    if (opened.result != UsbResult::Ok || !opened.device) {
        m_failedStep = failedStep("opening the board", address);
        return openStatus(opened.result);
    }
    if (const UsbResult claimed = opened.device->claimInterface(boardInterface);
        claimed != UsbResult::Ok) {
        m_failedStep = failedStep("claiming its interface", address);
        return openStatus(claimed);
    }
    m_device = std::move(opened.device);
    m_opened = address;
    return BoardStatus::Ok;
}

std::optional<BoardStatus> UsbBoard::attach()
{
    if (!m_config.attach)
        return std::nullopt;
    if (!m_device)
        return BoardStatus::NoBoard;
    return m_opened.identity == m_config.firmware ? BoardStatus::Ok
                                                  : BoardStatus::NotRunningFirmware;
}

BoardStatus UsbBoard::accepts(const IntelHexImage &image) const
{
    return StandInImage::isMarked(image) ? BoardStatus::StandInFirmware : BoardStatus::Ok;
}

BoardStatus UsbBoard::loadFirmware(const IntelHexImage &image)
{
    if (const BoardStatus status = accepts(image); status != BoardStatus::Ok)
        return status;
    if (!m_device)
        return BoardStatus::NoBoard;

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
    // The board may leave the bus as soon as its CPU runs, before it answers this write, and
    // end it in any error: whether it comes back decides.
    writeMemory(cpuControlAddress, run);
    close();
    return awaitFirmware(m_opened);
}

// The board comes back on the port it was loaded on; a device that appears anywhere else is
// another board, and the one that was loaded is not back until its address changes.
BoardStatus UsbBoard::awaitFirmware(const UsbDeviceAddress &loaded)
{
    const int looks = m_comeBack.looks > 0
            ? m_comeBack.looks
            : std::max<int>(
                    1,
                    int((m_config.comeBack + m_comeBack.apart - std::chrono::milliseconds(1))
                        / std::max(m_comeBack.apart, std::chrono::milliseconds(1))));
    BoardStatus status = BoardStatus::BoardNotBack;
    for (int look = 0; look < looks; ++look) {
        if (look > 0)
            std::this_thread::sleep_for(m_comeBack.apart);
        for (const UsbDeviceAddress &device :
             m_transport->devices(std::span(&m_config.firmware, 1))) {
            if (device.bus != loaded.bus || device.port != loaded.port || device == loaded)
                continue;
            // Right after it appears the device may not be ours to open yet (the udev rule
            // has not run): keep looking, and report that if it stays so.
            status = openAt(device);
            if (status == BoardStatus::Ok)
                return status;
        }
    }
    m_detail = status == BoardStatus::UsbError
            ? m_failedStep
            : "port " + loaded.port + ", firmware identity " + identityText(m_config.firmware);
    return status;
}

BoardStatus UsbBoard::list(const BoardConfig &config, std::vector<BoardListing> &listings,
                           bool probe)
{
    listings.clear();
    m_detail = m_transport->unavailable();
    if (!m_detail.empty())
        return BoardStatus::UsbUnavailable;
    const std::array identities {config.loader, config.firmware};
    m_transport->takeError();
    std::vector<UsbDeviceAddress> present = m_transport->devices(identities);
    if (const std::string error = m_transport->takeError(); !error.empty()) {
        m_detail = "listing the bus: " + error;
        return BoardStatus::UsbError;
    }
    std::ranges::sort(present, {}, &UsbDeviceAddress::port);
    for (const UsbDeviceAddress &address : present) {
        BoardListing listing;
        listing.address = address;
        listing.firmwareRunning = address.identity == config.firmware;
        if (!probe) {
            listings.push_back(listing);
            continue;
        }
        UsbOpened opened = m_transport->open(address);
        listing.access = openStatus(opened.result);
        if (opened.device) {
            // Claimed and let go at once, unless a kernel driver has it: that stays as it is.
            listing.kernelDriver = opened.device->kernelDriverActive(boardInterface);
            if (!listing.kernelDriver) {
                listing.access = openStatus(opened.device->claimInterface(boardInterface));
                if (listing.access == BoardStatus::Ok)
                    opened.device->releaseInterface(boardInterface);
            }
        }
        if (listing.access == BoardStatus::UsbError)
            listing.failure = failedStep(
                    opened.device ? "claiming its interface" : "opening the board", address);
        listings.push_back(listing);
    }
    return BoardStatus::Ok;
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
    if (result.result == UsbResult::Failed) {
        char step[32];
        std::snprintf(step, sizeof step, "request 0x%02x", setup.request);
        m_detail = failedStep(step, m_opened);
    }
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
