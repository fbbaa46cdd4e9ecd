// Our firmware image for the simulated board carries these bytes in its data. A real board
// needs the board maker's image; the USB board refuses any image that carries them.
#pragma once

#include "intelheximage.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace StandInImage {

inline constexpr std::string_view marker = "TX4410 stand-in image: simulated board only";

// The marker may span records: it is looked for in the runs of consecutive addresses.
inline bool isMarked(const IntelHexImage &image)
{
    const auto *first = reinterpret_cast<const std::uint8_t *>(marker.data());
    for (const IntelHexImage::Segment &run : image.runs()) {
        if (std::search(run.bytes.begin(), run.bytes.end(), first, first + marker.size())
            != run.bytes.end())
            return true;
    }
    return false;
}

} // namespace StandInImage
