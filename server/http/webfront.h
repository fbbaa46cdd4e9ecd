#pragma once

#include <QHostAddress>
#include <QHttpServer>
#include <QObject>
#include <QTcpServer>

#include <functional>

// The instrument's web pages on Qt's HTTP server: the LXI identification document and the
// welcome page, both read-only. The pages come from the functions given, asked anew for each
// request with the host name the client used.
class WebFront final : public QObject
{
    Q_OBJECT

public:
    struct Pages
    {
        std::function<QByteArray(const QString &host)> identification;
        std::function<QByteArray(const QString &host)> welcome;
    };

    explicit WebFront(Pages pages);
    ~WebFront() override;

    bool listen(const QHostAddress &address, quint16 port);
    QString errorString() const { return m_listener.errorString(); }
    quint16 port() const { return m_listener.serverPort(); }

private:
    // Hands the HTTP server its connections with keep-alive on.
    class KeepAliveListener final : public QTcpServer
    {
    protected:
        void incomingConnection(qintptr descriptor) override;
    };

    Pages m_pages;
    QHttpServer m_http;
    KeepAliveListener m_listener;
};
