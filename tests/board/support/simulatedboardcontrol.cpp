#include "simulatedboardcontrol.h"

#include <dlfcn.h>

SimulatedBoardControl::SimulatedBoardControl(const QString &libraryPath)
    : m_library(::dlopen(libraryPath.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL))
{
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

void *SimulatedBoardControl::symbol(const char *name) const
{
    return m_library != nullptr ? ::dlsym(m_library, name) : nullptr;
}

std::optional<double> SimulatedBoardControl::channelVolts(int channel) const
{
    double volts = 0.0;
    return m_channelVolts && m_channelVolts(channel, &volts) == 0 ? std::optional(volts)
                                                                  : std::nullopt;
}

std::optional<SimulatedBoardState> SimulatedBoardControl::state() const
{
    SimulatedBoardState state {};
    return m_readState && m_readState(&state) == 0 ? std::optional(state) : std::nullopt;
}
