#pragma once

#include <cstdint>

// The five fields every device request hands to the board library, besides the buffer.
struct VendorRequestFields
{
    std::uint8_t code = 0;
    std::int32_t value = 0;
    std::int32_t index = 0;
    std::uint8_t direction = 0; // 0: to the board, 1: from the board
    std::int16_t length = 0;    // bytes moved through the buffer

    friend constexpr bool operator==(const VendorRequestFields &, const VendorRequestFields &)
            = default;
};
