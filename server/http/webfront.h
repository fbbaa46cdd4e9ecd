#pragma once

#include "access.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QObject>
#include <QTcpServer>
#include <QWebSocketServer>

#include <functional>
#include <memory>

class QWebSocket;

// The instrument's web pages on Qt's HTTP server: the LXI identification document and the
// welcome page, read-only, and the front panel: its files from the program's resources and its
// one WebSocket, through which alone it changes the board. Every connection passes the access
// rules (access.h) on its request's head before it reaches a page or the socket.
class WebFront final : public QObject
{
    Q_OBJECT

public:
    struct Pages
    {
        std::function<QByteArray(const QString &host)> identification;
        std::function<QByteArray(const QString &host)> welcome;
        // A page's WebSocket, past the access rules; none: no front panel.
        std::function<void(std::unique_ptr<QWebSocket>)> panelSocket;
        // A file the panel made ("sweep.csv", "sweep.png"); empty when there is none.
        std::function<QByteArray(const QString &name)> panelFile;
    };

    // `token`: what the panel asks for (--http-token); empty for none. `log` hears of a
    // listener that ran out of descriptors.
    WebFront(Pages pages, QByteArray token, std::function<void(const QString &)> log = {});
    ~WebFront() override;

    bool listen(const QHostAddress &address, quint16 port);
    QString errorString() const { return m_gate.errorString(); }
    quint16 port() const { return m_gate.serverPort(); }

private:
    // Reads each connection's request head, refuses what the access rules refuse, and hands the
    // rest to the HTTP server or, for the panel's socket, to the WebSocket server.
    class Gate final : public QTcpServer
    {
    public:
        explicit Gate(WebFront &front)
            : m_front(front)
        { }

    protected:
        void incomingConnection(qintptr descriptor) override;

    private:
        void inspect(QTcpSocket *socket);
        WebFront &m_front;
    };

    Access access() const;

    Pages m_pages;
    QByteArray m_token;
    QHttpServer m_http;
    QWebSocketServer m_sockets;
    Gate m_gate;
};
