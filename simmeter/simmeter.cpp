// tx4410-sim-meter: a bench meter clipped to an output of the simulated board. It reads the true
// volts the board publishes after every request and answers SCPI on TCP, one line a command,
// with knobs that make it misbehave as meters do.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <random>
#include <string_view>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char about[]
        = "A bench meter for the simulated board: it reads the output volts that tx4410-cli or\n"
          "tx4410-server publish in TX4410_SIM_OUTPUTS_FILE and answers SCPI on TCP, one line a\n"
          "command: *IDN?, MEAS:VOLT:DC? (or READ?), SYST:ERR?, *RST and *CLS; and as a\n"
          "scanner would, ROUT:CLOS (@N) to read output N (1 to 4, A to D; 101 to 104 too)\n"
          "and ROUT:CLOS? for the one it reads.\n"
          "--fault KIND@N: after N good readings, silent (answers no reading), junk (answers\n"
          "\"hello\"), error (answers nothing and queues -222 for SYST:ERR?), stale (sends one\n"
          "reading twice, an answer no query asked for), twice (sends every reading again\n"
          "5 ms later) or lag (answers the reading before, as FETC? does untriggered).\n"
          "Exit status: 0 ended by a signal or --once, 1 cannot listen, 2 usage error.";

struct Settings
{
    QHostAddress address {QHostAddress::LocalHost};
    quint16 port = 5025;
    QString outputs;
    int channel = 0;
    double noiseVolts = 0;
    std::uint32_t seed = 1;
    QString fault;
    int goodReadings = 0;
    int digits = 9; // after the point, in E notation
    bool once = false;
};

class Meter final : public QTcpServer
{
public:
    explicit Meter(const Settings &settings)
        : m_settings(settings)
        , m_noise(settings.seed)
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    while (socket->canReadLine()) {
                        const QByteArray said = answer(socket->readLine().trimmed().toUpper());
                        socket->write(said);
                        if (m_twice && !said.isEmpty())
                            QTimer::singleShot(5, socket, [socket, said] { socket->write(said); });
                    }
                });
                if (m_settings.once) {
                    close();
                    connect(socket, &QTcpSocket::disconnected, qApp, &QCoreApplication::quit);
                }
            }
        });
    }

private:
    QByteArray answer(const QByteArray &line)
    {
        if (line == "*IDN?")
            return "TX4410 bench,simulated meter,0," TX4410_SIM_METER_VERSION "\n";
        if (line == "SYST:ERR?" || line == "SYSTEM:ERROR?") {
            const QByteArray error = m_error.isEmpty() ? "+0,\"No error\"" : m_error;
            m_error.clear();
            return error + '\n';
        }
        if (line == "*RST" || line == "*CLS" || line.isEmpty())
            return {};
        if (line.startsWith("ROUT:CLOS") || line.startsWith("ROUTE:CLOSE"))
            return route(line);
        if (line != "MEAS:VOLT:DC?" && line != "MEASURE:VOLTAGE:DC?" && line != "READ?") {
            m_error = "-113,\"Undefined header\"";
            return {};
        }
        m_twice = false;
        bool late = false;
        if (m_readings++ >= m_settings.goodReadings && !m_settings.fault.isEmpty()) {
            const QString &fault = m_settings.fault;
            if (fault == u"junk")
                return "hello\n";
            if (fault == u"error")
                m_error = "-222,\"Data out of range\"";
            m_twice = fault == u"twice";
            late = fault == u"lag";
            if (fault != u"stale" && fault != u"twice" && fault != u"lag")
                return {};
        }
        QFile file(m_settings.outputs);
        if (!file.open(QIODevice::ReadOnly)) {
            m_error = "-230,\"Data corrupt or stale\"";
            return {};
        }
        double volts = file.readAll().simplified().split(' ').value(m_settings.channel).toDouble();
        if (m_settings.noiseVolts > 0)
            volts += std::normal_distribution<double>(0.0, m_settings.noiseVolts)(m_noise);
        QByteArray reading = QByteArray::number(volts, 'E', m_settings.digits) + '\n';
        // The reading taken at the query before: the first of all, when there is none.
        if (late)
            std::swap(reading, m_previous);
        if (late && reading.isEmpty())
            reading = m_previous;
        // Once: the reading goes twice, so that one answer waits that no query asked for.
        if (m_settings.fault == u"stale" && m_readings == m_settings.goodReadings + 1)
            return reading + reading;
        return reading;
    }

    // A scanner's channel list of one channel, "(@2)" or "(@102)": the output read from now on.
    QByteArray route(const QByteArray &line)
    {
        if (line.endsWith('?'))
            return "(@" + QByteArray::number(m_settings.channel + 1) + ")\n";
        const QByteArray list = line.mid(line.indexOf(' ') + 1).trimmed();
        bool number = false;
        const int channel = list.startsWith("(@") && list.endsWith(')')
                ? list.mid(2, list.size() - 3).toInt(&number) % 100
                : 0;
        if (line.indexOf(' ') < 0 || !number || channel < 1 || channel > 4) {
            m_error = "-224,\"Illegal parameter value\"";
            return {};
        }
        m_settings.channel = channel - 1;
        return {};
    }

    Settings m_settings;
    std::mt19937 m_noise;
    int m_readings = 0;
    QByteArray m_error;
    bool m_twice = false;
    QByteArray m_previous;
};

