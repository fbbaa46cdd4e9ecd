#include "oneboardserver.h"

#include "announcer.h"
#include "frontpanel.h"
#include "handoff.h"
#include "instrument.h"
#include "instrumenthost.h"
#include "netinterface.h"
#include "portmapper.h"
#include "serverboard.h"
#include "servercalibrations.h"
#include "serverversion.h"
#include "socketserver.h"
#include "usbstuff.h"
#include "vxi11server.h"
#include "webfront.h"
#include "websocket.h"

#include <QHostInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>

OneBoardServer::OneBoardServer(const Options &options, Log log)
    : m_options(options)
    , m_log(std::move(log))
    // The board carries no serial number: its USB port path, known once it is up, tells two
    // boards apart.
    , m_identity {QStringLiteral("TX4410 bench program"), QStringLiteral("TX4410"), QString(),
                  QString::fromLatin1(serverVersion),
                  QStringLiteral("TX4410 evaluation board: four-channel 16-bit voltage-output DAC "
                                 "with readback")}
{
    // The channel from the server of every board is this process's alone: no child of ours
    // (the sweep's picture) inherits it.
    if (m_options.handoff >= 0)
        ::fcntl(m_options.handoff, F_SETFD, FD_CLOEXEC);
}

OneBoardServer::~OneBoardServer()
{
    m_handed.reset();
    m_announcer.reset();
    m_panel.reset();
    m_pages.reset();
    m_lookup.reset();
    m_vxi11.reset();
    m_socket.reset();
    // A calibration running ends, its asker told, before the host goes.
    m_calibrations.reset();
    m_host.reset();
    m_instrument.reset();
    m_board.reset();
    m_usb.reset();
}

void OneBoardServer::identify()
{
    m_identity.serialNumber = m_board->port();
    m_instrument->setIdentity(QStringLiteral("%1,%2,%3,%4")
                                      .arg(m_identity.manufacturer, m_identity.model,
                                           m_identity.serialNumber, m_identity.firmwareRevision)
                                      .toLatin1());
}

