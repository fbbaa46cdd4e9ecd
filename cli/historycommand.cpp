#include "historycommand.h"

#include "cliprogram.h"
#include "optionwords.h"
#include "recordstore.h"
#include "wholefile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

#include <cmath>

using namespace OptionWords;

namespace {

QString dacName(int channel)
{
    return QStringLiteral("DAC %1").arg(QChar(u'A' + channel));
}

QString when(const QDateTime &time)
{
    return time.toString(Qt::ISODate);
}

// The summary's value for `key`, "INL: max ..." gives "max ...".
QString summaryValue(const QString &summary, const QString &key)
{
    for (const QString &line : summary.split(u'\n')) {
        if (line.startsWith(key + QStringLiteral(": ")))
            return line.mid(key.size() + 2);
    }
    return {};
}

bool isInForce(const Records::CalibrationRecord &record,
               const std::vector<Records::CalibrationRecord> &all)
{
    // Newest first: the first of its board's channel.
    for (const Records::CalibrationRecord &other : all) {
        if (other.board == record.board && other.channel == record.channel)
            return other.id == record.id;
    }
    return false;
}

// The certificate as CSV: # lines for each channel's figures, then every point's row.
QByteArray certificateCsv(const QString &board, const QString &name,
                          const std::vector<Records::CalibrationRecord> &inForce,
                          const QDateTime &now)
{
    QStringList lines {
            QStringLiteral("# calibration certificate of board %1%2, exported %3")
                    .arg(board, name.isEmpty() ? QString() : " (" + name + ")", when(now))};
    for (const Records::CalibrationRecord &record : inForce) {
        const Calibration::Channel &fit = record.fit;
        const Calibration::Uncertainty &u = fit.uncertainty;
        lines << QStringLiteral("# %1: calibrated %2, due %3%4, meter %5, by %6")
                         .arg(dacName(record.channel), when(record.time), when(record.due),
                              record.overdue(now) ? QStringLiteral(" (overdue)") : QString(),
                              record.meter, record.program);
        lines << QStringLiteral("# %1: offset error %2 V, gain error %3 %, uncertainty of a "
                                "calibrated setting %4 V at %5 V: meter noise %6 V, meter "
                                "resolution %7 V, fit and interpolation %8 V, meter accuracy "
                                "%9 % + %10 V")
                         .arg(dacName(record.channel))
                         .arg(fit.line.offset, 0, 'g', 6)
                         .arg(fit.gainErrorPercent(), 0, 'f', 4)
                         .arg(u.total(fit.vref), 0, 'g', 4)
                         .arg(fit.vref)
                         .arg(u.noise, 0, 'g', 4)
                         .arg(u.resolution, 0, 'g', 4)
                         .arg(u.interpolation, 0, 'g', 4)
                         .arg(u.accuracyPercent)
                         .arg(u.accuracyVolts, 0, 'g', 4);
    }
    lines << QStringLiteral("channel,code,measured_v,correction_v,residual_v,residual_lsb");
    for (const Records::CalibrationRecord &record : inForce) {
        const double lsb = record.fit.vref / Calibration::codeCount;
        for (const Calibration::TablePoint &point : record.fit.table) {
            const bool known = !std::isnan(point.residual);
            lines << QStringLiteral("%1,%2,%3,%4,%5,%6")
                             .arg(QChar(u'A' + record.channel))
                             .arg(point.code)
                             .arg(Calibration::outputAt(record.fit, point.code), 0, 'f', 9)
                             .arg(point.correction, 0, 'e', 6)
                             .arg(known ? QString::number(point.residual, 'e', 6) : QString())
                             .arg(known ? QString::number(point.residual / lsb, 'f', 4)
                                        : QString());
        }
    }
    return lines.join(u'\n').toUtf8() + '\n';
}

} // namespace

QList<QCommandLineOption> historyOptions()
{
    return {valued("board", "ID"), QCommandLineOption("json"), valued("export", "FILE"),
            valued("plot", "FILE")};
}

