#pragma once

#include "boardlibrary.h"
#include "vendorrequest.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>

enum class BoardLibraryForm { FourFunction, BoardPort };

// A firmware path that does not fit the library's path buffer.
class FirmwarePathTooLong final : public std::length_error
{
public:
    using std::length_error::length_error;
};

// The transport to the board: binds the board library, brings the board up, and carries every
// device request. One instance lives for the whole run; the library is never unloaded.
class USBStuff
{
public:
    static constexpr std::size_t pathBufferSize = 513;
    static constexpr std::size_t maxPathBytes = pathBufferSize - 1;

    virtual ~USBStuff();

    // The firmware image next to the running program.
    static QString firmwarePath();

    // Zero until the four-function library's Connect writes it.
    std::int32_t boardHandle() const { return m_boardHandle; }
    const std::array<std::uint8_t, pathBufferSize> &pathBuffer() const { return m_pathBuffer; }

    // Stores the path's bytes (the local 8-bit encoding) and a terminating zero; bytes after the
    // terminator keep what they held. Throws FirmwarePathTooLong beyond maxPathBytes, leaving
    // the buffer untouched.
    void SetFirmwarePath(const QString &path);

    // One bring-up attempt; isBoardUp() tells what its status means for this library form.
    // Throws BoardLibraryError when the library or a function of it cannot be bound.
    virtual std::int16_t InitialiseBoard() = 0;
    virtual bool isBoardUp(std::int16_t status) const = 0;

    // The whole bring-up: stores the firmware path next to the program, then attempts until the
    // board is up (true) or retry() declines another attempt (false). Throws as SetFirmwarePath
    // and InitialiseBoard do.
    bool bringUp(const std::function<bool()> &retry);

    // Why the last bring-up attempt failed, for a person, in one line: what the board status
    // means, the library's detail where it gives one, and what to do. Empty after success.
    QString bringUpFailure();
    // The library's detail on its last failure ("" when it has none or gives none).
    QString statusDetail();
    // The board status of the last attempt, whatever sign this library form gives it.
    int lastBringUpStatus() const { return boardStatusOf(m_lastStatus); }

    // What the loader is given for the board library: a path, or a bare name.
    QByteArray libraryFile() { return library().fileName(); }
    // A function of the library that not every library has; nullptr when it lacks it.
    void *resolveOptional(const char *symbol);

    // One vendor request; the buffer must hold at least one byte and at least `length` bytes.
    // Returns the library's status, 0 for success. Throws BoardLibraryError as above.
    virtual std::int16_t VendorRequest(const VendorRequestFields &fields,
                                       std::span<std::uint8_t> buffer)
            = 0;

protected:
    USBStuff() = default;

    virtual BoardLibrary &library() = 0;
    // A status as this library form reports it, as a board status (0 or positive).
    virtual int boardStatusOf(std::int16_t status) const = 0;

    // Status for a request the program refuses before the library sees it: its buffer would
    // not hold what the library is told to move.
    static constexpr std::int16_t requestRefused = -1;
    static bool fitsBuffer(const VendorRequestFields &fields, std::span<const std::uint8_t> buffer)
    {
        return !buffer.empty() && fields.length >= 0
                && buffer.size() >= static_cast<std::size_t>(fields.length);
    }

    std::int32_t m_boardHandle = 0;
    std::int16_t m_lastStatus = 0;
    std::array<std::uint8_t, pathBufferSize> m_pathBuffer {};
};

// The transport of the deliverable, bound by the name or path the build fixed for it.
std::unique_ptr<USBStuff> makeUSBStuff(BoardLibraryForm form);