int OneBoardServer::start()
{
    m_usb = makeUSBStuff(BoardLibraryForm::FourFunction);
    m_board = std::make_unique<ServerBoard>(*m_usb, m_log);
    m_instrument = std::make_unique<Scpi::Instrument>(*m_board, QByteArray());
    m_host = std::make_unique<InstrumentHost>(*m_instrument);
    m_socket = std::make_unique<SocketServer>(*m_host, m_options.limits, m_log);
    const QHostAddress &address = m_options.listen.address;
    // Listening first: a port in use is refused before the bring-up resets the DAC.
    if (!m_socket->listen(address, m_options.listen.port)) {
        m_log(QStringLiteral("cannot listen on %1: %2")
                      .arg(endpointText(address, m_options.listen.port), m_socket->errorString()));
        return ExitStatus::unusable;
    }
    try {
        if (!m_usb->bringUp([] { return false; })) {
            m_log(QStringLiteral("the board was not brought up: ") + m_usb->bringUpFailure());
            return ExitStatus::noBoard;
        }
    } catch (const std::exception &error) {
        m_log(QString::fromUtf8(error.what()));
        return ExitStatus::unusable;
    }
    m_board->brought();
    identify();
    m_calibrations = std::make_unique<ServerCalibrations>(*m_host, m_options.calibration, m_log);
    m_instrument->setCalibrations(m_calibrations.get());
    m_instrument->setCalibrator(
            [this](QByteArray &detail) { return m_calibrations->calibrate(detail); });
    m_calibrations->load(m_board->port());
    connect(m_board.get(), &ServerBoard::restarted, m_host.get(), &InstrumentHost::boardRestarted);
    connect(m_board.get(), &ServerBoard::restarted, this, &OneBoardServer::identify);
    m_log(QStringLiteral("listening on %1, at most %2 clients")
                  .arg(endpointText(address, m_socket->port()))
                  .arg(m_options.limits.maxClients));

    const SocketServer::Limits &limits = m_options.limits;
    m_vxi11 = std::make_unique<Vxi11Server>(
            Vxi11Server::Limits {limits.maxClients, limits.maxLineBytes, limits.maxUnreadBytes,
                                 limits.idle},
            m_log);
    const int number = std::max(m_options.instrument, 0);
    m_vxi11->addDevice(*m_host, number);

    m_panel = std::make_unique<FrontPanel>(*m_host, *m_board, limits.maxClients, m_log);
    m_pages = std::make_unique<WebFront>(
            WebFront::Pages {[this](const WebFront::Asked &asked) {
                                 return identificationDocument(m_identity, reachFrom(asked));
                             },
                             [this](const WebFront::Asked &asked) {
                                 return welcomePage(m_identity, reachFrom(asked), boardState());
                             },
                             [this](std::unique_ptr<WebSocket> socket) {
                                 m_panel->addPage(std::move(socket));
                             },
                             [this](const QString &name) {
                                 return m_panel->sweepFile(name);
                             }},
            WebFront::Settings {m_options.httpToken, m_options.httpOrigins, limits.maxClients,
                                limits.idle},
            m_log);
    if (const std::optional<Endpoint> &http = m_options.http) {
        m_httpOn = m_pages->listen(http->address, http->port);
        m_log(m_httpOn ? QStringLiteral("HTTP on %1: /lxi/identification, the welcome page and "
                                        "the front panel (/panel/)")
                                 .arg(endpointText(http->address, m_pages->port()))
                       : QStringLiteral("HTTP off: cannot listen on %1: %2")
                                 .arg(endpointText(http->address, http->port),
                                      m_pages->errorString()));
    }

    m_announcer = std::make_unique<Announcer>(m_log);
    const QString device = QStringLiteral("inst%1").arg(number);
    if (m_options.instrument >= 0) {
        // The server of every board starts this instrument's server again once its board is
        // back: a new process binds the board library afresh.
        connect(m_board.get(), &ServerBoard::gone, this, &OneBoardServer::boardGone);
        // One of several instruments: the server of every board hands each VXI-11 connection
        // that asks for this device over, and its end of the channel closing ends this one.
        m_vxi11On = m_options.handoff >= 0 && m_options.handoffVxi11
                && m_vxi11->listen(address, false);
        m_log(m_vxi11On ? QStringLiteral("VXI-11 as %1, through the server of every board")
                                  .arg(device)
                        : QStringLiteral("VXI-11 off for %1").arg(device));
        announce();
        serveHandOffs();
    } else if (!m_vxi11->listen(address)) {
        m_log(QStringLiteral("VXI-11 off: cannot listen on %1: %2")
                      .arg(address.toString(), m_vxi11->errorString()));
        announce();
    } else {
        m_lookup = std::make_unique<Vxi11Lookup>(address, m_vxi11->corePort(), limits.maxClients,
                                                 limits.idle, m_log);
        m_lookup->start([this, address](bool on, const QString &text) {
            m_vxi11On = on;
            if (on) {
                m_log(QStringLiteral("VXI-11 on %1 as inst0, %2")
                              .arg(endpointText(address, m_vxi11->corePort()), text));
            } else {
                m_log(QStringLiteral("VXI-11 off: ") + text);
                m_vxi11->finishAll([] {});
            }
            announce();
        });
    }
    return ExitStatus::done;
}

// Tells the server of every board where this instrument listens, then takes the VXI-11
// connections it hands over; its end of the channel closing ends this one.
void OneBoardServer::serveHandOffs()
{
    const int channel = m_options.handoff;
    if (channel < 0)
        return;
    sendReady(channel, {m_socket->port(), m_httpOn ? m_pages->port() : quint16(0)});
    m_handed = std::make_unique<QSocketNotifier>(channel, QSocketNotifier::Read);
    connect(m_handed.get(), &QSocketNotifier::activated, this, [this, channel] {
        int descriptor = -1;
        QByteArray received;
        switch (receiveConnection(channel, descriptor, received)) {
        case Received::Connection:
            if (m_vxi11On)
                m_vxi11->adopt(descriptor, received);
            else
                ::close(descriptor);
            return;
        case Received::Nothing:
            m_log(QStringLiteral("a hand-off without a connection from the server of every "
                                 "board: ignored"));
            return;
        case Received::End:
            m_handed->setEnabled(false);
            emit boardGone();
            return;
        }
    });
}

