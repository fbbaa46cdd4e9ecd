// Random files through the strict Intel HEX reader; aborts when what it accepts could reach
// outside the board's RAM, or when a refused file still yields data.

#include "intelheximage.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const IntelHexImage image = IntelHexImage::parse({reinterpret_cast<const char *>(data), size});
    if (!image.isValid() && !image.segments().empty())
        std::abort();
    std::uint32_t next = 0;
    for (const IntelHexImage::Segment &run : image.runs()) {
        // In RAM, in rising order, never touching the run before.
        if (!boardRam.holds(run.address, std::uint32_t(run.bytes.size())) || run.address < next)
            std::abort();
        next = run.address + std::uint32_t(run.bytes.size()) + 1;
    }
    return 0;
}
