// tx4410-server: brings the board up once and serves it as an instrument until SIGINT or SIGTERM:
// SCPI on a raw socket and over VXI-11, its identification, welcome page and front panel over
// HTTP, its records over DNS-SD. Here only the choice: one board, or the server of every board.
#include "boardlibrary.h"
#include "listener.h"
#include "oneboardserver.h"
#include "options.h"
#include "supervisor.h"
#include "usbstuff.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// The longest a signal waits for the connections to close.
constexpr std::chrono::seconds endingAtMost {5};

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

// Calls `ending(signal)` once, on the first SIGINT or SIGTERM.
class Termination final
{
public:
    explicit Termination(std::function<void(int)> ending)
        : m_notifier(signalPipe[0], QSocketNotifier::Read)
    {
        QObject::connect(&m_notifier, &QSocketNotifier::activated,
                         [this, ending = std::move(ending)] {
                             char number = 0;
                             [[maybe_unused]] const auto got = ::read(signalPipe[0], &number, 1);
                             m_notifier.setEnabled(false);
                             ending(number);
                         });
    }

private:
    QSocketNotifier m_notifier;
};

QString signalName(int number)
{
    return number == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM");
}

// Every board, each by a one-board server of its own; ends on SIGINT or SIGTERM once each has.
int serveEveryBoard(const Options &options, const OneBoardServer::Log &log)
{
    std::unique_ptr<USBStuff> usb;
    std::unique_ptr<Supervisor> supervisor;
    try {
        usb = makeUSBStuff(BoardLibraryForm::FourFunction);
        supervisor = std::make_unique<Supervisor>(
                Supervisor::Settings {QCoreApplication::applicationFilePath(),
                                      options.listen.address, options.listen.port,
                                      options.http ? std::optional(options.http->port)
                                                   : std::nullopt,
                                      options.http ? options.http->address : QHostAddress(),
                                      options.limits.maxClients, int(options.limits.idle.count()),
                                      options.attach, options.httpTokenFile, options.httpOrigins,
                                      options.httpOriginTexts, options.calibrationArguments},
                *usb, log);
        if (!supervisor->start())
            return ExitStatus::unusable;
    } catch (const std::exception &error) {
        log(QString::fromUtf8(error.what()));
        return ExitStatus::unusable;
    }
    const Termination termination([&](int number) {
        log(QStringLiteral("ending on %1").arg(signalName(number)));
        supervisor->finish([] { QCoreApplication::exit(ExitStatus::done); });
        // Each instrument ends within its own limit; this one only if one does not.
        QTimer::singleShot(endingAtMost + std::chrono::seconds(2),
                           [] { QCoreApplication::exit(ExitStatus::done); });
    });
    return QCoreApplication::exec();
}

int serveOneBoard(const Options &options, const OneBoardServer::Log &log)
{
    OneBoardServer server(options, log);
    try {
        if (const int status = server.start(); status != ExitStatus::done)
            return status;
    } catch (const std::exception &error) {
        log(QString::fromUtf8(error.what()));
        return ExitStatus::unusable;
    }
    bool ending = false;
    const auto end = [&](const QString &why) {
        if (std::exchange(ending, true))
            return;
        log(why);
        server.finish([] { QCoreApplication::exit(ExitStatus::done); });
        QTimer::singleShot(endingAtMost, [] { QCoreApplication::exit(ExitStatus::done); });
    };
    QObject::connect(&server, &OneBoardServer::boardGone, [&] {
        end(QStringLiteral("ending: the board has gone; served again once it is back"));
    });
    const Termination termination(
            [&](int number) { end(QStringLiteral("ending on %1").arg(signalName(number))); });
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
    // Every interface's connections, and a flood of them, meet the most the system allows.
    raiseDescriptorLimit();
    return options.all ? serveEveryBoard(options, log) : serveOneBoard(options, log);
}
