// The questions of boardqueries.h, in each library over that library's own core.
#include "boardqueries.h"
#include "librarycore.h"

#include <algorithm>
#include <string>

namespace {

// At most size - 1 bytes of the text and a NUL.
template<std::size_t Size> void copyText(char (&target)[Size], const std::string &text)
{
    const std::size_t size = std::min(text.size(), Size - 1);
    std::copy_n(text.data(), size, target);
    target[size] = '\0';
}

} // namespace

extern "C" {

[[gnu::visibility("default")]] std::int16_t Board_StatusDetail(char *text, std::int32_t size)
{
    return statusCode(LibraryCore::run([&](BoardCore &core) {
        if (text == nullptr || size < 1)
            return BoardStatus::NullArgument;
        const std::string &detail = core.statusDetail();
        const std::size_t length = std::min(detail.size(), std::size_t(size) - 1);
        std::copy_n(detail.data(), length, text);
        text[length] = '\0';
        return BoardStatus::Ok;
    }));
}

namespace {

std::int16_t list(BoardListEntry *entries, std::int32_t capacity, std::int32_t *count, bool probe)
{
    return statusCode(LibraryCore::run([&](BoardCore &core) {
        if (count == nullptr || (entries == nullptr && capacity > 0))
            return BoardStatus::NullArgument;
        std::vector<BoardListing> listings;
        const BoardStatus status = core.list(listings, probe);
        *count = static_cast<std::int32_t>(listings.size());
        for (std::size_t at = 0; at < listings.size() && std::int32_t(at) < capacity; ++at) {
            const BoardListing &listing = listings[at];
            BoardListEntry entry {};
            copyText(entry.port, listing.address.port);
            entry.bus = listing.address.bus;
            entry.address = listing.address.address;
            entry.vendorId = listing.address.identity.vendorId;
            entry.productId = listing.address.identity.productId;
            entry.firmwareRunning = listing.firmwareRunning ? 1 : 0;
            entry.kernelDriver = listing.kernelDriver ? 1 : 0;
            entry.access = statusCode(listing.access);
            copyText(entry.failure, listing.failure);
            entries[at] = entry;
        }
        return status;
    }));
}

} // namespace

[[gnu::visibility("default")]] std::int16_t Board_List(BoardListEntry *entries,
                                                       std::int32_t capacity, std::int32_t *count)
{
    return list(entries, capacity, count, true);
}

[[gnu::visibility("default")]] std::int16_t Board_Present(BoardListEntry *entries,
                                                          std::int32_t capacity,
                                                          std::int32_t *count)
{
    return list(entries, capacity, count, false);
}

[[gnu::visibility("default")]] std::int16_t Board_CheckFirmware(const char *path)
{
    return statusCode(LibraryCore::run([&](BoardCore &core) { return core.checkFirmware(path); }));
}

[[gnu::visibility("default")]] std::int16_t Board_ReadSettings(BoardSettings *settings)
{
    return statusCode(LibraryCore::run([&](BoardCore &core) {
        if (settings == nullptr)
            return BoardStatus::NullArgument;
        const BoardConfigReading reading = core.readConfig();
        const BoardConfig &config = reading.config;
        BoardSettings read {};
        copyText(read.file, config.file);
        copyText(read.problem, reading.problem);
        read.loaderVendorId = config.loader.vendorId;
        read.loaderProductId = config.loader.productId;
        read.firmwareVendorId = config.firmware.vendorId;
        read.firmwareProductId = config.firmware.productId;
        read.comeBackMilliseconds = static_cast<std::int32_t>(config.comeBack.count());
        copyText(read.port, config.port);
        read.attach = config.attach ? 1 : 0;
        *settings = read;
        return reading.problem.empty() ? BoardStatus::Ok : BoardStatus::ConfigInvalid;
    }));
}

} // extern "C"
