#include "intelheximage.h"

#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <system_error>

namespace {

enum RecordType : std::uint8_t {
    Data = 0x00,
    EndOfFile = 0x01,
    ExtendedSegmentAddress = 0x02,
    StartSegmentAddress = 0x03,
    ExtendedLinearAddress = 0x04,
    StartLinearAddress = 0x05,
};

// Count, address (two bytes), type and checksum.
constexpr std::size_t fixedRecordBytes = 5;

std::optional<std::uint8_t> hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<std::uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<std::uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return static_cast<std::uint8_t>(c - 'a' + 10);
    return std::nullopt;
}

} // namespace

IntelHexImage IntelHexImage::failed(Error error, int line)
{
    IntelHexImage image;
    image.m_error = error;
    image.m_errorLine = line;
    return image;
}

std::size_t IntelHexImage::byteCount() const
{
    std::size_t count = 0;
    for (const Segment &segment : m_segments)
        count += segment.bytes.size();
    return count;
}

std::vector<IntelHexImage::Segment> IntelHexImage::runs() const
{
    std::map<std::uint32_t, std::uint8_t> memory;
    for (const Segment &segment : m_segments) {
        for (std::size_t i = 0; i < segment.bytes.size(); ++i)
            memory[segment.address + static_cast<std::uint32_t>(i)] = segment.bytes[i];
    }
    std::vector<Segment> runs;
    for (const auto &[address, byte] : memory) {
        if (runs.empty() || runs.back().address + runs.back().bytes.size() != address)
            runs.push_back({address, {}});
        runs.back().bytes.push_back(byte);
    }
    return runs;
}

IntelHexImage IntelHexImage::parse(std::string_view text, MemoryRange ram)
{
    IntelHexImage image;
    std::uint32_t base = 0;
    bool sawEnd = false;
    int lineNumber = 0;

    while (!text.empty()) {
        ++lineNumber;
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;

        if (sawEnd)
            return failed(Error::RecordAfterEndOfFile, lineNumber);
        if (line.front() != ':')
            return failed(Error::MissingStartCode, lineNumber);
        line.remove_prefix(1);

        std::vector<std::uint8_t> bytes;
        bytes.reserve(line.size() / 2);
        for (std::size_t i = 0; i < line.size(); i += 2) {
            const std::optional<std::uint8_t> high = hexDigit(line[i]);
            if (!high)
                return failed(Error::BadCharacter, lineNumber);
            if (i + 1 == line.size())
                return failed(Error::OddDigitCount, lineNumber);
            const std::optional<std::uint8_t> low = hexDigit(line[i + 1]);
            if (!low)
                return failed(Error::BadCharacter, lineNumber);
            bytes.push_back(static_cast<std::uint8_t>(*high << 4 | *low));
        }
        if (bytes.size() < fixedRecordBytes)
            return failed(Error::ShortRecord, lineNumber);
        const std::size_t count = bytes[0];
        if (bytes.size() != count + fixedRecordBytes)
            return failed(Error::WrongByteCount, lineNumber);
        std::uint8_t sum = 0;
        for (const std::uint8_t byte : bytes)
            sum = static_cast<std::uint8_t>(sum + byte);
        if (sum != 0)
            return failed(Error::BadChecksum, lineNumber);

        const std::uint32_t offset = static_cast<std::uint32_t>(bytes[1] << 8 | bytes[2]);
        const std::uint8_t type = bytes[3];
        const auto payload = bytes.begin() + 4;
        const auto payloadWord = [&] {
            return static_cast<std::uint32_t>(payload[0] << 8 | payload[1]);
        };

        switch (type) {
        case Data:
            if (!ram.holds(base + offset, static_cast<std::uint32_t>(count)))
                return failed(Error::DataOutsideRam, lineNumber);
            if (count > 0)
                image.m_segments.push_back({base + offset, {payload, payload + count}});
            break;
        case EndOfFile:
            if (count != 0)
                return failed(Error::BadRecordLength, lineNumber);
            sawEnd = true;
            break;
        case ExtendedSegmentAddress:
        case ExtendedLinearAddress:
            if (count != 2)
                return failed(Error::BadRecordLength, lineNumber);
            base = type == ExtendedSegmentAddress ? payloadWord() << 4 : payloadWord() << 16;
            break;
        case StartSegmentAddress:
        case StartLinearAddress:
            // The board starts its firmware at its reset vector; a start address changes nothing.
            if (count != 4)
                return failed(Error::BadRecordLength, lineNumber);
            break;
        default:
            return failed(Error::UnknownRecordType, lineNumber);
        }
    }

    // An end record alone loads nothing: no firmware would run.
    if (image.m_segments.empty())
        return failed(Error::Empty, 0);
    if (!sawEnd)
        return failed(Error::MissingEndOfFile, 0);
    return image;
}

IntelHexImage IntelHexImage::load(const std::filesystem::path &path, MemoryRange ram)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return failed(Error::Unreadable, 0);
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error)
        return failed(Error::Unreadable, 0);
    if (size > maxFileBytes)
        return failed(Error::TooLarge, 0);

    std::ifstream file(path, std::ios::binary);
    if (!file)
        return failed(Error::Unreadable, 0);
    std::string text;
    text.reserve(static_cast<std::size_t>(size));
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (file.bad() || text.size() > maxFileBytes)
        return failed(Error::Unreadable, 0);
    return parse(text, ram);
}
