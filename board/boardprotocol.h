// The evaluation board's USB identity and its vendor request set: shared by the program,
// the board libraries and the tests, so that the three can never disagree.
#pragma once

#include <array>
#include <cstdint>

namespace BoardProtocol {

// Prototype identifiers of our own; the program searches for and connects to exactly this pair.
// On USB it is the identity the board shows while our firmware runs.
inline constexpr std::int32_t vendorId = 0x6666;
inline constexpr std::int32_t productId = 0x4410;
// The bare board's identity on USB, before any firmware runs: only its loader answers then.
// board/CMakeLists.txt reads these four lines to write the udev rule; keep their form.
inline constexpr std::int32_t loaderVendorId = 0x6666;
inline constexpr std::int32_t loaderProductId = 0x4400;

enum class Direction : std::uint8_t { ToBoard = 0, FromBoard = 1 };

namespace RequestCode {
inline constexpr std::uint8_t ReadAdc = 0xBB;
inline constexpr std::uint8_t SelectMux = 0xCC;
inline constexpr std::uint8_t CommandWord = 0xDD;
inline constexpr std::uint8_t ClrLow = 0xE0;
inline constexpr std::uint8_t ClrHigh = 0xE1;
inline constexpr std::uint8_t LdacLow = 0xF0;
inline constexpr std::uint8_t LdacHigh = 0xF1;
} // namespace RequestCode

// One row of the request set: what the firmware accepts under one request code.
struct RequestKind
{
    std::uint8_t code;
    Direction direction;
    std::int16_t length;   // bytes moved through the buffer
    std::int32_t maxValue; // value and index are never negative
    std::int32_t maxIndex;
    const char *name;
};

inline constexpr std::array<RequestKind, 7> requests = {{
        {RequestCode::ReadAdc, Direction::FromBoard, 2, 0, 0, "read ADC"},
        {RequestCode::SelectMux, Direction::ToBoard, 0, 0xFFFF, 0, "select readback channel"},
        {RequestCode::CommandWord, Direction::ToBoard, 0, 0xFFFF, 0x7FFF, "write command word"},
        {RequestCode::ClrLow, Direction::ToBoard, 0, 0, 0, "CLR low"},
        {RequestCode::ClrHigh, Direction::ToBoard, 0, 0, 0, "CLR high"},
        {RequestCode::LdacLow, Direction::ToBoard, 0, 0, 0, "LDAC low"},
        {RequestCode::LdacHigh, Direction::ToBoard, 0, 0, 0, "LDAC high"},
}};

// The row for a request code, or nullptr for a code the firmware does not know.
constexpr const RequestKind *findRequest(int code)
{
    for (const RequestKind &kind : requests) {
        if (kind.code == code)
            return &kind;
    }
    return nullptr;
}

} // namespace BoardProtocol
