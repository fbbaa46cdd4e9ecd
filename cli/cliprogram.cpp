#include "cliprogram.h"

#include "boardlibrary.h"
#include "boardsession.h"
#include "cliversion.h"
#include "doctorcommand.h"
#include "interruption.h"
#include "listcommand.h"
#include "usbstuff.h"

#include <QFile>
#include <QRegularExpression>

#include <utility>
#include <vector>

namespace {

// A step and the batch line it came from (0 for the command line).
using NumberedStep = std::pair<int, BoardStep>;

struct Batch
{
    std::vector<NumberedStep> steps;
    std::optional<UsageError> error;
};

QString linePrefix(int line)
{
    return line > 0 ? QStringLiteral("line %1: ").arg(line) : QString();
}

Batch readBatch(const QString &fileName)
{
    QFile file(fileName);
    const bool fromInput = fileName.isEmpty() || fileName == u"-";
    if (!(fromInput ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly)))
        return {{},
                UsageError {
                        QStringLiteral("cannot read %1: %2").arg(fileName, file.errorString())}};

    Batch batch;
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (qsizetype at = 0; at < lines.size(); ++at) {
        const QString text = QString::fromUtf8(lines[at]);
        const QStringList words = text.left(text.indexOf(u'#')).split(blanks, Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        const int line = int(at + 1);
        std::variant<BoardStep, UsageError> parsed = parseBatchLine(words);
        if (auto *error = std::get_if<UsageError>(&parsed)) {
            batch.error = UsageError {linePrefix(line) + error->message};
            return batch;
        }
        batch.steps.emplace_back(line, std::get<BoardStep>(std::move(parsed)));
    }
    return batch;
}

// Attempts once a second until waitSeconds have passed; false when no board answered by then.
bool bringUp(USBStuff &usb, int waitSeconds)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    int retries = 0;
    return usb.bringUp([&] {
        return ++retries <= waitSeconds && sleepUntil(start + std::chrono::seconds(retries));
    });
}

QString failureText(const RequestFailure &failure)
{
    return QStringLiteral("request %1 (0x%2) failed with status %3")
            .arg(QLatin1String(failure.operation))
            .arg(failure.fields.code, 2, 16, QLatin1Char('0'))
            .arg(failure.status);
}

} // namespace

int runCli(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    const auto complain = [&err](const QString &message) {
        err << "tx4410-cli: " << message << '\n';
        err.flush();
    };
    const auto usageError = [&](const QString &message) {
        complain(message);
        err << usageText();
        err.flush();
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
    case Invocation::Kind::Step:
    case Invocation::Kind::Batch:
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
                return listCommand(*usb, out, err);
            return doctorCommand(*usb, QFile::decodeName(usb->libraryFile()), out);
        } catch (const BoardLibraryError &error) {
            complain(error.message());
            return ExitStatus::libraryUnusable;
        }
    }

    const bool isBatch = invocation.kind == Invocation::Kind::Batch;
    std::vector<NumberedStep> steps;
    if (isBatch) {
        Batch batch = readBatch(invocation.batchFile);
        if (batch.error)
            return usageError(batch.error->message);
        steps = std::move(batch.steps);
    } else {
        steps.emplace_back(0, invocation.step);
    }

    // Until here Ctrl-C simply ends the program: nothing has been sent.
    catchInterrupt();
    const std::unique_ptr<USBStuff> usb = makeUSBStuff(BoardLibraryForm::FourFunction);
    try {
        if (!bringUp(*usb, invocation.waitSeconds)) {
            if (isInterrupted()) {
                complain(QStringLiteral("interrupted while waiting for the board"));
                return ExitStatus::interrupted;
            }
            complain(QStringLiteral("the board was not brought up: ") + usb->bringUpFailure());
            return ExitStatus::noBoard;
        }
        BoardSession session(*usb, out);
        for (const auto &[line, step] : steps) {
            switch (session.run(step)) {
            case BoardSession::Outcome::Done:
                break;
            case BoardSession::Outcome::RequestFailed:
                complain(linePrefix(line) + failureText(*session.failure()));
                return ExitStatus::requestFailed;
            case BoardSession::Outcome::Interrupted:
                // A read ended by Ctrl-C is a finished read; a batch cut short is not done.
                if (!isBatch)
                    return ExitStatus::done;
                complain(linePrefix(line) + QStringLiteral("interrupted"));
                return ExitStatus::interrupted;
            }
        }
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
