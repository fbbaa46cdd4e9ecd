// RFC 6455's WebSocket on the wire, as plain functions: the opening handshake's key, a client's
// frames read with every rule a server must hold them to, and the server's own frames.
// No sockets here.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace WebSocketWire {

enum Opcode : quint8 {
    continuation = 0x0,
    text = 0x1,
    binary = 0x2,
    close = 0x8,
    ping = 0x9,
    pong = 0xA,
};

// The close codes this server sends.
enum CloseCode : quint16 {
    normal = 1000,
    goingAway = 1001,
    protocolError = 1002,
    invalidData = 1007,
    policyViolated = 1008,
    tooBig = 1009,
};

// A Sec-WebSocket-Key is 16 bytes in base64.
bool validKey(QByteArrayView key);
// The Sec-WebSocket-Accept that answers a key.
QByteArray acceptKey(QByteArrayView key);

struct Frame
{
    bool final = true;
    quint8 opcode = text;
    QByteArray payload; // unmasked
};

struct FrameReading
{
    enum class Kind {
        More,  // not whole yet
        Frame, // `frame`, `used` bytes of the input
        Fault, // the connection is closed with `closeCode`, for `reason`
    };
    Kind kind = Kind::More;
    Frame frame;
    qsizetype used = 0;
    quint16 closeCode = 0;
    QByteArray reason;
};

// The client's frame at the start of `bytes`. A client masks every frame, sets no reserved bit
// (no extension is agreed), uses known opcodes, keeps control frames whole and at most 125
// bytes, and writes its length in the fewest bytes; a payload over `maxPayload` is refused
// before it is read.
FrameReading readClientFrame(QByteArrayView bytes, qint64 maxPayload);

// A whole frame from the server: never masked.
QByteArray serverFrame(quint8 opcode, QByteArrayView payload);
// A close frame's payload: the code, then the reason (at most 123 bytes).
QByteArray closePayload(quint16 code, QByteArrayView reason);
// Whether a close code may be sent by a peer (RFC 6455 7.4).
bool validCloseCode(quint16 code);

} // namespace WebSocketWire
