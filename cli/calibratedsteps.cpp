#include "calibratedsteps.h"

#include "cliprogram.h"
#include "commandchoices.h"
#include "recordstore.h"

#include <map>

namespace {

QString linePrefix(int line)
{
    return line > 0 ? QStringLiteral("line %1: ").arg(line) : QString();
}

// A step that needs no record, as the board session runs it; never a calibrated write, which
// the caller has turned into words.
BoardStep plainStep(const ParsedStep &step)
{
    if (const auto *send = std::get_if<SendWord>(&step))
        return *send;
    if (const auto *read = std::get_if<ReadSamples>(&step))
        return *read;
    return std::get<DrivePins>(step);
}

} // namespace

bool needsCalibration(const std::vector<NumberedParsedStep> &parsed)
{
    return std::ranges::any_of(parsed, [](const NumberedParsedStep &numbered) {
        const auto *read = std::get_if<ReadSamples>(&numbered.second);
        return std::holds_alternative<CalibratedWrite>(numbered.second)
                || (read != nullptr && read->calibrated);
    });
}

ResolvedSteps resolveSteps(const std::vector<NumberedParsedStep> &parsed, const QString &board,
                           const QString &database)
{
    ResolvedSteps resolved;
    if (!needsCalibration(parsed)) {
        for (const auto &[line, step] : parsed)
            resolved.steps.emplace_back(line, plainStep(step));
        return resolved;
    }
    const auto failed = [&resolved](int status, const QString &why) {
        resolved.steps.clear();
        resolved.status = status;
        resolved.failure = why;
        return resolved;
    };
    if (board.isEmpty())
        return failed(ExitStatus::noBoard,
                      QStringLiteral("--calibrated: the board library does not say which board "
                                     "it will take, so no record can be chosen for it"));
    Records::Store store(database.isEmpty() ? Records::Store::defaultPath() : database, 2000);
    if (!store.open(Records::Store::Mode::Read))
        return failed(ExitStatus::outputFailed, store.error());
    const QDateTime now = QDateTime::currentDateTimeUtc();
    std::map<int, Records::CalibrationRecord> records;
    // The record of the channel, read once; nothing and the failure said when there is none.
    const auto recordOf = [&](int line, int channel) -> const Records::CalibrationRecord * {
        if (const auto known = records.find(channel); known != records.end())
            return &known->second;
        std::optional<Records::CalibrationRecord> record = store.calibration(board, channel);
        if (!record) {
            failed(store.error().isEmpty() ? ExitStatus::notCalibrated : ExitStatus::outputFailed,
                   linePrefix(line)
                           + (store.error().isEmpty()
                                      ? QStringLiteral("--calibrated: DAC %1 of board %2 has no "
                                                       "calibration in %3 (tx4410-cli calibrate)")
                                                .arg(QChar(u'A' + channel))
                                                .arg(board, store.path())
                                      : store.error()));
            return nullptr;
        }
        if (record->overdue(now))
            resolved.warnings << QStringLiteral("warning: the calibration of DAC %1 of board %2 "
                                                "was due %3: still applied; calibrate it again")
                                         .arg(QChar(u'A' + channel))
                                         .arg(board, record->due.toString(Qt::ISODate));
        return &records.emplace(channel, std::move(*record)).first->second;
    };

    for (const auto &[line, step] : parsed) {
        if (const auto *write = std::get_if<CalibratedWrite>(&step)) {
            const std::vector<int> channels = write->address == 8
                    ? std::vector<int> {0, 1, 2, 3}
                    : std::vector<int> {write->address};
            for (const int channel : channels) {
                const Records::CalibrationRecord *record = recordOf(line, channel);
                if (record == nullptr)
                    return resolved;
                const std::optional<std::int32_t> code
                        = Calibration::codeFor(record->fit, write->volts);
                if (!code) {
                    const Calibration::Channel &fit = record->fit;
                    return failed(
                            ExitStatus::usage,
                            linePrefix(line)
                                    + QStringLiteral("--volts %1 is beyond what DAC %2 "
                                                     "reaches calibrated (%3 to %4 V)")
                                              .arg(write->text, QChar(u'A' + channel))
                                              .arg(Calibration::outputAt(fit, fit.lowestCode), 0,
                                                   'f', 6)
                                              .arg(Calibration::outputAt(fit, fit.highestCode), 0,
                                                   'f', 6));
                }
                resolved.steps.emplace_back(
                        line, SendWord {commandWordFor(write->command, channel, *code)});
            }
            continue;
        }
        if (const auto *read = std::get_if<ReadSamples>(&step);
            read != nullptr && read->calibrated) {
            ReadSamples calibrated = *read;
            for (const int channel : read->channels) {
                const Records::CalibrationRecord *record = recordOf(line, channel);
                if (record == nullptr)
                    return resolved;
                if (!record->fit.readback.measured)
                    return failed(ExitStatus::notCalibrated,
                                  linePrefix(line)
                                          + QStringLiteral("--calibrated: the calibration of DAC "
                                                           "%1 of board %2 holds no readback line")
                                                    .arg(QChar(u'A' + channel))
                                                    .arg(board));
                calibrated.lines[std::size_t(channel)] = record->fit.readback;
            }
            resolved.steps.emplace_back(line, calibrated);
            continue;
        }
        resolved.steps.emplace_back(line, plainStep(step));
    }
    return resolved;
}
