#include "traceline.h"

#include "boardprotocol.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char hexDigits[] = "0123456789abcdef";

void appendHexByte(std::string &text, std::uint8_t byte)
{
    text += hexDigits[byte >> 4];
    text += hexDigits[byte & 0xF];
}

} // namespace

TraceLine::TraceLine(std::string_view function)
    : m_text(function)
{ }

TraceLine &TraceLine::field(std::string_view name)
{
    m_text += ' ';
    m_text += name;
    m_text += '=';
    return *this;
}

TraceLine &TraceLine::hex(std::string_view name, std::int64_t value)
{
    field(name);
    // Through the unsigned type, so that the most negative value has a magnitude too.
    std::uint64_t magnitude = static_cast<std::uint64_t>(value);
    if (value < 0) {
        m_text += '-';
        magnitude = 0 - magnitude;
    }
    char digits[17];
    int count = 0;
    do {
        digits[count++] = hexDigits[magnitude & 0xF];
        magnitude >>= 4;
    } while (magnitude != 0);
    m_text += "0x";
    while (count > 0)
        m_text += digits[--count];
    return *this;
}

TraceLine &TraceLine::decimal(std::string_view name, std::int64_t value)
{
    field(name);
    m_text += std::to_string(value);
    return *this;
}

TraceLine &TraceLine::decimalAt(std::string_view name, const std::int32_t *value)
{
    if (value == nullptr) {
        field(name);
        m_text += "null";
        return *this;
    }
    return decimal(name, *value);
}

TraceLine &TraceLine::hexAt(std::string_view name, const std::int32_t *value)
{
    if (value == nullptr) {
        field(name);
        m_text += "null";
        return *this;
    }
    return hex(name, *value);
}

TraceLine &TraceLine::bytes(std::string_view name, const std::uint8_t *data, std::size_t size)
{
    field(name);
    if (data == nullptr) {
        m_text += "null";
        return *this;
    }
    m_text += '[';
    for (std::size_t i = 0; i < size; ++i) {
        if (i > 0)
            m_text += ' ';
        appendHexByte(m_text, data[i]);
    }
    m_text += ']';
    return *this;
}

TraceLine &TraceLine::boardList(std::string_view name, const std::uint8_t *list, std::size_t size)
{
    std::size_t shown = std::min<std::size_t>(size, 1);
    if (list != nullptr) {
        for (std::size_t i = 0; i < size; ++i) {
            if (list[i] != 0)
                shown = i + 1;
        }
    }
    return bytes(name, list, shown);
}

TraceLine &TraceLine::path(std::string_view name, const char *text, std::size_t limit)
{
    field(name);
    if (text == nullptr) {
        m_text += "null";
        return *this;
    }
    const std::size_t length = ::strnlen(text, limit + 1);
    if (length > limit) {
        m_text += "overlong";
        return *this;
    }
    m_text += '"';
    for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '"' || byte == '\\') {
            m_text += '\\';
            m_text += static_cast<char>(byte);
        } else if (byte < 0x20 || byte >= 0x7F) {
            m_text += "\\x";
            appendHexByte(m_text, byte);
        } else {
            m_text += static_cast<char>(byte);
        }
    }
    m_text += '"';
    return *this;
}

TraceLine &TraceLine::status(std::int16_t status)
{
    return decimal("status", status);
}

const char *TraceLine::traceFile()
{
    const char *file = std::getenv("TX4410_BOARD_TRACE");
    return file != nullptr && *file != '\0' ? file : nullptr;
}

void TraceLine::appendTo(const char *file, std::string_view line)
{
    std::FILE *stream = std::fopen(file, "a");
    if (stream == nullptr)
        return;
    std::string record(line);
    record += '\n';
    std::fwrite(record.data(), 1, record.size(), stream);
    std::fclose(stream);
}

std::size_t tracedBufferBytes(int code, int length)
{
    const BoardProtocol::RequestKind *kind = BoardProtocol::findRequest(code);
    const int own = kind != nullptr ? kind->length : 0;
    return static_cast<std::size_t>(std::max(1, std::min(length, own)));
}
