#include "webfront.h"

#include "connection.h"
#include "listener.h"

#include <QFile>
#include <QHostInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QNetworkInterface>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>

namespace {

// A request head larger than this is not one a browser sends.
constexpr qsizetype maxHeadBytes = 16 * 1024;
constexpr std::chrono::seconds headWithin {10};

// The host the client asked for (its Host header, without the port), or this machine's name.
QString askedHost(const QHttpServerRequest &request)
{
    const QString host = request.url().host();
    return host.isEmpty() ? QHostInfo::localHostName() : host;
}

// One response, and the connection closed after it: the pages are small, and an HTTP/1.0 client
// (as lxi's) reads until the server closes.
void respond(QHttpServerResponder &responder, const QByteArray &type, const QByteArray &body,
             QHttpServerResponder::StatusCode status = QHttpServerResponder::StatusCode::Ok,
             const QList<std::pair<QByteArray, QByteArray>> &extra = {})
{
    responder.writeStatusLine(status);
    for (const auto &[name, value] : extra)
        responder.writeHeader(name, value);
    responder.writeHeaders({{"Content-Type", type},
                            {"Content-Length", QByteArray::number(body.size())},
                            {"Connection", "close"},
                            {"Cache-Control", "no-cache"}});
    responder.writeBody(body);
    if (QTcpSocket *socket = responder.socket())
        socket->disconnectFromHost();
}

void refuse(QTcpSocket *socket, const Refusal &refusal, bool page)
{
    QByteArray head;
    QByteArray body = refusal.reason + '\n';
    if (refusal.status == 401 && page)
        head = "HTTP/1.1 303 See Other\r\nLocation: /panel/login\r\n";
    else if (refusal.status == 401)
        head = "HTTP/1.1 401 Unauthorized\r\n";
    else if (refusal.status == 421)
        head = "HTTP/1.1 421 Misdirected Request\r\n";
    else
        head = "HTTP/1.1 403 Forbidden\r\n";
    socket->write(head + "Content-Type: text/plain; charset=utf-8\r\nContent-Length: "
                  + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}

QByteArray typeOf(const QString &file)
{
    if (file.endsWith(u".js"))
        return "text/javascript; charset=utf-8";
    if (file.endsWith(u".css"))
        return "text/css; charset=utf-8";
    return "text/html; charset=utf-8";
}

// The panel's own files, from the program's resources.
void servePanelFile(QHttpServerResponder &responder, const QString &name)
{
    QFile file(QStringLiteral(":/panel/") + name);
    if (name.contains(u'/') || !file.open(QIODevice::ReadOnly)) {
        respond(responder, "text/plain", "no such file\n",
                QHttpServerResponder::StatusCode::NotFound);
        return;
    }
    respond(responder, typeOf(name), file.readAll());
}

QByteArray signInPage(bool wrong)
{
    return QByteArrayLiteral(
                   "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                   "<meta name=\"viewport\" content=\"width=device-width\">\n"
                   "<title>Sign in: TX4410 front panel</title>\n</head>\n<body>\n"
                   "<h1>TX4410 front panel</h1>\n")
            + (wrong ? "<p role=\"alert\">That is not the server's token.</p>\n" : "")
            + "<form method=\"post\" action=\"/panel/login\">\n"
              "<label for=\"token\">The server's token (its --http-token file)</label>\n"
              "<input id=\"token\" name=\"token\" type=\"password\" autocomplete=\"off\">\n"
              "<button type=\"submit\">Sign in</button>\n</form>\n</body>\n</html>\n";
}

} // namespace

void WebFront::Gate::incomingConnection(qintptr descriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    keepAlive(int(descriptor));
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { inspect(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(headWithin, socket, [socket] {
        if (socket->property("passed").isNull())
            socket->abort();
    });
}

void WebFront::Gate::inspect(QTcpSocket *socket)
{
    const QByteArray bytes = socket->peek(maxHeadBytes);
    const std::optional<RequestHead> head = readHead(bytes);
    if (!head && bytes.size() < maxHeadBytes)
        return; // the rest of the head is still to come
    socket->setProperty("passed", true);
    disconnect(socket, nullptr, this, nullptr);
    disconnect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (!head) {
        refuse(socket, {400, "not an HTTP request"}, false);
        return;
    }
    if (const std::optional<Refusal> refused = refusal(*head, m_front.access())) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        refuse(socket, *refused, !head->upgrade);
        return;
    }
    if (head->upgrade && head->path == "/panel/socket" && m_front.m_pages.panelSocket) {
        socket->setParent(nullptr);
        m_front.m_sockets.handleConnection(socket);
        return;
    }
    // The HTTP server reads the request itself, from the start.
    addPendingConnection(socket);
    emit newConnection();
    emit socket->readyRead();
}

Access WebFront::access() const
{
    Access access;
    access.port = m_gate.serverPort();
    access.token = m_token;
    const QString name = QHostInfo::localHostName().toLower();
    access.names << QStringLiteral("localhost") << name << name + QStringLiteral(".local");
    if (const QString domain = QHostInfo::localDomainName(); !domain.isEmpty())
        access.names << name + u'.' + domain.toLower();
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        QHostAddress plain = address;
        plain.setScopeId({});
        access.names << plain.toString().toLower();
    }
    return access;
}

WebFront::WebFront(Pages pages, QByteArray token, std::function<void(const QString &)> log)
    : m_pages(std::move(pages))
    , m_token(std::move(token))
    , m_sockets(QStringLiteral("tx4410-server"), QWebSocketServer::NonSecureMode)
    , m_gate(*this)
{
    if (log)
        keepAccepting(m_gate, QStringLiteral("HTTP"), std::move(log));
    if (m_pages.identification) {
        m_http.route("/lxi/identification", QHttpServerRequest::Method::Get,
                     [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                         respond(responder, "text/xml; charset=utf-8",
                                 m_pages.identification(askedHost(request)));
                     });
    }
    m_http.route("/", QHttpServerRequest::Method::Get,
                 [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                     respond(responder, "text/html; charset=utf-8",
                             m_pages.welcome(askedHost(request)));
                 });
    if (!m_pages.panelSocket)
        return;
    m_http.route("/panel/login", QHttpServerRequest::Method::Get,
                 [](const QHttpServerRequest &, QHttpServerResponder &&responder) {
                     respond(responder, "text/html; charset=utf-8", signInPage(false));
                 });
    m_http.route("/panel/login", QHttpServerRequest::Method::Post,
                 [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                     const QByteArray given = QUrlQuery(QString::fromUtf8(request.body()))
                                                      .queryItemValue(QStringLiteral("token"),
                                                                      QUrl::FullyDecoded)
                                                      .toUtf8();
                     if (!sameToken(given, m_token)) {
                         respond(responder, "text/html; charset=utf-8", signInPage(true),
                                 QHttpServerResponder::StatusCode::Unauthorized);
                         return;
                     }
                     respond(responder, "text/plain", "/panel/\n",
                             QHttpServerResponder::StatusCode::SeeOther,
                             {{"Location", "/panel/"},
                              {"Set-Cookie", QByteArray(tokenCookie) + '=' + given
                                                     + "; Path=/panel; HttpOnly; SameSite=Strict"}});
                 });
    m_http.route("/panel", QHttpServerRequest::Method::Get,
                 [](const QHttpServerRequest &, QHttpServerResponder &&responder) {
                     respond(responder, "text/plain", "/panel/\n",
                             QHttpServerResponder::StatusCode::SeeOther,
                             {{"Location", "/panel/"}});
                 });
    m_http.route("/panel/", QHttpServerRequest::Method::Get,
                 [](const QHttpServerRequest &, QHttpServerResponder &&responder) {
                     servePanelFile(responder, QStringLiteral("index.html"));
                 });
    m_http.route("/panel/made/<arg>", QHttpServerRequest::Method::Get,
                 [this](const QString &name, const QHttpServerRequest &,
                        QHttpServerResponder &&responder) {
                     const QByteArray body = m_pages.panelFile(name);
                     if (body.isEmpty())
                         respond(responder, "text/plain", "no such file (yet)\n",
                                 QHttpServerResponder::StatusCode::NotFound);
                     else
                         respond(responder, name.endsWith(u".png") ? "image/png" : "text/csv",
                                 body);
                 });
    m_http.route("/panel/<arg>", QHttpServerRequest::Method::Get,
                 [](const QString &name, const QHttpServerRequest &,
                    QHttpServerResponder &&responder) { servePanelFile(responder, name); });
    connect(&m_sockets, &QWebSocketServer::newConnection, this, [this] {
        while (m_sockets.hasPendingConnections())
            m_pages.panelSocket(std::unique_ptr<QWebSocket>(m_sockets.nextPendingConnection()));
    });
}

WebFront::~WebFront() = default;

bool WebFront::listen(const QHostAddress &address, quint16 port)
{
    if (!m_gate.listen(address, port))
        return false;
    m_http.bind(&m_gate);
    return true;
}
