#include "websocket.h"

#include "connection.h"
#include "websocketwire.h"

#include <QStringDecoder>
#include <QTimer>
#include <QtEndian>

using namespace WebSocketWire;

namespace {

// How long a close waits for the client's side of it.
constexpr std::chrono::milliseconds closeLinger {1000};

} // namespace

WebSocket::WebSocket(std::unique_ptr<Connection> connection, const QByteArray &leftover,
                     qint64 maxMessageBytes)
    : m_connection(std::move(connection))
    , m_peer(m_connection->peer())
    , m_input(leftover)
    , m_maxMessage(maxMessageBytes)
{
    connect(m_connection.get(), &Connection::readable, this, &WebSocket::readFrames);
    connect(m_connection.get(), &Connection::finished, this, &WebSocket::closed);
    connect(m_connection.get(), &Connection::idle, this,
            [this] { close(goingAway, "silent longer than the idle limit"); });
    if (!m_input.isEmpty() || m_connection->bytesAvailable() > 0)
        QTimer::singleShot(0, this, &WebSocket::readFrames);
}

WebSocket::~WebSocket()
{
    m_connection->disconnect(this);
}

qint64 WebSocket::unsent() const
{
    return m_connection->unsent();
}

void WebSocket::sendText(const QByteArray &utf8)
{
    if (!m_closing)
        m_connection->write(serverFrame(text, utf8));
}

void WebSocket::close(quint16 code, const QByteArray &reason)
{
    if (std::exchange(m_closing, true))
        return;
    m_connection->write(serverFrame(WebSocketWire::close, closePayload(code, reason)));
    m_connection->finish(closeLinger);
}

void WebSocket::abort()
{
    m_closing = true;
    m_connection->abort();
}

void WebSocket::fail(quint16 code, const QByteArray &reason)
{
    m_input.clear();
    m_message.clear();
    close(code, reason);
}

void WebSocket::readFrames()
{
    if (m_closing)
        return;
    m_input += m_connection->read(m_connection->bytesAvailable());
    while (!m_closing) {
        const FrameReading reading = readClientFrame(m_input, m_maxMessage);
        if (reading.kind == FrameReading::Kind::More)
            break;
        if (reading.kind == FrameReading::Kind::Fault) {
            fail(reading.closeCode, reading.reason);
            return;
        }
        m_input.remove(0, reading.used);
        const Frame &frame = reading.frame;
        if (frame.opcode == ping) {
            m_connection->write(serverFrame(pong, frame.payload));
            continue;
        }
        if (frame.opcode == pong)
            continue;
        if (frame.opcode == WebSocketWire::close) {
            quint16 code = normal;
            if (frame.payload.size() == 1) {
                fail(protocolError, "a close frame of one byte");
                return;
            }
            if (frame.payload.size() >= 2)
                code = qFromBigEndian<quint16>(frame.payload.constData());
            if (!validCloseCode(code)) {
                fail(protocolError, "a close code no peer may send");
                return;
            }
            close(code, {});
            return;
        }
        // A data frame: a message whole, or one of its pieces.
        const bool piece = frame.opcode == continuation;
        if (piece != (m_messageOpcode != 0)) {
            fail(protocolError, "a message's pieces out of order");
            return;
        }
        if (!piece)
            m_messageOpcode = frame.opcode;
        if (m_message.size() + frame.payload.size() > m_maxMessage) {
            fail(tooBig, "a message larger than " + QByteArray::number(m_maxMessage) + " bytes");
            return;
        }
        m_message += frame.payload;
        if (!frame.final)
            continue;
        const quint8 kind = std::exchange(m_messageOpcode, 0);
        const QByteArray message = std::exchange(m_message, {});
        if (kind == binary) {
            emit binaryReceived(message);
            continue;
        }
        QStringDecoder utf8(QStringConverter::Utf8);
        const QString words = utf8(message);
        if (utf8.hasError()) {
            fail(invalidData, "a text message that is not UTF-8");
            return;
        }
        emit textReceived(words);
    }
    // The client went without the closing handshake.
    if (m_connection->inputEnded() && !std::exchange(m_closing, true))
        m_connection->finish(closeLinger);
}
