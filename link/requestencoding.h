#pragma once

#include "boardprotocol.h"
#include "vendorrequest.h"

#include <cstdint>

// How each device request fills the fields of one vendor request. Direction and length come
// from the board's request table, so the program and the firmware agree on them by construction.
namespace RequestEncoding {

constexpr VendorRequestFields request(std::uint8_t code, std::int32_t value = 0,
                                      std::int32_t index = 0)
{
    const BoardProtocol::RequestKind *kind = BoardProtocol::findRequest(code);
    return {code, value, index, static_cast<std::uint8_t>(kind->direction), kind->length};
}

// The low 16 bits as value, bits 16 to 30 as index: bit 31 is never sent.
constexpr VendorRequestFields commandWord(std::int32_t word)
{
    return request(BoardProtocol::RequestCode::CommandWord, word & 0xFFFF,
                   (word & 0x7FFF0000) / 65536);
}

// The mask is widened with its sign, as the firmware has always received it.
constexpr VendorRequestFields selectMuxChannel(std::int16_t channelMask)
{
    return request(BoardProtocol::RequestCode::SelectMux, channelMask);
}

constexpr VendorRequestFields readAdc()
{
    return request(BoardProtocol::RequestCode::ReadAdc);
}

constexpr VendorRequestFields clrPin(bool high)
{
    return request(high ? BoardProtocol::RequestCode::ClrHigh : BoardProtocol::RequestCode::ClrLow);
}

constexpr VendorRequestFields ldacPin(bool high)
{
    return request(high ? BoardProtocol::RequestCode::LdacHigh
                        : BoardProtocol::RequestCode::LdacLow);
}

// The ADC's reply: the first byte received is the high byte.
constexpr std::int32_t adcCode(std::uint8_t first, std::uint8_t second)
{
    return first * 256 + second;
}

} // namespace RequestEncoding
