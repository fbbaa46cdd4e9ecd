#include "portmapper.h"

#include "connection.h"
#include "rpcconnection.h"

#include <QFileInfo>
#include <QNetworkDatagram>
#include <QTcpSocket>

#include <random>

namespace {

// rpcbind's own procedures (versions 3 and 4).
enum RpcbindProcedure : std::uint32_t { rpcbindSet = 1, rpcbindUnset = 2, rpcbindDump = 4 };
constexpr qsizetype maxCallBytes = 8 * 1024;

} // namespace

PortMapper::PortMapper(std::vector<PortMap::Mapping> mappings, int maxClients,
                       std::chrono::seconds idle, std::function<void(const QString &)> log)
    : m_mappings(std::move(mappings))
    , m_maxClients(maxClients)
    , m_idle(idle)
    , m_log(std::move(log))
{
    connect(&m_udp, &QUdpSocket::readyRead, this, &PortMapper::datagrams);
    connect(&m_tcp, &Listener::accepted, this, &PortMapper::accept);
    keepAccepting(m_tcp, QStringLiteral("the port mapper"), m_log);
}

PortMapper::~PortMapper() = default;

bool PortMapper::listen(const QHostAddress &address, quint16 port, QString &error)
{
    if (!m_tcp.listen(address, port)) {
        error = m_tcp.errorString();
        return false;
    }
    // Alone on the port: two port mappers on one address would answer at random.
    if (!m_udp.bind(address, port, QAbstractSocket::DontShareAddress)) {
        error = m_udp.errorString();
        m_tcp.close();
        return false;
    }
    return true;
}

void PortMapper::datagrams()
{
    while (m_udp.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_udp.receiveDatagram(maxCallBytes);
        Rpc::Call call;
        QByteArray reply;
        const Rpc::CallProblem problem = Rpc::readCall(datagram.data(), call);
        switch (problem) {
        case Rpc::CallProblem::NotACall:
            continue;
        case Rpc::CallProblem::RpcVersion:
        case Rpc::CallProblem::BadCredential:
            reply = Rpc::problemReply(problem, call.xid);
            break;
        case Rpc::CallProblem::None:
            reply = PortMap::answer(call, m_mappings.data(), m_mappings.size());
            break;
        }
        m_udp.writeDatagram(reply, datagram.senderAddress(), quint16(datagram.senderPort()));
    }
}

void PortMapper::accept(int descriptor)
{
    auto connection = std::make_unique<Connection>(descriptor, maxCallBytes);
    if (int(m_connections.size()) >= m_maxClients) {
        m_refused.refused(QStringLiteral("%1 refused by the port mapper: %2 connections are open, as many as "
                             "--max-clients allows")
                      .arg(connection->peer())
                      .arg(m_maxClients));
        return;
    }
    connection->setIdleLimit(m_idle);
    RpcConnection &rpc = *m_connections.emplace_back(
            std::make_unique<RpcConnection>(std::move(connection), maxCallBytes));
    connect(&rpc, &RpcConnection::called, this, [this, &rpc](const Rpc::Call &call) {
        rpc.reply(PortMap::answer(call, m_mappings.data(), m_mappings.size()));
    });
    const auto finish = [&rpc] {
        rpc.connection().finish(std::chrono::milliseconds(1000));
    };
    connect(&rpc, &RpcConnection::drained, this, finish);
    connect(&rpc.connection(), &Connection::idle, this, finish);
    connect(&rpc.connection(), &Connection::finished, this, [this, &rpc] {
        const auto found = std::ranges::find_if(
                m_connections, [&rpc](const auto &each) { return each.get() == &rpc; });
        if (found != m_connections.end()) {
            found->release()->deleteLater();
            m_connections.erase(found);
        }
    });
}

RpcbindClient::RpcbindClient(QString socketPath)
    : m_path(std::move(socketPath))
    , m_lastXid(std::random_device()())
{
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        m_problem = QStringLiteral("no answer within %1 ms").arg(callTimeout.count());
        m_socket.abort();
        done(std::nullopt);
    });
    connect(&m_socket, &QLocalSocket::connected, this, &RpcbindClient::next);
    connect(&m_socket, &QLocalSocket::readyRead, this, &RpcbindClient::received);
    connect(&m_socket, &QLocalSocket::errorOccurred, this, [this] {
        if (m_calls.empty())
            return;
        m_problem = m_socket.errorString();
        m_socket.abort();
        done(std::nullopt);
    });
}

