#pragma once

#include "instrument.h"
#include "requestfailurereporter.h"
#include "tx4418.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <chrono>

#include <functional>
#include <optional>

class USBStuff;

// The board the server holds, as the instrument uses it: each operation is the window's device
// requests. Once the board has gone, every operation fails as missing without a request, and
// the bus is looked at once a second as tx4410-cli list does, which holds no one up; only when a
// board is there is it brought up, which holds every client while its firmware loads (at most
// the configuration's come-back time after the image is sent). A bring-up that fails is tried
// again when the bus changes, or after retryAfterFailure.
class ServerBoard final : public QObject, public Scpi::BoardAccess, private RequestFailureReporter
{
    Q_OBJECT

public:
    // `usb` has been brought up. `log` takes one line for standard error.
    static constexpr std::chrono::seconds retryAfterFailure {30};

    ServerBoard(USBStuff &usb, std::function<void(const QString &)> log);

    // Whether a bring-up is worth the wait it may hold everyone in: a board is on the bus (or the
    // library cannot tell), and the bus is not as it was when the last one failed, unless the
    // wait after that failure is over. The bus is one line per board.
    static bool worthBringingUp(const std::optional<QStringList> &bus,
                                const std::optional<QStringList> &failedOn, bool waitOver);

    // After a bring-up: notes the board's USB port path ("1-2.3", "sim").
    void brought();
    bool isUp() const { return m_up; }
    // Why it is away, and what to do, as the last failed bring-up or the loss said it.
    const QString &awayReason() const { return m_awayReason; }
    const QString &port() const { return m_port; }

    Scpi::BoardOutcome sendWord(std::int32_t word) override;
    Scpi::BoardOutcome readChannel(int channel, std::int32_t &code) override;
    Scpi::BoardOutcome readAdc(std::int32_t &code) override;
    Scpi::BoardOutcome setClrPin(bool high) override;
    Scpi::BoardOutcome setLdacPin(bool high) override;

signals:
    // The board was brought up again after it had gone: the firmware loaded, the DAC at zero.
    void restarted();
    // It went, came back, or a bring-up failed: isUp() or awayReason() changed.
    void changed();
    // The board has gone; it is looked for on the bus from now on.
    void gone();

private:
    void requestFailed(const RequestFailure &failure) override;
    template<typename Operation> Scpi::BoardOutcome request(Operation operation);
    void look();
    bool tryBringUp();
    // What is on the bus, as one line per board; nothing when the library cannot tell.
    std::optional<QStringList> listing();

    USBStuff &m_usb;
    TX4418 m_device;
    std::function<void(const QString &)> m_log;
    std::optional<RequestFailure> m_failure;
    bool m_up = true;
    int m_selected = -1; // the readback input the multiplexer is on, -1 when unknown
    QString m_port;
    QString m_awayReason;
    QTimer m_retry;
    std::optional<QStringList> m_failedWith; // the bus when the last bring-up failed
    QDeadlineTimer m_retryAnyway;
};
