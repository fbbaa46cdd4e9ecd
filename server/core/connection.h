#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>

class QSocketNotifier;

// Keep-alive on an accepted connection, with the times below: a client that vanishes is let go.
void keepAlive(int descriptor);

// One accepted TCP connection as bytes in and out, on the event loop. It holds the descriptor
// itself rather than a QTcpSocket, which closes the whole connection at the client's end of
// input: here a client that half-closes still gets every answer, and a close sends what is owed
// first and reads the client's last bytes, so that the client sees an end and not a reset.
class Connection final : public QObject
{
    Q_OBJECT

public:
    // How long a client may be silent before the system asks whether it is still there, and
    // how long it may leave data unacknowledged: a client that vanishes is let go within
    // about two minutes.
    static constexpr int keepAliveIdleSeconds = 60;
    static constexpr int keepAliveIntervalSeconds = 10;
    static constexpr int keepAliveProbes = 6;
    static constexpr int unacknowledgedMilliseconds = 120'000;

    // Takes an accepted descriptor: made non-blocking, keep-alive, no delay on small answers.
    // Reads at most `inputLimit` bytes ahead of the reader; the rest waits in the system, which
    // slows a flooding client down.
    Connection(int descriptor, qint64 inputLimit, QObject *parent = nullptr);
    ~Connection() override;
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // "127.0.0.1:40112", "[::1]:40112"
    const QString &peer() const { return m_peer; }
    QHostAddress localAddress() const { return m_local; }
    int descriptor() const { return m_descriptor; }

    // Bytes the client sent that were read before this connection held it: read first.
    void feed(const QByteArray &bytes);
    // Up to `most` bytes the client sent that have not been taken yet.
    QByteArray read(qint64 most);
    qint64 bytesAvailable() const { return m_input.size(); }
    // The client sends nothing more: it closed or half-closed its side, or it is gone.
    bool inputEnded() const { return m_inputEnded; }
    // The connection cannot carry anything more to the client: what is written is dropped.
    bool broken() const { return m_broken; }

    // Queues bytes for the client; they go at the next flush(), or when the event loop next
    // runs, so that the answers of one turn leave together.
    void write(QByteArrayView bytes);
    // Hands what is queued to the system now, as far as it takes it.
    void flush();
    // Written and not yet taken by the system.
    qint64 unsent() const { return m_output.size() - m_outputStart; }

    // Emits idle() after this long without a byte either way; zero: never.
    void setIdleLimit(std::chrono::seconds limit);

    // Sends what is owed, ends our side, and closes once the client has ended its side, or
    // has sent nothing for a moment, or `linger` has passed. Nothing more is read for the reader.
    void finish(std::chrono::milliseconds linger);
    // Closes at once.
    void abort();
    bool closed() const { return m_descriptor < 0; }

signals:
    // New input, or the end of it.
    void readable();
    // The descriptor is closed; emitted once.
    void finished();
    void idle();

private:
    void readSome();
    void writeSome();
    void close();
    void lostClient();

    int m_descriptor;
    qint64 m_inputLimit;
    QString m_peer;
    QHostAddress m_local;
    QByteArray m_input;
    QByteArray m_output;
    qsizetype m_outputStart = 0;
    bool m_inputEnded = false;
    bool m_broken = false;
    bool m_finishing = false;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    QTimer m_idle;
    QTimer m_linger;
    QTimer m_quiet;
};
