#include "simulateddac.h"

namespace {

constexpr double codeSteps = 65536.0;

// The channels an address selects: one of A to D, all of them, or none.
template<typename Action> void forAddressedChannels(int address, Action action)
{
    if (address == SimulatedDac::allChannels) {
        for (int channel = 0; channel < SimulatedDac::channelCount; ++channel)
            action(channel);
    } else if (address < SimulatedDac::channelCount) {
        action(address);
    }
}

} // namespace

void SimulatedDac::writeFrame(std::uint32_t frame)
{
    const auto command = static_cast<Command>(frame >> 19 & 0x7);
    const int address = static_cast<int>(frame >> 16 & 0x7);
    const auto data = static_cast<std::uint16_t>(frame & 0xFFFF);

    switch (command) {
    case Command::WriteInput:
        forAddressedChannels(address, [&](int channel) { writeInput(channel, data); });
        break;
    case Command::UpdateDac:
        forAddressedChannels(address, [&](int channel) { updateDac(channel); });
        break;
    case Command::WriteInputUpdateAll:
        // The update of all channels happens even when the address names none of them.
        forAddressedChannels(address, [&](int channel) { writeInput(channel, data); });
        forAddressedChannels(allChannels, [&](int channel) { updateDac(channel); });
        break;
    case Command::WriteAndUpdate:
        forAddressedChannels(address, [&](int channel) {
            writeInput(channel, data);
            updateDac(channel);
        });
        break;
    case Command::PowerDown: {
        const auto mode = static_cast<PowerMode>(data >> 4 & 0x3);
        for (int channel = 0; channel < channelCount; ++channel) {
            if (data & 1u << channel)
                m_powerMode[channel] = mode;
        }
        break;
    }
    case Command::Reset:
        resetRegisters();
        if (data & 1u) {
            m_powerMode.fill(PowerMode::Normal);
            m_ldacMask = 0;
            m_internalReference = false;
        }
        break;
    case Command::LdacRegister:
        m_ldacMask = static_cast<std::uint8_t>(data & 0xF);
        break;
    case Command::ReferenceSetup:
        m_internalReference = (data & 1u) != 0;
        break;
    }
}

void SimulatedDac::setClrPin(bool high)
{
    m_clrHigh = high;
    if (!high)
        m_dac.fill(0);
}

void SimulatedDac::setLdacPin(bool high)
{
    const bool fallingEdge = m_ldacHigh && !high;
    m_ldacHigh = high;
    if (fallingEdge) {
        for (int channel = 0; channel < channelCount; ++channel)
            updateDac(channel);
    }
}

double SimulatedDac::referenceVolts() const
{
    return m_internalReference ? internalReferenceVolts : externalReferenceVolts;
}

double SimulatedDac::outputVolts(int channel) const
{
    if (m_powerMode.at(channel) != PowerMode::Normal)
        return 0.0;
    return m_dac.at(channel) * referenceVolts() / codeSteps;
}

void SimulatedDac::writeInput(int channel, std::uint16_t code)
{
    m_input[channel] = code;
    if (!m_ldacHigh || (m_ldacMask & 1u << channel))
        updateDac(channel);
}

void SimulatedDac::updateDac(int channel)
{
    m_dac[channel] = m_clrHigh ? m_input[channel] : 0;
}

void SimulatedDac::resetRegisters()
{
    m_input.fill(0);
    m_dac.fill(0);
}
