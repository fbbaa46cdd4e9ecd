#include "options.h"

#include "serverversion.h"

#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>

const char usage[]
        = "Usage: tx4410-server [--listen ADDRESS:PORT] [--http ADDRESS:PORT|off]\n"
          "                     [--board PORT|--all] [--attach] [--max-clients N]\n"
          "                     [--idle-timeout SECONDS] [--http-token FILE]\n"
          "                     [--http-origin URL[,URL...]]... [--database FILE]\n"
          "                     [--calibration-meter HOST[:PORT]] [--calibration-route TEXT]\n"
          "                     [--calibration-accuracy PERCENT%+VOLTS] [--valid-days DAYS]\n"
          "Brings the board up once and serves it as an instrument: SCPI on a raw TCP socket,\n"
          "by default 127.0.0.1:5025 (this machine only; 0.0.0.0:5025 lets any machine that\n"
          "can reach the port drive the DAC), and over VXI-11 (TCPIP::HOST::inst0::INSTR) on\n"
          "the same address; the LXI identification, a welcome page and the front panel\n"
          "(/panel/) over HTTP on --http, by default the --listen address, port 8080 (any\n"
          "free port when --listen's is 0); --http-token: the panel asks for the first line\n"
          "of FILE (no encryption: reach it through SSH or a TLS proxy on a LAN);\n"
          "--http-origin: the origin a proxy in front serves the pages as\n"
          "(https://bench7.example), whose Host and Origin the panel then takes too;\n"
          "DNS-SD records through avahi-daemon. --board and --attach as for tx4410-cli.\n"
          "--all serves every board on the bus, and every one plugged in later, each as its\n"
          "own instrument N (0, 1, ... kept by its USB port path): socket port PORT+N,\n"
          "VXI-11 device instN, web pages on HTTP port+1+N, an index of them on HTTP port.\n"
          "--max-clients (default 16) connections at once on each interface (the socket,\n"
          "HTTP, the panel's pages, ...), and VXI-11 links (over twice as many core channel\n"
          "connections). --idle-timeout (default 600, 0 never) closes a connection on any\n"
          "interface silent that long; an HTTP request must be whole within 10 s.\n"
          "--database: the calibration records (default TX4410_DATABASE, else\n"
          "tx4410/records.sqlite in the user's data folder); CALibration:STATe ON applies\n"
          "the board's, and is remembered there. *CAL? calibrates every channel against the\n"
          "SCPI meter at --calibration-meter (port 5025 unless given), switched to each\n"
          "channel by --calibration-route (%n the channel's number, as ROUT:CLOS (@%n)),\n"
          "its stated accuracy --calibration-accuracy; the record is due after --valid-days\n"
          "(default 365).\n"
          "SIGINT or SIGTERM ends it, each client getting its answers first.\n"
          "Exit status: 0 ended by a signal, 1 the board library cannot be used or the\n"
          "address cannot be listened on, 2 usage error, 3 the board was not brought up.\n";

