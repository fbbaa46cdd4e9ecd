// Random files through the Intel HEX reader; aborts on data outside RAM or from a refused file.

#include "intelheximage.h"

#include <cstdint>
#include <cstdlib>

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
