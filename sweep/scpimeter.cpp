#include "scpimeter.h"

#include <QRegularExpression>

#include <cmath>

namespace Sweep {

namespace {

constexpr qsizetype longestAnswer = 4096;
// SCPI's number for an overload, and for "not a number" just above it.
constexpr double overload = 9.9e37;
constexpr int errorQueryMs = 1000;

QString shown(const QByteArray &text)
{
    QString printable;
    for (const char c : text.left(80))
        printable += c >= 0x20 && c < 0x7f
                ? QString(QChar(c))
                : QStringLiteral("\\x%1").arg(quint8(c), 2, 16, QLatin1Char('0'));
    return printable + (text.size() > 80 ? QStringLiteral("...") : QString());
}

QString seconds(int milliseconds)
{
    return QString::number(milliseconds / 1000.0);
}

} // namespace

double lastDigit(QByteArrayView text)
{
    static const QRegularExpression number(
            QStringLiteral("^\\s*[+-]?(\\d*)(?:\\.(\\d*))?(?:[eE]([+-]?\\d+))?\\s*$"));
    const QRegularExpressionMatch match = number.match(QString::fromLatin1(text));
    if (!match.hasMatch() || match.captured(1).size() + match.captured(2).size() == 0)
        return 0;
    const int exponent = match.captured(3).toInt();
    return std::pow(10.0, exponent - int(match.captured(2).size()));
}

ScpiMeter::ScpiMeter(const Meter &meter)
    : m_meter(meter)
    , m_where(meter.where())
    , m_query(meter.query.toUtf8())
{
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, &ScpiMeter::timedOut);
    connect(&m_socket, &QTcpSocket::readyRead, this, &ScpiMeter::readable);
    connect(&m_socket, &QTcpSocket::connected, this, [this] {
        if (m_asking == Asking::Connection)
            ask("*IDN?", m_meter.timeoutMs, Asking::Identity);
    });
    connect(&m_socket, &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) {
                // A look at what is there (drain()) that finds nothing says so as an error.
                if (error == QAbstractSocket::SocketTimeoutError)
                    return;
                if (m_asking == Asking::Connection)
                    fail(QStringLiteral("cannot be reached: %1").arg(m_socket.errorString()));
                else
                    closed();
            });
    connect(&m_socket, &QTcpSocket::disconnected, this, &ScpiMeter::closed);
}

void ScpiMeter::fail(const QString &what)
{
    const Asking was = std::exchange(m_asking, Asking::Nothing);
    m_timeout.stop();
    if (m_failure.isEmpty())
        m_failure = QStringLiteral("the meter at %1 %2").arg(m_where, what);
    if (was == Asking::Connection || was == Asking::Identity)
        emit prepared(false);
    else if (was != Asking::Nothing)
        emit failed();
}

Source::Answer ScpiMeter::prepare()
{
    // Reached already (a program asks before it touches the board): nothing more to do.
    if (m_socket.state() == QAbstractSocket::ConnectedState && !m_identity.isEmpty())
        return Answer::Now;
    if (!m_failure.isEmpty())
        return Answer::Failed;
    m_asking = Asking::Connection;
    m_timeout.start(m_meter.timeoutMs);
    m_socket.connectToHost(m_meter.host, m_meter.port);
    return Answer::Later;
}

void ScpiMeter::drain()
{
    // An answer that came late, or twice, must not be taken for this one's.
    m_socket.waitForReadyRead(0);
    while (m_socket.canReadLine()) {
        m_socket.readLine(longestAnswer + 2);
        ++m_discarded;
        ++m_unasked;
    }
}

void ScpiMeter::ask(const QByteArray &command, int timeoutMs, Asking what)
{
    if (m_socket.state() != QAbstractSocket::ConnectedState) {
        m_asking = what;
        return fail(QStringLiteral("closed the connection"));
    }
    drain();
    m_asking = what;
    m_socket.write(command + '\n');
    m_timeout.start(timeoutMs);
}

Source::Answer ScpiMeter::sample(double &)
{
    if (!m_failure.isEmpty())
        return Answer::Failed;
    ask(m_query, m_meter.timeoutMs, Asking::Reading);
    return m_failure.isEmpty() ? Answer::Later : Answer::Failed;
}

void ScpiMeter::command(const QString &line)
{
    m_command = line;
    if (!m_failure.isEmpty()) {
        m_asking = Asking::Command;
        return fail(m_failure);
    }
    if (m_socket.state() == QAbstractSocket::ConnectedState) {
        drain();
        m_socket.write(line.toUtf8() + '\n');
    }
    ask("SYST:ERR?", m_meter.timeoutMs, Asking::Command);
}

