#include "cliprogram.h"

#include "boardlibrary.h"
#include "boardsession.h"
#include "calibratecommand.h"
#include "calibratedsteps.h"
#include "cliversion.h"
#include "commandsupport.h"
#include "doctorcommand.h"
#include "historycommand.h"
#include "interruption.h"
#include "listcommand.h"
#include "sessiondevice.h"
#include "sweepcommand.h"
#include "usbstuff.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

namespace {

struct Batch
{
    std::vector<NumberedParsedStep> steps;
    std::optional<UsageError> error;
};

QString linePrefix(int line)
{
    return line > 0 ? QStringLiteral("line %1: ").arg(line) : QString();
}

// Bounds that endless input (batch /dev/zero) meets long before memory runs out.
constexpr qsizetype maxLineBytes = 4096;
constexpr qsizetype maxBatchBytes = 16 * 1024 * 1024;

Batch readBatch(const QString &fileName)
{
    QFile file(fileName);
    const bool fromInput = fileName == u"-";
    const QString name = fromInput ? QStringLiteral("standard input") : fileName;
    const auto failure = [](const QString &message) {
        return Batch {{}, UsageError {message}};
    };
    if (!(fromInput ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly)))
        return failure(QStringLiteral("cannot read %1: %2").arg(name, file.errorString()));
    QByteArray text;
    char chunk[65536];
    qint64 got = 0;
    while (text.size() <= maxBatchBytes && (got = file.read(chunk, sizeof chunk)) > 0)
        text.append(chunk, got);
    if (got < 0)
        return failure(QStringLiteral("cannot read %1: %2").arg(name, file.errorString()));
    if (text.size() > maxBatchBytes) {
        return failure(QStringLiteral("line %1: the batch is larger than 16 MiB")
                               .arg(QByteArrayView(text).first(maxBatchBytes).count('\n') + 1));
    }

    Batch batch;
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    int line = 0;
    for (qsizetype start = 0; start < text.size();) {
        ++line;
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        if (end - start > maxLineBytes)
            return failure(linePrefix(line) + QStringLiteral("longer than 4096 bytes"));
        const QString content = QString::fromUtf8(QByteArrayView(text).sliced(start, end - start));
        start = end + 1;
        const QStringList words
                = content.left(content.indexOf(u'#')).split(blanks, Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        std::variant<ParsedStep, UsageError> parsed = parseBatchLine(words);
        if (auto *error = std::get_if<UsageError>(&parsed))
            return failure(linePrefix(line) + error->message);
        batch.steps.emplace_back(line, std::get<ParsedStep>(std::move(parsed)));
    }
    return batch;
}

// Attempts once a second, none starting after waitSeconds from the first: a deadline however
// long each attempt takes. False when no board answered by then.
bool bringUp(USBStuff &usb, int waitSeconds)
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point next = Clock::now();
    const Clock::time_point deadline = next + std::chrono::seconds(waitSeconds);
    return usb.bringUp([&] {
        next = std::max(next + std::chrono::seconds(1), Clock::now());
        return next <= deadline && sleepUntil(next);
    });
}

// Control characters from a batch or the command line escaped, so that a message cannot drive
// the terminal.
QString printable(const QString &text)
{
    QString shown;
    for (const QChar c : text) {
        shown += c.category() == QChar::Other_Control
                ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                : QString(c);
    }
    return shown;
}

