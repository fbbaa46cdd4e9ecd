#include "webfront.h"

#include "connection.h"

#include <QHostInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QTcpSocket>

namespace {

// The host the client asked for (its Host header, without the port), or this machine's name.
QString askedHost(const QHttpServerRequest &request)
{
    const QString host = request.url().host();
    return host.isEmpty() ? QHostInfo::localHostName() : host;
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
                 [this](const QHttpServerRequest &request) {
                     return QHttpServerResponse("text/xml; charset=utf-8",
                                                m_pages.identification(askedHost(request)));
                 });
    m_http.route("/", QHttpServerRequest::Method::Get, [this](const QHttpServerRequest &request) {
        return QHttpServerResponse("text/html; charset=utf-8", m_pages.welcome(askedHost(request)));
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
