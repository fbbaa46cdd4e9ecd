#pragma once

#include "boardcore.h"

#include <mutex>

// The one board core of this library, made from the environment at its first call. Calls are
// serialised, and no exception gets past the library's C boundary.
class LibraryCore final
{
public:
    template<typename Call> static BoardStatus run(Call &&call) noexcept
    {
        try {
            const std::lock_guard lock(mutex());
            return call(core());
        } catch (...) {
            return BoardStatus::InternalError;
        }
    }

    // A fresh core from the environment: the board as at power-on, the knobs read again.
    static BoardStatus reset() noexcept;

private:
    static std::mutex &mutex();
    static BoardCore &core();
};
