#pragma once

#include "boardbackend.h"
#include "simulateddac.h"

#include <cstdint>
#include <string>

// The evaluation board without hardware: its firmware answers the request set, drives a
// SimulatedDac, and reads an output back through the eight-way multiplexer and the 12-bit ADC.
// Two knobs make it misbehave on purpose, for tests and demonstrations.
class SimulatedBoard final : public BoardBackend
{
public:
    struct Knobs
    {
        // Bring-up attempts that find no board before it appears; negative: it never does.
        int absentAttempts = 0;
        // Every request fails once the board is up.
        bool failRequests = false;
        // While a file of this name exists the board is off the bus, its firmware gone.
        std::string unpluggedFile;

        // TX4410_SIM_ABSENT_ATTEMPTS, TX4410_SIM_FAIL_REQUESTS and TX4410_SIM_UNPLUGGED.
        static Knobs fromEnvironment();
        // A decimal count, or "always" for a board that never appears; anything else counts 0.
        static int parseAbsentAttempts(const char *text);
    };

    static constexpr double adcSupplyVolts = 5.0;
    static constexpr int adcSteps = 4096;
    static constexpr std::uint16_t adcMaxCode = adcSteps - 1;

    SimulatedBoard();
    explicit SimulatedBoard(Knobs knobs);

    // The port the simulated board sits at, as a listing shows it and a choice names it.
    static constexpr const char *port = "sim";

    int search(const BoardConfig &config) override;
    BoardStatus searchStatus() const override { return m_searchStatus; }
    BoardStatus open(int board) override;
    // Its firmware lives and dies with the process: a new one finds it loaded only after a load.
    std::optional<BoardStatus> attach() override;
    void close() override;
    BoardStatus loadFirmware(const IntelHexImage &image) override;
    BoardStatus transfer(const BoardProtocol::RequestKind &kind, std::int32_t value,
                         std::int32_t index, std::span<std::uint8_t> data) override;
    BoardStatus list(const BoardConfig &config, std::vector<BoardListing> &listings) override;

    // Counts attempts afresh from now.
    void setAbsentAttempts(int attempts);
    void setFailRequests(bool fail);

    const SimulatedDac &dac() const { return m_dac; }
    // One-hot, bit n for input n: A to D are the DAC outputs, E to H read 0 V.
    std::uint8_t muxMask() const { return m_muxMask; }
    bool firmwareRunning() const { return m_firmwareRunning; }
    double readbackVolts() const;

    // floor(volts ÷ supply × 4096), held within 0 to 4095.
    static std::uint16_t adcCode(double volts);

private:
    void startFirmware();
    bool unplugged() const;

    Knobs m_knobs;
    int m_attempts = 0;
    bool m_found = false;
    bool m_attach = false;
    BoardStatus m_searchStatus = BoardStatus::NoBoard;
    bool m_opened = false;
    bool m_firmwareRunning = false;
    std::uint8_t m_muxMask = 1;
    SimulatedDac m_dac;
};
