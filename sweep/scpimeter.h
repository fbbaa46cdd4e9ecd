// A bench meter that speaks SCPI over a raw TCP socket, one command a line, one answer a line,
// on the event loop: asked, it answers later by a signal, so that a server keeps serving while
// it waits and a terminal program can cut the wait short.
#pragma once

#include "sweepplan.h"
#include "sweeprunner.h"

#include <QByteArray>
#include <QTcpSocket>
#include <QTimer>

namespace Sweep {

class ScpiMeter final : public Source
{
    Q_OBJECT

public:
    explicit ScpiMeter(const Meter &meter);

    // Connects and asks *IDN? once; prepared(false) when the meter cannot be reached or does not
    // answer. Once reached, Now.
    Answer prepare() override;
    // One answer to the query: a number; failed() when the meter is silent, answers what is not
    // a number, reports an error or an overload, or has gone.
    Answer sample(double &volts) override;
    void cancel() override;
    QString failure() const override { return m_failure; }
    // Sends one line that has no answer (a scanner's ROUT:CLOS (@2)), then asks SYST:ERR?:
    // commanded() when the meter took it, failed() with its error when it did not.
    void command(const QString &line);
    int takeUnasked() override { return std::exchange(m_unasked, 0); }

    // The answer to *IDN?.
    const QString &identity() const { return m_identity; }
    // Lines the meter sent that no query asked for, found before a query and dropped.
    int discarded() const { return m_discarded; }
    const QString &where() const { return m_where; }
    // The coarsest last digit of its readings so far, in volts: each is rounded to it.
    double resolutionSeen() const { return m_resolution; }

signals:
    void commanded();

private:
    enum class Asking { Nothing, Connection, Identity, Reading, Error, Command };

    void ask(const QByteArray &command, int timeoutMs, Asking what);
    void readable();
    void timedOut();
    void closed();
    void answered(const QByteArray &line);
    // After a reading that failed: the meter's own account of it, then the failure.
    void explain(const QString &otherwise);
    void fail(const QString &what);
    void drain();

    Meter m_meter;
    QTcpSocket m_socket;
    QTimer m_timeout;
    QString m_where;
    QByteArray m_query;
    Asking m_asking = Asking::Nothing;
    QString m_identity;
    QString m_failure;
    QString m_unexplained; // what a failed reading says when SYST:ERR? says nothing
    QString m_command;     // the line sent whose error is asked for
    int m_discarded = 0;
    int m_unasked = 0;
    double m_resolution = 0;
};

// The unit of the last digit of a number as a meter writes it ("+1.2340E-01": 1e-5); 0 for what
// is not a number.
double lastDigit(QByteArrayView text);

} // namespace Sweep
