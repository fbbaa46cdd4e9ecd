#pragma once

#include <array>
#include <cstdint>

// The TX4410 as the board's serial frames and pins reach it: four channels A to D, each with an
// input register and a DAC register, power-down modes, an LDAC register and an internal reference.
class SimulatedDac final
{
public:
    static constexpr int channelCount = 4;
    static constexpr double externalReferenceVolts = 5.0;
    static constexpr double internalReferenceVolts = 2.5;

    // The command field, bits 21..19 of a frame.
    enum class Command : std::uint8_t {
        WriteInput,
        UpdateDac,
        WriteInputUpdateAll,
        WriteAndUpdate,
        PowerDown,
        Reset,
        LdacRegister,
        ReferenceSetup,
    };

    // Data bits D5..D4 of a power-down command.
    enum class PowerMode : std::uint8_t {
        Normal,
        OneKilohmToGround,
        HundredKilohmToGround,
        ThreeState,
    };

    // The address that selects every channel; 4 to 6 select none.
    static constexpr int allChannels = 7;

    // One 24-bit frame: bits 21..19 command, 18..16 address, 15..0 data; bits 23, 22 and any
    // above the frame are ignored.
    void writeFrame(std::uint32_t frame);

    // Level-sensitive: while CLR is low the DAC registers hold zero scale.
    void setClrPin(bool high);
    // The falling edge copies every input register to its DAC register; while LDAC stays low
    // each input write goes through as well.
    void setLdacPin(bool high);

    // DAC register code × reference ÷ 65536; 0 V for a powered-down channel.
    double outputVolts(int channel) const;
    double referenceVolts() const;

    std::uint16_t inputRegister(int channel) const { return m_input.at(channel); }
    std::uint16_t dacRegister(int channel) const { return m_dac.at(channel); }
    PowerMode powerMode(int channel) const { return m_powerMode.at(channel); }
    // Bit n set: input writes to channel n go straight to its DAC register.
    std::uint8_t ldacMask() const { return m_ldacMask; }
    bool internalReference() const { return m_internalReference; }
    bool clrHigh() const { return m_clrHigh; }
    bool ldacHigh() const { return m_ldacHigh; }

private:
    void writeInput(int channel, std::uint16_t code);
    void updateDac(int channel);
    void resetRegisters();

    std::array<std::uint16_t, channelCount> m_input {};
    std::array<std::uint16_t, channelCount> m_dac {};
    std::array<PowerMode, channelCount> m_powerMode {};
    std::uint8_t m_ldacMask = 0;
    bool m_internalReference = false;
    bool m_clrHigh = true;
    bool m_ldacHigh = true;
};
