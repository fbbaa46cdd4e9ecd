#include "webfront.h"

#include "connection.h"

#include <QHostInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>

namespace {

// The host the client asked for (its Host header, without the port), or this machine's name.
QString askedHost(const QHttpServerRequest &request)
{
    const QString host = request.url().host();
    return host.isEmpty() ? QHostInfo::localHostName() : host;
}

// One response, and the connection closed after it: the pages are small, and an HTTP/1.0 client
// (as lxi's) reads until the server closes.
void respond(QHttpServerResponder &responder, const QByteArray &type, const QByteArray &body)
{
    responder.write(body, {{"Content-Type", type}, {"Connection", "close"}});
    if (QTcpSocket *socket = responder.socket())
        socket->disconnectFromHost();
}

} // namespace

void WebFront::KeepAliveListener::incomingConnection(qintptr descriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    keepAlive(int(descriptor));
    addPendingConnection(socket);
}

WebFront::WebFront(Pages pages)
    : m_pages(std::move(pages))
{
    m_http.route("/lxi/identification", QHttpServerRequest::Method::Get,
                 [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                     respond(responder, "text/xml; charset=utf-8",
                             m_pages.identification(askedHost(request)));
                 });
    m_http.route("/", QHttpServerRequest::Method::Get,
                 [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                     respond(responder, "text/html; charset=utf-8",
                             m_pages.welcome(askedHost(request)));
                 });
}

WebFront::~WebFront() = default;

bool WebFront::listen(const QHostAddress &address, quint16 port)
{
    if (!m_listener.listen(address, port))
        return false;
    m_http.bind(&m_listener);
    return true;
}
