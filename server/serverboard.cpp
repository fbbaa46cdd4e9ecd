#include "serverboard.h"

#include "boardlibrary.h"
#include "boardqueries.h"
#include "boardstatus.h"
#include "readbackchannels.h"
#include "statusreason.h"
#include "usbstuff.h"

#include <algorithm>
#include <array>

ServerBoard::ServerBoard(USBStuff &usb, std::function<void(const QString &)> log)
    : m_usb(usb)
    , m_device(usb, *this)
    , m_log(std::move(log))
{
    m_retry.setInterval(1000);
    connect(&m_retry, &QTimer::timeout, this, &ServerBoard::look);
}

void ServerBoard::brought()
{
    m_port = qEnvironmentVariable("TX4410_BOARD_PORT");
    const std::optional<QStringList> boards = listing();
    if (m_port.isEmpty() && boards && !boards->isEmpty())
        m_port = boards->front().section(u' ', 0, 0);
}

std::optional<QStringList> ServerBoard::listing()
{
    // Looked at without opening a board, so that another server bringing one up is never
    // refused it for a moment; an older library only has the listing that opens them.
    auto list = reinterpret_cast<BoardListFunction>(m_usb.resolveOptional("Board_Present"));
    if (list == nullptr)
        list = reinterpret_cast<BoardListFunction>(m_usb.resolveOptional("Board_List"));
    if (list == nullptr)
        return std::nullopt;
    // With a port chosen, the boards elsewhere are not this server's to bring up.
    const QString chosen = qEnvironmentVariable("TX4410_BOARD_PORT");
    std::array<BoardListEntry, 8> entries {};
    std::int32_t count = 0;
    if (list(entries.data(), std::int32_t(entries.size()), &count) != 0)
        return std::nullopt;
    // The boards under the firmware first: after a bring-up, ours is one of them.
    QStringList boards;
    for (std::size_t at = 0; at < std::size_t(std::clamp(count, 0, 8)); ++at) {
        const BoardListEntry &entry = entries[at];
        if (!chosen.isEmpty() && chosen != QLatin1String(entry.port))
            continue;
        const QString line = QStringLiteral("%1 %2.%3 %4")
                                     .arg(QString::fromLatin1(entry.port))
                                     .arg(entry.bus)
                                     .arg(entry.address)
                                     .arg(entry.firmwareRunning);
        if (entry.firmwareRunning)
            boards.prepend(line);
        else
            boards.append(line);
    }
    return boards;
}

// Once a second while the board is away: a bring-up only when a board is there to bring up.
bool ServerBoard::worthBringingUp(const std::optional<QStringList> &bus,
                                  const std::optional<QStringList> &failedOn, bool waitOver)
{
    if (!bus)
        return true;
    if (bus->isEmpty())
        return false;
    return bus != failedOn || waitOver;
}

void ServerBoard::look()
{
    const std::optional<QStringList> bus = listing();
    if (!worthBringingUp(bus, m_failedWith, m_retryAnyway.hasExpired()))
        return;
    if (tryBringUp())
        return;
    m_awayReason = QStringLiteral("a board is on the bus but was not brought up: ")
            + m_usb.bringUpFailure();
    emit changed();
    m_failedWith = bus;
    m_retryAnyway.setRemainingTime(retryAfterFailure);
}

void ServerBoard::requestFailed(const RequestFailure &failure)
{
    if (!m_failure)
        m_failure = failure;
}

// One or more device requests; the first that fails decides the outcome.
template<typename Operation> Scpi::BoardOutcome ServerBoard::request(Operation operation)
{
    if (!m_up)
        return {Scpi::Error::hardwareMissing,
                "the board has gone; the server brings it up again once it is back"};
    m_failure.reset();
    try {
        operation();
    } catch (const BoardLibraryError &error) {
        m_log(error.message());
        m_selected = -1;
        return {Scpi::Error::hardware, error.message().toUtf8()};
    }
    if (!m_failure)
        return {};
    const RequestFailure failure = *m_failure;
    m_selected = -1;
    const QString text = requestFailureReason(failure, m_usb.statusDetail());
    m_log(text);
    // These say that no board is there for requests any more: only a bring-up helps.
    const auto status = BoardStatus(failure.status);
    if (status == BoardStatus::BoardGone || status == BoardStatus::NotLoaded
        || status == BoardStatus::BadHandle || status == BoardStatus::NoBoard) {
        m_up = false;
        m_awayReason = QStringLiteral("the board has gone (%1); brought up again once it is "
                                      "back on the bus")
                               .arg(statusReason(failure.status));
        m_log(QStringLiteral("the board has gone (%1); brought up again once it is back")
                      .arg(statusReason(failure.status)));
        emit changed();
        // Its firmware went with it: load it again, whatever --attach said at the start.
        qunsetenv("TX4410_ATTACH");
        m_retry.start();
        emit gone();
        return {Scpi::Error::hardwareMissing, text.toUtf8()};
    }
    return {Scpi::Error::hardware, text.toUtf8()};
}

bool ServerBoard::tryBringUp()
{
    try {
        if (!m_usb.bringUp([] { return false; }))
            return false;
    } catch (const std::exception &) {
        return false; // the same library bound at the start: tried again later
    }
    m_retry.stop();
    m_up = true;
    m_awayReason.clear();
    m_selected = -1;
    m_failedWith.reset();
    brought();
    m_log(QStringLiteral("the board is back: firmware loaded, every DAC output at 0 V"));
    emit restarted();
    emit changed();
    return true;
}

Scpi::BoardOutcome ServerBoard::sendWord(std::int32_t word)
{
    return request([&] { m_device.SendCommandWord(word); });
}

Scpi::BoardOutcome ServerBoard::readChannel(int channel, std::int32_t &code)
{
    return request([&] {
        // The server alone drives this board: the multiplexer stays where it was put.
        if (m_selected != channel) {
            m_device.SelectMuxChannel(ReadbackChannels::mask(channel));
            if (m_failure)
                return;
            m_selected = channel;
        }
        code = m_device.ReadAdcCode();
    });
}

Scpi::BoardOutcome ServerBoard::readAdc(std::int32_t &code)
{
    return request([&] { code = m_device.ReadAdcCode(); });
}

Scpi::BoardOutcome ServerBoard::setClrPin(bool high)
{
    return request([&] { m_device.SetClrPin(high); });
}

Scpi::BoardOutcome ServerBoard::setLdacPin(bool high)
{
    return request([&] { m_device.SetLdacPin(high); });
}
