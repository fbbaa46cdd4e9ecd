// A four-function board library in front of the real one: every call is forwarded to it, and
// the time spent inside the real Vendor_Request is added up, so that the bench can tell the
// library's own time from the time of the code around the call.
#include "boardlibrarylocation.h"
#include "monotonicclock.h"

#include <dlfcn.h>

#include <cstdint>

namespace {

constexpr std::int16_t notForwarded = -1;

std::int64_t insideNs = 0;
std::int64_t forwardedRequests = 0;

// The real library, bound once by the path a program of the build tree binds it by, as the
// bench does, so the same instance.
template<typename Signature> Signature *real(const char *name)
{
    static void *const library = dlopen(buildTreeFourFunctionLibrary, RTLD_NOW | RTLD_LOCAL);
    return library ? reinterpret_cast<Signature *>(dlsym(library, name)) : nullptr;
}

} // namespace

extern "C" {

[[gnu::visibility("default")]] std::int16_t Search_For_Boards(std::int32_t vendorId,
                                                              std::int32_t productId,
                                                              std::int32_t *found,
                                                              std::uint8_t *boardList)
{
    static auto *const function = real<decltype(Search_For_Boards)>("Search_For_Boards");
    return function ? function(vendorId, productId, found, boardList) : notForwarded;
}

[[gnu::visibility("default")]] std::int16_t Connect(std::int32_t vendorId, std::int32_t productId,
                                                    std::uint8_t board, std::int32_t *handle)
{
    static auto *const function = real<decltype(Connect)>("Connect");
    return function ? function(vendorId, productId, board, handle) : notForwarded;
}

[[gnu::visibility("default")]] std::int16_t Download_Firmware(std::int32_t handle,
                                                              std::uint8_t *path)
{
    static auto *const function = real<decltype(Download_Firmware)>("Download_Firmware");
    return function ? function(handle, path) : notForwarded;
}

[[gnu::visibility("default")]] std::int16_t
Vendor_Request(std::int32_t handle, std::uint8_t request, std::int32_t value, std::int32_t index,
               std::uint8_t direction, std::int16_t length, std::uint8_t *buffer)
{
    static auto *const function = real<decltype(Vendor_Request)>("Vendor_Request");
    if (!function)
        return notForwarded;
    const std::int64_t entered = monotonicNanoseconds();
    const std::int16_t status = function(handle, request, value, index, direction, length, buffer);
    insideNs += monotonicNanoseconds() - entered;
    ++forwardedRequests;
    return status;
}

// The nanoseconds spent inside the real Vendor_Request and the requests forwarded since the
// last take; starts both afresh.
[[gnu::visibility("default")]] void TimedLibrary_Take(std::int64_t *nanoseconds,
                                                      std::int64_t *requests)
{
    *nanoseconds = insideNs;
    *requests = forwardedRequests;
    insideNs = 0;
    forwardedRequests = 0;
}

} // extern "C"
