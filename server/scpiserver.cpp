#include "scpiserver.h"

#include "instrument.h"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace {

constexpr qint64 readChunk = 64 * 1024;

QString endpoint(const QHostAddress &address, quint16 port)
{
    const bool six = address.protocol() == QAbstractSocket::IPv6Protocol;
    return (six ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2"))
            .arg(address.toString())
            .arg(port);
}

} // namespace

ScpiServer::ScpiServer(Scpi::Instrument &instrument, Limits limits,
                       std::function<void(const QString &)> log)
    : m_instrument(instrument)
    , m_limits(limits)
    , m_log(std::move(log))
    , m_tooLong("a line longer than " + std::to_string(limits.maxLineBytes)
                + " bytes, discarded up to its end")
{
    connect(&m_server, &QTcpServer::newConnection, this, &ScpiServer::accept);
}

ScpiServer::~ScpiServer()
{
    for (Client &client : m_clients)
        client.socket->disconnect(this);
}

bool ScpiServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port);
}

int ScpiServer::openCount() const
{
    return int(std::ranges::count_if(m_clients, [](const Client &client) { return !client.gone; }));
}

void ScpiServer::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        const QString peer = endpoint(socket->peerAddress(), socket->peerPort());
        if (openCount() >= m_limits.maxClients) {
            m_log(QStringLiteral("%1 refused: %2 clients are connected, as many as --max-clients "
                                 "allows")
                          .arg(peer)
                          .arg(m_limits.maxClients));
            socket->close();
            socket->deleteLater();
            continue;
        }
        // Answers go out at once, not held back to fill a packet.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // What a client sends beyond this waits in the system, which slows the client down.
        socket->setReadBufferSize(readChunk);
        Client &client = m_clients.emplace_back();
        client.socket = socket;
        client.peer = peer;
        connect(socket, &QTcpSocket::readyRead, this, [this, &client] { ready(client); });
        connect(socket, &QTcpSocket::disconnected, this, [this, &client] {
            client.gone = true;
            m_log(QStringLiteral("%1 closed (%2 open)").arg(client.peer).arg(openCount()));
            ready(client);
        });
        m_log(QStringLiteral("%1 connected (%2 open)").arg(peer).arg(openCount()));
        if (socket->bytesAvailable() > 0)
            ready(client);
    }
}

void ScpiServer::ready(Client &client)
{
    if (!client.waiting) {
        client.waiting = true;
        m_waiting.push_back(&client);
    }
    runTurns();
}

// One turn for each client waiting; those with more lines wait for the next round, after the
// event loop has had its say (new connections, answers going out).
void ScpiServer::runTurns()
{
    if (m_running)
        return;
    m_running = true;
    for (std::size_t round = m_waiting.size(); round > 0 && !m_waiting.empty(); --round) {
        Client *client = m_waiting.front();
        m_waiting.pop_front();
        client->waiting = false;
        switch (runTurn(*client)) {
        case Turn::Removed:
            break;
        case Turn::More:
            client->waiting = true;
            m_waiting.push_back(client);
            break;
        case Turn::Idle:
            if (client->gone)
                remove(*client, {});
            break;
        }
    }
    m_running = false;
    if (!m_waiting.empty())
        QTimer::singleShot(0, this, &ScpiServer::runTurns);
}

ScpiServer::Turn ScpiServer::runTurn(Client &client)
{
    for (int lines = 0; lines < m_limits.linesPerTurn;) {
        const qsizetype end = client.input.indexOf('\n', client.start);
        if (end < 0) {
            client.input.remove(0, client.start);
            client.start = 0;
            if (client.input.size() > m_limits.maxLineBytes) {
                if (!client.discarding)
                    client.status.report(Scpi::Error::tooMuchData, m_tooLong);
                client.discarding = true;
                client.input.clear();
            }
            const qint64 available = client.socket->bytesAvailable();
            if (available <= 0)
                break;
            client.input += client.socket->read(std::min(available, readChunk));
            continue;
        }
        std::string_view line(client.input.constData() + client.start,
                              std::size_t(end - client.start));
        client.start = end + 1;
        if (std::exchange(client.discarding, false))
            continue;
        ++lines;
        if (qsizetype(line.size()) > m_limits.maxLineBytes) {
            client.status.report(Scpi::Error::tooMuchData, m_tooLong);
            continue;
        }
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const QByteArray answer = m_instrument.execute(line, client.status);
        if (answer.isEmpty() || client.gone)
            continue;
        client.socket->write(answer);
        if (client.socket->bytesToWrite() > m_limits.maxUnreadBytes) {
            remove(client,
                   QStringLiteral("closed: it left more than %1 bytes of answers unread")
                           .arg(m_limits.maxUnreadBytes));
            return Turn::Removed;
        }
    }
    if (!client.gone)
        client.socket->flush();
    const bool more
            = client.input.indexOf('\n', client.start) >= 0 || client.socket->bytesAvailable() > 0;
    return more ? Turn::More : Turn::Idle;
}

void ScpiServer::remove(Client &client, const QString &why)
{
    client.socket->disconnect(this);
    client.socket->abort();
    client.socket->deleteLater();
    std::erase(m_waiting, &client);
    const bool wasOpen = !client.gone;
    const QString peer = client.peer;
    m_clients.remove_if([&client](const Client &each) { return &each == &client; });
    if (wasOpen && !why.isEmpty())
        m_log(QStringLiteral("%1 %2 (%3 open)").arg(peer, why).arg(openCount()));
}

void ScpiServer::powerOn()
{
    for (Client &client : m_clients)
        client.status.setEvents(Scpi::Event::powerOn);
}

void ScpiServer::closeAll()
{
    m_server.close();
    while (!m_clients.empty()) {
        Client &client = m_clients.front();
        if (!client.gone)
            client.socket->flush();
        remove(client, QStringLiteral("closed: the server ends"));
    }
}
