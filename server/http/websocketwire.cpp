#include "websocketwire.h"

#include <QCryptographicHash>
#include <QtEndian>

namespace WebSocketWire {

bool validKey(QByteArrayView key)
{
    const auto decoded = QByteArray::fromBase64Encoding(key.toByteArray(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == 16;
}

QByteArray acceptKey(QByteArrayView key)
{
    return QCryptographicHash::hash(key.toByteArray() + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11",
                                    QCryptographicHash::Sha1)
            .toBase64();
}

namespace {

FrameReading fault(quint16 code, QByteArray reason)
{
    FrameReading reading;
    reading.kind = FrameReading::Kind::Fault;
    reading.closeCode = code;
    reading.reason = std::move(reason);
    return reading;
}

} // namespace

FrameReading readClientFrame(QByteArrayView bytes, qint64 maxPayload)
{
    if (bytes.size() < 2)
        return {};
    const auto first = quint8(bytes[0]);
    const auto second = quint8(bytes[1]);
    Frame frame;
    frame.final = (first & 0x80) != 0;
    frame.opcode = first & 0x0F;
    if ((first & 0x70) != 0)
        return fault(protocolError, "a reserved bit set, with no extension agreed");
    const bool control = (frame.opcode & 0x8) != 0;
    if (frame.opcode != continuation && frame.opcode != text && frame.opcode != binary
        && frame.opcode != close && frame.opcode != ping && frame.opcode != pong)
        return fault(protocolError, "an unknown opcode");
    if ((second & 0x80) == 0)
        return fault(protocolError, "a frame from the client not masked");
    qsizetype at = 2;
    quint64 length = second & 0x7F;
    if (length == 126) {
        if (bytes.size() < at + 2)
            return {};
        length = qFromBigEndian<quint16>(bytes.data() + at);
        at += 2;
        if (length < 126)
            return fault(protocolError, "a length not in its shortest form");
    } else if (length == 127) {
        if (bytes.size() < at + 8)
            return {};
        length = qFromBigEndian<quint64>(bytes.data() + at);
        at += 8;
        if (length <= 0xFFFF || (length >> 63) != 0)
            return fault(protocolError, "a length not in its shortest form");
    }
    if (control && (!frame.final || length > 125))
        return fault(protocolError, "a control frame cut in pieces or over 125 bytes");
    if (length > quint64(maxPayload))
        return fault(tooBig, "a message larger than " + QByteArray::number(maxPayload) + " bytes");
    if (quint64(bytes.size() - at) < 4 + length)
        return {};
    const QByteArrayView mask = bytes.sliced(at, 4);
    at += 4;
    frame.payload = bytes.sliced(at, qsizetype(length)).toByteArray();
    for (qsizetype index = 0; index < frame.payload.size(); ++index)
        frame.payload[index] = char(frame.payload[index] ^ mask[index % 4]);
    FrameReading reading;
    reading.kind = FrameReading::Kind::Frame;
    reading.frame = std::move(frame);
    reading.used = at + qsizetype(length);
    return reading;
}

QByteArray serverFrame(quint8 opcode, QByteArrayView payload)
{
    QByteArray bytes;
    bytes.append(char(0x80 | opcode));
    const auto length = quint64(payload.size());
    if (length < 126) {
        bytes.append(char(length));
    } else if (length <= 0xFFFF) {
        bytes.append(char(126));
        const auto big = qToBigEndian<quint16>(quint16(length));
        bytes.append(reinterpret_cast<const char *>(&big), 2);
    } else {
        bytes.append(char(127));
        const auto big = qToBigEndian<quint64>(length);
        bytes.append(reinterpret_cast<const char *>(&big), 8);
    }
    bytes.append(payload);
    return bytes;
}

QByteArray closePayload(quint16 code, QByteArrayView reason)
{
    const auto big = qToBigEndian<quint16>(code);
    return QByteArray(reinterpret_cast<const char *>(&big), 2)
            + reason.first(std::min<qsizetype>(reason.size(), 123)).toByteArray();
}

bool validCloseCode(quint16 code)
{
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1011)
            || (code >= 3000 && code <= 4999);
}

} // namespace WebSocketWire
