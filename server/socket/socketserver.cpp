#include "socketserver.h"

#include "connection.h"
#include "instrumenthost.h"
#include "socketsession.h"

#include <QTimer>

#include <unistd.h>

SocketServer::SocketServer(InstrumentHost &host, Limits limits,
                           std::function<void(const QString &)> log, Session::Interface interface)
    : m_host(host)
    , m_limits(limits)
    , m_interface(interface)
    , m_log(std::move(log))
    , m_tooLong("a line longer than " + std::to_string(limits.maxLineBytes)
                + " bytes, discarded up to its end")
{
    connect(&m_listener, &Listener::accepted, this, &SocketServer::accept);
    keepAccepting(m_listener, QStringLiteral("the SCPI socket"), m_log);
}

SocketServer::~SocketServer() = default;

bool SocketServer::listen(const QHostAddress &address, quint16 port)
{
    return m_listener.listen(address, port);
}

void SocketServer::accept(int descriptor)
{
    auto connection = std::make_unique<Connection>(descriptor, m_limits.maxLineBytes);
    if (openCount() >= m_limits.maxClients) {
        m_refused.refused(QStringLiteral("%1 refused: %2 clients are connected, as many as --max-clients "
                             "allows")
                      .arg(connection->peer())
                      .arg(m_limits.maxClients));
        return; // closed with the connection, before a byte was read
    }
    const QString peer = connection->peer();
    SocketSession &session = *m_sessions.emplace_back(
            std::make_unique<SocketSession>(*this, m_host, std::move(connection), m_interface));
    m_log(QStringLiteral("%1 connected (%2 open)").arg(peer).arg(openCount()));
    if (session.connection().bytesAvailable() > 0)
        m_host.wantTurn(session);
}

void SocketServer::ended(SocketSession *session, const QString &why)
{
    const auto found = std::ranges::find_if(
            m_sessions, [session](const auto &each) { return each.get() == session; });
    if (found == m_sessions.end())
        return;
    const QString peer = session->peer();
    // Later: the connection that says so is still in its signal.
    found->release()->deleteLater();
    m_sessions.erase(found);
    m_log(why.isEmpty() ? QStringLiteral("%1 closed (%2 open)").arg(peer).arg(openCount())
                        : QStringLiteral("%1 %2 (%3 open)").arg(peer, why).arg(openCount()));
    if (m_sessions.empty() && m_finished)
        std::exchange(m_finished, {})();
}

void SocketServer::finishAll(std::function<void()> done)
{
    m_listener.close();
    if (m_sessions.empty()) {
        QTimer::singleShot(0, this, std::move(done));
        return;
    }
    m_finished = std::move(done);
    for (const auto &session : m_sessions)
        session->finish(QStringLiteral("closed: the server ends"));
}
