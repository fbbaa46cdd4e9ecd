// Random bytes through what the server reads from a web client: a request head, with the target
// decoded and normalised, the access rules on it, and a page's WebSocket frames; aborts when a
// head claims more bytes than it was given, a normalised path is not one a second pass would
// leave as it is, or a frame claims more than it was given or more than its limit.

#include "access.h"
#include "httpwire.h"
#include "websocketwire.h"

#include <cstdio>
#include <cstdlib>

namespace {

void check(bool holds, const char *what)
{
    if (holds)
        return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const HeadReading reading = readHead(bytes);
    if (reading.kind == HeadReading::Kind::Complete) {
        const RequestHead &head = reading.head;
        check(head.headBytes <= bytes.size(), "a head longer than its bytes");
        check(head.path.startsWith('/'), "a path not from the root");
        check(!head.path.contains("//"), "a repeated slash left");
        // Written as a target again (escaped where a raw target may not hold a byte), the path
        // reads back as itself: there is nothing left to decode or normalise.
        QByteArray written;
        for (char c : head.path) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte <= 0x20 || byte >= 0x7F || c == '%' || c == '?' || c == '#')
                written += '%' + QByteArray::number(byte, 16).rightJustified(2, '0');
            else
                written += c;
        }
        const std::optional<Target> again = readTarget(written);
        check(again && again->path == head.path, "a path a second pass changes");
        Access access;
        access.names << QStringLiteral("bench");
        access.port = 8080;
        access.token = "secret-1";
        refusal(head, access);
    }
    const WebSocketWire::FrameReading frame = WebSocketWire::readClientFrame(bytes, 4096);
    if (frame.kind == WebSocketWire::FrameReading::Kind::Frame) {
        check(frame.used <= bytes.size(), "a frame longer than its bytes");
        check(frame.frame.payload.size() <= 4096, "a frame over its limit");
    }
    return 0;
}
