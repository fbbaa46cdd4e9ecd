#pragma once

#include <QTcpServer>

// A listening TCP socket that hands each accepted connection over as its bare descriptor, for a
// Connection to own.
class Listener final : public QTcpServer
{
    Q_OBJECT

public:
    using QTcpServer::QTcpServer;

signals:
    void accepted(int descriptor);

protected:
    void incomingConnection(qintptr descriptor) override { emit accepted(int(descriptor)); }
};

// "127.0.0.1:5025", "[::1]:5025"
QString endpointText(const QHostAddress &address, quint16 port);
