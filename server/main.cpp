// tx4410-server: brings the board up once and serves it as an instrument until SIGINT or SIGTERM:
// SCPI on a raw socket and over VXI-11, its identification and welcome page over HTTP, its
// records over DNS-SD.
#include "announcer.h"
#include "handoff.h"
#include "boardlibrary.h"
#include "frontpanel.h"
#include "identification.h"
#include "instrument.h"
#include "instrumenthost.h"
#include "portmapper.h"
#include "serverboard.h"
#include "serverversion.h"
#include "socketserver.h"
#include "supervisor.h"
#include "usbstuff.h"
#include "vxi11codec.h"
#include "vxi11server.h"
#include "webfront.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>
#include <QWebSocket>

#include <csignal>
#include <optional>

#include <sys/socket.h>
#include <unistd.h>

namespace {

namespace ExitStatus {
constexpr int done = 0;
constexpr int unusable = 1; // the board library, or the address cannot be listened on
constexpr int usage = 2;
constexpr int noBoard = 3;
} // namespace ExitStatus

constexpr quint16 defaultHttpPort = 8080;
// The longest a signal waits for the connections to close.
constexpr std::chrono::seconds endingAtMost {5};

struct Endpoint
{
    QHostAddress address;
    quint16 port = 0;
};

struct Options
{
    Endpoint listen {QHostAddress::LocalHost, 5025};
    std::optional<Endpoint> http; // nothing: off
    QByteArray httpToken;         // empty: the panel asks for none
    QString httpTokenFile;        // where it was read, for the instruments of --all
    SocketServer::Limits limits;
    bool all = false;
    bool attach = false;
    // As one instrument of the server of every board: its number (-1: a server of its own), and
    // the channel its VXI-11 connections come through (-1: VXI-11 off).
    int instrument = -1;
    int handoff = -1;
    QString text; // for --help and --version: printed, and nothing else done
};

struct UsageError
{
    QString message;
};

const char usage[]
        = "Usage: tx4410-server [--listen ADDRESS:PORT] [--http ADDRESS:PORT|off]\n"
          "                     [--board PORT|--all] [--attach] [--max-clients N]\n"
          "                     [--idle-timeout SECONDS] [--http-token FILE]\n"
          "Brings the board up once and serves it as an instrument: SCPI on a raw TCP socket,\n"
          "by default 127.0.0.1:5025 (this machine only; 0.0.0.0:5025 lets any machine that\n"
          "can reach the port drive the DAC), and over VXI-11 (TCPIP::HOST::inst0::INSTR) on\n"
          "the same address; the LXI identification, a welcome page and the front panel\n"
          "(/panel/) over HTTP on --http, by default the --listen address, port 8080 (any\n"
          "free port when --listen's is 0); --http-token: the panel asks for the first line\n"
          "of FILE (no encryption: reach it through SSH or a TLS proxy on a LAN);\n"
          "DNS-SD records through avahi-daemon. --board and --attach as for tx4410-cli.\n"
          "--all serves every board on the bus, and every one plugged in later, each as its\n"
          "own instrument N (0, 1, ... kept by its USB port path): socket port PORT+N,\n"
          "VXI-11 device instN, web pages on HTTP port+1+N, an index of them on HTTP port.\n"
          "--max-clients (default 16) connections at once on each interface. --idle-timeout\n"
          "(default 600, 0 never) closes a connection silent that long. SIGINT or SIGTERM\n"
          "ends it, each client getting its answers first.\n"
          "Exit status: 0 ended by a signal, 1 the board library cannot be used or the\n"
          "address cannot be listened on, 2 usage error, 3 the board was not brought up.\n";

// "127.0.0.1:5025", "[::1]:5025", "0.0.0.0:0" (any free port).
Endpoint readEndpoint(const char *option, const QString &text)
{
    const qsizetype colon = text.lastIndexOf(u':');
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    bool number = false;
    const uint port = text.mid(colon + 1).toUInt(&number);
    if (host == u"localhost")
        host = QStringLiteral("127.0.0.1");
    Endpoint endpoint;
    if (colon < 0 || !number || port > 65535 || !endpoint.address.setAddress(host))
        throw UsageError {QStringLiteral("%1 \"%2\" is not ADDRESS:PORT, as 127.0.0.1:5025")
                                  .arg(QLatin1String(option), text)};
    endpoint.port = quint16(port);
    return endpoint;
}

int readWhole(const QCommandLineParser &parser, const QCommandLineOption &option, int lowest,
              int highest)
{
    bool number = false;
    const int value = parser.value(option).toInt(&number);
    if (!number || value < lowest || value > highest)
        throw UsageError {QStringLiteral("--%1 \"%2\" is not %3 to %4")
                                  .arg(option.names().constFirst(), parser.value(option))
                                  .arg(lowest)
                                  .arg(highest)};
    return value;
}

Options readOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption listen("listen", {}, "ADDRESS:PORT");
    const QCommandLineOption http("http", {}, "ADDRESS:PORT");
    const QCommandLineOption board("board", {}, "PORT");
    const QCommandLineOption attach("attach");
    const QCommandLineOption maxClients("max-clients", {}, "N");
    const QCommandLineOption idleTimeout("idle-timeout", {}, "SECONDS");
    const QCommandLineOption httpToken("http-token", {}, "FILE");
    const QCommandLineOption all("all");
    // Given by the server of every board to each instrument's own process.
    const QCommandLineOption instrument("instrument", {}, "N");
    const QCommandLineOption handoff("handoff", {}, "DESCRIPTOR");
    const QCommandLineOption help(QStringList {"help", "h"});
    const QCommandLineOption version(QStringList {"version", "v"});
    parser.addOptions({listen, http, board, attach, maxClients, idleTimeout, httpToken, all,
                       instrument, handoff, help, version});
    if (!parser.parse(arguments))
        throw UsageError {parser.errorText()};
    if (!parser.positionalArguments().isEmpty())
        throw UsageError {QStringLiteral("unexpected \"%1\"").arg(parser.positionalArguments()[0])};
    Options options;
    if (parser.isSet(help) || parser.isSet(version)) {
        options.text = parser.isSet(help) ? QString::fromLatin1(usage)
                                          : QStringLiteral("tx4410-server %1\n").arg(serverVersion);
        return options;
    }
    if (parser.isSet(listen))
        options.listen = readEndpoint("--listen", parser.value(listen));
    options.http
            = {options.listen.address, options.listen.port == 0 ? quint16(0) : defaultHttpPort};
    if (parser.isSet(http))
        options.http = parser.value(http) == u"off"
                ? std::nullopt
                : std::optional(readEndpoint("--http", parser.value(http)));
    if (parser.isSet(httpToken)) {
        QFile file(parser.value(httpToken));
        if (!file.open(QIODevice::ReadOnly))
            throw UsageError {QStringLiteral("--http-token \"%1\": %2")
                                      .arg(file.fileName(), file.errorString())};
        options.httpToken = file.readLine().trimmed();
        options.httpTokenFile = parser.value(httpToken);
        static const QRegularExpression cookieSafe(QStringLiteral("^[A-Za-z0-9._~+/=-]{8,}$"));
        if (!cookieSafe.match(QString::fromLatin1(options.httpToken)).hasMatch())
            throw UsageError {QStringLiteral("--http-token \"%1\": its first line is not at "
                                             "least 8 letters, digits or ._~+/=- (as openssl "
                                             "rand -hex 16 writes)")
                                      .arg(file.fileName())};
    }
    if (parser.isSet(maxClients))
        options.limits.maxClients = readWhole(parser, maxClients, 1, 1000);
    if (parser.isSet(idleTimeout))
        options.limits.idle = std::chrono::seconds(readWhole(parser, idleTimeout, 0, 86400 * 365));
    // The library reads its choice of board from the environment at each bring-up.
    static const QRegularExpression portPath(
            QStringLiteral("^(sim|[1-9][0-9]{0,2}-[1-9][0-9]{0,2}(\\.[1-9][0-9]{0,2}){0,6})$"));
    if (parser.isSet(board)) {
        if (!portPath.match(parser.value(board)).hasMatch())
            throw UsageError {QStringLiteral("--board \"%1\" is not a port as tx4410-cli list "
                                             "prints it (as 1-2.3)")
                                      .arg(parser.value(board))};
        qputenv("TX4410_BOARD_PORT", parser.value(board).toLocal8Bit());
    }
    if (parser.isSet(all) && parser.isSet(board))
        throw UsageError {QStringLiteral("--all and --board exclude each other")};
    options.all = parser.isSet(all);
    if (parser.isSet(instrument))
        options.instrument = readWhole(parser, instrument, 0, 999);
    if (parser.isSet(handoff))
        options.handoff = readWhole(parser, handoff, 3, 65535);
    options.attach = parser.isSet(attach);
    if (parser.isSet(attach))
        qputenv("TX4410_ATTACH", "1");
    return options;
}

