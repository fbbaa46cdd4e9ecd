#pragma once

#include "boardbackend.h"
#include "simulateddac.h"

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>

// The evaluation board without hardware: its firmware answers the request set, drives a
// SimulatedDac, and reads an output back through the eight-way multiplexer and the 12-bit ADC.
// Knobs make it misbehave on purpose, for tests and demonstrations: its bring-up and requests,
// and the accuracy of its DAC's outputs.
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

        // The DAC's outputs (all four alike), in LSB of the reference / 65536 where not said.
        double offsetVolts = 0;
        double gainError = 0; // a fraction: 0.01 is 1 % of full scale
        double bowLsb = 0;    // a parabola, 0 at both ends, this at mid-scale
        std::int32_t stepCode = 0;
        double stepLsb = 0;    // added to every code from stepCode up
        double noiseVolts = 0; // standard deviation of a Gaussian noise on each ADC reading
        std::uint32_t noiseSeed = 1;
        // The readback ADC's own errors: it reads adcGainError (a fraction) steeper and
        // adcOffsetVolts higher than the output it is on.
        double adcOffsetVolts = 0;
        double adcGainError = 0;
        // The USB port path it sits at, as a listing shows it and a choice names it.
        std::string port = "sim";
        // Where the four true output voltages are written after every request; empty: nowhere.
        std::string outputsFile;
        // The first malformed knob, named; the board is then never found.
        std::string problem;

        // TX4410_SIM_ABSENT_ATTEMPTS, TX4410_SIM_FAIL_REQUESTS, TX4410_SIM_UNPLUGGED,
        // TX4410_SIM_PORT and the DAC's knobs (TX4410_SIM_OFFSET_MV, _GAIN_ERROR_PCT, _BOW_LSB,
        // _STEP, _NOISE_MV, _NOISE_SEED, _OUTPUTS_FILE, _ADC_OFFSET_MV, _ADC_GAIN_ERROR_PCT).
        static Knobs fromEnvironment();
        // A decimal count, or "always" for a board that never appears; anything else counts 0.
        static int parseAbsentAttempts(const char *text);
    };

    static constexpr double adcSupplyVolts = 5.0;
    static constexpr int adcSteps = 4096;
    static constexpr std::uint16_t adcMaxCode = adcSteps - 1;

    SimulatedBoard();
    explicit SimulatedBoard(Knobs knobs);

    int search(const BoardConfig &config) override;
    BoardStatus searchStatus() const override { return m_searchStatus; }
    std::string detail() const override { return m_knobs.problem; }
    BoardStatus open(int board) override;
    // Its firmware lives and dies with the process: a new one finds it loaded only after a load.
    std::optional<BoardStatus> attach() override;
    void close() override;
    BoardStatus loadFirmware(const IntelHexImage &image) override;
    BoardStatus transfer(const BoardProtocol::RequestKind &kind, std::int32_t value,
                         std::int32_t index, std::span<std::uint8_t> data) override;
    BoardStatus list(const BoardConfig &config, std::vector<BoardListing> &listings,
                     bool probe) override;

    // Counts attempts afresh from now.
    void setAbsentAttempts(int attempts);
    void setFailRequests(bool fail);

    const SimulatedDac &dac() const { return m_dac; }
    // One-hot, bit n for input n: A to D are the DAC outputs, E to H read 0 V.
    std::uint8_t muxMask() const { return m_muxMask; }
    bool firmwareRunning() const { return m_firmwareRunning; }
    // What a meter on the output pin of channel 0 to 3 reads: the DAC's ideal output with the
    // knobs' errors, within 0 V and the 5 V supply.
    double channelVolts(int channel) const;
    // The selected input as the ADC sees it, noise included.
    double readbackVolts();

    // floor(volts ÷ supply × 4096), held within 0 to 4095.
    static std::uint16_t adcCode(double volts);

private:
    void startFirmware();
    BoardStatus request(const BoardProtocol::RequestKind &kind, std::int32_t value,
                        std::int32_t index, std::span<std::uint8_t> data);
    void publishOutputs();
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
    std::mt19937 m_noise;
    // What the outputs file last said; nothing before the first write.
    std::optional<std::array<double, SimulatedDac::channelCount>> m_published;
};
