#include "scpimeter.h"

#include "interruption.h"

#include <cmath>

namespace {

constexpr qsizetype longestAnswer = 4096;
// SCPI's number for an overload, and for "not a number" just above it.
constexpr double overload = 9.9e37;

QString shown(const QByteArray &text)
{
    QString printable;
    for (const char c : text.left(80))
        printable += c >= 0x20 && c < 0x7f
                ? QString(QChar(c))
                : QStringLiteral("\\x%1").arg(quint8(c), 2, 16, QLatin1Char('0'));
    return printable + (text.size() > 80 ? QStringLiteral("...") : QString());
}

} // namespace

ScpiMeter::ScpiMeter(const QString &host, std::uint16_t port, const QString &query, int timeoutMs)
    : m_where(QStringLiteral("%1:%2").arg(host.contains(u':') ? '[' + host + ']' : host).arg(port))
    , m_host(host)
    , m_port(port)
    , m_query(query.toUtf8())
    , m_timeoutMs(timeoutMs)
{ }

bool ScpiMeter::fail(const QString &what)
{
    m_failure = QStringLiteral("the meter at %1 %2").arg(m_where, what);
    return false;
}

bool ScpiMeter::waitForMore(const QDeadlineTimer &deadline)
{
    while (!isInterrupted() && !deadline.hasExpired()) {
        if (m_socket.waitForReadyRead(int(std::min<qint64>(deadline.remainingTime(), 50))))
            return true;
        if (m_socket.state() != QAbstractSocket::ConnectedState)
            return false;
    }
    return false;
}

bool ScpiMeter::connectMeter()
{
    m_socket.connectToHost(m_host, m_port);
    const QDeadlineTimer deadline(m_timeoutMs);
    while (m_socket.state() != QAbstractSocket::ConnectedState && !isInterrupted()
           && !deadline.hasExpired() && m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.waitForConnected(int(std::min<qint64>(deadline.remainingTime(), 50)));
    if (isInterrupted())
        return fail(QStringLiteral("was not reached: interrupted"));
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return fail(QStringLiteral("cannot be reached: %1")
                            .arg(deadline.hasExpired() ? QStringLiteral("no answer within %1 s")
                                                                 .arg(m_timeoutMs / 1000.0)
                                                       : m_socket.errorString()));
    const std::optional<QByteArray> identity = ask("*IDN?", m_timeoutMs);
    if (!identity)
        return m_failure.isEmpty()
                ? fail(QStringLiteral("did not answer *IDN? within %1 s").arg(m_timeoutMs / 1000.0))
                : false;
    m_identity = shown(*identity);
    return true;
}

std::optional<QByteArray> ScpiMeter::ask(const QByteArray &command, int timeoutMs)
{
    // An answer that came late, or twice, must not be taken for this one's.
    m_socket.waitForReadyRead(0);
    while (m_socket.canReadLine()) {
        m_socket.readLine(longestAnswer + 2);
        ++m_discarded;
    }
    m_socket.write(command + '\n');
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_socket.canReadLine()) {
        if (m_socket.bytesAvailable() > longestAnswer) {
            fail(QStringLiteral("answered %1 with more than %2 bytes on one line")
                         .arg(QString::fromUtf8(command))
                         .arg(longestAnswer));
            return std::nullopt;
        }
        if (m_socket.state() != QAbstractSocket::ConnectedState) {
            fail(QStringLiteral("closed the connection"));
            return std::nullopt;
        }
        if (!waitForMore(deadline)) {
            if (isInterrupted())
                fail(QStringLiteral("was not heard out: interrupted"));
            else if (m_socket.state() != QAbstractSocket::ConnectedState)
                fail(QStringLiteral("closed the connection"));
            return std::nullopt;
        }
    }
    return m_socket.readLine(longestAnswer + 2).trimmed();
}

QString ScpiMeter::reportedError()
{
    const std::optional<QByteArray> error = ask("SYST:ERR?", std::min(m_timeoutMs, 1000));
    bool number = false;
    if (error && error->split(',').constFirst().toInt(&number) != 0 && number)
        return shown(*error);
    return {};
}

std::optional<double> ScpiMeter::read()
{
    const QString query = QString::fromUtf8(m_query);
    const std::optional<QByteArray> answer = ask(m_query, m_timeoutMs);
    if (!m_failure.isEmpty())
        return std::nullopt;
    bool number = false;
    const double volts = answer ? answer->toDouble(&number) : 0;
    if (number && std::isfinite(volts) && std::fabs(volts) < overload)
        return volts;
    if (number) {
        fail(QStringLiteral("reports an overload (%1) for %2").arg(shown(*answer), query));
        return std::nullopt;
    }
    if (const QString error = reportedError(); !error.isEmpty())
        fail(QStringLiteral("reports the error %1 after %2").arg(error, query));
    else if (!answer)
        fail(QStringLiteral("did not answer %1 within %2 s").arg(query).arg(m_timeoutMs / 1000.0));
    else
        fail(QStringLiteral("answered %1 with \"%2\", which is not a number")
                     .arg(query, shown(*answer)));
    return std::nullopt;
}