int signalPipe[2] = {-1, -1};

extern "C" void noteSignal(int number)
{
    const char byte = char(number);
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM become a byte on a pipe that the event loop reads.
void catchTermination()
{
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe);
    struct sigaction action
    { };
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool isAnyAddress(const QHostAddress &address)
{
    return address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6
            || address == QHostAddress::Any;
}

// Where clients reach the instrument, as seen from a client that named it `host`.
Reach reachFrom(const QString &host, const QHostAddress &listening)
{
    Reach reach;
    reach.host = host;
    const QHostAddress named(host);
    const QHostAddress address = isAnyAddress(listening) ? named : listening;
    reach.ipv6 = address.protocol() == QAbstractSocket::IPv6Protocol
            || listening.protocol() == QAbstractSocket::IPv6Protocol;
    if (!address.isNull())
        reach.ipAddress = address.toString();
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            if (!address.isNull() && entry.ip().isEqual(address))
                reach.interfaceName = interface.name();
        }
    }
    return reach;
}

// The state the welcome page shows, asked of the instrument as a client would; nothing asked
// reaches the board.
BoardState boardState(Scpi::Instrument &instrument, const ServerBoard &board,
                      const InstrumentHost &host)
{
    BoardState state;
    state.port = board.port();
    state.up = board.isUp();
    state.restarts = host.restarts();
    Scpi::StatusModel quiet;
    const QList<QByteArray> answers
            = instrument
                      .execute("SOUR1:VOLT?;:SOUR2:VOLT?;:SOUR3:VOLT?;:SOUR4:VOLT?;:SOUR1:VOLT:"
                               "CODE?;"
                               ":SOUR2:VOLT:CODE?;:SOUR3:VOLT:CODE?;:SOUR4:VOLT:CODE?;"
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
    state.socketClients = host.sessionCount(Session::Interface::Socket);
    state.vxi11Links = host.sessionCount(Session::Interface::Vxi11);
    if (const Session *holder = host.lockHolder())
        state.lockHolder = holder->peer();
    return state;
}

// Every board, each by a one-board server of its own; ends on SIGINT or SIGTERM once each has.
int serveEveryBoard(const Options &options, const std::function<void(const QString &)> &log)
{
    std::unique_ptr<USBStuff> usb;
    std::unique_ptr<Supervisor> supervisor;
    try {
        usb = makeUSBStuff(BoardLibraryForm::FourFunction);
        supervisor = std::make_unique<Supervisor>(
                Supervisor::Settings {
                        QCoreApplication::applicationFilePath(), options.listen.address,
                        options.listen.port,
                        options.http ? std::optional(options.http->port) : std::nullopt,
                        options.http ? options.http->address : QHostAddress(),
                        options.limits.maxClients, int(options.limits.idle.count()),
                        options.attach, options.httpTokenFile},
                *usb, log);
        if (!supervisor->start())
            return ExitStatus::unusable;
    } catch (const std::exception &error) {
        log(QString::fromUtf8(error.what()));
        return ExitStatus::unusable;
    }
    QSocketNotifier termination(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&termination, &QSocketNotifier::activated, [&] {
        char number = 0;
        [[maybe_unused]] const auto got = ::read(signalPipe[0], &number, 1);
        termination.setEnabled(false);
        log(QStringLiteral("ending on %1").arg(number == SIGINT ? "SIGINT" : "SIGTERM"));
        supervisor->finish([] { QCoreApplication::exit(ExitStatus::done); });
        // Each instrument ends within its own limit; this one only if one does not.
        QTimer::singleShot(endingAtMost + std::chrono::seconds(2),
                           [] { QCoreApplication::exit(ExitStatus::done); });
    });
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tx4410-server"));
    QTextStream err(stderr);
    const auto log = [&err](const QString &line) {
        err << "tx4410-server: " << line << '\n';
        err.flush();
    };

    Options options;
    try {
        options = readOptions(QCoreApplication::arguments());
    } catch (const UsageError &error) {
        log(error.message);
        err << usage;
        return ExitStatus::usage;
    }
    if (!options.text.isEmpty()) {
        QTextStream(stdout) << options.text;
        return ExitStatus::done;
    }
    catchTermination();
    if (options.all)
        return serveEveryBoard(options, log);

    // The board carries no serial number: its USB port path, known once it is up, tells two
    // boards apart.
    Identity identity {QStringLiteral("TX4410 bench program"), QStringLiteral("TX4410"), QString(),
                       QString::fromLatin1(serverVersion),
                             QStringLiteral("TX4410 evaluation board: four-channel 16-bit "
                                            "voltage-output DAC with readback")};
    const std::unique_ptr<USBStuff> usb = makeUSBStuff(BoardLibraryForm::FourFunction);
    ServerBoard board(*usb, log);
    Scpi::Instrument instrument(board, {});
    const auto identify = [&] {
        identity.serialNumber = board.port();
        instrument.setIdentity(QStringLiteral("%1,%2,%3,%4")
                                       .arg(identity.manufacturer, identity.model,
                                            identity.serialNumber, identity.firmwareRevision)
                                       .toLatin1());
    };
    InstrumentHost host(instrument);
    SocketServer socket(host, options.limits, log);
    const QHostAddress &address = options.listen.address;
    // Listening first: a port in use is refused before the bring-up resets the DAC.
    if (!socket.listen(address, options.listen.port)) {
        log(QStringLiteral("cannot listen on %1: %2")
                    .arg(endpointText(address, options.listen.port), socket.errorString()));
        return ExitStatus::unusable;
    }
    try {
        if (!usb->bringUp([] { return false; })) {
            log(QStringLiteral("the board was not brought up: ") + usb->bringUpFailure());
            return ExitStatus::noBoard;
        }
    } catch (const std::exception &error) {
        log(QString::fromUtf8(error.what()));
        return ExitStatus::unusable;
    }
    board.brought();
    identify();
    QObject::connect(&board, &ServerBoard::restarted, &host, &InstrumentHost::boardRestarted);
    QObject::connect(&board, &ServerBoard::restarted, identify);
    log(QStringLiteral("listening on %1, at most %2 clients")
                .arg(endpointText(address, socket.port()))
                .arg(options.limits.maxClients));

    Vxi11Server vxi11({options.limits.maxClients, options.limits.maxLineBytes,
                       options.limits.maxUnreadBytes, options.limits.idle},
                      log);
    const int number = std::max(options.instrument, 0);
    const QString device = QStringLiteral("inst%1").arg(number);
    vxi11.addDevice(host, number);
    std::unique_ptr<Vxi11Lookup> lookup;
    bool vxi11On = false;

    quint16 httpPort = 0;
    // The pages are made from what is known when asked: whether VXI-11 is on, the board's state.
    const auto reach = [&](const QString &asked) {
        Reach reach = reachFrom(asked, address);
        reach.httpPort = httpPort;
        reach.socketPort = socket.port();
        reach.vxi11Device = vxi11On ? device : QString();
        return reach;
    };
    FrontPanel panel(host, board, options.limits.maxClients, log);
    WebFront pages(
            {[&](const QString &asked) { return identificationDocument(identity, reach(asked)); },
             [&](const QString &asked) {
                 return welcomePage(identity, reach(asked), boardState(instrument, board, host));
             },
             [&](std::unique_ptr<QWebSocket> socket) { panel.addPage(std::move(socket)); },
             [&](const QString &name) { return panel.sweepFile(name); }},
            options.httpToken);
    bool httpOn = false;
    if (options.http) {
        httpOn = pages.listen(options.http->address, options.http->port);
        httpPort = pages.port();
        log(httpOn ? QStringLiteral("HTTP on %1: /lxi/identification, the welcome page and the "
                                    "front panel (/panel/)")
                             .arg(endpointText(options.http->address, pages.port()))
                   : QStringLiteral("HTTP off: cannot listen on %1: %2")
                             .arg(endpointText(options.http->address, options.http->port),
                                  pages.errorString()));
    }

    Announcer announcer(log);
    // Once it is known whether VXI-11 is on: the records name what there is.
    const auto announce = [&] {
        const QByteArrayList text {"txtvers=1", "Manufacturer=" + identity.manufacturer.toUtf8(),
                                   "Model=" + identity.model.toUtf8(),
                                   "SerialNumber=" + identity.serialNumber.toUtf8(),
                                   "FirmwareVersion=" + identity.firmwareRevision.toUtf8()};
        std::vector<Announcer::Service> services {{"_scpi-raw._tcp", socket.port(), text}};
        if (vxi11On)
            services.push_back({"_vxi-11._tcp", PortMap::port, text});
        if (httpOn) {
            services.push_back({"_lxi._tcp", pages.port(), text});
            services.push_back({"_http._tcp", pages.port(), QByteArrayList(text) << "path=/"});
        }
        announcer.announce(QStringLiteral("%1 %2 on %3")
                                   .arg(identity.model, board.port(), QHostInfo::localHostName()),
                           address, std::move(services));
    };
    std::unique_ptr<QSocketNotifier> handed;
    if (options.instrument >= 0) {
        // The server of every board starts this instrument's server again once its board is
        // back: a new process binds the board library afresh.
        QObject::connect(&board, &ServerBoard::gone, [] { noteSignal(0); });
        // One of several instruments: the server of every board hands each VXI-11 connection
        // that asks for this device over, and its end of the channel closing ends this one.
        vxi11On = options.handoff >= 0 && vxi11.listen(address, false);
        log(vxi11On ? QStringLiteral("VXI-11 as %1, through the server of every board").arg(device)
                    : QStringLiteral("VXI-11 off for %1").arg(device));
        announce();
        if (options.handoff >= 0) {
            handed = std::make_unique<QSocketNotifier>(options.handoff, QSocketNotifier::Read);
            QObject::connect(handed.get(), &QSocketNotifier::activated, [&] {
                int descriptor = -1;
                QByteArray received;
                if (receiveConnection(options.handoff, descriptor, received)) {
                    vxi11.adopt(descriptor, received);
                } else if (descriptor < 0) {
                    handed->setEnabled(false);
                    noteSignal(SIGTERM);
                }
            });
        }
    } else if (!vxi11.listen(address)) {
        log(QStringLiteral("VXI-11 off: cannot listen on %1: %2")
                    .arg(address.toString(), vxi11.errorString()));
        announce();
    } else {
        lookup = std::make_unique<Vxi11Lookup>(address, vxi11.corePort(), options.limits.idle);
        lookup->start([&](bool on, const QString &text) {
            vxi11On = on;
            if (on) {
                log(QStringLiteral("VXI-11 on %1 as inst0, %2")
                            .arg(endpointText(address, vxi11.corePort()), text));
            } else {
                log(QStringLiteral("VXI-11 off: ") + text);
                vxi11.finishAll([] {});
            }
            announce();
        });
    }

    QSocketNotifier termination(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&termination, &QSocketNotifier::activated, [&] {
        char number = 0;
        [[maybe_unused]] const auto got = ::read(signalPipe[0], &number, 1);
        termination.setEnabled(false);
        log(number == 0 ? QStringLiteral("ending: the board has gone; served again once it is back")
                        : QStringLiteral("ending on %1").arg(number == SIGINT ? "SIGINT" : "SIGTERM"));
        // Each part says when it is done; the last to say so ends the run.
        auto waiting = std::make_shared<int>(lookup ? 3 : 2);
        const auto partDone = [waiting] {
            if (--*waiting == 0)
                QCoreApplication::exit(ExitStatus::done);
        };
        vxi11.finishAll(partDone);
        if (lookup)
            lookup->stop(partDone);
        socket.finishAll(partDone);
        QTimer::singleShot(endingAtMost, [] { QCoreApplication::exit(ExitStatus::done); });
    });
    return QCoreApplication::exec();
}
