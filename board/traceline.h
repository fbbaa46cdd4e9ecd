// The board libraries' call trace. When TX4410_BOARD_TRACE names a file, every call of a face
// function appends one line to it (opened, appended and closed per call, so the variable may
// change between calls):
//
//     <function> <name>=<value> ... status=<status>
//
// The function is the face function's own name (Search_For_Boards, Connect, Download_Firmware,
// Vendor_Request, LoadFirmWare, VendorIORequest); the arguments follow in the order of its
// parameters, each as name=value with no spaces around the '=', then the status. Values:
//   0x1f, -0x1         handles, ids, request codes, values and indexes: hexadecimal, signed
//   12, -3             everything else: decimal
//   [00 0a]            a buffer or list: its bytes after the call, two lower-case hex digits
//                      each, separated by one space
//   "C:\\Eval\\x.hex"  a path: the bytes up to its NUL in double quotes; '"', '\\' and bytes
//                      outside printable ASCII are written \", \\ and \xNN
//   null               a null pointer
//   overlong           a path longer than the libraries accept
// Output pointers (found, handle) show what they point to after the call. A request's buffer
// shows its first byte and as many of the request's own data bytes as the caller's length
// covers; the board list drops the zero bytes after the last board (byte 0 always shows).
//
// The USB board adds one line per control transfer, when it completes, so before the line of
// the face call that made it:
//
//     ControlTransfer requestType=0x40 request=0xa0 value=0xe600 index=0x0 length=1 data=[01]
//         transferred=1 status=0
//
// (on one line): the setup fields, the bytes sent (or, from the board, the bytes received),
// the number of bytes moved, and the transfer's status as a BoardStatus (0: done in full).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class TraceLine final
{
public:
    explicit TraceLine(std::string_view function);

    TraceLine &hex(std::string_view name, std::int64_t value);
    TraceLine &decimal(std::string_view name, std::int64_t value);
    // What the pointer points to, or null.
    TraceLine &decimalAt(std::string_view name, const std::int32_t *value);
    TraceLine &hexAt(std::string_view name, const std::int32_t *value);
    TraceLine &bytes(std::string_view name, const std::uint8_t *data, std::size_t size);
    TraceLine &boardList(std::string_view name, const std::uint8_t *list, std::size_t size);
    // A NUL-terminated text of at most `limit` bytes before its NUL.
    TraceLine &path(std::string_view name, const char *text, std::size_t limit);
    TraceLine &status(std::int16_t status);

    const std::string &text() const { return m_text; }

    // The file TX4410_BOARD_TRACE names, or nullptr when it names none.
    static const char *traceFile();
    // Appends the line and a newline; a file that cannot be written is passed over.
    static void appendTo(const char *file, std::string_view line);

private:
    TraceLine &field(std::string_view name);

    std::string m_text;
};

// The bytes of a request's buffer that its trace line shows: see the format above.
std::size_t tracedBufferBytes(int code, int length);

// Appends the line that `describe` builds to the trace file, if one is named. Never throws.
template<typename Describe> void traceCall(Describe &&describe) noexcept
{
    try {
        if (const char *file = TraceLine::traceFile())
            TraceLine::appendTo(file, describe().text());
    } catch (...) {
        // A trace that cannot be written never changes what the call did.
    }
}