RpcbindClient::~RpcbindClient() = default;

void RpcbindClient::call(std::uint32_t version, std::uint32_t procedure, QByteArray arguments,
                         std::function<void(std::optional<QByteArray>)> then)
{
    const std::uint32_t xid = ++m_lastXid;
    m_calls.push_back({xid, Rpc::callMessage(xid, PortMap::program, version, procedure, arguments),
                       std::move(then)});
    next();
}

void RpcbindClient::next()
{
    if (m_sent || m_calls.empty())
        return;
    m_timeout.start(callTimeout);
    if (m_socket.state() == QLocalSocket::UnconnectedState) {
        m_socket.connectToServer(m_path);
        return;
    }
    if (m_socket.state() != QLocalSocket::ConnectedState)
        return;
    m_sent = true;
    m_socket.write(Rpc::markRecord(m_calls.front().message));
}

void RpcbindClient::received()
{
    m_stream += m_socket.readAll();
    QByteArray record;
    while (!m_calls.empty()
           && m_records.take(m_stream, record) == Rpc::RecordReader::Result::Record) {
        QByteArrayView results;
        if (Rpc::readReply(record, m_calls.front().xid, results)) {
            done(results.toByteArray());
        } else {
            m_problem = QStringLiteral("rpcbind refused the call");
            done(std::nullopt);
        }
    }
}

void RpcbindClient::done(std::optional<QByteArray> results)
{
    if (m_calls.empty())
        return;
    m_timeout.stop();
    m_sent = false;
    const Pending call = std::move(m_calls.front());
    m_calls.pop_front();
    call.then(std::move(results));
    next();
}

Vxi11Lookup::Vxi11Lookup(const QHostAddress &address, quint16 corePort, int maxClients,
                         std::chrono::seconds idle, std::function<void(const QString &)> log)
    : m_address(address)
    , m_corePort(corePort)
    , m_maxClients(maxClients)
    , m_idle(idle)
    , m_log(std::move(log))
    , m_netId(address.protocol() == QAbstractSocket::IPv6Protocol ? "tcp6" : "tcp")
    , m_rpcbind(QString::fromLatin1(rpcbindSocket))
{ }

Vxi11Lookup::~Vxi11Lookup() = default;

QByteArray Vxi11Lookup::registration(QByteArrayView address) const
{
    return PortMap::registration(Vxi11::coreProgram, Vxi11::programVersion, m_netId, address, {});
}

void Vxi11Lookup::start(std::function<void(bool, const QString &)> done)
{
    m_done = std::move(done);
    if (!QFileInfo::exists(QString::fromLatin1(rpcbindSocket)))
        return ownPortMapper(
                QStringLiteral("no rpcbind runs (%1 is not there)").arg(rpcbindSocket));
    // Another server's registration is left alone while that server answers on it: the first
    // keeps VXI-11. One left by a server that has gone is taken over.
    m_rpcbind.call(PortMap::rpcbindVersion, rpcbindDump, {},
                   [this](std::optional<QByteArray> dump) {
                       if (!dump)
                           return ownPortMapper(QStringLiteral("rpcbind does not answer on %1 (%2)")
                                                        .arg(rpcbindSocket, m_rpcbind.problem()));
                       const QByteArray listed
                               = PortMap::registeredAddress(*dump, Vxi11::coreProgram, m_netId);
                       QByteArray host;
                       std::uint16_t port = 0;
                       if (listed.isEmpty() || !PortMap::splitUniversalAddress(listed, host, port))
                           return registerWithRpcbind(false);
                       probeListed(QString::fromLatin1(host), port);
                   });
}

