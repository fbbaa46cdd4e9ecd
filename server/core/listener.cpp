#include "listener.h"

#include <sys/resource.h>

QString endpointText(const QHostAddress &address, quint16 port)
{
    const bool six = address.protocol() == QAbstractSocket::IPv6Protocol;
    return (six ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2"))
            .arg(address.toString())
            .arg(port);
}

void keepAccepting(QTcpServer &server, const QString &name,
                   std::function<void(const QString &)> log, std::chrono::milliseconds retry)
{
    struct State
    {
        bool paused = false;
        bool failedSinceResume = false;
    };
    auto *again = new QTimer(&server);
    again->setInterval(retry);
    auto state = std::make_shared<State>();
    QObject::connect(again, &QTimer::timeout, &server, [&server, again, state, name, log] {
        // A whole interval without a failure since the last resume: it accepts again.
        if (!state->failedSinceResume) {
            again->stop();
            state->paused = false;
            log(QStringLiteral("%1: accepting connections again").arg(name));
            return;
        }
        state->failedSinceResume = false;
        server.resumeAccepting();
    });
    QObject::connect(&server, &QTcpServer::acceptError, &server,
                     [&server, again, state, name, log](QAbstractSocket::SocketError error) {
                         server.pauseAccepting();
                         state->failedSinceResume = true;
                         if (state->paused)
                             return;
                         state->paused = true;
                         log(QStringLiteral("%1: a connection could not be accepted (%2): "
                                            "paused, trying again every %3 ms")
                                     .arg(name,
                                          error == QAbstractSocket::SocketResourceError
                                                  ? QStringLiteral("out of descriptors")
                                                  : server.errorString())
                                     .arg(again->interval()));
                         again->start();
                     });
}

long raiseDescriptorLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        const rlim_t wanted = limit.rlim_max;
        limit.rlim_cur = wanted;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return long(limit.rlim_cur);
}

RefusalLog::RefusalLog(std::function<void(const QString &)> log)
    : m_log(std::move(log))
{
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(1000);
    QObject::connect(&m_quiet, &QTimer::timeout, [this] {
        if (m_unsaid == 0)
            return;
        m_log(m_unsaid == 1 ? m_last
                            : QStringLiteral("%1 (and %2 more like it in the last second)")
                                      .arg(m_last)
                                      .arg(m_unsaid - 1));
        m_unsaid = 0;
        m_quiet.start();
    });
}

void RefusalLog::refused(const QString &line)
{
    if (m_quiet.isActive()) {
        ++m_unsaid;
        m_last = line;
        return;
    }
    m_log(line);
    m_quiet.start();
}
