// Our firmware image for the simulated board carries these bytes in its data. A real board
// needs the board maker's image; the USB board refuses any image that carries them.
#pragma once

#include "intelheximage.h"

#include <algorithm>
#include <string_view>

namespace StandInImage {

inline constexpr std::string_view marker = "TX4410 stand-in image: simulated board only";

// The marker may span records: it is looked for in the runs of consecutive addresses.
inline bool isMarked(const IntelHexImage &image)
{
    const auto bytes = [](std::string_view text) {
        return std::span(reinterpret_cast<const std::uint8_t *>(text.data()), text.size());
    };
    return std::ranges::any_of(image.runs(), [&](const IntelHexImage::Segment &run) {
        return !std::ranges::search(run.bytes, bytes(marker)).empty();
    });
}

} // namespace StandInImage
