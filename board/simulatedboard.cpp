#include "simulatedboard.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <type_traits>

#include <unistd.h>

namespace {

constexpr int muxInputs = 8;
constexpr double codeSteps = 65536.0;

// The whole text as one number of type T, or nothing.
template<typename T> std::optional<T> wholeText(std::string_view text)
{
    T value {};
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || stop != text.data() + text.size() || text.empty())
        return std::nullopt;
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(value))
            return std::nullopt;
    }
    return value;
}

// Reads the variable, if set, into `value`; a malformed one becomes the knobs' problem.
template<typename T>
void readKnob(SimulatedBoard::Knobs &knobs, const char *name, T &value, double scale = 1)
{
    const char *text = std::getenv(name);
    if (text == nullptr || !knobs.problem.empty())
        return;
    if (const std::optional<T> read = wholeText<T>(text))
        value = T(*read * scale);
    else
        knobs.problem = std::string(name) + " \"" + text + "\" is not a number";
}

} // namespace

SimulatedBoard::Knobs SimulatedBoard::Knobs::fromEnvironment()
{
    Knobs knobs;
    // A knob that does not read as one is said, never taken as "off": a test that meant it
    // would pass for the wrong reason.
    const char *absent = std::getenv("TX4410_SIM_ABSENT_ATTEMPTS");
    knobs.absentAttempts = parseAbsentAttempts(absent);
    if (absent != nullptr && std::strcmp(absent, "always") != 0 && !wholeText<int>(absent))
        knobs.problem = std::string("TX4410_SIM_ABSENT_ATTEMPTS \"") + absent
                + "\" is not a number or always";
    const char *fail = std::getenv("TX4410_SIM_FAIL_REQUESTS");
    knobs.failRequests = fail != nullptr && std::strcmp(fail, "1") == 0;
    if (fail != nullptr && !knobs.failRequests && std::strcmp(fail, "0") != 0
        && knobs.problem.empty())
        knobs.problem = std::string("TX4410_SIM_FAIL_REQUESTS \"") + fail + "\" is not 0 or 1";
    readKnob(knobs, "TX4410_SIM_OFFSET_MV", knobs.offsetVolts, 1e-3);
    readKnob(knobs, "TX4410_SIM_GAIN_ERROR_PCT", knobs.gainError, 1e-2);
    readKnob(knobs, "TX4410_SIM_BOW_LSB", knobs.bowLsb);
    readKnob(knobs, "TX4410_SIM_NOISE_MV", knobs.noiseVolts, 1e-3);
    readKnob(knobs, "TX4410_SIM_NOISE_SEED", knobs.noiseSeed);
    readKnob(knobs, "TX4410_SIM_ADC_OFFSET_MV", knobs.adcOffsetVolts, 1e-3);
    readKnob(knobs, "TX4410_SIM_ADC_GAIN_ERROR_PCT", knobs.adcGainError, 1e-2);
    if (const char *port = std::getenv("TX4410_SIM_PORT");
        port != nullptr && knobs.problem.empty()) {
        // A port path as the bus shows one: "1-4", "2-1.3"; at most what a listing holds.
        const std::string_view text(port);
        const bool path = !text.empty() && text.size() < 32 && text.find('-') != text.npos
                && text.find_first_not_of("0123456789-.") == text.npos
                && std::isdigit(static_cast<unsigned char>(text.front()))
                && std::isdigit(static_cast<unsigned char>(text.back()));
        if (path)
            knobs.port = port;
        else
            knobs.problem = std::string("TX4410_SIM_PORT \"") + port
                    + "\" is not a USB port path, as 1-2.3";
    }
    if (const char *step = std::getenv("TX4410_SIM_STEP");
        step != nullptr && knobs.problem.empty()) {
        const std::string_view text(step);
        const std::size_t colon = text.find(':');
        const auto code = wholeText<std::int32_t>(text.substr(0, colon));
        const auto lsb
                = colon == text.npos ? std::nullopt : wholeText<double>(text.substr(colon + 1));
        if (code && lsb && *code >= 1 && *code <= 65535) {
            knobs.stepCode = *code;
            knobs.stepLsb = *lsb;
        } else {
            knobs.problem = std::string("TX4410_SIM_STEP \"") + step
                    + "\" is not CODE:LSB with CODE 1 to 65535";
        }
    }
    if (knobs.noiseVolts < 0 && knobs.problem.empty())
        knobs.problem = "TX4410_SIM_NOISE_MV is below 0";
    if (const char *file = std::getenv("TX4410_SIM_OUTPUTS_FILE"))
        knobs.outputsFile = file;
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
    : m_knobs(std::move(knobs))
    , m_noise(m_knobs.noiseSeed)
{ }

int SimulatedBoard::search(const BoardConfig &config)
{
    m_attach = config.attach;
    m_searchStatus = BoardStatus::NoBoard;
    if (!m_knobs.problem.empty()) {
        m_searchStatus = BoardStatus::ConfigInvalid;
        m_found = m_opened = m_firmwareRunning = false;
        return 0;
    }
    if (!config.port.empty() && config.port != m_knobs.port) {
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

BoardStatus SimulatedBoard::list(const BoardConfig &, std::vector<BoardListing> &listings, bool)
{
    listings.clear();
    // As a search would meet them: doctor names the variable.
    if (!m_knobs.problem.empty())
        return BoardStatus::ConfigInvalid;
    if (m_knobs.absentAttempts >= 0 && m_attempts >= m_knobs.absentAttempts && !unplugged()) {
        BoardListing listing;
        // Bare, a board shows its loader's identity, as one on USB does.
        listing.address = {m_firmwareRunning
                                   ? UsbIdentity {BoardProtocol::vendorId, BoardProtocol::productId}
                                   : UsbIdentity {BoardProtocol::loaderVendorId,
                                                  BoardProtocol::loaderProductId},
                           0, 1, m_knobs.port};
        listing.firmwareRunning = m_firmwareRunning;
        listings.push_back(listing);
    }
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
    const BoardStatus status = request(kind, value, index, data);
    if (status == BoardStatus::Ok)
        publishOutputs();
    return status;
}

BoardStatus SimulatedBoard::request(const BoardProtocol::RequestKind &kind, std::int32_t value,
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

double SimulatedBoard::channelVolts(int channel) const
{
    const double ideal = m_dac.outputVolts(channel);
    if (m_dac.powerMode(channel) != SimulatedDac::PowerMode::Normal)
        return ideal;
    const double code = m_dac.dacRegister(channel);
    const double x = code / (codeSteps - 1);
    const double lsbs = m_knobs.bowLsb * 4 * x * (1 - x)
            + (code >= m_knobs.stepCode && m_knobs.stepCode > 0 ? m_knobs.stepLsb : 0);
    const double volts = ideal * (1 + m_knobs.gainError) + m_knobs.offsetVolts
            + lsbs * m_dac.referenceVolts() / codeSteps;
    // The output swings from ground to the supply and no further.
    return std::clamp(volts, 0.0, adcSupplyVolts);
}

double SimulatedBoard::readbackVolts()
{
    double volts = 0.0;
    for (int input = 0; input < SimulatedDac::channelCount; ++input) {
        if (m_muxMask == 1u << input)
            volts = channelVolts(input);
    }
    volts = volts * (1 + m_knobs.adcGainError) + m_knobs.adcOffsetVolts;
    if (m_knobs.noiseVolts > 0)
        volts += std::normal_distribution<double>(0.0, m_knobs.noiseVolts)(m_noise);
    return volts;
}

// Replaced whole by a rename, so that a reader never sees half a line.
void SimulatedBoard::publishOutputs()
{
    if (m_knobs.outputsFile.empty())
        return;
    std::array<double, SimulatedDac::channelCount> volts {};
    for (int channel = 0; channel < SimulatedDac::channelCount; ++channel)
        volts[std::size_t(channel)] = channelVolts(channel);
    // Most requests (every ADC read) change no output: the file is rewritten only when it
    // would say something new, which keeps a long readback sweep off the disk.
    if (m_published == volts)
        return;
    const std::string partial = m_knobs.outputsFile + ".partial";
    std::FILE *file = std::fopen(partial.c_str(), "w");
    if (file == nullptr)
        return;
    for (std::size_t channel = 0; channel < volts.size(); ++channel)
        std::fprintf(file, channel ? " %.12g" : "%.12g", volts[channel]);
    std::fputc('\n', file);
    if (std::fclose(file) == 0 && std::rename(partial.c_str(), m_knobs.outputsFile.c_str()) == 0)
        m_published = volts;
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
    publishOutputs();
}
