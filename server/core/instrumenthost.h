#pragma once

#include "session.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <string_view>
#include <vector>

namespace Scpi {
class Instrument;
}

// What every protocol shares for one instrument: its sessions, one command at a time from all of
// them in turns, the lock that one VXI-11 link may hold against every other session, and what a
// board that came back means to each session. Single-threaded, on the event loop.
class InstrumentHost final : public QObject
{
    Q_OBJECT

public:
    using WaitId = quint64;

    explicit InstrumentHost(Scpi::Instrument &instrument);
    ~InstrumentHost() override;

    Scpi::Instrument &instrument() { return m_instrument; }

    // Runs one program message (a line without its terminator) for the session now; the caller
    // has made sure that mayRun(session).
    QByteArray execute(std::string_view message, Session &session);

    // Queues the session for turns, which go round every session with work waiting; a session
    // shut out by another's lock is parked until the lock goes.
    void wantTurn(Session &session);

    const Session *lockHolder() const { return m_holder; }
    bool mayRun(const Session &session) const
    {
        return m_holder == nullptr || m_holder == &session;
    }
    // Takes the lock when no session holds it.
    bool lock(Session &session);
    // Lets it go; false when the session did not hold it.
    bool unlock(Session &session);
    // Calls done(true) as soon as the session may run (with `take`: as soon as it holds the
    // lock), or done(false) once `timeout` has passed; never before this returns.
    WaitId awaitLock(Session &session, bool take, std::chrono::milliseconds timeout,
                     std::function<void(bool)> done);
    // Forgets a wait without calling it.
    void cancelWait(WaitId id);

    // The board was brought up again: its DAC is at zero. Every open session gets the power-on
    // bit; with no SCPI client open, the next one to open gets it (a page shows the restart
    // itself, so it takes the bit from no one).
    void boardRestarted();
    int restarts() const { return m_restarts; }

    int sessionCount(Session::Interface interface) const;

    // A query whose answer comes later (*CAL?): the session that ran the message in hand, whose
    // turns stop until answer() gives it the line. A session gone meanwhile is skipped.
    Session *executing() const { return m_executing; }
    bool awaiting(const Session &session) const;
    // `error`, when not 0, goes into the session's error queue with `detail` first.
    void answer(Session *session, const QByteArray &line, int error = 0,
                const QByteArray &detail = {});

signals:
    // A program message ran: what it set may have changed.
    void executed();

private:
    friend class Session;
    struct Wait
    {
        WaitId id;
        Session *session;
        bool take;
        std::function<void(bool)> done;
        std::unique_ptr<QTimer> timer;
    };

    void opened(Session &session);
    void closed(Session &session);
    void runTurns();
    void released();
    void serveWaits();

    Scpi::Instrument &m_instrument;
    std::vector<Session *> m_sessions;
    std::deque<Session *> m_turns;
    std::vector<Session *> m_parked;
    Session *m_holder = nullptr;
    Session *m_executing = nullptr;
    std::vector<const Session *> m_awaiting;
    std::list<Wait> m_waits;
    WaitId m_lastWait = 0;
    bool m_running = false;
    bool m_serving = false;
    bool m_unseenRestart = false;
    int m_restarts = 0;
};