// The steps on a board that is up, or a server: stops at the first that does not end well.
int runSteps(SessionDevice &device, const std::vector<NumberedStep> &steps, bool isBatch,
             QTextStream &out, const std::function<void(const QString &)> &complain)
{
    // One CSV header for the run: with time_utc when any read asks for it.
    const bool utcColumn = std::ranges::any_of(steps, [](const NumberedStep &numbered) {
        const auto *read = std::get_if<ReadSamples>(&numbered.second);
        return read != nullptr && read->isoTime; // which --csv goes with
    });
    BoardSession session(device, out, utcColumn);
    for (const auto &[line, step] : steps) {
        switch (session.run(step)) {
        case BoardSession::Outcome::Done:
            break;
        case BoardSession::Outcome::RequestFailed:
            complain(linePrefix(line) + session.failure()->message);
            return session.failure()->exitStatus;
        case BoardSession::Outcome::Interrupted:
            // A read ended by Ctrl-C is a finished read; a batch cut short is not done.
            if (!isBatch)
                return ExitStatus::done;
            complain(linePrefix(line) + QStringLiteral("interrupted"));
            return interruptedStatus();
        case BoardSession::Outcome::OutputFailed:
            return ExitStatus::outputFailed; // said by runCli()
        }
    }
    return ExitStatus::done;
}