void ScpiMeter::cancel()
{
    const Asking was = std::exchange(m_asking, Asking::Nothing);
    m_timeout.stop();
    if (m_failure.isEmpty() && was != Asking::Nothing)
        m_failure = QStringLiteral("the meter at %1 %2")
                            .arg(m_where,
                                 was == Asking::Connection || was == Asking::Identity
                                         ? QStringLiteral("was not reached: interrupted")
                                         : QStringLiteral("was not heard out: "
                                                          "interrupted"));
    m_socket.abort();
}

void ScpiMeter::readable()
{
    if (m_asking == Asking::Nothing || m_asking == Asking::Connection)
        return; // kept: dropped and counted before the next query
    if (!m_socket.canReadLine()) {
        if (m_socket.bytesAvailable() > longestAnswer)
            fail(QStringLiteral("answered %1 with more than %2 bytes on one line")
                         .arg(m_asking == Asking::Identity ? QStringLiteral("*IDN?")
                                                           : QString::fromUtf8(m_query))
                         .arg(longestAnswer));
        return;
    }
    m_timeout.stop();
    answered(m_socket.readLine(longestAnswer + 2).trimmed());
}

void ScpiMeter::answered(const QByteArray &line)
{
    switch (m_asking) {
    case Asking::Nothing:
    case Asking::Connection:
        return;
    case Asking::Identity:
        m_asking = Asking::Nothing;
        m_identity = shown(line);
        emit prepared(true);
        return;
    case Asking::Error: {
        bool number = false;
        if (line.split(',').constFirst().toInt(&number) != 0 && number)
            return fail(QStringLiteral("reports the error %1 after %2")
                                .arg(shown(line), QString::fromUtf8(m_query)));
        return fail(m_unexplained);
    }
    case Asking::Command: {
        bool number = false;
        const int error = line.split(',').constFirst().toInt(&number);
        if (!number)
            return fail(QStringLiteral("answered SYST:ERR? after %1 with \"%2\"")
                                .arg(m_command, shown(line)));
        if (error != 0)
            return fail(QStringLiteral("refused %1: %2").arg(m_command, shown(line)));
        m_asking = Asking::Nothing;
        emit commanded();
        return;
    }
    case Asking::Reading:
        break;
    }
    bool number = false;
    const double volts = line.toDouble(&number);
    const QString query = QString::fromUtf8(m_query);
    if (number && std::isfinite(volts) && std::fabs(volts) < overload) {
        m_asking = Asking::Nothing;
        m_resolution = std::max(m_resolution, lastDigit(line));
        emit sampled(volts);
        return;
    }
    if (number)
        return fail(QStringLiteral("reports an overload (%1) for %2").arg(shown(line), query));
    explain(QStringLiteral("answered %1 with \"%2\", which is not a number")
                    .arg(query, shown(line)));
}

void ScpiMeter::explain(const QString &otherwise)
{
    m_unexplained = otherwise;
    ask("SYST:ERR?", std::min(m_meter.timeoutMs, errorQueryMs), Asking::Error);
}

void ScpiMeter::timedOut()
{
    switch (m_asking) {
    case Asking::Nothing:
        return;
    case Asking::Connection:
        m_socket.abort();
        return fail(QStringLiteral("cannot be reached: no answer within %1 s")
                            .arg(seconds(m_meter.timeoutMs)));
    case Asking::Identity:
        return fail(
                QStringLiteral("did not answer *IDN? within %1 s").arg(seconds(m_meter.timeoutMs)));
    case Asking::Reading:
        return explain(QStringLiteral("did not answer %1 within %2 s")
                               .arg(QString::fromUtf8(m_query), seconds(m_meter.timeoutMs)));
    case Asking::Error:
        return fail(m_unexplained);
    case Asking::Command:
        return fail(QStringLiteral("did not answer SYST:ERR? after %1 within %2 s")
                            .arg(m_command, seconds(m_meter.timeoutMs)));
    }
}

void ScpiMeter::closed()
{
    if (m_asking == Asking::Nothing || m_asking == Asking::Connection)
        return;
    // What it said before it went is still its answer.
    if (m_socket.canReadLine())
        return readable();
    if (m_asking == Asking::Error)
        return fail(m_unexplained);
    fail(QStringLiteral("closed the connection"));
}

} // namespace Sweep
