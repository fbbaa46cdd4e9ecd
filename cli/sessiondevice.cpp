#include "sessiondevice.h"

#include "cliprogram.h"
#include "interruption.h"
#include "readbackchannels.h"
#include "statusreason.h"
#include "usbstuff.h"

#include <QRegularExpression>

#include <chrono>

namespace {

constexpr int answerMilliseconds = 10000;

} // namespace

void SessionDevice::fail(int exitStatus, const QString &message)
{
    if (!m_failure)
        m_failure = SessionFailure {exitStatus, message};
}

LocalDevice::LocalDevice(USBStuff &usb)
    : m_usb(usb)
    , m_device(usb, *this)
{ }

void LocalDevice::selectChannel(int channel)
{
    m_device.SelectMuxChannel(ReadbackChannels::mask(channel));
}

void LocalDevice::requestFailed(const RequestFailure &failure)
{
    fail(ExitStatus::requestFailed, requestFailureReason(failure, m_usb.statusDetail()));
}

bool ServerDevice::parseAddress(const QString &text, QString &host, quint16 &port)
{
    static const QRegularExpression form(
            QStringLiteral("^(\\[([0-9A-Fa-f:.]+)\\]|([^:\\[\\]\\s]+))(:([0-9]{1,5}))?$"));
    const QRegularExpressionMatch match = form.match(text);
    const uint number = match.captured(5).isEmpty() ? 5025 : match.captured(5).toUInt();
    if (!match.hasMatch() || number == 0 || number > 65535)
        return false;
    host = match.captured(2).isEmpty() ? match.captured(3) : match.captured(2);
    port = quint16(number);
    return true;
}

ServerDevice::ServerDevice(const QString &host, quint16 port, int waitSeconds)
    : m_server(QStringLiteral("%1:%2").arg(host.contains(u':') ? '[' + host + ']' : host).arg(port))
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point next = Clock::now();
    const Clock::time_point deadline = next + std::chrono::seconds(waitSeconds);
    while (true) {
        m_socket.connectToHost(host, port);
        if (m_socket.waitForConnected(answerMilliseconds))
            return;
        next = std::max(next + std::chrono::seconds(1), Clock::now());
        if (next > deadline || !sleepUntil(next))
            break;
        m_socket.abort();
    }
    fail(ExitStatus::noBoard,
         QStringLiteral("the board was not brought up: the server at %1 "
                        "cannot be reached (%2). Fix: start tx4410-server "
                        "there, or check --server and TX4410_SERVER")
                 .arg(m_server, m_socket.errorString()));
}

// `line;:SYST:ERR?` answers the query (if any) and then the error, with `;` between.
QByteArray ServerDevice::exchange(const QByteArray &line)
{
    if (failure())
        return {};
    m_socket.write(line + ";:SYST:ERR?\n");
    while (!m_socket.canReadLine()) {
        if (m_socket.state() != QAbstractSocket::ConnectedState
            || !m_socket.waitForReadyRead(answerMilliseconds)) {
            fail(ExitStatus::requestFailed,
                 QStringLiteral("the server at %1 gave no answer to %2: %3")
                         .arg(m_server, QString::fromLatin1(line), m_socket.errorString()));
            return {};
        }
    }
    const QByteArray answers = m_socket.readLine().trimmed();
    // A query that failed answers nothing: then the line holds the error alone.
    static const QRegularExpression form(QStringLiteral("^(?:([0-9]+);)?(-?[0-9]+),\"(.*)\"$"));
    const QRegularExpressionMatch match = form.match(QString::fromLatin1(answers));
    const int error = match.captured(2).toInt();
    if (match.hasMatch() && error == 0)
        return match.captured(1).toLatin1();
    const QString text = match.captured(3).replace(QStringLiteral("\"\""), QStringLiteral("\""));
    const QString detail = text.section(u';', 1);
    if (error == -241)
        fail(ExitStatus::noBoard,
             QStringLiteral("the board was not brought up: the server at "
                            "%1 has no board (%2)")
                     .arg(m_server, detail));
    else if (error == -240)
        fail(ExitStatus::requestFailed, detail);
    else
        fail(ExitStatus::requestFailed,
             QStringLiteral("the server at %1 refused %2: %3")
                     .arg(m_server, QString::fromLatin1(line), QString::fromLatin1(answers)));
    return {};
}

void ServerDevice::sendWord(std::int32_t word)
{
    exchange("DAC:WORD " + QByteArray::number(word));
}

std::int32_t ServerDevice::readAdc()
{
    return exchange("MEAS" + QByteArray::number(m_channel + 1) + ":CODE?").toInt();
}

void ServerDevice::setClrPin(bool high)
{
    exchange(high ? "PIN:CLR HIGH" : "PIN:CLR LOW");
}

void ServerDevice::setLdacPin(bool high)
{
    exchange(high ? "PIN:LDAC HIGH" : "PIN:LDAC LOW");
}

QString ServerDevice::boardPort()
{
    if (failure())
        return {};
    m_socket.write("*IDN?\n");
    while (!m_socket.canReadLine()) {
        if (m_socket.state() != QAbstractSocket::ConnectedState
            || !m_socket.waitForReadyRead(answerMilliseconds))
            return {};
    }
    return QString::fromLatin1(m_socket.readLine().trimmed()).section(u',', 2, 2);
}
