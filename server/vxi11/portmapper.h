#pragma once

#include "listener.h"
#include "vxi11codec.h"

#include <QLocalSocket>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

#include <chrono>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <vector>

class QTcpSocket;
class RpcConnection;

// A port mapper of our own, as instruments have: on port 111, TCP and UDP, it answers GETPORT
// for the mappings it is given (the VXI-11 core channel) and DUMP, and refuses registrations.
class PortMapper final : public QObject
{
    Q_OBJECT

public:
    // At most `maxClients` TCP connections, each closed after `idle` of silence.
    PortMapper(std::vector<PortMap::Mapping> mappings, int maxClients, std::chrono::seconds idle,
               std::function<void(const QString &)> log);
    ~PortMapper() override;

    bool listen(const QHostAddress &address, quint16 port, QString &error);

private:
    void datagrams();
    void accept(int descriptor);

    std::vector<PortMap::Mapping> m_mappings;
    int m_maxClients;
    std::chrono::seconds m_idle;
    std::function<void(const QString &)> m_log;
    RefusalLog m_refused {m_log};
    QUdpSocket m_udp;
    Listener m_tcp;
    std::list<std::unique_ptr<RpcConnection>> m_connections;
};

// Calls to the system's rpcbind over its local socket, one at a time, each bounded in time.
class RpcbindClient final : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds callTimeout {2000};

    explicit RpcbindClient(QString socketPath);
    ~RpcbindClient() override;

    // `then` gets the results, or nothing when rpcbind could not be reached or refused the call.
    void call(std::uint32_t version, std::uint32_t procedure, QByteArray arguments,
              std::function<void(std::optional<QByteArray>)> then);
    // Why the last call got nothing.
    const QString &problem() const { return m_problem; }

private:
    struct Pending
    {
        std::uint32_t xid;
        QByteArray message;
        std::function<void(std::optional<QByteArray>)> then;
    };

    void next();
    void received();
    void done(std::optional<QByteArray> results);

    QString m_path;
    QLocalSocket m_socket;
    QTimer m_timeout;
    std::deque<Pending> m_calls;
    bool m_sent = false;
    Rpc::RecordReader m_records {64 * 1024};
    QByteArray m_stream;
    std::uint32_t m_lastXid;
    QString m_problem;
};

// Makes the VXI-11 core channel findable by the port mapper's rules: registered with the
// system's rpcbind where one runs; else a port mapper of our own on port 111 of the listening
// address, where the server may bind it; else not at all, and VXI-11 is off.
class Vxi11Lookup final : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *rpcbindSocket = "/run/rpcbind.sock";

    // `maxClients` and `idle` for the port mapper of its own, if it starts one.
    Vxi11Lookup(const QHostAddress &address, quint16 corePort, int maxClients,
                std::chrono::seconds idle, std::function<void(const QString &)> log);
    ~Vxi11Lookup() override;

    // done(true, how it is found) or done(false, why VXI-11 is off).
    void start(std::function<void(bool on, const QString &text)> done);
    // Takes the registration back from rpcbind when it is still ours; then done().
    void stop(std::function<void()> done);

private:
    void ownPortMapper(const QString &noRpcbind);
    void probeListed(const QString &host, std::uint16_t port);
    void registerWithRpcbind(bool replacing);
    QByteArray registration(QByteArrayView address) const;

    QHostAddress m_address;
    quint16 m_corePort;
    int m_maxClients;
    std::chrono::seconds m_idle;
    std::function<void(const QString &)> m_log;
    QByteArray m_netId;
    RpcbindClient m_rpcbind;
    std::unique_ptr<PortMapper> m_own;
    std::unique_ptr<QTcpSocket> m_probe;
    QTimer m_probeTimer;
    bool m_registered = false;
    std::function<void(bool, const QString &)> m_done;
};
