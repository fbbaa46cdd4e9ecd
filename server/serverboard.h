#pragma once

#include "instrument.h"
#include "requestfailurereporter.h"
#include "tx4418.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

class USBStuff;

// The board the server holds, as the instrument uses it: each operation is the window's device
// requests. A board that has gone is brought up again once a second; until then every
// operation fails as missing without a request.
class ServerBoard final : public QObject, public Scpi::BoardAccess, private RequestFailureReporter
{
    Q_OBJECT

public:
    // `usb` has been brought up. `log` takes one line for standard error.
    ServerBoard(USBStuff &usb, std::function<void(const QString &)> log);

    Scpi::BoardOutcome sendWord(std::int32_t word) override;
    Scpi::BoardOutcome readChannel(int channel, std::int32_t &code) override;
    Scpi::BoardOutcome readAdc(std::int32_t &code) override;
    Scpi::BoardOutcome setClrPin(bool high) override;
    Scpi::BoardOutcome setLdacPin(bool high) override;

signals:
    // The board was brought up again after it had gone: the firmware loaded, the DAC at zero.
    void restarted();

private:
    void requestFailed(const RequestFailure &failure) override;
    template<typename Operation> Scpi::BoardOutcome request(Operation operation);
    void tryBringUp();

    USBStuff &m_usb;
    TX4418 m_device;
    std::function<void(const QString &)> m_log;
    std::optional<RequestFailure> m_failure;
    bool m_up = true;
    int m_selected = -1; // the readback input the multiplexer is on, -1 when unknown
    QTimer m_retry;
};
