#include "librarycore.h"

#include <optional>

namespace {

std::optional<BoardCore> &storage()
{
    static std::optional<BoardCore> core;
    return core;
}

} // namespace

BoardStatus LibraryCore::reset() noexcept
{
    return run([](BoardCore &core) {
        core = BoardCore::fromEnvironment();
        return BoardStatus::Ok;
    });
}

std::mutex &LibraryCore::mutex()
{
    static std::mutex mutex;
    return mutex;
}

BoardCore &LibraryCore::core()
{
    std::optional<BoardCore> &core = storage();
    if (!core)
        core.emplace(BoardCore::fromEnvironment());
    return *core;
}
