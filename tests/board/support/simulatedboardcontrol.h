#pragma once

// The board's own C header of the same name, found on the include path.
#include <simulatedboardcontrol.h>

#include <QString>

#include <dlfcn.h>

#include <memory>
#include <string>

// The simulated board's controls in a library opened by path: the same board the program sees
// when it bound the same file. Each returns the status, -1 when the function is missing.
class SimulatedBoardControl final
{
public:
    explicit SimulatedBoardControl(const QString &libraryPath)
        : m_library(dlopen(libraryPath.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL), dlclose)
    { }

    std::int16_t reset() const { return call<SimulatedBoardResetFunction>("Reset"); }
    std::int16_t setAbsentAttempts(int attempts) const
    {
        return call<SimulatedBoardSetAbsentAttemptsFunction>("SetAbsentAttempts", attempts);
    }
    std::int16_t setFailRequests(bool fail) const
    {
        return call<SimulatedBoardSetFailRequestsFunction>("SetFailRequests", int(fail));
    }

private:
    template<typename Function, typename... Arguments>
    std::int16_t call(const char *control, Arguments... arguments) const
    {
        const std::string name = "SimulatedBoard_" + std::string(control);
        void *f = m_library ? dlsym(m_library.get(), name.c_str()) : nullptr;
        return f ? reinterpret_cast<Function>(f)(arguments...) : std::int16_t(-1);
    }

    std::unique_ptr<void, int (*)(void *)> m_library;
};
