#include "connection.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr qint64 readChunk = 64 * 1024;

void setOption(int descriptor, int level, int name, int value)
{
    ::setsockopt(descriptor, level, name, &value, sizeof value);
}

QString endpointText(const sockaddr_storage &address, QHostAddress &host)
{
    host.setAddress(reinterpret_cast<const sockaddr *>(&address));
    const quint16 port = address.ss_family == AF_INET6
            ? ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port)
            : ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
    // An IPv4 client of a dual-stack socket is named as IPv4.
    bool isV4 = false;
    const quint32 v4 = host.toIPv4Address(&isV4);
    if (isV4)
        host.setAddress(v4);
    const bool six = host.protocol() == QAbstractSocket::IPv6Protocol;
    return (six ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2"))
            .arg(host.toString())
            .arg(port);
}

} // namespace

void keepAlive(int descriptor)
{
    setOption(descriptor, SOL_SOCKET, SO_KEEPALIVE, 1);
    setOption(descriptor, IPPROTO_TCP, TCP_KEEPIDLE, Connection::keepAliveIdleSeconds);
    setOption(descriptor, IPPROTO_TCP, TCP_KEEPINTVL, Connection::keepAliveIntervalSeconds);
    setOption(descriptor, IPPROTO_TCP, TCP_KEEPCNT, Connection::keepAliveProbes);
    setOption(descriptor, IPPROTO_TCP, TCP_USER_TIMEOUT, Connection::unacknowledgedMilliseconds);
}

Connection::Connection(int descriptor, qint64 inputLimit, QObject *parent)
    : QObject(parent)
    , m_descriptor(descriptor)
    , m_inputLimit(inputLimit)
{
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);
    keepAlive(descriptor);
    // Answers go out at once, not held back to fill a packet.
    setOption(descriptor, IPPROTO_TCP, TCP_NODELAY, 1);

    sockaddr_storage address {};
    socklen_t length = sizeof address;
    QHostAddress peerHost;
    if (::getpeername(descriptor, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        m_peer = endpointText(address, peerHost);
    length = sizeof address;
    if (::getsockname(descriptor, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        endpointText(address, m_local);

    m_readNotifier = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
    m_writeNotifier = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &Connection::readSome);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &Connection::writeSome);
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, &Connection::idle);
    m_linger.setSingleShot(true);
    connect(&m_linger, &QTimer::timeout, this, &Connection::close);
    // After our end: a client that says nothing for this long has nothing in flight, so closing
    // then resets nothing.
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(200);
    connect(&m_quiet, &QTimer::timeout, this, &Connection::close);
}

Connection::~Connection()
{
    const QSignalBlocker quiet(this);
    close();
}

void Connection::setIdleLimit(std::chrono::seconds limit)
{
    m_idle.setInterval(limit);
    if (limit.count() > 0)
        m_idle.start();
    else
        m_idle.stop();
}

void Connection::readSome()
{
    if (m_descriptor < 0)
        return;
    const qint64 room = m_finishing ? readChunk : m_inputLimit - m_input.size();
    if (room <= 0) {
        m_readNotifier->setEnabled(false);
        return;
    }
    std::array<char, readChunk> bytes;
    const ssize_t got
            = ::recv(m_descriptor, bytes.data(), std::size_t(std::min(room, readChunk)), 0);
    if (got < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            lostClient();
        return;
    }
    if (got == 0) {
        m_inputEnded = true;
        m_readNotifier->setEnabled(false);
        if (m_finishing)
            close();
        else
            emit readable();
        return;
    }
    if (m_finishing) {
        m_quiet.start(); // the client's last words, read only so that the close is a clean one
        return;
    }
    if (m_idle.interval() > 0)
        m_idle.start();
    m_input.append(bytes.data(), qsizetype(got));
    if (m_input.size() >= m_inputLimit)
        m_readNotifier->setEnabled(false);
    emit readable();
}

void Connection::feed(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    m_input.prepend(bytes);
    QTimer::singleShot(0, this, [this] {
        if (!closed())
            emit readable();
    });
}

QByteArray Connection::read(qint64 most)
{
    const QByteArray taken = m_input.left(most);
    m_input.remove(0, taken.size());
    if (m_descriptor >= 0 && !m_inputEnded && !m_finishing && m_input.size() < m_inputLimit)
        m_readNotifier->setEnabled(true);
    return taken;
}

void Connection::write(QByteArrayView bytes)
{
    if (m_broken || m_descriptor < 0 || bytes.isEmpty())
        return;
    m_output.append(bytes);
    m_writeNotifier->setEnabled(true);
}

void Connection::flush()
{
    if (m_descriptor >= 0 && unsent() > 0)
        writeSome();
}

void Connection::writeSome()
{
    while (m_descriptor >= 0 && unsent() > 0) {
        const ssize_t put = ::send(m_descriptor, m_output.constData() + m_outputStart,
                                   std::size_t(unsent()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                m_writeNotifier->setEnabled(true);
                if (m_outputStart > m_output.size() / 2) {
                    m_output.remove(0, m_outputStart);
                    m_outputStart = 0;
                }
                return;
            }
            lostClient();
            return;
        }
        m_outputStart += put;
        if (m_idle.interval() > 0)
            m_idle.start();
    }
    if (m_descriptor < 0)
        return;
    m_output.clear();
    m_outputStart = 0;
    m_writeNotifier->setEnabled(false);
    if (m_finishing) {
        ::shutdown(m_descriptor, SHUT_WR);
        if (m_inputEnded) {
            close();
        } else {
            m_readNotifier->setEnabled(true);
            m_quiet.start();
        }
    }
}

// The client reset the connection or cannot be reached: nothing more goes either way.
void Connection::lostClient()
{
    m_broken = m_inputEnded = true;
    m_output.clear();
    m_outputStart = 0;
    if (m_finishing) {
        close();
        return;
    }
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    // Later, not inside the write that found it: the reader may be in the middle of a turn.
    QMetaObject::invokeMethod(this, &Connection::readable, Qt::QueuedConnection);
}

void Connection::finish(std::chrono::milliseconds linger)
{
    if (m_descriptor < 0 || m_finishing)
        return;
    m_finishing = true;
    m_idle.stop();
    if (m_broken) {
        close();
        return;
    }
    m_linger.start(linger);
    writeSome(); // then our end, once all is out
}

void Connection::abort()
{
    if (m_descriptor < 0)
        return;
    const linger now {1, 0};
    ::setsockopt(m_descriptor, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    close();
}

void Connection::close()
{
    if (m_descriptor < 0)
        return;
    m_readNotifier.reset();
    m_writeNotifier.reset();
    m_idle.stop();
    m_linger.stop();
    m_quiet.stop();
    ::close(m_descriptor);
    m_descriptor = -1;
    m_inputEnded = m_broken = true;
    QMetaObject::invokeMethod(this, &Connection::finished, Qt::QueuedConnection);
}
