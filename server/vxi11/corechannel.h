#pragma once

#include "instrumenthost.h"
#include "rpccodec.h"

#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class Connection;
class RpcConnection;
class Vxi11Server;

// One client's VXI-11 core channel: the links it creates, each a session of the instrument its
// device name picks, and its calls, answered in order. A call that must wait (for another
// link's lock, or for an answer until its I/O timeout) holds the channel until it ends or the
// abort channel ends it.
class CoreChannel final : public QObject
{
    Q_OBJECT

public:
    CoreChannel(Vxi11Server &server, std::unique_ptr<Connection> connection);
    ~CoreChannel() override;

    const QString &peer() const { return m_peer; }
    bool holds(std::int32_t link) const { return m_links.contains(link); }
    int linkCount() const { return int(m_links.size()); }
    // device_abort: the call waiting on this link, if any, ends with error 23.
    void abort(std::int32_t link);
    // Sends what is owed and closes; `why` goes to the log.
    void finish(const QString &why);

signals:
    void ended(CoreChannel *channel, const QString &why);

private:
    struct Link;
    struct Waiting
    {
        std::int32_t link = 0;
        InstrumentHost *host = nullptr; // of the lock waited for
        InstrumentHost::WaitId lockWait = 0;
        std::unique_ptr<QTimer> timer;
        // A device_read waiting for an answer that comes later (*CAL?): what it asked.
        bool reading = false;
        std::int32_t requestSize = 0;
        std::int32_t flags = 0;
        char termChar = 0;
    };

    void call(const Rpc::Call &call);
    void succeed(QByteArrayView results);
    // The result of the call in hand for an error, in the shape of its procedure.
    void fail(std::int32_t error);
    Link *find(std::int32_t link);
    // Runs `go` once the link may use its instrument, waiting for another's lock up to the
    // call's lock timeout when the call asks to wait, or fails with error 11.
    void whenFree(Link &link, std::int32_t flags, std::uint32_t lockTimeout,
                  std::function<void()> go);
    void makeLink(QByteArrayView arguments);
    void write(Link &link, QByteArrayView data, bool end);
    void runMessage(Link &link);
    void read(Link &link, std::int32_t requestSize, std::int32_t flags, char termChar,
              std::uint32_t ioTimeout);
    void nothingToRead(Link &link);
    // An answer that came later: kept for the link's next read, or given to the one waiting.
    void answeredLater(Link &link, const QByteArray &answer);
    void lock(Link &link, std::int32_t flags, std::uint32_t lockTimeout);
    void endWaiting();
    void idle();

    Vxi11Server &m_server;
    std::unique_ptr<RpcConnection> m_rpc;
    Connection &m_connection;
    QString m_peer;
    std::map<std::int32_t, std::unique_ptr<Link>> m_links;
    std::uint32_t m_xid = 0;
    std::uint32_t m_procedure = 0;
    std::optional<Waiting> m_waiting;
    bool m_closing = false;
    QString m_why;
};
