// The simulated board's control functions, in each library over that library's own core.
#include "librarycore.h"
#include "simulatedboardcontrol.h"

namespace {

template<typename Control> std::int16_t controlSimulation(Control &&control)
{
    return statusCode(LibraryCore::run([&](BoardCore &core) {
        SimulatedBoard *board = core.simulatedBoard();
        return board != nullptr ? control(*board) : BoardStatus::NotSimulated;
    }));
}

} // namespace

extern "C" {

[[gnu::visibility("default")]] std::int16_t SimulatedBoard_Reset()
{
    return statusCode(LibraryCore::reset());
}

[[gnu::visibility("default")]] std::int16_t SimulatedBoard_SetAbsentAttempts(std::int32_t attempts)
{
    return controlSimulation([&](SimulatedBoard &board) {
        board.setAbsentAttempts(attempts);
        return BoardStatus::Ok;
    });
}

[[gnu::visibility("default")]] std::int16_t SimulatedBoard_SetFailRequests(std::int32_t fail)
{
    return controlSimulation([&](SimulatedBoard &board) {
        board.setFailRequests(fail != 0);
        return BoardStatus::Ok;
    });
}

[[gnu::visibility("default")]] std::int16_t SimulatedBoard_ChannelVolts(std::int32_t channel,
                                                                        double *volts)
{
    return controlSimulation([&](SimulatedBoard &board) {
        if (volts == nullptr)
            return BoardStatus::NullArgument;
        if (channel < 0 || channel >= SimulatedDac::channelCount)
            return BoardStatus::BadChannel;
        *volts = board.channelVolts(channel);
        return BoardStatus::Ok;
    });
}

[[gnu::visibility("default")]] std::int16_t SimulatedBoard_ReadState(SimulatedBoardState *state)
{
    return controlSimulation([&](SimulatedBoard &board) {
        if (state == nullptr)
            return BoardStatus::NullArgument;
        const SimulatedDac &dac = board.dac();
        SimulatedBoardState read {};
        for (int channel = 0; channel < SimulatedDac::channelCount; ++channel) {
            read.inputRegister[channel] = dac.inputRegister(channel);
            read.dacRegister[channel] = dac.dacRegister(channel);
            read.powerMode[channel] = static_cast<std::uint8_t>(dac.powerMode(channel));
        }
        read.ldacMask = dac.ldacMask();
        read.internalReference = dac.internalReference() ? 1 : 0;
        read.clrHigh = dac.clrHigh() ? 1 : 0;
        read.ldacHigh = dac.ldacHigh() ? 1 : 0;
        read.muxMask = board.muxMask();
        read.firmwareRunning = board.firmwareRunning() ? 1 : 0;
        *state = read;
        return BoardStatus::Ok;
    });
}

} // extern "C"
