#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

// A half-open range of target addresses.
struct MemoryRange
{
    std::uint32_t begin;
    std::uint32_t end;

    constexpr bool holds(std::uint32_t first, std::uint32_t count) const
    {
        return first >= begin && first <= end && count <= end - first;
    }
};

// The evaluation board's program RAM: every data byte of its firmware must land here.
inline constexpr MemoryRange boardRam {0x0000, 0x4000};

// A firmware image in Intel HEX form, checked record by record as the board's loader reads it.
// Holds the data records of a valid image, or the first fault of an invalid one.
class IntelHexImage final
{
public:
    enum class Error {
        None,
        Unreadable, // missing, not a regular file, or unreadable
        TooLarge,
        Empty,            // no data byte
        MissingStartCode, // a line that does not begin with ':'
        BadCharacter,     // anything but hexadecimal digits after the ':'
        OddDigitCount,
        ShortRecord,    // fewer bytes than a record's fixed fields
        WrongByteCount, // the count field disagrees with the record's length
        BadChecksum,
        UnknownRecordType,
        BadRecordLength, // a fixed-size record (end of file, address) of another size
        DataOutsideRam,
        RecordAfterEndOfFile,
        MissingEndOfFile,
    };

    struct Segment
    {
        std::uint32_t address;
        std::vector<std::uint8_t> bytes;
    };

    // Files larger than this cannot be an image for the board's RAM.
    static constexpr std::uintmax_t maxFileBytes = 1024 * 1024;

    static IntelHexImage parse(std::string_view text, MemoryRange ram = boardRam);
    static IntelHexImage load(const std::filesystem::path &path, MemoryRange ram = boardRam);

    bool isValid() const { return m_error == Error::None; }
    Error error() const { return m_error; }
    // 1-based line of the fault; 0 when the fault belongs to no line.
    int errorLine() const { return m_errorLine; }
    // The data records in file order.
    const std::vector<Segment> &segments() const { return m_segments; }
    // The same bytes as runs of consecutive addresses in rising order; where records overlap,
    // the later one's byte, as a loader writing them in file order leaves it.
    std::vector<Segment> runs() const;
    std::size_t byteCount() const;

private:
    IntelHexImage() = default;
    static IntelHexImage failed(Error error, int line);

    Error m_error = Error::None;
    int m_errorLine = 0;
    std::vector<Segment> m_segments;
};
