#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class Connection;

// One WebSocket, past its opening handshake, on a connection of its own: the client's
// messages as they come, the server's text messages out, and the closing handshake. A client
// that breaks the protocol is closed with its code (1002, 1007, 1009). closed() comes once,
// whichever way it ends, for whoever counts it.
class WebSocket final : public QObject
{
    Q_OBJECT

public:
    // `leftover`: what the client sent after its handshake, read with it. A message over
    // `maxMessageBytes` closes the socket.
    WebSocket(std::unique_ptr<Connection> connection, const QByteArray &leftover,
              qint64 maxMessageBytes);
    ~WebSocket() override;

    const QString &peer() const { return m_peer; }
    void setMaxMessageBytes(qint64 most) { m_maxMessage = most; }
    void sendText(const QByteArray &utf8);
    // Written and not yet taken by the system.
    qint64 unsent() const;
    // Sends a close frame, and closes once the client answers it (or does not, soon).
    void close(quint16 code, const QByteArray &reason);
    void abort();

signals:
    void textReceived(const QString &text);
    void binaryReceived(const QByteArray &bytes);
    // The connection has gone; emitted once, later than whatever closed it.
    void closed();

private:
    void readFrames();
    void fail(quint16 code, const QByteArray &reason);

    std::unique_ptr<Connection> m_connection;
    QString m_peer;
    QByteArray m_input;
    qint64 m_maxMessage;
    QByteArray m_message;       // a message in pieces
    quint8 m_messageOpcode = 0; // 0: none under way
    bool m_closing = false;
};
