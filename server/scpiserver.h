#pragma once

#include "scpistatus.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

#include <deque>
#include <functional>
#include <list>
#include <string>

class QTcpSocket;

namespace Scpi {
class Instrument;
}

// The instrument on a TCP port: one program message per line from each client, one command at a
// time from all of them, each client with its own status model. Single-threaded: the event loop
// takes turns between the clients that have complete lines waiting.
class ScpiServer final : public QObject
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
    };

    ScpiServer(Scpi::Instrument &instrument, Limits limits,
               std::function<void(const QString &)> log);
    ~ScpiServer() override;

    bool listen(const QHostAddress &address, quint16 port);
    QString errorString() const { return m_server.errorString(); }
    quint16 port() const { return m_server.serverPort(); }

    // Sets the power-on bit of every client's event register.
    void powerOn();
    // Sends what each client is owed as far as it goes now, and closes every connection.
    void closeAll();

private:
    struct Client
    {
        QTcpSocket *socket;
        QString peer;
        Scpi::StatusModel status;
        QByteArray input;
        qsizetype start = 0;     // input before this has been run
        bool discarding = false; // the rest of an overlong line, up to its end
        bool waiting = false;    // in the queue of clients with lines to run
        bool gone = false;       // disconnected: its complete lines still run
    };

    enum class Turn { Idle, More, Removed };

    void accept();
    void ready(Client &client);
    void runTurns();
    // Runs up to a turn's lines.
    Turn runTurn(Client &client);
    // Closes the connection, logging why unless it is empty.
    void remove(Client &client, const QString &why);
    int openCount() const;

    Scpi::Instrument &m_instrument;
    Limits m_limits;
    std::function<void(const QString &)> m_log;
    QTcpServer m_server;
    std::list<Client> m_clients;
    std::deque<Client *> m_waiting;
    bool m_running = false;
    std::string m_tooLong; // the detail of -223
};
