#pragma once

#include <QTcpServer>
#include <QTimer>

#include <functional>

// Keeps `server` accepting whatever the system's descriptors do: an accept that fails for want of
// them (EMFILE, ENFILE) makes Qt pause the listener for good; here it says so once in the log
// and tries again every `retry` until it accepts, so that a flood that is over never leaves a
// port deaf.
void keepAccepting(QTcpServer &server, const QString &name,
                   std::function<void(const QString &)> log,
                   std::chrono::milliseconds retry = std::chrono::milliseconds(100));

// A listening TCP socket that hands each accepted connection over as its bare descriptor, for a
// Connection to own.
class Listener final : public QTcpServer
{
    Q_OBJECT

public:
    using QTcpServer::QTcpServer;

signals:
    void accepted(int descriptor);

protected:
    void incomingConnection(qintptr descriptor) override { emit accepted(int(descriptor)); }
};

// "127.0.0.1:5025", "[::1]:5025"
QString endpointText(const QHostAddress &address, quint16 port);

// The log of one kind of refusal: the first said as it happens, then at most one line a second
// counting the rest, so that a flood of connections is no flood of the log (which a reader
// that falls behind would make the server wait for).
class RefusalLog final
{
public:
    explicit RefusalLog(std::function<void(const QString &)> log);
    // `line` is said, or counted when one was said less than a second ago.
    void refused(const QString &line);

private:
    std::function<void(const QString &)> m_log;
    QTimer m_quiet;
    int m_unsaid = 0;
    QString m_last;
};

// The server's descriptor limit raised to what the system allows it (its hard limit), for the
// connections of every interface; the limit it has now.
long raiseDescriptorLimit();