// runCli() but for the output's own failures.
int run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    const auto complain = [&err](const QString &message) {
        err << "tx4410-cli: " << printable(message) << '\n';
        err.flush();
    };
    // One line: the usage itself would bury the message.
    const auto usageError = [&](const QString &message) {
        complain(message + QStringLiteral(" (see tx4410-cli --help)"));
        return ExitStatus::usage;
    };

    std::variant<Invocation, UsageError> parsed = parseInvocation(arguments);
    if (const auto *error = std::get_if<UsageError>(&parsed))
        return usageError(error->message);
    const Invocation &invocation = std::get<Invocation>(parsed);
    switch (invocation.kind) {
    case Invocation::Kind::Help:
        out << usageText();
        return ExitStatus::done;
    case Invocation::Kind::Version:
        out << "tx4410-cli " << cliVersion << '\n';
        return ExitStatus::done;
    case Invocation::Kind::History:
        return historyCommand(invocation.history, invocation.database, out, complain);
    case Invocation::Kind::Step:
    case Invocation::Kind::Batch:
    case Invocation::Kind::Sweep:
    case Invocation::Kind::Calibrate:
    case Invocation::Kind::List:
    case Invocation::Kind::Doctor:
        break;
    }
    // The library reads its choice of board from the environment at its first call.
    if (!invocation.boardPort.isEmpty())
        qputenv("TX4410_BOARD_PORT", invocation.boardPort.toLocal8Bit());
    if (invocation.attach)
        qputenv("TX4410_ATTACH", "1");
    if (invocation.kind == Invocation::Kind::List || invocation.kind == Invocation::Kind::Doctor) {
        try {
            const std::unique_ptr<USBStuff> usb = makeUSBStuff(BoardLibraryForm::FourFunction);
            if (invocation.kind == Invocation::Kind::List)
                return listCommand(*usb, invocation.json, out, err);
            return doctorCommand(*usb, QFile::decodeName(usb->libraryFile()), invocation.json, out);
        } catch (const BoardLibraryError &error) {
            complain(error.message());
            return ExitStatus::libraryUnusable;
        }
    }

    const bool isBatch = invocation.kind == Invocation::Kind::Batch;
    std::vector<NumberedParsedStep> steps;
    if (isBatch) {
        Batch batch = readBatch(invocation.batchFile);
        if (batch.error)
            return usageError(batch.error->message);
        steps = std::move(batch.steps);
    } else if (invocation.kind == Invocation::Kind::Step) {
        steps.emplace_back(0, invocation.step);
    }
    // A server named on the command line, or in the environment unless a board of this
    // machine is chosen.
    QString server = invocation.server;
    if (server.isEmpty() && invocation.boardPort.isEmpty() && !invocation.attach)
        server = qEnvironmentVariable("TX4410_SERVER");
    QString serverHost;
    quint16 serverPort = 0;
    if (!server.isEmpty() && !ServerDevice::parseAddress(server, serverHost, serverPort))
        return usageError(
                QStringLiteral("%1 \"%2\" is not HOST[:PORT]")
                        .arg(invocation.server.isEmpty() ? "TX4410_SERVER" : "--server", server));
    // Bring-up resets the DAC: with nothing to send, the board is left alone.
    const bool isSweep = invocation.kind == Invocation::Kind::Sweep;
    const bool isCalibration = invocation.kind == Invocation::Kind::Calibrate;
    if (steps.empty() && !isSweep && !isCalibration)
        return ExitStatus::done;
    if (!server.isEmpty() && needsCalibration(steps))
        return usageError(QStringLiteral(
                "--calibrated applies this machine's records to this machine's board: through a "
                "server, CAL:STAT ON applies the server's"));

    // Until here Ctrl-C simply ends the program: nothing has been sent.
    catchInterrupt();
    std::optional<SweepCommand> sweep;
    if (isSweep)
        sweep.emplace(invocation.sweep, invocation.database, out, err, complain);
    std::optional<CalibrateCommand> calibration;
    if (isCalibration)
        calibration.emplace(invocation.calibrate, invocation.database, out, err, complain);
    if (!server.isEmpty()) {
        if (sweep) {
            if (const int status = sweep->prepare(nullptr); status != ExitStatus::done)
                return status;
        }
        ServerDevice device(serverHost, serverPort, invocation.waitSeconds);
        if (device.failure() && isInterrupted()) {
            complain(QStringLiteral("interrupted while waiting for the server"));
            return interruptedStatus();
        }
        if (device.failure()) {
            complain(device.failure()->message);
            return device.failure()->exitStatus;
        }
        return sweep ? sweep->run(device)
                     : runSteps(device, resolveSteps(steps, {}, {}).steps, isBatch, out, complain);
    }
    const std::unique_ptr<USBStuff> usb = makeUSBStuff(BoardLibraryForm::FourFunction);
    try {
        if (sweep) {
            if (const int status = sweep->prepare(usb.get()); status != ExitStatus::done)
                return status;
            // Ctrl-C while the meter was asked: the board is not reset for nothing.
            if (isInterrupted()) {
                complain(QStringLiteral("interrupted before the sweep began"));
                return interruptedStatus();
            }
        }
        if (calibration) {
            if (const int status = calibration->prepare(*usb); status != ExitStatus::done)
                return status;
            if (isInterrupted()) {
                complain(QStringLiteral("interrupted before the calibration began"));
                return interruptedStatus();
            }
        }
        // The records of the board the library will take, before it is brought up.
        const ResolvedSteps resolved
                = resolveSteps(steps, needsCalibration(steps) ? chosenBoard(*usb) : QString(),
                               invocation.database);
        for (const QString &warning : resolved.warnings)
            complain(warning);
        if (resolved.status != ExitStatus::done) {
            complain(resolved.failure);
            return resolved.status;
        }
        if (!bringUp(*usb, invocation.waitSeconds)) {
            if (isInterrupted()) {
                complain(QStringLiteral("interrupted while waiting for the board"));
                return interruptedStatus();
            }
            complain(QStringLiteral("the board was not brought up: ") + usb->bringUpFailure());
            return ExitStatus::noBoard;
        }
        LocalDevice device(*usb);
        if (calibration)
            return calibration->run(device);
        return sweep ? sweep->run(device)
                     : runSteps(device, resolved.steps, isBatch, out, complain);
    } catch (const FirmwarePathTooLong &) {
        complain(QStringLiteral("the program's folder path is too long for the board library "
                                "(at most %1 bytes with the firmware file name): %2")
                         .arg(USBStuff::maxPathBytes)
                         .arg(USBStuff::firmwarePath()));
        return ExitStatus::libraryUnusable;
    } catch (const BoardLibraryError &error) {
        complain(error.message());
        return ExitStatus::libraryUnusable;
    }
    return ExitStatus::done;
}

} // namespace

int runCli(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    int status = run(arguments, out, err);
    out.flush();
    if (out.status() != QTextStream::Ok) {
        err << "tx4410-cli: cannot write standard output: " << out.device()->errorString() << '\n';
        status = ExitStatus::outputFailed;
    }
    err.flush();
    return err.status() == QTextStream::Ok ? status : ExitStatus::outputFailed;
}
