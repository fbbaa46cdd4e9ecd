#include "vxi11server.h"

#include "connection.h"
#include "corechannel.h"
#include "instrumenthost.h"
#include "rpcconnection.h"
#include "vxi11codec.h"

#include <QTimer>

// One client's abort channel: device_abort, which ends the call a link is waiting in.
class AbortChannel final : public QObject
{
public:
    AbortChannel(Vxi11Server &server, std::unique_ptr<Connection> connection)
        : m_server(server)
        , m_rpc(std::move(connection), 1024)
    {
        connect(&m_rpc, &RpcConnection::called, this, &AbortChannel::call);
        connect(&m_rpc, &RpcConnection::drained, this,
                [this] { m_rpc.connection().finish(Vxi11Server::linger); });
    }

    Connection &connection() { return m_rpc.connection(); }

private:
    void call(const Rpc::Call &call)
    {
        using namespace Vxi11;
        if (call.program != abortProgram)
            return m_rpc.reply(Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::ProgramUnavailable));
        if (call.version != programVersion)
            return m_rpc.reply(Rpc::programMismatchReply(call.xid, programVersion, programVersion));
        std::int32_t link = 0;
        if (call.procedure == nullProcedure)
            return m_rpc.reply(Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::Success));
        if (call.procedure != deviceAbort)
            return m_rpc.reply(
                    Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::ProcedureUnavailable));
        if (!readLink(call.arguments, link))
            return m_rpc.reply(Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::GarbageArguments));
        bool found = false;
        m_server.abort(link, found);
        m_rpc.reply(Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::Success,
                                       errorResult(found ? noError : invalidLink)));
    }

    Vxi11Server &m_server;
    RpcConnection m_rpc;
};

Vxi11Server::Vxi11Server(Limits limits, std::function<void(const QString &)> log)
    : m_limits(limits)
    , m_log(std::move(log))
    , m_tooLong("a message longer than " + std::to_string(limits.maxLineBytes)
                + " bytes, discarded up to its end")
{
    connect(&m_core, &Listener::accepted, this, &Vxi11Server::acceptCore);
    connect(&m_abort, &Listener::accepted, this, &Vxi11Server::acceptAbort);
    keepAccepting(m_core, QStringLiteral("VXI-11's core channel"), m_log);
    keepAccepting(m_abort, QStringLiteral("VXI-11's abort channel"), m_log);
}

Vxi11Server::~Vxi11Server() = default;

void Vxi11Server::addDevice(InstrumentHost &host, int number)
{
    m_devices[number] = &host;
}

InstrumentHost *Vxi11Server::device(QByteArrayView name) const
{
    const QByteArray lower = name.toByteArray().toLower();
    for (const auto &[number, host] : m_devices) {
        if (lower == "inst" + QByteArray::number(number) || (lower.isEmpty() && number == 0))
            return host;
    }
    return nullptr;
}

bool Vxi11Server::listen(const QHostAddress &address, bool core)
{
    if (core && !m_core.listen(address, 0)) {
        m_error = m_core.errorString();
        return false;
    }
    if (!m_abort.listen(address, 0)) {
        m_error = m_abort.errorString();
        m_core.close();
        return false;
    }
    return true;
}

int Vxi11Server::linkCount() const
{
    int links = 0;
    for (const auto &channel : m_channels)
        links += channel->linkCount();
    return links;
}

void Vxi11Server::abort(std::int32_t link, bool &found)
{
    for (const auto &channel : m_channels) {
        if (channel->holds(link)) {
            found = true;
            channel->abort(link);
            return;
        }
    }
    found = false;
}

void Vxi11Server::adopt(int descriptor, const QByteArray &received)
{
    auto connection = std::make_unique<Connection>(descriptor, 64 * 1024);
    connection->feed(received);
    // Twice as many connections as links: one beyond the links is told so by create_link
    // (error 9), as an instrument does, rather than reset.
    if (int(m_channels.size()) >= connectionsAtMost()) {
        m_refused.refused(QStringLiteral("%1 refused on VXI-11: %2 connections are open, twice --max-clients")
                      .arg(connection->peer())
                      .arg(connectionsAtMost()));
        return;
    }
    const QString peer = connection->peer();
    CoreChannel &channel
            = *m_channels.emplace_back(std::make_unique<CoreChannel>(*this, std::move(connection)));
    connect(&channel, &CoreChannel::ended, this, &Vxi11Server::ended);
    m_log(QStringLiteral("%1 connected on VXI-11 (%2 open)").arg(peer).arg(m_channels.size()));
}

void Vxi11Server::acceptAbort(int descriptor)
{
    auto connection = std::make_unique<Connection>(descriptor, 1024);
    if (int(m_aborts.size()) >= connectionsAtMost()) {
        m_refusedAborts.refused(QStringLiteral("%1 refused on VXI-11's abort channel: %2 connections are open, "
                             "twice --max-clients")
                      .arg(connection->peer())
                      .arg(connectionsAtMost()));
        return;
    }
    connection->setIdleLimit(m_limits.idle);
    AbortChannel &channel
            = *m_aborts.emplace_back(std::make_unique<AbortChannel>(*this, std::move(connection)));
    // A silent abort channel goes as a silent core channel does.
    connect(&channel.connection(), &Connection::idle, this,
            [&channel] { channel.connection().finish(linger); });
    connect(&channel.connection(), &Connection::finished, this, [this, &channel] {
        const auto found = std::ranges::find_if(
                m_aborts, [&channel](const auto &each) { return each.get() == &channel; });
        if (found != m_aborts.end()) {
            found->release()->deleteLater();
            m_aborts.erase(found);
        }
        checkFinished();
    });
}

void Vxi11Server::ended(CoreChannel *channel, const QString &why)
{
    const auto found = std::ranges::find_if(
            m_channels, [channel](const auto &each) { return each.get() == channel; });
    if (found == m_channels.end())
        return;
    const QString peer = channel->peer();
    found->release()->deleteLater();
    m_channels.erase(found);
    const int open = int(m_channels.size());
    m_log(why.isEmpty() ? QStringLiteral("%1 closed on VXI-11 (%2 open)").arg(peer).arg(open)
                        : QStringLiteral("%1 %2 on VXI-11 (%3 open)").arg(peer, why).arg(open));
    checkFinished();
}

void Vxi11Server::finishAll(std::function<void()> done)
{
    m_core.close();
    m_abort.close();
    m_finished = std::move(done);
    for (const auto &channel : m_channels)
        channel->finish(QStringLiteral("closed: the server ends"));
    for (const auto &channel : m_aborts)
        channel->connection().finish(linger);
    QTimer::singleShot(0, this, &Vxi11Server::checkFinished);
}

void Vxi11Server::checkFinished()
{
    if (m_finished && m_channels.empty() && m_aborts.empty())
        std::exchange(m_finished, {})();
}
