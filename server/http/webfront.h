#pragma once

#include "access.h"
#include "httpwire.h"
#include "listener.h"

#include <QHostAddress>
#include <QObject>

#include <chrono>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <vector>

class Connection;
class WebSocket;

// The instrument's web pages over HTTP/1.1 of our own: the LXI identification document and the
// welcome page, read-only, and the front panel: its files from the program's resources and its
// one WebSocket, through which alone it changes the board. Each request of a connection is read
// whole, its target decoded and normalised once, judged by the access rules (access.h) on that
// path, and only then routed by the same path: no route repeats the check, and none can be
// reached by another spelling. Connections are counted: at most --max-clients are served at
// once, a connection kept open between requests gives its place to a new one, and as many more
// wait up to `requestWithin` for a place (then 503), the rest refused at once. A connection is
// closed after the idle limit, and a request must be whole within `requestWithin`.
class WebFront final : public QObject
{
    Q_OBJECT

public:
    // Who a page is for: the host the client named, or the address it reached when it named
    // none of this machine's; and the address it reached.
    struct Asked
    {
        QString host;
        QHostAddress local;
    };
    struct Pages
    {
        std::function<QByteArray(const Asked &)> identification;
        std::function<QByteArray(const Asked &)> welcome;
        // A page's WebSocket, past the access rules; none: no front panel.
        std::function<void(std::unique_ptr<WebSocket>)> panelSocket;
        // A file the panel made ("sweep.csv", "sweep.png"); empty when there is none.
        std::function<QByteArray(const QString &name)> panelFile;
    };
    struct Settings
    {
        QByteArray token;            // what the panel asks for (--http-token); empty for none
        QList<Origin> publicOrigins; // --http-origin
        int maxClients = 16;
        std::chrono::seconds idle {600}; // zero: never
    };
    static constexpr std::chrono::seconds requestWithin {10};

    // `log` hears of connections refused or closed for a reason, and of a listener that ran
    // out of descriptors.
    WebFront(Pages pages, Settings settings, std::function<void(const QString &)> log);
    ~WebFront() override;

    bool listen(const QHostAddress &address, quint16 port);
    QString errorString() const { return m_listener.errorString(); }
    quint16 port() const { return m_listener.serverPort(); }
    // HTTP connections open now, not closing; a page's WebSocket is the panel's, not counted
    // here.
    int openCount() const;

private:
    class Client;
    struct Request
    {
        const RequestHead &head;
        const QByteArray &body;
        QByteArray name; // the file below a folder's route
        Client &client;
    };
    // Nothing: the connection was handed over (a WebSocket).
    using Handler = std::function<std::optional<Reply>(const Request &)>;
    struct Route
    {
        QByteArray path; // a folder ("/panel/made/") with `below`: one name under it
        bool below = false;
        QByteArray method; // GET (which answers HEAD too) or POST
        Handler handler;
    };

    void accept(int descriptor);
    // Answers 503 and lets the connection go.
    void refuse(Connection &connection);
    // Takes connections that wait, as far as the limit allows.
    void admitWaiting();
    void ended(Client *client, const QString &why);
    // The gate, then the route; nothing when the connection was handed over.
    std::optional<Reply> serve(Client &client, const RequestHead &head, const QByteArray &body);
    std::optional<Reply> upgrade(const Request &request);
    Asked asked(const RequestHead &head, const Client &client) const;
    Access access() const;

    Pages m_pages;
    Settings m_settings;
    std::function<void(const QString &)> m_log;
    RefusalLog m_refusals {m_log}; // connections beyond the limit: a flood logs a count
    std::vector<Route> m_routes;
    Listener m_listener;
    std::list<std::unique_ptr<Client>> m_clients;
    std::deque<std::unique_ptr<Connection>> m_waiting; // accepted beyond the limit, not read
};
