#pragma once

#include "listener.h"
#include "rpccodec.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <chrono>

#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;

// A connection handed between processes: its descriptor (SCM_RIGHTS) and the bytes already read
// from it, over a local sequenced-packet socket, never waiting: Busy when the other end has not
// read what it was sent before.
enum class Sent { Done, Busy, Failed };
// Room on the sending end for one hand-off at its largest and a few more: what an instrument
// has not read waits in the sender's own queue, where it can be timed out, not in the system's.
inline constexpr int handOffBuffer = 3 * 1024;
Sent sendConnection(int channel, int descriptor, const QByteArray &received);
enum class Received { Connection, Nothing, End };
// A connection; Nothing for a message that carried none (or was not read whole); End at the end
// of the channel.
Received receiveConnection(int channel, int &descriptor, QByteArray &received);

// What an instrument tells the server of every board once it serves: where it listens.
struct Ready
{
    quint16 socketPort = 0;
    quint16 httpPort = 0; // 0: its pages are off
};
bool sendReady(int channel, const Ready &ready);
// A message from an instrument; nothing for what is no such message. `ended` at the end of the
// channel.
std::optional<Ready> receiveReady(int channel, bool &ended);

// The VXI-11 core channel of a server of several instruments, each in a process of its own: it
// reads a client's calls up to its first create_link and hands the connection, with what it
// read, to the instrument the device name picks. Calls before it get what a device with no link
// gives; a device name no instrument has, error 3 (device not accessible).
class Vxi11Dispatch final : public QObject
{
    Q_OBJECT

public:
    // The instrument's number for a device name ("inst2" 2, "" 0); -1 for no such name.
    static int instrumentNumber(QByteArrayView device);

    enum class HandOff { Taken, Full, NoSuchInstrument };
    // `handTo(number, descriptor, received, xid)`: Taken when the instrument has the connection,
    // or will have it (what it owes the client on create_link's `xid` is then its business);
    // Full when it cannot take more now (the client is told error 9).
    using HandTo = std::function<HandOff(int number, int descriptor, const QByteArray &received,
                                         std::uint32_t xid)>;
    // At most twice `maxClients` connections waiting for their create_link, each closed after
    // `idle` of silence; one refused for a full instrument is closed once told.
    Vxi11Dispatch(HandTo handTo, int maxClients, std::chrono::seconds idle,
                  std::function<void(const QString &)> log);
    ~Vxi11Dispatch() override;

    bool listen(const QHostAddress &address);
    QString errorString() const { return m_core.errorString(); }
    quint16 corePort() const { return m_core.serverPort(); }
    void close();

private:
    struct Client
    {
        std::unique_ptr<QSocketNotifier> notifier;
        std::unique_ptr<QTimer> idle;
        Rpc::RecordReader records {64 * 1024};
        QByteArray stream;   // not yet taken as records
        QByteArray received; // from the start of the record being read
    };

    void accept(int descriptor);
    void readable(int descriptor);
    // What the record is answered; false when the connection has gone elsewhere or must end.
    bool answer(int descriptor, Client &client, const QByteArray &record);
    void drop(int descriptor);

    HandTo m_handTo;
    int m_maxClients;
    std::chrono::seconds m_idle;
    std::function<void(const QString &)> m_log;
    RefusalLog m_refused {m_log};
    Listener m_core;
    QHash<int, std::shared_ptr<Client>> m_clients;
};
