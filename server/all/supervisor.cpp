#include "supervisor.h"

#include "boardqueries.h"
#include "handoff.h"
#include "indexpage.h"
#include "listener.h"
#include "portmapper.h"
#include "usbstuff.h"
#include "vxi11codec.h"
#include "webfront.h"

#include <QSocketNotifier>
#include <QTimer>

#include <array>

#include <csignal>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The bus as port paths, looked at without opening a board, so that an instrument bringing
// its board up is never refused it; nothing when the library cannot tell.
std::optional<QStringList> portsOnBus(USBStuff &usb)
{
    auto list = reinterpret_cast<BoardListFunction>(usb.resolveOptional("Board_Present"));
    if (list == nullptr)
        return std::nullopt;
    std::array<BoardListEntry, 64> entries {};
    std::int32_t count = 0;
    if (list(entries.data(), std::int32_t(entries.size()), &count) != 0)
        return std::nullopt;
    QStringList ports;
    // A board leaving the bus as it is listed may have no port path left.
    for (std::int32_t at = 0; at < std::min<std::int32_t>(count, entries.size()); ++at) {
        if (const char *port = entries[std::size_t(at)].port; port[0] != '\0')
            ports << QString::fromLatin1(port);
    }
    return ports;
}

QString endpoint(const QHostAddress &address, quint16 port)
{
    return endpointText(address, port);
}

} // namespace

Supervisor::Supervisor(Settings settings, USBStuff &usb, std::function<void(const QString &)> log)
    : m_settings(std::move(settings))
    , m_usb(usb)
    , m_log(std::move(log))
{
    m_watch.setInterval(500);
    connect(&m_watch, &QTimer::timeout, this, &Supervisor::look);
    m_handOffs.setInterval(250);
    connect(&m_handOffs, &QTimer::timeout, this, [this] {
        bool waiting = false;
        for (auto &[port, instrument] : m_instruments) {
            refuseWaiting(instrument, false);
            waiting = waiting || !instrument.handing.empty();
        }
        if (!waiting)
            m_handOffs.stop();
    });
}

Supervisor::~Supervisor()
{
    for (auto &[port, instrument] : m_instruments) {
        refuseWaiting(instrument, true);
        instrument.writable.reset();
        instrument.told.reset();
        if (instrument.channel >= 0)
            ::close(instrument.channel);
    }
}

bool Supervisor::start()
{
    if (!portsOnBus(m_usb)) {
        m_log(QStringLiteral("the board library cannot list the boards on the bus"));
        return false;
    }
    if (m_settings.httpPort) {
        WebFront::Pages pages;
        pages.welcome = [this](const WebFront::Asked &asked) {
            return index(asked.host);
        };
        m_pages = std::make_unique<WebFront>(
                std::move(pages),
                WebFront::Settings {{},
                                    m_settings.httpOrigins,
                                    m_settings.maxClients,
                                    std::chrono::seconds(m_settings.idleSeconds)},
                m_log);
        if (m_pages->listen(m_settings.httpAddress, *m_settings.httpPort)) {
            m_log(QStringLiteral("HTTP on %1: the index of the instruments")
                          .arg(endpoint(m_settings.httpAddress, m_pages->port())));
        } else {
            m_log(QStringLiteral("HTTP off: cannot listen on %1: %2")
                          .arg(endpoint(m_settings.httpAddress, *m_settings.httpPort),
                               m_pages->errorString()));
            m_pages.reset();
        }
    }
    const auto watch = [this] {
        look();
        m_watch.start();
    };
    m_dispatch = std::make_unique<Vxi11Dispatch>(
            [this](int number, int descriptor, const QByteArray &received, std::uint32_t xid) {
                return handTo(number, descriptor, received, xid);
            },
            m_settings.maxClients, std::chrono::seconds(m_settings.idleSeconds), m_log);
    if (!m_dispatch->listen(m_settings.address)) {
        m_log(QStringLiteral("VXI-11 off: cannot listen on %1: %2")
                      .arg(m_settings.address.toString(), m_dispatch->errorString()));
        watch();
        return true;
    }
    // The instruments start once it is known whether VXI-11 is on, which they announce.
    m_lookup = std::make_unique<Vxi11Lookup>(m_settings.address, m_dispatch->corePort(),
                                             m_settings.maxClients,
                                             std::chrono::seconds(m_settings.idleSeconds), m_log);
    m_lookupStopped = false;
    m_lookup->start([this, watch](bool on, const QString &text) {
        m_vxi11On = on;
        if (on) {
            m_log(QStringLiteral("VXI-11 on %1 for every instrument, %2")
                          .arg(endpoint(m_settings.address, m_dispatch->corePort()), text));
        } else {
            m_log(QStringLiteral("VXI-11 off: ") + text);
            m_dispatch->close();
        }
        if (!m_watch.isActive() && !m_finished)
            watch();
    });
    return true;
}