[[noreturn]] void refuse(const QString &message)
{
    std::fprintf(stderr, "tx4410-sim-meter: %s\n(see tx4410-sim-meter --help)\n",
                 qPrintable(message));
    std::exit(2);
}

Settings readSettings(const QCoreApplication &application)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(about));
    parser.addOptions({
            {{"h", "help"}, "This text."},
            {{"v", "version"}, "The version."},
            {"listen", "Where to listen (default 127.0.0.1:5025; port 0: any free one).",
             "ADDRESS:PORT"},
            {"outputs", "The board's outputs file (default $TX4410_SIM_OUTPUTS_FILE).", "FILE"},
            {"channel", "The output clipped to: A, B, C or D (default A).", "A|B|C|D"},
            {"noise-mv", "Gaussian noise on each reading, standard deviation (default 0).", "MV"},
            {"seed", "The noise's seed (default 1): the same seed, the same noise.", "N"},
            {"fault", "Misbehave after N good readings: silent, junk, error, stale, twice or lag.",
             "KIND@N"},
            {"digits", "Digits after the point of each reading (default 9): its resolution.", "N"},
            {"once", "Serve one client, then end (or after 60 s without one)."},
            {"detach", "Go to the background once listening; print where, then return."},
    });
    if (!parser.parse(application.arguments()))
        refuse(parser.errorText());
    if (parser.isSet("help")) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        std::exit(0);
    }
    if (parser.isSet("version")) {
        std::puts("tx4410-sim-meter " TX4410_SIM_METER_VERSION);
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty())
        refuse(QStringLiteral("unexpected \"%1\"").arg(parser.positionalArguments().first()));
    Settings settings;
    if (parser.isSet("listen")) {
        const QString text = parser.value("listen");
        const qsizetype colon = text.lastIndexOf(u':');
        QString host = text.left(colon);
        if (host.startsWith(u'[') && host.endsWith(u']'))
            host = host.mid(1, host.size() - 2);
        bool number = false;
        const uint port = text.mid(colon + 1).toUInt(&number);
        if (colon < 0 || !number || port > 65535 || !settings.address.setAddress(host))
            refuse(QStringLiteral("--listen \"%1\" is not ADDRESS:PORT").arg(text));
        settings.port = quint16(port);
    }
    settings.outputs = parser.isSet("outputs") ? parser.value("outputs")
                                               : qEnvironmentVariable("TX4410_SIM_OUTPUTS_FILE");
    if (settings.outputs.isEmpty())
        refuse("no outputs file: give --outputs or set TX4410_SIM_OUTPUTS_FILE");
    const QString channel = parser.value("channel").toUpper();
    settings.channel = channel.isEmpty() ? 0 : QStringList {"A", "B", "C", "D"}.indexOf(channel);
    if (settings.channel < 0)
        refuse(QStringLiteral("--channel \"%1\" is not A, B, C or D").arg(parser.value("channel")));
    bool number = true;
    if (parser.isSet("noise-mv"))
        settings.noiseVolts = parser.value("noise-mv").toDouble(&number) / 1000;
    if (!number || !(settings.noiseVolts >= 0 && settings.noiseVolts < 1000))
        refuse(QStringLiteral("--noise-mv \"%1\" is not 0 or more").arg(parser.value("noise-mv")));
    if (parser.isSet("seed"))
        settings.seed = parser.value("seed").toUInt(&number);
    if (!number)
        refuse(QStringLiteral("--seed \"%1\" is not a whole number").arg(parser.value("seed")));
    if (parser.isSet("fault")) {
        const QString fault = parser.value("fault");
        settings.fault = fault.section(u'@', 0, 0);
        settings.goodReadings = fault.section(u'@', 1).toInt(&number);
        if (!QStringList {"silent", "junk", "error", "stale", "twice", "lag"}.contains(
                    settings.fault)
            || !number || settings.goodReadings < 0)
            refuse(QStringLiteral("--fault \"%1\" is not silent, junk, error, stale, twice or "
                                  "lag @N")
                           .arg(fault));
    }
    if (parser.isSet("digits"))
        settings.digits = parser.value("digits").toInt(&number);
    if (!number || settings.digits < 0 || settings.digits > 15)
        refuse(QStringLiteral("--digits \"%1\" is not 0 to 15").arg(parser.value("digits")));
    settings.once = parser.isSet("once");
    return settings;
}

} // namespace

