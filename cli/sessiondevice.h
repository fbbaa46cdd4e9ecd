// What a run of tx4410-cli drives: the board through the link layer, or a tx4410-server that
// holds it. Either way the same five operations, and the first failure kept.
#pragma once

#include "requestfailurereporter.h"
#include "tx4418.h"

#include <QString>
#include <QTcpSocket>

#include <cstdint>
#include <optional>

struct SessionFailure
{
    int exitStatus;
    QString message; // one line, for standard error
};

class SessionDevice
{
public:
    virtual ~SessionDevice() = default;

    virtual void sendWord(std::int32_t word) = 0;
    virtual void selectChannel(int channel) = 0; // readback input 0 to 7
    virtual std::int32_t readAdc() = 0;
    virtual void setClrPin(bool high) = 0;
    virtual void setLdacPin(bool high) = 0;
    // The board's USB port path as the other end knows it; empty when it does not say.
    virtual QString boardPort() { return {}; }

    // The first operation that failed; the ones after it do nothing.
    const std::optional<SessionFailure> &failure() const { return m_failure; }

protected:
    SessionDevice() = default;
    void fail(int exitStatus, const QString &message);

private:
    std::optional<SessionFailure> m_failure;
};

// The board brought up by this run.
class LocalDevice final : public SessionDevice, private RequestFailureReporter
{
public:
    explicit LocalDevice(USBStuff &usb);

    void sendWord(std::int32_t word) override { m_device.SendCommandWord(word); }
    void selectChannel(int channel) override;
    std::int32_t readAdc() override { return m_device.ReadAdcCode(); }
    void setClrPin(bool high) override { m_device.SetClrPin(high); }
    void setLdacPin(bool high) override { m_device.SetLdacPin(high); }

private:
    void requestFailed(const RequestFailure &failure) override;

    USBStuff &m_usb;
    TX4418 m_device;
};

// The board held by a tx4410-server: each operation one SCPI line with the error queue asked
// after it, so that a failure on the board ends the run as it would locally.
class ServerDevice final : public SessionDevice
{
public:
    // "127.0.0.1", "bench-pc:5025", "[::1]:5025"; false when it is none.
    static bool parseAddress(const QString &text, QString &host, quint16 &port);

    // Connects, trying once a second until waitSeconds have passed; fails as no board.
    ServerDevice(const QString &host, quint16 port, int waitSeconds);

    void sendWord(std::int32_t word) override;
    void selectChannel(int channel) override { m_channel = channel; }
    std::int32_t readAdc() override;
    void setClrPin(bool high) override;
    void setLdacPin(bool high) override;
    // The serial number of its *IDN? answer, which is the board's port path.
    QString boardPort() override;

private:
    // Runs the line; the answer to its query, if it had one.
    QByteArray exchange(const QByteArray &line);

    QString m_server;
    QTcpSocket m_socket;
    int m_channel = 0;
};
