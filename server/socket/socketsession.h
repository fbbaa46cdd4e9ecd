#pragma once

#include "session.h"
#include "socketserver.h"

#include <QObject>

#include <memory>

class Connection;

// One client of the socket port: lines in, answer lines out, in the host's turns. A client that
// ends its input still has every complete line run and answered before the connection closes.
class SocketSession final : public QObject, public Session
{
    Q_OBJECT

public:
    SocketSession(SocketServer &server, InstrumentHost &host,
                  std::unique_ptr<Connection> connection, Interface interface);
    ~SocketSession() override;

    bool runTurn() override;
    void answerLater(const QByteArray &answer) override;
    // Sends what is owed and closes; `why` goes to the log once it has closed.
    void finish(const QString &why);
    Connection &connection() { return *m_connection; }

private:
    void idle();
    bool hasWork() const;

    SocketServer &m_server;
    std::unique_ptr<Connection> m_connection;
    QByteArray m_input;
    qsizetype m_start = 0;     // input before this has been run
    bool m_discarding = false; // the rest of an overlong line, up to its end
    bool m_closing = false;
    QString m_why;
};