namespace {

constexpr quint16 defaultHttpPort = 8080;

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

} // namespace

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
    const QCommandLineOption httpOrigin("http-origin", {}, "URL");
    const QCommandLineOption all("all");
    // Given by the server of every board to each instrument's own process.
    const QCommandLineOption instrument("instrument", {}, "N");
    const QCommandLineOption handoff("handoff", {}, "DESCRIPTOR");
    const QCommandLineOption handoffOnly("handoff-no-vxi11");
    const QCommandLineOption database("database", {}, "FILE");
    const QCommandLineOption calibrationMeter("calibration-meter", {}, "HOST[:PORT]");
    const QCommandLineOption calibrationRoute("calibration-route", {}, "TEXT");
    const QCommandLineOption calibrationAccuracy("calibration-accuracy", {}, "PERCENT%+VOLTS");
    const QCommandLineOption validDays("valid-days", {}, "DAYS");
    const QCommandLineOption help(QStringList {"help", "h"});
    const QCommandLineOption version(QStringList {"version", "v"});
    parser.addOptions({listen, http, board, attach, maxClients, idleTimeout, httpToken, httpOrigin,
                       all, instrument, handoff, handoffOnly, database, calibrationMeter,
                       calibrationRoute, calibrationAccuracy, validDays, help, version});
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
    if (parser.isSet(httpToken) && !options.http)
        throw UsageError {
                QStringLiteral("--http-token goes with the web pages, and --http is off")};
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
    if (parser.isSet(httpOrigin) && !options.http)
        throw UsageError {
                QStringLiteral("--http-origin goes with the web pages, and --http is off")};
    for (const QString &given : parser.values(httpOrigin)) {
        for (QString text : given.split(u',')) {
            text = text.trimmed();
            if (text.endsWith(u'/'))
                text.chop(1);
            const std::optional<Origin> origin = readOrigin(text.toLatin1());
            if (!origin || text.toLatin1() != text.toUtf8())
                throw UsageError {QStringLiteral("--http-origin \"%1\" is not an origin, as "
                                                 "https://bench7.example or "
                                                 "https://bench7.example:8443")
                                          .arg(text)};
            options.httpOrigins << *origin;
            options.httpOriginTexts << text;
        }
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
    options.handoffVxi11 = !parser.isSet(handoffOnly);
    for (const QCommandLineOption *given :
         {&database, &calibrationMeter, &calibrationRoute, &calibrationAccuracy, &validDays}) {
        if (parser.isSet(*given))
            options.calibrationArguments << QStringLiteral("--") + given->names().constFirst()
                                         << parser.value(*given);
    }
    options.calibration.database = parser.value(database);
    if (parser.isSet(database) && options.calibration.database.isEmpty())
        throw UsageError {QStringLiteral("--database: the file name is empty")};
    if (parser.isSet(validDays))
        options.calibration.validDays = readWhole(parser, validDays, 1, 36500);
    if (parser.isSet(calibrationMeter)) {
        Calibration::RunSettings run;
        run.channels = {0, 1, 2, 3};
        static const QRegularExpression hostPort(
                QStringLiteral("^(\\[[0-9A-Fa-f:.]+\\]|[A-Za-z0-9._-]+)(:([0-9]{1,5}))?$"));
        const QRegularExpressionMatch where = hostPort.match(parser.value(calibrationMeter));
        const uint port = where.captured(3).isEmpty() ? 5025 : where.captured(3).toUInt();
        if (!where.hasMatch() || port == 0 || port > 65535)
            throw UsageError {QStringLiteral("--calibration-meter \"%1\" is not HOST[:PORT]")
                                      .arg(parser.value(calibrationMeter))};
        run.meter.host = where.captured(1).remove(u'[').remove(u']');
        run.meter.port = quint16(port);
        run.route = parser.value(calibrationRoute);
        if (run.route.isEmpty() || run.route.contains(u'\n'))
            throw UsageError {QStringLiteral("--calibration-meter needs --calibration-route: the "
                                             "one line that switches the meter to channel %n, "
                                             "as ROUT:CLOS (@%n)")};
        if (parser.isSet(calibrationAccuracy)) {
            static const QRegularExpression accuracy(
                    QStringLiteral("^([0-9]*\\.?[0-9]+(?:[eE][-+]?[0-9]+)?)%(?:\\+([0-9]*\\.?[0-9]+"
                                   "(?:[eE][-+]?[0-9]+)?)V?)?$"));
            const QRegularExpressionMatch stated
                    = accuracy.match(parser.value(calibrationAccuracy));
            if (!stated.hasMatch())
                throw UsageError {QStringLiteral("--calibration-accuracy \"%1\" is not "
                                                 "PERCENT%+VOLTS, as 0.0035%+5e-6")
                                          .arg(parser.value(calibrationAccuracy))};
            run.meter.accuracyPercent = stated.captured(1).toDouble();
            run.meter.accuracyVolts = stated.captured(2).toDouble();
        }
        options.calibration.run = run;
    } else if (parser.isSet(calibrationRoute) || parser.isSet(calibrationAccuracy)) {
        throw UsageError {QStringLiteral("--calibration-route and --calibration-accuracy go "
                                         "with --calibration-meter")};
    }
    options.attach = parser.isSet(attach);
    if (parser.isSet(attach))
        qputenv("TX4410_ATTACH", "1");
    return options;
}
