// Control of the simulated board for tests and demonstrations, exported by both board libraries
// alongside their face functions. Each library has a board of its own: resolve these from the
// library under test (dlsym on its handle). Every function returns 0 for success; with the USB
// board selected, all but SimulatedBoard_Reset fail.
#pragma once

#include <cstdint>

extern "C" {

// What the firmware and the DAC hold, as the board's state at one moment.
struct SimulatedBoardState
{
    std::uint16_t inputRegister[4]; // channels A to D
    std::uint16_t dacRegister[4];
    std::uint8_t powerMode[4]; // 0 normal, 1 1 kOhm to ground, 2 100 kOhm to ground, 3 three-state
    std::uint8_t ldacMask;     // bit n: input writes to channel n go straight to its DAC register
    std::uint8_t internalReference; // 1: 2.5 V internal reference on
    std::uint8_t clrHigh;
    std::uint8_t ldacHigh;
    std::uint8_t muxMask; // one-hot, bit n for input n (A to H)
    std::uint8_t firmwareRunning;
};

// The library's board as at power-on, with TX4410_BOARD and the knobs read again from the
// environment; bring-up attempts are counted afresh.
std::int16_t SimulatedBoard_Reset();
// The next `attempts` bring-up attempts find no board; negative: none ever finds it.
std::int16_t SimulatedBoard_SetAbsentAttempts(std::int32_t attempts);
// Non-zero: every request fails once the board is up.
std::int16_t SimulatedBoard_SetFailRequests(std::int32_t fail);
// The output of channel 0 to 3 (A to D) in volts.
std::int16_t SimulatedBoard_ChannelVolts(std::int32_t channel, double *volts);
std::int16_t SimulatedBoard_ReadState(SimulatedBoardState *state);

using SimulatedBoardResetFunction = std::int16_t (*)();
using SimulatedBoardSetAbsentAttemptsFunction = std::int16_t (*)(std::int32_t);
using SimulatedBoardSetFailRequestsFunction = std::int16_t (*)(std::int32_t);
using SimulatedBoardChannelVoltsFunction = std::int16_t (*)(std::int32_t, double *);
using SimulatedBoardReadStateFunction = std::int16_t (*)(SimulatedBoardState *);
}
