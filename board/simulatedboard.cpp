#include "simulatedboard.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace {

constexpr int muxInputs = 8;

} // namespace

SimulatedBoard::Knobs SimulatedBoard::Knobs::fromEnvironment()
{
    Knobs knobs;
    knobs.absentAttempts = parseAbsentAttempts(std::getenv("TX4410_SIM_ABSENT_ATTEMPTS"));
    const char *fail = std::getenv("TX4410_SIM_FAIL_REQUESTS");
    knobs.failRequests = fail != nullptr && std::strcmp(fail, "1") == 0;
    const char *unplugged = std::getenv("TX4410_SIM_UNPLUGGED");
    knobs.unpluggedFile = unplugged != nullptr ? unplugged : "";
    return knobs;
}

int SimulatedBoard::Knobs::parseAbsentAttempts(const char *text)
{
    if (text == nullptr)
        return 0;
    if (std::strcmp(text, "always") == 0)
        return -1;
    const char *end = text + std::strlen(text);
    int attempts = 0;
    const auto [stop, error] = std::from_chars(text, end, attempts);
    if (error != std::errc() || stop != end)
        return 0;
    return attempts;
}

SimulatedBoard::SimulatedBoard()
    : SimulatedBoard(Knobs {})
{ }

SimulatedBoard::SimulatedBoard(Knobs knobs)
    : m_knobs(knobs)
{ }

int SimulatedBoard::search(const BoardConfig &config)
{
    m_attach = config.attach;
    m_searchStatus = BoardStatus::NoBoard;
    if (!config.port.empty() && config.port != port) {
        m_searchStatus = BoardStatus::PortNotFound;
        m_found = m_opened = m_firmwareRunning = false;
        return 0;
    }
    const bool appeared
            = m_knobs.absentAttempts >= 0 && m_attempts >= m_knobs.absentAttempts && !unplugged();
    if (m_attempts < m_knobs.absentAttempts)
        ++m_attempts;
    // A new search re-enumerates the bus: whatever was open is gone.
    m_opened = false;
    m_firmwareRunning = false;
    m_found = appeared;
    return m_found ? 1 : 0;
}

std::optional<BoardStatus> SimulatedBoard::attach()
{
    if (!m_attach)
        return std::nullopt;
    return m_firmwareRunning ? BoardStatus::Ok : BoardStatus::NotRunningFirmware;
}

BoardStatus SimulatedBoard::list(const BoardConfig &, std::vector<BoardListing> &listings)
{
    listings.clear();
    if (m_knobs.absentAttempts >= 0 && m_attempts >= m_knobs.absentAttempts && !unplugged())
        listings.push_back({{{BoardProtocol::vendorId, BoardProtocol::productId}, 0, 1, port},
                            m_firmwareRunning});
    return BoardStatus::Ok;
}

BoardStatus SimulatedBoard::open(int board)
{
    m_opened = m_found && board == 1;
    m_firmwareRunning = false;
    return m_opened ? BoardStatus::Ok : BoardStatus::NoBoard;
}

void SimulatedBoard::close()
{
    m_opened = false;
    m_firmwareRunning = false;
}

BoardStatus SimulatedBoard::loadFirmware(const IntelHexImage &)
{
    if (!m_opened)
        return BoardStatus::NoBoard;
    startFirmware();
    return BoardStatus::Ok;
}

BoardStatus SimulatedBoard::transfer(const BoardProtocol::RequestKind &kind, std::int32_t value,
                                     std::int32_t index, std::span<std::uint8_t> data)
{
    namespace Code = BoardProtocol::RequestCode;
    if (unplugged()) {
        m_opened = m_firmwareRunning = false;
        return BoardStatus::BoardGone;
    }
    if (!m_firmwareRunning)
        return BoardStatus::NotLoaded;
    if (m_knobs.failRequests)
        return BoardStatus::RequestFailed;

    switch (kind.code) {
    case Code::CommandWord:
        // Only the 24 bits of the serial frame reach the DAC.
        m_dac.writeFrame(static_cast<std::uint32_t>(index) << 16
                         | static_cast<std::uint32_t>(value));
        return BoardStatus::Ok;
    case Code::SelectMux:
        if (value <= 0 || value >= 1 << muxInputs || (value & (value - 1)) != 0)
            return BoardStatus::RequestRefused;
        m_muxMask = static_cast<std::uint8_t>(value);
        return BoardStatus::Ok;
    case Code::ReadAdc: {
        if (data.size() != 2)
            return BoardStatus::WrongLength;
        const std::uint16_t code = adcCode(readbackVolts());
        data[0] = static_cast<std::uint8_t>(code >> 8);
        data[1] = static_cast<std::uint8_t>(code & 0xFF);
        return BoardStatus::Ok;
    }
    case Code::ClrLow:
    case Code::ClrHigh:
        m_dac.setClrPin(kind.code == Code::ClrHigh);
        return BoardStatus::Ok;
    case Code::LdacLow:
    case Code::LdacHigh:
        m_dac.setLdacPin(kind.code == Code::LdacHigh);
        return BoardStatus::Ok;
    default:
        return BoardStatus::UnknownRequest;
    }
}

void SimulatedBoard::setAbsentAttempts(int attempts)
{
    m_knobs.absentAttempts = attempts;
    m_attempts = 0;
}

void SimulatedBoard::setFailRequests(bool fail)
{
    m_knobs.failRequests = fail;
}

double SimulatedBoard::readbackVolts() const
{
    for (int input = 0; input < SimulatedDac::channelCount; ++input) {
        if (m_muxMask == 1u << input)
            return m_dac.outputVolts(input);
    }
    return 0.0;
}

std::uint16_t SimulatedBoard::adcCode(double volts)
{
    const double steps = std::floor(volts / adcSupplyVolts * adcSteps);
    if (!(steps > 0.0))
        return 0;
    if (steps >= adcMaxCode)
        return adcMaxCode;
    return static_cast<std::uint16_t>(steps);
}

bool SimulatedBoard::unplugged() const
{
    return !m_knobs.unpluggedFile.empty() && ::access(m_knobs.unpluggedFile.c_str(), F_OK) == 0;
}

void SimulatedBoard::startFirmware()
{
    // The firmware starts with the board as it powers on: pins high, multiplexer on A.
    m_dac = SimulatedDac();
    m_muxMask = 1;
    m_firmwareRunning = true;
}
