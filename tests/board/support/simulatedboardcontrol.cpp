#include "simulatedboardcontrol.h"

#include <dlfcn.h>

SimulatedBoardControl::SimulatedBoardControl(const QString &libraryPath)
{
    m_library = ::dlopen(libraryPath.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
    if (m_library == nullptr) {
        m_error = QString::fromLocal8Bit(::dlerror());
        return;
    }
    m_reset = function<SimulatedBoardResetFunction>("SimulatedBoard_Reset");
    m_setAbsentAttempts
            = function<SimulatedBoardSetAbsentAttemptsFunction>("SimulatedBoard_SetAbsentAttempts");
    m_setFailRequests
            = function<SimulatedBoardSetFailRequestsFunction>("SimulatedBoard_SetFailRequests");
    m_channelVolts = function<SimulatedBoardChannelVoltsFunction>("SimulatedBoard_ChannelVolts");
    m_readState = function<SimulatedBoardReadStateFunction>("SimulatedBoard_ReadState");
    if (!isValid())
        m_error = QStringLiteral("%1 lacks a control function").arg(libraryPath);
}

SimulatedBoardControl::~SimulatedBoardControl()
{
    if (m_library != nullptr)
        ::dlclose(m_library);
}

bool SimulatedBoardControl::isValid() const
{
    return m_reset && m_setAbsentAttempts && m_setFailRequests && m_channelVolts && m_readState;
}

void *SimulatedBoardControl::symbol(const char *name) const
{
    return m_library != nullptr ? ::dlsym(m_library, name) : nullptr;
}

std::int16_t SimulatedBoardControl::reset() const
{
    return m_reset ? m_reset() : unavailable;
}

std::int16_t SimulatedBoardControl::setAbsentAttempts(int attempts) const
{
    return m_setAbsentAttempts ? m_setAbsentAttempts(attempts) : unavailable;
}

std::int16_t SimulatedBoardControl::setFailRequests(bool fail) const
{
    return m_setFailRequests ? m_setFailRequests(fail ? 1 : 0) : unavailable;
}

std::optional<double> SimulatedBoardControl::channelVolts(int channel) const
{
    double volts = 0.0;
    if (!m_channelVolts || m_channelVolts(channel, &volts) != 0)
        return std::nullopt;
    return volts;
}

std::optional<SimulatedBoardState> SimulatedBoardControl::state() const
{
    SimulatedBoardState state {};
    if (!m_readState || m_readState(&state) != 0)
        return std::nullopt;
    return state;
}
