#pragma once

#include <cstdint>

// The eight inputs of the board's readback multiplexer, A to H; the option button's index is
// the input's position.
namespace ReadbackChannels {

inline constexpr int count = 8;

// The one-hot mask the multiplexer takes: 1 for A up to 128 for H.
constexpr std::int16_t mask(int index)
{
    return static_cast<std::int16_t>(1 << index);
}

// The ADC's full scale is 2^12, not 4095: the code 4096 would stand for the full voltage.
inline constexpr double adcFullScale = 4096;

// Volts for an ADC code against the Vdd the user gave, neither limited nor rounded.
constexpr double sampleVolts(std::int32_t code, double vdd)
{
    return code / adcFullScale * vdd;
}

} // namespace ReadbackChannels
