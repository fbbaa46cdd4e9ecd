// A bench meter that speaks SCPI over a raw TCP socket: one command a line, one answer a line.
#pragma once

#include "sweeprunner.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QTcpSocket>

class ScpiMeter final : public VoltSource
{
public:
    ScpiMeter(const QString &host, std::uint16_t port, const QString &query, int timeoutMs);

    // Connects and asks *IDN? once; false when the meter cannot be reached or does not answer.
    bool connectMeter();
    // The answer to *IDN?.
    const QString &identity() const { return m_identity; }

    // One answer to the query: a number, or nothing when the meter is silent, answers what is not
    // a number, reports an error or an overload, or has gone, or Ctrl-C came meanwhile.
    std::optional<double> read() override;
    QString failure() const override { return m_failure; }
    // Lines the meter sent that no query asked for, found before a query and dropped.
    int discarded() const { return m_discarded; }
    // "host:port", "[::1]:5025" for an IPv6 address.
    const QString &where() const { return m_where; }

private:
    // One line sent, one line back without its end; nothing when none came within the time.
    std::optional<QByteArray> ask(const QByteArray &command, int timeoutMs);
    // Waits for more to read, a slice at a time so that Ctrl-C is seen within one.
    bool waitForMore(const QDeadlineTimer &deadline);
    // The meter's own account after a failed query, when it gives one: "-113,"Undefined header"".
    QString reportedError();
    bool fail(const QString &what);

    QTcpSocket m_socket;
    QString m_where; // "host:port"
    QString m_host;
    std::uint16_t m_port;
    QByteArray m_query;
    int m_timeoutMs;
    QString m_identity;
    QString m_failure;
    int m_discarded = 0;
};