void Supervisor::look()
{
    const std::optional<QStringList> ports = portsOnBus(m_usb);
    if (!ports)
        return;
    for (const QString &port : *ports) {
        if (!m_instruments.contains(port)) {
            Instrument &added = m_instruments[port];
            added.number = int(m_instruments.size()) - 1;
            added.port = port;
            m_log(QStringLiteral("inst%1 is the board at USB port %2").arg(added.number).arg(port));
        }
    }
    for (auto &[port, instrument] : m_instruments) {
        instrument.present = ports->contains(port);
        instrument.absentLooks = instrument.present ? 0 : instrument.absentLooks + 1;
        // Its board has gone: its server ends (clients get what they are owed), and a new one
        // brings it up when it is back. Not while it comes up (its board leaves the bus for a
        // while as its firmware starts), nor on one look alone, which may lag behind the bus.
        if (instrument.process && instrument.serving && instrument.absentLooks >= 2)
            instrument.process->terminate();
        if (instrument.process)
            continue;
        if (!instrument.present)
            instrument.awaySinceEnd = true;
        else if (instrument.awaySinceEnd || instrument.retry.hasExpired())
            run(instrument);
    }
}

void Supervisor::run(Instrument &instrument)
{
    const int number = instrument.number;
    const auto offset = [](quint16 base, int by) {
        return base == 0 ? quint16(0) : quint16(std::min(65535, base + by));
    };
    QStringList arguments {QStringLiteral("--board"),
                           instrument.port,
                           QStringLiteral("--listen"),
                           endpoint(m_settings.address, offset(m_settings.socketPort, number)),
                           QStringLiteral("--http"),
                           m_settings.httpPort ? endpoint(m_settings.httpAddress,
                                                          offset(*m_settings.httpPort, number + 1))
                                               : QStringLiteral("off"),
                           QStringLiteral("--max-clients"),
                           QString::number(m_settings.maxClients),
                           QStringLiteral("--idle-timeout"),
                           QString::number(m_settings.idleSeconds),
                           QStringLiteral("--instrument"),
                           QString::number(number)};
    if (m_settings.attach)
        arguments << QStringLiteral("--attach");
    if (!m_settings.httpTokenFile.isEmpty())
        arguments << QStringLiteral("--http-token") << m_settings.httpTokenFile;
    for (const QString &origin : m_settings.httpOriginTexts)
        arguments << QStringLiteral("--http-origin") << origin;
    arguments << m_settings.calibration;
    // The channel of each instrument: it says over it where it listens, and its VXI-11
    // connections come through it when VXI-11 is on.
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) == 0) {
        instrument.channel = pair[0];
        ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &handOffBuffer, sizeof handOffBuffer);
        arguments << QStringLiteral("--handoff") << QString::number(pair[1]);
        if (!m_vxi11On)
            arguments << QStringLiteral("--handoff-no-vxi11");
        instrument.told = std::make_unique<QSocketNotifier>(pair[0], QSocketNotifier::Read);
        connect(instrument.told.get(), &QSocketNotifier::activated, this,
                [this, port = instrument.port] { heard(m_instruments.at(port)); });
    }
    auto process = std::make_unique<QProcess>();
    process->setProgram(m_settings.program);
    process->setArguments(arguments);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->setStandardOutputFile(QProcess::nullDevice());
    // Only this instrument's end of the channel stays open across its exec.
    const int theirs = pair[1];
    process->setChildProcessModifier([theirs] {
        if (theirs >= 0)
            ::fcntl(theirs, F_SETFD, 0);
        // An instrument never outlives the server of every board, however that ends.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    });
    QProcess &started = *process;
    instrument.process = std::move(process);
    instrument.awaySinceEnd = false;
    instrument.socketPort = instrument.httpPort = 0;
    instrument.serving = false;
    const QString port = instrument.port;
    connect(&started, &QProcess::readyReadStandardError, this,
            [this, port] { relay(m_instruments.at(port)); });
    connect(&started, &QProcess::finished, this,
            [this, port](int status, QProcess::ExitStatus how) {
                ended(m_instruments.at(port), how == QProcess::NormalExit ? status : -1);
            });
    // A program that cannot be started at all ends without finishing: tried again all the same.
    connect(&started, &QProcess::errorOccurred, this, [this, port](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            ended(m_instruments.at(port), -2);
    });
    started.start();
    if (theirs >= 0)
        ::close(theirs);
}

// Each line of an instrument's log, behind its number and port path.
void Supervisor::relay(Instrument &instrument)
{
    instrument.pending += instrument.process->readAllStandardError();
    qsizetype end = 0;
    while ((end = instrument.pending.indexOf('\n')) >= 0) {
        QString line = QString::fromUtf8(instrument.pending.left(end));
        instrument.pending.remove(0, end + 1);
        const QString own = QStringLiteral("tx4410-server: ");
        if (line.startsWith(own))
            line.remove(0, own.size());
        m_log(QStringLiteral("inst%1 (%2): %3").arg(instrument.number).arg(instrument.port, line));
    }
}

// What the instrument says over its channel: that it serves, and where.
void Supervisor::heard(Instrument &instrument)
{
    bool ended = false;
    const std::optional<Ready> ready = receiveReady(instrument.channel, ended);
    if (ended) {
        instrument.told->setEnabled(false);
        return;
    }
    if (!ready)
        return;
    instrument.socketPort = ready->socketPort;
    instrument.httpPort = ready->httpPort;
    instrument.serving = true;
    instrument.absentLooks = 0;
}

void Supervisor::ended(Instrument &instrument, int status)
{
    if (!instrument.process)
        return;
    relay(instrument);
    const QString why = instrument.process->errorString();
    instrument.process.release()->deleteLater();
    refuseWaiting(instrument, true);
    instrument.writable.reset();
    instrument.told.reset();
    if (instrument.channel >= 0)
        ::close(std::exchange(instrument.channel, -1));
    // One that served is started again once its board is back, or after a while; one that
    // never came up is tried again sooner, then less and less often.
    if (instrument.serving) {
        instrument.backoff = std::chrono::seconds(1);
        instrument.retry.setRemainingTime(retryAfterEnd);
    } else {
        instrument.retry.setRemainingTime(instrument.backoff);
        instrument.backoff = std::min(instrument.backoff * 2, longestBackoff);
    }
    instrument.serving = false;
    if (m_finished)
        return checkFinished();
    m_log(QStringLiteral("inst%1 (%2) ended (%3): started again %4")
                  .arg(instrument.number)
                  .arg(instrument.port,
                       status == -2         ? QStringLiteral("could not be started: %1").arg(why)
                               : status < 0 ? QStringLiteral("crashed")
                                            : QStringLiteral("exit status %1").arg(status),
                       instrument.retry.remainingTime() > 0
                               ? QStringLiteral("in %1 s, or once its board is back")
                                         .arg((instrument.retry.remainingTime() + 999) / 1000)
                               : QStringLiteral("once its board is back")));
}

Vxi11Dispatch::HandOff Supervisor::handTo(int number, int descriptor, const QByteArray &received,
                                          std::uint32_t xid)
{
    for (auto &[port, instrument] : m_instruments) {
        if (instrument.number != number)
            continue;
        if (instrument.channel < 0)
            return Vxi11Dispatch::HandOff::NoSuchInstrument;
        // Never waiting on an instrument busy with its board: what it does not take now waits
        // in its queue.
        if (instrument.handing.empty()) {
            switch (sendConnection(instrument.channel, descriptor, received)) {
            case Sent::Done:
                return Vxi11Dispatch::HandOff::Taken;
            case Sent::Failed:
                return Vxi11Dispatch::HandOff::NoSuchInstrument;
            case Sent::Busy:
                break;
            }
        }
        if (instrument.handing.size() >= maxHanding) {
            m_log(QStringLiteral("inst%1 (%2) has %3 VXI-11 connections waiting for it: one more "
                                 "refused with error 9")
                          .arg(instrument.number)
                          .arg(instrument.port)
                          .arg(maxHanding));
            return Vxi11Dispatch::HandOff::Full;
        }
        const int kept = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
        if (kept < 0)
            return Vxi11Dispatch::HandOff::Full;
        instrument.handing.push_back({kept, received, xid, QDeadlineTimer(handOffWait)});
        if (!instrument.writable) {
            instrument.writable
                    = std::make_unique<QSocketNotifier>(instrument.channel, QSocketNotifier::Write);
            connect(instrument.writable.get(), &QSocketNotifier::activated, this,
                    [this, port = instrument.port] { handOn(m_instruments.at(port)); });
        }
        instrument.writable->setEnabled(true);
        m_handOffs.start();
        return Vxi11Dispatch::HandOff::Taken;
    }
    return Vxi11Dispatch::HandOff::NoSuchInstrument;
}

void Supervisor::handOn(Instrument &instrument)
{
    while (!instrument.handing.empty()) {
        const Instrument::HandOff &next = instrument.handing.front();
        const Sent sent = sendConnection(instrument.channel, next.descriptor, next.received);
        if (sent == Sent::Busy)
            return;
        if (sent == Sent::Failed)
            return refuseWaiting(instrument, true);
        ::close(next.descriptor);
        instrument.handing.pop_front();
    }
    if (instrument.writable)
        instrument.writable->setEnabled(false);
}

void Supervisor::refuseWaiting(Instrument &instrument, bool all)
{
    while (!instrument.handing.empty()
           && (all || instrument.handing.front().deadline.hasExpired())) {
        const Instrument::HandOff &refused = instrument.handing.front();
        const QByteArray reply = Rpc::markRecord(
                Rpc::acceptedReply(refused.xid, Rpc::AcceptStatus::Success,
                                   Vxi11::createLinkResult(Vxi11::outOfResources, 0, 0, 0)));
        [[maybe_unused]] const auto sent
                = ::send(refused.descriptor, reply.constData(), std::size_t(reply.size()),
                         MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(refused.descriptor);
        m_log(QStringLiteral("inst%1 (%2) did not take a VXI-11 connection in time: refused "
                             "with error 9")
                      .arg(instrument.number)
                      .arg(instrument.port));
        instrument.handing.pop_front();
    }
    if (instrument.handing.empty() && instrument.writable)
        instrument.writable->setEnabled(false);
}

QByteArray Supervisor::index(const QString &host) const
{
    std::vector<IndexRow> rows;
    for (const auto &[port, instrument] : m_instruments) {
        rows.push_back({instrument.number, port, instrument.present, bool(instrument.process),
                        instrument.socketPort, instrument.httpPort});
    }
    std::ranges::sort(rows, {}, &IndexRow::number);
    const QString named = host.contains(u':') ? u'[' + host + u']' : host;
    return indexPage(named, m_vxi11On, rows);
}

void Supervisor::finish(std::function<void()> done)
{
    m_finished = std::move(done);
    m_watch.stop();
    if (m_dispatch)
        m_dispatch->close();
    for (auto &[port, instrument] : m_instruments) {
        if (instrument.process)
            instrument.process->terminate();
    }
    if (m_lookup) {
        m_lookup->stop([this] {
            m_lookupStopped = true;
            checkFinished();
        });
    }
    QTimer::singleShot(0, this, &Supervisor::checkFinished);
}

void Supervisor::checkFinished()
{
    if (!m_finished || !m_lookupStopped)
        return;
    for (const auto &[port, instrument] : m_instruments) {
        if (instrument.process)
            return;
    }
    std::exchange(m_finished, {})();
}
