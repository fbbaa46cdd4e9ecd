#include "webfront.h"

#include "connection.h"
#include "websocket.h"
#include "websocketwire.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QTimer>
#include <QUrlQuery>

namespace {

const HeadLimits limits;
// Answers a client leaves untaken beyond this close its connection.
constexpr qint64 maxUnsentBytes = 4 * 1024 * 1024;
// How long a close waits for the client's end of the connection.
constexpr std::chrono::milliseconds linger {2000};
// A new connection silent this long is a browser's spare one, which may give its place up.
constexpr std::chrono::milliseconds spareAfter {1000};
// What a page may send in one message, until the panel says otherwise.
constexpr qint64 webSocketMessageBytes = 64 * 1024;

// Every panel response: nothing but this server's own files, never inside another site's page,
// types as sent, and no address of the panel handed to another site.
const QList<std::pair<QByteArray, QByteArray>> panelFields {
        {"Content-Security-Policy",
         "default-src 'self'; frame-ancestors 'none'; form-action 'self'; base-uri 'none'"},
        {"X-Frame-Options", "DENY"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
};

Reply text(int status, const QByteArray &words)
{
    return {status, "text/plain; charset=utf-8", words + '\n', {}, false};
}

Reply seeOther(const QByteArray &location)
{
    Reply reply = text(303, location);
    reply.fields.emplaceBack("Location", location);
    return reply;
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
Reply panelFile(const QString &name)
{
    QFile file(QStringLiteral(":/panel/") + name);
    if (name.contains(u'/') || !file.open(QIODevice::ReadOnly))
        return text(404, "no such file");
    return {200, typeOf(name), file.readAll(), {}, false};
}

QByteArray signInPage(bool wrong)
{
    return QByteArrayLiteral(
                   "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                   "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                   "<title>Sign in: TX4410 front panel</title>\n"
                   "<link rel=\"stylesheet\" href=\"panel.css\">\n</head>\n<body>\n"
                   "<header>\n<h1>TX4410 front panel</h1>\n"
                   "<p>This server asks for its token before it opens the panel.</p>\n"
                   "</header>\n<main>\n")
            + (wrong ? "<p role=\"alert\" class=\"away\">That is not the server's token.</p>\n"
                     : "")
            + "<form method=\"post\" action=\"/panel/login\" class=\"card sign-in\">\n"
              "<label for=\"token\">The server's token (the first line of its --http-token "
              "file)</label>\n"
              "<input id=\"token\" name=\"token\" type=\"password\" autocomplete=\"off\" "
              "autofocus>\n"
              "<button type=\"submit\">Sign in</button>\n</form>\n</main>\n</body>\n</html>\n";
}

} // namespace

// One HTTP connection: its requests read one after the other, each whole before it is served.
class WebFront::Client final : public QObject
{
public:
    Client(WebFront &front, std::unique_ptr<Connection> owned)
        : connection(std::move(owned))
        , m_front(front)
    {
        connection->setIdleLimit(front.m_settings.idle);
        connect(connection.get(), &Connection::readable, this, &Client::readRequests);
        connect(connection.get(), &Connection::finished, this, [this] { m_front.ended(this, {}); });
        connect(connection.get(), &Connection::idle, this, [this] {
            close(QStringLiteral("closed: idle for %1 s").arg(m_front.m_settings.idle.count()));
        });
        m_request.setSingleShot(true);
        m_request.setInterval(requestWithin);
        connect(&m_request, &QTimer::timeout, this, [this] {
            if (!m_head && buffer.isEmpty() && connection->bytesAvailable() == 0) {
                close(QStringLiteral("closed: no request within %1 s").arg(requestWithin.count()));
                return;
            }
            Reply late = text(408,
                              "a request must be whole within "
                                      + QByteArray::number(qint64(requestWithin.count()))
                                      + " s of its first byte");
            late.close = true;
            write(late, false);
            close(QStringLiteral("closed: a request not whole within %1 s")
                          .arg(requestWithin.count()));
        });
        // The first request is under way from the start.
        m_request.start();
        m_opened.start();
        // Silent that long, it may give its place to a connection that waits.
        QTimer::singleShot(spareAfter, this, [this] { m_front.admitWaiting(); });
    }

    void readRequests();

    // Not in the middle of a request: kept open between two requests, or silent since it was
    // opened a while ago (as a browser's spare connection). Closing it loses the client
    // nothing: a browser sends its next request on a new connection.
    bool waitsForRequest() const
    {
        return !m_closing && !m_head && buffer.isEmpty() && connection->bytesAvailable() == 0
                && (m_served > 0 || m_opened.elapsed() >= spareAfter.count());
    }
    // Closing: what is owed goes out, and it no longer counts against the limit.
    bool closing() const { return m_closing; }

    // Closes once what is owed is out; `why` goes in the log.
    void close(const QString &why)
    {
        if (std::exchange(m_closing, true))
            return;
        m_request.stop();
        if (!why.isEmpty())
            m_front.m_log(QStringLiteral("HTTP %1 %2").arg(connection->peer(), why));
        connection->finish(linger);
        // Its place is free now, for a connection that waits.
        QTimer::singleShot(0, &m_front, [front = &m_front] { front->admitWaiting(); });
    }

    std::unique_ptr<Connection> connection;
    QByteArray buffer; // what the client sent that no request has taken yet

private:
    void write(const Reply &reply, bool head)
    {
        Reply sent = reply;
        sent.fields.emplaceBack("Cache-Control", "no-cache");
        connection->write(replyBytes(sent, head));
    }

    WebFront &m_front;
    std::optional<RequestHead> m_head; // read, its body still to come
    QTimer m_request;
    QElapsedTimer m_opened;
    int m_served = 0;
    bool m_closing = false;
};

void WebFront::Client::readRequests()
{
    while (!m_closing) {
        const qint64 room = limits.bytes + limits.bodyBytes - buffer.size();
        buffer += connection->read(std::max<qint64>(room, 0));
        if (!m_head) {
            if (buffer.isEmpty()) {
                if (connection->inputEnded())
                    close({});
                return;
            }
            if (!m_request.isActive())
                m_request.start();
            const HeadReading reading = readHead(buffer, limits);
            if (reading.kind == HeadReading::Kind::More) {
                if (connection->inputEnded())
                    close({});
                return;
            }
            if (reading.kind == HeadReading::Kind::Refused) {
                Reply refused = text(reading.status, reading.reason);
                refused.close = true;
                write(refused, false);
                close(QStringLiteral("refused (%1): %2")
                              .arg(reading.status)
                              .arg(QString::fromLatin1(reading.reason)));
                return;
            }
            m_head = reading.head;
            buffer.remove(0, reading.head.headBytes);
            if (m_head->expectContinue && buffer.size() < m_head->contentLength)
                connection->write(replyBytes({100, {}, {}, {}, false}, false));
        }
        if (buffer.size() < m_head->contentLength) {
            if (connection->inputEnded())
                close({});
            return;
        }
        const QByteArray body = buffer.left(qsizetype(m_head->contentLength));
        buffer.remove(0, body.size());
        m_request.stop();
        const RequestHead head = *std::exchange(m_head, std::nullopt);
        std::optional<Reply> reply = m_front.serve(*this, head, body);
        if (!reply)
            return; // handed over: this client is no more
        ++m_served;
        // An HTTP/1.0 client (as lxi's) reads until the server closes.
        reply->close = reply->close || !head.keepAlive;
        write(*reply, head.method == "HEAD");
        if (reply->close) {
            close({});
            return;
        }
        if (connection->unsent() > maxUnsentBytes) {
            close(QStringLiteral("closed: it left more than %1 bytes of answers untaken")
                          .arg(maxUnsentBytes));
            connection->abort();
            return;
        }
        if (buffer.isEmpty() && connection->bytesAvailable() == 0)
            QTimer::singleShot(0, &m_front, [front = &m_front] { front->admitWaiting(); });
    }
}

WebFront::WebFront(Pages pages, Settings settings, std::function<void(const QString &)> log)
    : m_pages(std::move(pages))
    , m_settings(std::move(settings))
    , m_log(std::move(log))
{
    connect(&m_listener, &Listener::accepted, this, &WebFront::accept);
    keepAccepting(m_listener, QStringLiteral("HTTP"), m_log);

    const auto page = [](QByteArray body) -> std::optional<Reply> {
        return Reply {200, "text/html; charset=utf-8", std::move(body), {}, false};
    };
    if (m_pages.identification) {
        m_routes.push_back({"/lxi/identification", false, "GET", [this](const Request &request) {
                                return std::optional<Reply>(Reply {
                                        200,
                                        "text/xml; charset=utf-8",
                                        m_pages.identification(asked(request.head, request.client)),
                                        {},
                                        false});
                            }});
    }
    m_routes.push_back({"/", false, "GET", [this, page](const Request &request) {
                            return page(m_pages.welcome(asked(request.head, request.client)));
                        }});
    if (!m_pages.panelSocket)
        return;
    m_routes.push_back({"/panel", false, "GET", [](const Request &) {
                            return std::optional<Reply>(seeOther("/panel/"));
                        }});
    m_routes.push_back({"/panel/login", false, "GET", [page](const Request &) {
                            return page(signInPage(false));
                        }});
    m_routes.push_back(
            {"/panel/login", false, "POST", [this](const Request &request) {
                 const QByteArray given
                         = QUrlQuery(QString::fromUtf8(request.body))
                                   .queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded)
                                   .toUtf8();
                 if (!sameToken(given, m_settings.token))
                     return std::optional<Reply>(
                             Reply {401, "text/html; charset=utf-8", signInPage(true), {}, false});
                 Reply signedIn = seeOther("/panel/");
                 signedIn.fields.emplaceBack("Set-Cookie",
                                             QByteArray(tokenCookie) + '=' + given
                                                     + "; Path=/panel; HttpOnly; SameSite=Strict");
                 return std::optional<Reply>(signedIn);
             }});
    m_routes.push_back({"/panel/socket", false, "GET", [this](const Request &request) {
                            return upgrade(request);
                        }});
    m_routes.push_back({"/panel/", false, "GET", [](const Request &) {
                            return std::optional<Reply>(panelFile(QStringLiteral("index.html")));
                        }});
    m_routes.push_back(
            {"/panel/made/", true, "GET", [this](const Request &request) {
                 const QString name = QString::fromUtf8(request.name);
                 const QByteArray body = m_pages.panelFile(name);
                 if (body.isEmpty())
                     return std::optional<Reply>(text(404, "no such file (yet)"));
                 return std::optional<Reply>(Reply {
                         200, name.endsWith(u".png") ? "image/png" : "text/csv", body, {}, false});
             }});
    m_routes.push_back({"/panel/", true, "GET", [](const Request &request) {
                            return std::optional<Reply>(panelFile(QString::fromUtf8(request.name)));
                        }});
}

WebFront::~WebFront()
{
    for (const auto &client : m_clients)
        client->connection->disconnect(client.get());
}

bool WebFront::listen(const QHostAddress &address, quint16 port)
{
    return m_listener.listen(address, port);
}

int WebFront::openCount() const
{
    return int(std::ranges::count_if(m_clients,
                                     [](const auto &client) { return !client->closing(); }));
}

void WebFront::accept(int descriptor)
{
    auto connection = std::make_unique<Connection>(descriptor, limits.bytes + limits.bodyBytes);
    const bool placeToGive = std::ranges::any_of(
            m_clients, [](const auto &client) { return client->waitsForRequest(); });
    if (openCount() >= m_settings.maxClients && !placeToGive
        && int(m_waiting.size()) >= m_settings.maxClients) {
        refuse(*connection);
        return; // closed with the connection
    }
    // Those of a browser's several connections beyond the limit wait their turn, for a while.
    Connection *waiting = connection.get();
    m_waiting.push_back(std::move(connection));
    QTimer::singleShot(requestWithin, waiting, [this, waiting] {
        const auto found = std::ranges::find(m_waiting, waiting, &std::unique_ptr<Connection>::get);
        if (found != m_waiting.end()) {
            refuse(**found);
            m_waiting.erase(found);
        }
    });
    admitWaiting();
}

void WebFront::refuse(Connection &connection)
{
    m_refusals.refused(QStringLiteral("HTTP %1 refused: %2 connections are open, as many as --max-clients "
                         "allows")
                  .arg(connection.peer())
                  .arg(m_settings.maxClients));
    Reply busy = text(503, "as many connections as this server takes are open: try again");
    busy.fields.emplaceBack("Retry-After", "2");
    busy.close = true;
    connection.write(replyBytes(busy, false));
    connection.flush();
}

void WebFront::admitWaiting()
{
    while (!m_waiting.empty()) {
        if (openCount() >= m_settings.maxClients) {
            // A connection not in the middle of a request gives its place up; a browser opens
            // another when it next needs one.
            const auto kept = std::ranges::find_if(
                    m_clients, [](const auto &client) { return client->waitsForRequest(); });
            if (kept == m_clients.end())
                return;
            (*kept)->close({});
        }
        m_clients.push_back(std::make_unique<Client>(*this, std::move(m_waiting.front())));
        m_waiting.pop_front();
        // What it sent while it waited is in its connection already: read it now.
        QTimer::singleShot(0, m_clients.back().get(), &Client::readRequests);
    }
}

void WebFront::ended(Client *client, const QString &why)
{
    const auto found = std::ranges::find_if(
            m_clients, [client](const auto &each) { return each.get() == client; });
    if (found == m_clients.end())
        return;
    if (!why.isEmpty())
        m_log(why);
    // Later: it may be the one calling.
    found->release()->deleteLater();
    m_clients.erase(found);
    admitWaiting();
}

std::optional<Reply> WebFront::serve(Client &client, const RequestHead &head,
                                     const QByteArray &body)
{
    const bool panel = panelPath(head.path);
    const auto withFields = [panel](Reply reply) {
        if (panel)
            reply.fields.append(panelFields);
        return reply;
    };
    if (const std::optional<Refusal> refused = refusal(head, access())) {
        // A page asked without the token goes to the sign-in page.
        if (refused->status == 401 && !head.upgrade)
            return withFields(seeOther("/panel/login"));
        return withFields(text(refused->status, refused->reason));
    }
    const QByteArray method = head.method == "HEAD" ? QByteArray("GET") : head.method;
    QByteArrayList allowed;
    for (const Route &route : m_routes) {
        QByteArray name;
        if (route.below) {
            if (!head.path.startsWith(route.path) || head.path.size() == route.path.size())
                continue;
            name = head.path.mid(route.path.size());
            if (name.contains('/'))
                continue;
        } else if (head.path != route.path) {
            continue;
        }
        if (route.method != method) {
            const QByteArray allows = route.method == "GET" ? "GET, HEAD" : route.method;
            if (!allowed.contains(allows))
                allowed << allows;
            continue;
        }
        const std::optional<Reply> reply = route.handler({head, body, name, client});
        if (!reply)
            return std::nullopt;
        return withFields(*reply);
    }
    if (allowed.isEmpty())
        return withFields(text(404, "no such page"));
    Reply notAllowed = text(405, head.method + " is not answered here");
    notAllowed.fields.emplaceBack("Allow", allowed.join(", "));
    return withFields(notAllowed);
}

std::optional<Reply> WebFront::upgrade(const Request &request)
{
    const RequestHead &head = request.head;
    if (!head.upgrade || head.method != "GET" || !head.http11) {
        Reply reply = text(426, "the panel's socket is a WebSocket");
        reply.fields.emplaceBack("Upgrade", "websocket");
        return reply;
    }
    if (head.webSocketVersion != "13") {
        Reply reply = text(426, "WebSocket version 13 only");
        reply.fields.emplaceBack("Sec-WebSocket-Version", "13");
        return reply;
    }
    if (!WebSocketWire::validKey(head.webSocketKey))
        return text(400, "a Sec-WebSocket-Key that is not 16 bytes in base64");
    Client &client = request.client;
    client.connection->write(
            replyBytes({101,
                        {},
                        {},
                        {{"Upgrade", "websocket"},
                         {"Connection", "Upgrade"},
                         {"Sec-WebSocket-Accept", WebSocketWire::acceptKey(head.webSocketKey)}},
                        false},
                       false));
    client.connection->disconnect(&client);
    auto socket = std::make_unique<WebSocket>(
            std::move(client.connection), std::exchange(client.buffer, {}), webSocketMessageBytes);
    ended(&client, {});
    m_pages.panelSocket(std::move(socket));
    return std::nullopt;
}

WebFront::Asked WebFront::asked(const RequestHead &head, const Client &client) const
{
    Asked asked;
    asked.local = client.connection->localAddress();
    asked.local.setScopeId({});
    const QString named = hostName(head.host);
    // A name is kept as the client found the instrument by it; an address only when it is
    // one of ours (not, say, a router's in front).
    const bool address = !QHostAddress(named).isNull();
    asked.host = named.isEmpty() || (address && !access().names.contains(named))
            ? asked.local.toString()
            : named;
    return asked;
}

Access WebFront::access() const
{
    Access access;
    access.port = m_listener.serverPort();
    access.token = m_settings.token;
    access.publicOrigins = m_settings.publicOrigins;
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
