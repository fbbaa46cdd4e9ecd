// tx4410-server: brings the board up once and answers SCPI on a TCP port until SIGINT or SIGTERM.
#include "boardlibrary.h"
#include "instrument.h"
#include "scpiserver.h"
#include "serverboard.h"
#include "serverversion.h"
#include "usbstuff.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace {

namespace ExitStatus {
constexpr int done = 0;
constexpr int unusable = 1; // the board library, or the address cannot be listened on
constexpr int usage = 2;
constexpr int noBoard = 3;
} // namespace ExitStatus

struct Options
{
    QHostAddress address {QHostAddress::LocalHost};
    quint16 port = 5025;
    ScpiServer::Limits limits;
    QString text; // for --help and --version: printed, and nothing else done
};

struct UsageError
{
    QString message;
};

const char usage[]
        = "Usage: tx4410-server [--listen ADDRESS:PORT] [--board PORT] [--attach] "
          "[--max-clients N]\n"
          "Brings the board up once and answers SCPI on a TCP port, by default\n"
          "127.0.0.1:5025 (this machine only); 0.0.0.0:5025 lets any machine that can\n"
          "reach the port drive the DAC. --board and --attach as for tx4410-cli.\n"
          "--max-clients (default 16) connections at once. SIGINT or SIGTERM ends it.\n"
          "Exit status: 0 ended by a signal, 1 the board library cannot be used or the\n"
          "address cannot be listened on, 2 usage error, 3 the board was not brought up.\n";

// "127.0.0.1:5025", "[::1]:5025", "0.0.0.0:0" (any free port).
void readListen(const QString &text, Options &options)
{
    const qsizetype colon = text.lastIndexOf(u':');
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    bool number = false;
    const uint port = text.mid(colon + 1).toUInt(&number);
    if (host == u"localhost")
        host = QStringLiteral("127.0.0.1");
    if (colon < 0 || !number || port > 65535 || !options.address.setAddress(host))
        throw UsageError {
                QStringLiteral("--listen \"%1\" is not ADDRESS:PORT, as 127.0.0.1:5025").arg(text)};
    options.port = quint16(port);
}

Options readOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption listen("listen", {}, "ADDRESS:PORT");
    const QCommandLineOption board("board", {}, "PORT");
    const QCommandLineOption attach("attach");
    const QCommandLineOption maxClients("max-clients", {}, "N");
    const QCommandLineOption help(QStringList {"help", "h"});
    const QCommandLineOption version(QStringList {"version", "v"});
    parser.addOptions({listen, board, attach, maxClients, help, version});
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
        readListen(parser.value(listen), options);
    if (parser.isSet(maxClients)) {
        bool number = false;
        options.limits.maxClients = parser.value(maxClients).toInt(&number);
        if (!number || options.limits.maxClients < 1 || options.limits.maxClients > 1000)
            throw UsageError {QStringLiteral("--max-clients \"%1\" is not 1 to 1000")
                                      .arg(parser.value(maxClients))};
    }
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

    const std::unique_ptr<USBStuff> usb = makeUSBStuff(BoardLibraryForm::FourFunction);
    ServerBoard board(*usb, log);
    Scpi::Instrument instrument(
            board, QByteArrayLiteral("TX4410 bench program,TX4410,0,") + serverVersion);
    ScpiServer server(instrument, options.limits, log);
    // Listening first: a port in use is refused before the bring-up resets the DAC.
    if (!server.listen(options.address, options.port)) {
        log(QStringLiteral("cannot listen on %1:%2: %3")
                    .arg(options.address.toString())
                    .arg(options.port)
                    .arg(server.errorString()));
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
    QObject::connect(&board, &ServerBoard::restarted, &server, [&] {
        instrument.boardRestarted();
        server.powerOn();
    });

    QSocketNotifier termination(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&termination, &QSocketNotifier::activated, [&] {
        char number = 0;
        [[maybe_unused]] const auto got = ::read(signalPipe[0], &number, 1);
        log(QStringLiteral("ending on %1").arg(number == SIGINT ? "SIGINT" : "SIGTERM"));
        server.closeAll();
        QCoreApplication::exit(ExitStatus::done);
    });
    log(QStringLiteral("listening on %1:%2, at most %3 clients")
                .arg(options.address.protocol() == QAbstractSocket::IPv6Protocol
                             ? '[' + options.address.toString() + ']'
                             : options.address.toString())
                .arg(server.port())
                .arg(options.limits.maxClients));
    return QCoreApplication::exec();
}