void OneBoardServer::announce()
{
    const QByteArrayList text {"txtvers=1", "Manufacturer=" + m_identity.manufacturer.toUtf8(),
                               "Model=" + m_identity.model.toUtf8(),
                               "SerialNumber=" + m_identity.serialNumber.toUtf8(),
                               "FirmwareVersion=" + m_identity.firmwareRevision.toUtf8()};
    std::vector<Announcer::Service> services {{"_scpi-raw._tcp", m_socket->port(), text}};
    // TCPIP::host::INSTR opens inst0: under --all, no other instrument's record may lead there.
    if (m_vxi11On && m_options.instrument <= 0)
        services.push_back({"_vxi-11._tcp", PortMap::port, text});
    if (m_httpOn) {
        services.push_back({"_lxi._tcp", m_pages->port(), text});
        services.push_back({"_http._tcp", m_pages->port(), QByteArrayList(text) << "path=/"});
    }
    m_announcer->announce(
            QStringLiteral("%1 %2 on %3")
                    .arg(m_identity.model, m_board->port(), QHostInfo::localHostName()),
            m_options.listen.address, std::move(services));
}

void OneBoardServer::finish(std::function<void()> done)
{
    // Each part says when it is done; the last to say so ends the run.
    auto waiting = std::make_shared<int>(m_lookup ? 3 : 2);
    auto once = std::make_shared<std::function<void()>>(std::move(done));
    const auto partDone = [waiting, once] {
        if (--*waiting == 0 && *once)
            std::exchange(*once, {})();
    };
    m_handed.reset();
    // A calibration running ends first, so that its asker's answer goes out with the rest.
    if (m_calibrations)
        m_calibrations->stop();
    m_vxi11->finishAll(partDone);
    if (m_lookup)
        m_lookup->stop(partDone);
    m_socket->finishAll(partDone);
}

Reach OneBoardServer::reachFrom(const WebFront::Asked &asked) const
{
    Reach reach;
    reach.host = asked.host;
    reach.ipAddress = asked.local.toString();
    reach.ipv6 = asked.local.protocol() == QAbstractSocket::IPv6Protocol;
    reach.lan = interfaceFacts(asked.local);
    reach.httpPort = m_pages->port();
    reach.socketPort = m_socket->port();
    reach.vxi11Device = m_vxi11On ? QStringLiteral("inst%1").arg(std::max(m_options.instrument, 0))
                                  : QString();
    return reach;
}

// The state the welcome page shows, asked of the instrument as a client would; nothing asked
// reaches the board.
BoardState OneBoardServer::boardState() const
{
    BoardState state;
    state.port = m_board->port();
    state.up = m_board->isUp();
    state.restarts = m_host->restarts();
    Scpi::StatusModel quiet;
    const QList<QByteArray> answers
            = m_instrument
                      ->execute("SOUR1:VOLT?;:SOUR2:VOLT?;:SOUR3:VOLT?;:SOUR4:VOLT?;:SOUR1:VOLT:"
                                "CODE?;:SOUR2:VOLT:CODE?;:SOUR3:VOLT:CODE?;:SOUR4:VOLT:CODE?;"
                                ":SOUR:VOLT:REF?;:MEAS:VDD?;:PIN:CLR?;:PIN:LDAC?",
                                quiet)
                      .trimmed()
                      .split(';');
    const auto answer = [&answers](qsizetype at) {
        return at < answers.size() ? QString::fromLatin1(answers[at]) : QStringLiteral("?");
    };
    for (std::size_t channel = 0; channel < 4; ++channel) {
        state.volts[channel] = answer(qsizetype(channel));
        state.codes[channel] = answer(qsizetype(channel) + 4);
    }
    state.reference = answer(8);
    state.vdd = answer(9);
    state.clr = answer(10);
    state.ldac = answer(11);
    state.socketClients = m_host->sessionCount(Session::Interface::Socket);
    state.vxi11Links = m_host->sessionCount(Session::Interface::Vxi11);
    if (const Session *holder = m_host->lockHolder())
        state.lockHolder = holder->peer();
    return state;
}
