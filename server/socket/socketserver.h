#pragma once

#include "listener.h"
#include "session.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <string>

class InstrumentHost;
class SocketSession;

// The instrument on a raw TCP socket, as a bench instrument's port 5025: one program message per
// line from each client, each client a session of its own.
class SocketServer final : public QObject
{
    Q_OBJECT

public:
    struct Limits
    {
        int maxClients = 16;
        qsizetype maxLineBytes = 64 * 1024;
        // Answers a client has not read yet, beyond what the system buffers for it.
        qint64 maxUnreadBytes = 4 * 1024 * 1024;
        // Lines of one client run before the next client's turn.
        int linesPerTurn = 64;
        // A client silent this long, with nothing owed to it, is closed; zero: never.
        std::chrono::seconds idle {600};
    };
    // How long a close waits for the client's end of the connection.
    static constexpr std::chrono::milliseconds linger {2000};

    // `interface`: Sweep for the one connection of a sweep, which takes the lock as it opens
    // (and is closed when another holds it).
    SocketServer(InstrumentHost &host, Limits limits, std::function<void(const QString &)> log,
                 Session::Interface interface = Session::Interface::Socket);
    ~SocketServer() override;

    bool listen(const QHostAddress &address, quint16 port);
    QString errorString() const { return m_listener.errorString(); }
    quint16 port() const { return m_listener.serverPort(); }
    int openCount() const { return int(m_sessions.size()); }

    // Stops listening, sends each client what it is owed and closes it; calls `done` once every
    // connection has closed.
    void finishAll(std::function<void()> done);

private:
    friend class SocketSession;
    void accept(int descriptor);
    // The session's connection has closed: logs why (unless empty) and lets it go.
    void ended(SocketSession *session, const QString &why);

    InstrumentHost &m_host;
    Limits m_limits;
    Session::Interface m_interface;
    std::function<void(const QString &)> m_log;
    RefusalLog m_refused {m_log};
    Listener m_listener;
    std::list<std::unique_ptr<SocketSession>> m_sessions;
    std::function<void()> m_finished;
    std::string m_tooLong; // the detail of -223
};