HistorySettings historySettings(const QCommandLineParser &parser)
{
    HistorySettings settings;
    settings.board = parser.value("board");
    settings.json = parser.isSet("json");
    settings.exportFile = parser.value("export");
    settings.plotFile = parser.value("plot");
    const QString exportSuffix = QFileInfo(settings.exportFile).suffix().toLower();
    if (parser.isSet("export") && exportSuffix != u"csv" && exportSuffix != u"json")
        refuse(QStringLiteral("--export \"%1\" names no .csv or .json file")
                       .arg(settings.exportFile));
    const QString plotSuffix = QFileInfo(settings.plotFile).suffix().toLower();
    if (parser.isSet("plot") && plotSuffix != u"png" && plotSuffix != u"svg")
        refuse(QStringLiteral("--plot \"%1\" names no .png or .svg file").arg(settings.plotFile));
    if (parser.isSet("plot") && !parser.isSet("export"))
        refuse("--plot draws the residuals of an export: it goes with --export");
    if (settings.json && parser.isSet("export"))
        refuse("--json lists; --export writes a certificate: one or the other");
    if (parser.isSet("export") && settings.exportFile == settings.plotFile)
        refuse("--export and --plot name the same file");
    return settings;
}

int historyCommand(const HistorySettings &settings, const QString &database, QTextStream &out,
                   const std::function<void(const QString &)> &complain)
{
    Records::Store store(database.isEmpty() ? Records::Store::defaultPath() : database, 2000);
    if (!store.open(Records::Store::Mode::Read)) {
        complain(store.error());
        return ExitStatus::outputFailed;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const std::vector<Records::BoardRow> boards = store.boards();
    const std::vector<Records::CalibrationRecord> calibrations = store.calibrations(settings.board);
    const std::vector<Records::SweepRecord> sweeps = store.error().isEmpty()
            ? store.sweeps(settings.board)
            : std::vector<Records::SweepRecord> {};
    if (!store.error().isEmpty()) {
        complain(store.error());
        return ExitStatus::outputFailed;
    }
    const auto nameOf = [&](const QString &identity) {
        for (const Records::BoardRow &row : boards) {
            if (row.id.identity == identity)
                return row.name;
        }
        return QString();
    };

    if (!settings.exportFile.isEmpty()) {
        std::vector<Records::CalibrationRecord> inForce;
        QString board;
        for (const Records::CalibrationRecord &record : calibrations) {
            if (!isInForce(record, calibrations))
                continue;
            if (!board.isEmpty() && record.board != board) {
                complain(QStringLiteral("--export writes one board's certificate, and the records "
                                        "hold several: name one with --board"));
                return ExitStatus::usage;
            }
            board = record.board;
            inForce.push_back(record);
        }
        if (inForce.empty()) {
            complain(QStringLiteral("no calibration stored%1 in %2: nothing to export")
                             .arg(settings.board.isEmpty() ? QString() : " for " + settings.board,
                                  store.path()));
            return ExitStatus::notCalibrated;
        }
        std::ranges::sort(inForce, {}, &Records::CalibrationRecord::channel);
        QByteArray bytes;
        if (settings.exportFile.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive)) {
            QJsonArray channels;
            for (const Records::CalibrationRecord &record : inForce)
                channels.append(Records::calibrationJson(record, true, now));
            bytes = QJsonDocument(QJsonObject {{"board", board},
                                               {"name", nameOf(board)},
                                               {"exported_utc", when(now)},
                                               {"calibrations", channels}})
                            .toJson();
        } else {
            bytes = certificateCsv(board, nameOf(board), inForce, now);
        }
        if (const QString failed = Sweep::writeWhole(settings.exportFile, bytes);
            !failed.isEmpty()) {
            complain(failed);
            return ExitStatus::outputFailed;
        }
        if (settings.plotFile.isEmpty())
            return ExitStatus::done;
        // The residuals drawn by tx4410-plot, from the certificate's rows.
        QProcess plot;
        plot.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tx4410-plot"),
                   {QStringLiteral("--residuals"), QStringLiteral("-"), settings.plotFile});
        plot.write(certificateCsv(board, nameOf(board), inForce, now));
        plot.closeWriteChannel();
        if (!plot.waitForFinished(120000) || plot.exitStatus() != QProcess::NormalExit
            || plot.exitCode() != 0) {
            const QString said = QString::fromLocal8Bit(plot.readAllStandardError()).trimmed();
            complain(QStringLiteral("cannot draw %1: %2")
                             .arg(settings.plotFile, said.isEmpty() ? plot.errorString() : said));
            return ExitStatus::outputFailed;
        }
        return ExitStatus::done;
    }

    if (settings.json) {
        QJsonArray boardList;
        for (const Records::BoardRow &row : boards)
            boardList.append(QJsonObject {{"identity", row.id.identity},
                                          {"kind", row.id.serial ? "serial" : "port"},
                                          {"name", row.name}});
        QJsonArray calibrationList;
        for (const Records::CalibrationRecord &record : calibrations)
            calibrationList.append(
                    Records::calibrationJson(record, isInForce(record, calibrations), now));
        QJsonArray sweepList;
        for (const Records::SweepRecord &record : sweeps)
            sweepList.append(QJsonObject {{"id", record.id},
                                          {"board", record.board},
                                          {"channel", QString(QChar(u'A' + record.channel))},
                                          {"time_utc", when(record.time)},
                                          {"settings", record.settings},
                                          {"summary", record.summary},
                                          {"program", record.program}});
        out << QJsonDocument(QJsonObject {{"database", store.path()},
                                          {"boards", boardList},
                                          {"calibrations", calibrationList},
                                          {"sweeps", sweepList}})
                        .toJson();
        return ExitStatus::done;
    }

    if (calibrations.empty() && sweeps.empty()) {
        out << QStringLiteral("nothing stored%1 in %2\n")
                        .arg(settings.board.isEmpty() ? QString() : " for " + settings.board,
                             store.path());
        return ExitStatus::done;
    }
    for (const Records::BoardRow &row : boards) {
        const auto ofBoard = [&](const auto &record) {
            return record.board == row.id.identity;
        };
        if (std::ranges::none_of(calibrations, ofBoard) && std::ranges::none_of(sweeps, ofBoard))
            continue;
        out << QStringLiteral("board %1%2 (%3)\n")
                        .arg(row.id.identity,
                             row.name.isEmpty() ? QString() : " \"" + row.name + '"',
                             row.id.serial ? QStringLiteral("USB serial")
                                           : QStringLiteral("USB port path"));
        for (const Records::CalibrationRecord &record : calibrations) {
            if (!ofBoard(record))
                continue;
            const Calibration::Channel &fit = record.fit;
            out << QStringLiteral("  %1  calibration %2  %3: offset error %4 mV, gain error %5 %, "
                                  "uncertainty ±%6 mV at %7 V, due %8%9%10\n")
                            .arg(when(record.time))
                            .arg(record.id)
                            .arg(dacName(record.channel))
                            .arg(fit.line.offset * 1000, 0, 'f', 4)
                            .arg(fit.gainErrorPercent(), 0, 'f', 4)
                            .arg(fit.uncertainty.total(fit.vref) * 1000, 0, 'f', 4)
                            .arg(fit.vref)
                            .arg(record.due.date().toString(Qt::ISODate),
                                 record.overdue(now) ? QStringLiteral(", OVERDUE") : QString(),
                                 isInForce(record, calibrations) ? QStringLiteral(" (in force)")
                                                                 : QString());
        }
        for (const Records::SweepRecord &record : sweeps) {
            if (!ofBoard(record))
                continue;
            out << QStringLiteral("  %1  sweep %2  %3: %4; monotonic: %5\n")
                            .arg(when(record.time))
                            .arg(record.id)
                            .arg(dacName(record.channel),
                                 summaryValue(record.summary, QStringLiteral("measured")),
                                 summaryValue(record.summary, QStringLiteral("monotonic")));
        }
    }
    return ExitStatus::done;
}
