#pragma once

// The board's own C header of the same name, found on the include path.
#include <simulatedboardcontrol.h>

#include <QString>

#include <cstdint>
#include <optional>

// A board library opened by path, with the simulated board's control functions resolved from
// it. When the program under test has bound the same file, both see one board.
class SimulatedBoardControl final
{
public:
    // A status no control function returns: the library or the function is missing.
    static constexpr std::int16_t unavailable = -1;

    explicit SimulatedBoardControl(const QString &libraryPath);
    ~SimulatedBoardControl();
    SimulatedBoardControl(const SimulatedBoardControl &) = delete;
    SimulatedBoardControl &operator=(const SimulatedBoardControl &) = delete;

    // The library and every control function were found.
    bool isValid() const
    {
        return m_reset && m_setAbsentAttempts && m_setFailRequests && m_channelVolts && m_readState;
    }
    QString errorString() const { return m_error; }

    // Any symbol of the library, the face functions included; nullptr when it has none.
    void *symbol(const char *name) const;
    template<typename Function> Function function(const char *name) const
    {
        return reinterpret_cast<Function>(symbol(name));
    }

    std::int16_t reset() const { return m_reset ? m_reset() : unavailable; }
    std::int16_t setAbsentAttempts(int attempts) const
    {
        return m_setAbsentAttempts ? m_setAbsentAttempts(attempts) : unavailable;
    }
    std::int16_t setFailRequests(bool fail) const
    {
        return m_setFailRequests ? m_setFailRequests(fail ? 1 : 0) : unavailable;
    }
    std::optional<double> channelVolts(int channel) const;
    std::optional<SimulatedBoardState> state() const;

private:
    void *m_library = nullptr;
    QString m_error;
    SimulatedBoardResetFunction m_reset = nullptr;
    SimulatedBoardSetAbsentAttemptsFunction m_setAbsentAttempts = nullptr;
    SimulatedBoardSetFailRequestsFunction m_setFailRequests = nullptr;
    SimulatedBoardChannelVoltsFunction m_channelVolts = nullptr;
    SimulatedBoardReadStateFunction m_readState = nullptr;
};
