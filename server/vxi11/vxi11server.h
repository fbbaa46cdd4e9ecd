#pragma once

#include "listener.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

class AbortChannel;
class CoreChannel;
class InstrumentHost;

// The instruments as VXI-11 devices (the VISA resource TCPIP::host::inst0::INSTR): the core
// channel, where clients create links to a device by name and talk to it, and the abort
// channel, on ports the system chooses; the port mapper tells clients the core channel's.
class Vxi11Server final : public QObject
{
    Q_OBJECT

public:
    struct Limits
    {
        // Links over every connection; connections on each channel, twice as many.
        int maxClients = 16;
        qsizetype maxLineBytes = 64 * 1024;
        // Answers not read with device_read, and replies the client has not taken, each.
        qint64 maxUnreadBytes = 4 * 1024 * 1024;
        std::chrono::seconds idle {600};
    };
    // What a client is told a write may carry: the size VISA clients cut their writes to.
    // Longer writes are taken too.
    static constexpr std::uint32_t maxReceiveSize = 1024;
    static constexpr std::chrono::milliseconds linger {2000};

    Vxi11Server(Limits limits, std::function<void(const QString &)> log);
    ~Vxi11Server() override;

    // The device "inst<number>"; number 0 is also the device of an empty name.
    void addDevice(InstrumentHost &host, int number);
    // The abort channel, and the core channel unless its connections come through adopt().
    bool listen(const QHostAddress &address, bool core = true);
    // A core channel connection accepted elsewhere, with the bytes already read from it.
    void adopt(int descriptor, const QByteArray &received);
    QString errorString() const { return m_error; }
    quint16 corePort() const { return m_core.serverPort(); }
    quint16 abortPort() const { return m_abort.serverPort(); }
    // Closes the listeners, and every channel once it has sent what it owes; then `done`.
    void finishAll(std::function<void()> done);

    // For the channels.
    InstrumentHost *device(QByteArrayView name) const;
    std::int32_t newLink() { return ++m_lastLink; }
    int linkCount() const;
    void abort(std::int32_t link, bool &found);
    const Limits &limits() const { return m_limits; }
    const std::string &tooLong() const { return m_tooLong; }
    void log(const QString &line) const { m_log(line); }

private:
    int connectionsAtMost() const { return 2 * m_limits.maxClients; }
    void acceptCore(int descriptor) { adopt(descriptor, {}); }
    void acceptAbort(int descriptor);
    void ended(CoreChannel *channel, const QString &why);
    void checkFinished();

    Limits m_limits;
    std::function<void(const QString &)> m_log;
    RefusalLog m_refused {m_log};
    RefusalLog m_refusedAborts {m_log};
    std::map<int, InstrumentHost *> m_devices;
    Listener m_core;
    Listener m_abort;
    QString m_error;
    std::list<std::unique_ptr<CoreChannel>> m_channels;
    std::list<std::unique_ptr<AbortChannel>> m_aborts;
    std::int32_t m_lastLink = 0;
    std::string m_tooLong;
    std::function<void()> m_finished;
};