int main(int argc, char *argv[])
{
    // --detach: the child listens and says where through a pipe, then serves; the parent prints
    // that and returns, so that a script goes on only once the meter is there. Before Qt starts.
    int ready[2] = {-1, -1};
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--detach" && ::pipe(ready) == 0) {
            if (const pid_t child = ::fork(); child > 0) {
                ::close(ready[1]);
                char said[256] = {};
                const ssize_t got = ::read(ready[0], said, sizeof said - 1);
                int status = 1;
                if (got <= 0) // the child said why on standard error
                    return ::waitpid(child, &status, 0) == child && WIFEXITED(status)
                            ? WEXITSTATUS(status)
                            : 1;
                std::fputs(said, stdout);
                return said[0] == 'l' ? 0 : 1;
            }
            ::close(ready[0]);
            ::setsid();
            break;
        }
    }
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(TX4410_SIM_METER_VERSION));
    const Settings settings = readSettings(application);
    Meter meter(settings);
    if (!meter.listen(settings.address, settings.port)) {
        std::fprintf(stderr, "tx4410-sim-meter: cannot listen on %s:%u: %s\n",
                     qPrintable(settings.address.toString()), settings.port,
                     qPrintable(meter.errorString()));
        return 1;
    }
    const QString host = settings.address.protocol() == QAbstractSocket::IPv6Protocol
            ? '[' + settings.address.toString() + ']'
            : settings.address.toString();
    const QByteArray where
            = QStringLiteral("listening on %1:%2\n").arg(host).arg(meter.serverPort()).toUtf8();
    if (ready[1] >= 0) {
        (void)!::write(ready[1], where.constData(), size_t(where.size()));
        ::close(ready[1]);
        // Nothing of the caller's kept open: a script reading its output sees it end.
        const int null = ::open("/dev/null", O_RDWR);
        for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
            ::dup2(null, fd);
    } else {
        std::fputs(where.constData(), stdout);
        std::fflush(stdout);
    }
    if (settings.once)
        QTimer::singleShot(60000, &meter, [&meter] {
            if (meter.isListening())
                QCoreApplication::quit();
        });
    return QCoreApplication::exec();
}