// Whether the server rpcbind names still answers there.
void Vxi11Lookup::probeListed(const QString &host, std::uint16_t port)
{
    m_probe = std::make_unique<QTcpSocket>();
    m_probeTimer.setSingleShot(true);
    const QString where = endpointText(QHostAddress(host), port);
    const auto stale = [this] {
        m_probeTimer.stop();
        m_probe.release()->deleteLater();
        registerWithRpcbind(true);
    };
    connect(&m_probeTimer, &QTimer::timeout, this, stale, Qt::SingleShotConnection);
    connect(m_probe.get(), &QTcpSocket::errorOccurred, this, stale, Qt::SingleShotConnection);
    connect(
            m_probe.get(), &QTcpSocket::connected, this,
            [this, where] {
                m_probeTimer.stop();
                m_probe->disconnect(this);
                m_probe->abort();
                m_probe.release()->deleteLater();
                m_done(false,
                       QStringLiteral("rpcbind names another server's VXI-11 at %1, "
                                      "which answers: it keeps it, and this one has "
                                      "none")
                               .arg(where));
            },
            Qt::SingleShotConnection);
    m_probeTimer.start(RpcbindClient::callTimeout);
    m_probe->connectToHost(host, port);
}

void Vxi11Lookup::registerWithRpcbind(bool replacing)
{
    const QByteArray address
            = PortMap::universalAddress(m_address.toString().toLatin1(), m_corePort);
    const auto set = [this, address, replacing] {
        m_rpcbind.call(PortMap::rpcbindVersion, rpcbindSet, registration(address),
                       [this, replacing](std::optional<QByteArray> set) {
                           bool registered = false;
                           if (set && PortMap::readBoolean(*set, registered) && registered) {
                               m_registered = true;
                               return m_done(true,
                                             replacing ? QStringLiteral("found through rpcbind "
                                                                        "(in place of a server "
                                                                        "that has gone)")
                                                       : QStringLiteral("found through rpcbind"));
                           }
                           m_done(false,
                                  QStringLiteral("rpcbind refused to register it (%1)")
                                          .arg(set ? QStringLiteral("another owner holds "
                                                                    "the program")
                                                   : m_rpcbind.problem()));
                       });
    };
    if (!replacing)
        return set();
    m_rpcbind.call(PortMap::rpcbindVersion, rpcbindUnset, registration({}),
                   [set](std::optional<QByteArray>) { set(); });
}

void Vxi11Lookup::ownPortMapper(const QString &noRpcbind)
{
    if (m_address.protocol() == QAbstractSocket::IPv6Protocol)
        return m_done(false,
                      noRpcbind
                              + QStringLiteral(", and a port mapper of our own answers "
                                               "IPv4 only"));
    using namespace PortMap;
    m_own = std::make_unique<PortMapper>(
            std::vector<Mapping> {{program, version, tcp, port},
                                  {program, version, udp, port},
                                  {Vxi11::coreProgram, Vxi11::programVersion, tcp, m_corePort}},
            m_maxClients, m_idle, m_log);
    QString error;
    if (m_own->listen(m_address, port, error)) {
        return m_done(true,
                      QStringLiteral("found through a port mapper of our own on %1 (%2)")
                              .arg(endpointText(m_address, port), noRpcbind));
    }
    m_own.reset();
    m_done(false,
           QStringLiteral("%1, and port %2 cannot be bound on %3 (%4): start rpcbind, "
                          "or let the server bind ports below 1024")
                   .arg(noRpcbind)
                   .arg(port)
                   .arg(m_address.toString(), error));
}

void Vxi11Lookup::stop(std::function<void()> done)
{
    m_own.reset();
    if (!std::exchange(m_registered, false)) {
        QTimer::singleShot(0, this, std::move(done));
        return;
    }
    // Taken back only while it still names this server's port: another may have come since.
    const QByteArray ours = PortMap::universalAddress(m_address.toString().toLatin1(), m_corePort);
    m_rpcbind.call(
            PortMap::rpcbindVersion, rpcbindDump, {},
            [this, ours, done](std::optional<QByteArray> found) {
                if (!found
                    || !PortMap::listsRegistration(*found, Vxi11::coreProgram, m_netId, ours))
                    return done();
                m_rpcbind.call(PortMap::rpcbindVersion, rpcbindUnset, registration({}),
                               [done](std::optional<QByteArray>) { done(); });
            });
}
