#pragma once

#include "scpistatus.h"

#include <QString>

class InstrumentHost;

// One client of the instrument, with its own status model: a connection to the socket port, a
// VXI-11 link, or a front panel page. It is known to the host for as long as it lives.
class Session
{
public:
    // Sweep: the connection of a sweep a page started, which holds the lock while it runs.
    enum class Interface { Socket, Vxi11, Web, Sweep };

    Session(InstrumentHost &host, Interface interface, QString peer);
    virtual ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    Interface interface() const { return m_interface; }
    const QString &peer() const { return m_peer; }

    // The host's turn: runs what the session has waiting, at most a turn's worth. Returns true
    // when more waits. Never deletes the session.
    virtual bool runTurn() { return false; }
    // The answer of a query that came later (*CAL?), a whole response line; its turns go on
    // after it.
    virtual void answerLater(const QByteArray &answer) { (void)answer; }

    Scpi::StatusModel status;

protected:
    InstrumentHost &m_host;

private:
    friend class InstrumentHost;
    Interface m_interface;
    QString m_peer;
    bool m_queued = false; // waiting for a turn, or parked behind another's lock
};
