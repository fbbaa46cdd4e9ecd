#include "sweepcommand.h"

#include "boardinventory.h"
#include "boardlibrary.h"
#include "cliprogram.h"
#include "codeconversion.h"
#include "interruption.h"
#include "optionwords.h"
#include "scpimeter.h"
#include "sessiondevice.h"
#include "sweeprunner.h"
#include "transferanalysis.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

#include <chrono>
#include <cmath>

#include <unistd.h>

using namespace OptionWords;

namespace {

const QStringList channelNames = {"A", "B", "C", "D"};
constexpr int defaultPoints = 257;

QString signedText(double value, int decimals)
{
    // No "-0.00" for what rounds to zero.
    const double shown = std::fabs(value) < 0.5 * std::pow(10.0, -decimals) ? 0.0 : value;
    return (shown >= 0 ? QStringLiteral("+") : QString()) + QString::number(shown, 'f', decimals);
}

QString durationText(double seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(std::ceil(seconds));
    return QStringLiteral("%1 min %2 s").arg(int(seconds) / 60).arg(int(seconds) % 60);
}

// What is there and no plain file (/dev/stdout) is written as it is; a plain file is made anew
// beside the old one, which needs a folder that takes a new file.
QString unwritable(const QString &path)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (file.isDir())
        return QStringLiteral("cannot write %1: it is a folder").arg(path);
    if (file.exists() && (!file.isFile() || file.isSymLink()))
        return file.isWritable() ? QString()
                                 : QStringLiteral("cannot write %1: permission denied").arg(path);
    if (!folder.isDir())
        return QStringLiteral("cannot write %1: there is no folder %2")
                .arg(path, folder.filePath());
    if (!folder.isWritable() || (file.exists() && !file.isWritable()))
        return QStringLiteral("cannot write %1: permission denied").arg(path);
    return {};
}

// A file made anew whole or not at all; what is there and no plain file (/dev/stdout, a pipe, a
// link) written as it is, never replaced.
bool writeWhole(const QString &path, const QByteArray &bytes, QString &error)
{
    const QFileInfo info(path);
    std::unique_ptr<QFileDevice> file;
    if (info.exists() && (!info.isFile() || info.isSymLink()))
        file = std::make_unique<QFile>(path);
    else
        file = std::make_unique<QSaveFile>(path);
    const bool written = file->open(QIODevice::WriteOnly) && file->write(bytes) == bytes.size()
            && file->flush()
            && (!qobject_cast<QSaveFile *>(file.get()) || static_cast<QSaveFile &>(*file).commit());
    error = file->errorString();
    return written;
}

// "points done, percent, time left" on standard error, redrawn in place on a terminal only.
class ProgressLine final
{
public:
    ProgressLine(QTextStream &err, std::size_t total)
        : m_err(err)
        , m_total(total)
        , m_shown(::isatty(STDERR_FILENO) == 1)
    { }
    ~ProgressLine() { clear(); }

    void update(std::size_t done)
    {
        if (!m_shown)
            return;
        const auto now = Clock::now();
        if (done < m_total && now - m_drawn < std::chrono::milliseconds(100))
            return;
        m_drawn = now;
        const double elapsed = std::chrono::duration<double>(now - m_start).count();
        m_err << QStringLiteral("\rsweep: %1/%2 points, %3%, %4 left\x1b[K")
                         .arg(done)
                         .arg(m_total)
                         .arg(100 * done / m_total)
                         .arg(durationText(elapsed / double(done) * double(m_total - done)));
        m_err.flush();
        m_drawing = true;
    }
    void clear()
    {
        if (m_drawing)
            m_err << "\r\x1b[K";
        m_err.flush();
        m_drawing = false;
    }

private:
    using Clock = std::chrono::steady_clock;
    QTextStream &m_err;
    std::size_t m_total;
    bool m_shown;
    bool m_drawing = false;
    Clock::time_point m_start = Clock::now();
    Clock::time_point m_drawn {};
};

using TransferAnalysis::Figures;

std::optional<Figures> figuresOf(const SweepSettings &settings,
                                 const std::vector<MeasuredPoint> &points)
{
    using namespace TransferAnalysis;
    if (points.size() < 2)
        return std::nullopt;
    std::vector<Point> measured;
    for (const MeasuredPoint &point : points)
        measured.push_back({point.code, point.mean, point.deviation / std::sqrt(point.samples)});
    return analyse(measured, settings.vref,
                   settings.endpointLine ? Method::Endpoint : Method::BestFit);
}

// The summary, "key: value" a line: on standard output, and after "# " in the CSV's header.
QStringList summaryLines(const SweepSettings &settings, const std::vector<MeasuredPoint> &points,
                         const std::optional<Figures> &figures, const QString &board,
                         const QString &measuredBy, const QString &identity)
{
    using namespace TransferAnalysis;
    const double lsb = settings.vref / codeCount;
    const QDateTime now = QDateTime::currentDateTime();
    QStringList lines {QStringLiteral("channel: %1").arg(channelNames[settings.channel]),
                       QStringLiteral("board: %1").arg(board),
                       QStringLiteral("date: %1")
                               .arg(now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate)),
                       QStringLiteral("measured by: %1").arg(measuredBy)};
    if (!identity.isEmpty())
        lines << QStringLiteral("meter: %1").arg(identity);
    lines << QStringLiteral("settings: codes %1 to %2 in %3 points, settle %4 ms, %5 a point, "
                            "Vref %6 V%7, %8 line")
                     .arg(settings.codes.front())
                     .arg(settings.codes.back())
                     .arg(settings.codes.size())
                     .arg(settings.settleMs)
                     .arg(settings.samples == 1
                                  ? QStringLiteral("1 sample")
                                  : QStringLiteral("%1 samples").arg(settings.samples))
                     .arg(settings.vref)
                     .arg(settings.meterHost.isEmpty()
                                  ? QStringLiteral(", Vdd %1 V").arg(settings.vdd)
                                  : QString())
                     .arg(settings.endpointLine ? "end-point" : "best-fit");
    lines << QStringLiteral("measured: %1 of %2 points")
                            .arg(points.size())
                            .arg(settings.codes.size())
                    + (points.empty() || points.size() == settings.codes.size()
                               ? QString()
                               : QStringLiteral(", codes %1 to %2")
                                         .arg(points.front().code)
                                         .arg(points.back().code));
    lines << QStringLiteral("LSB: %1 uV (Vref / 65536)").arg(lsb * 1e6, 0, 'f', 2);
    if (settings.meterHost.isEmpty()) {
        const double step = settings.vdd / 4096;
        // Two readings, each up to a step low, bound a step of the sweep's DNL per code by one
        // ADC step over its codes. Readings a step apart at one end of the range and none at the
        // other tilt a fitted line by up to 1.5 steps over the whole range.
        std::int32_t narrowest = settings.codes.back() - settings.codes.front();
        for (std::size_t i = 1; i < settings.codes.size(); ++i)
            narrowest = std::min(narrowest, settings.codes[i] - settings.codes[i - 1]);
        lines << QStringLiteral("resolution: one ADC step, Vdd / 4096 = %1 mV = %2 LSB: offset "
                                "and INL below that, DNL below %3 LSB a code (a step over %4 "
                                "codes) and gain errors below %5 % of full scale are not claimed")
                         .arg(step * 1e3, 0, 'f', 3)
                         .arg(step / lsb, 0, 'f', 1)
                         .arg(step / lsb / narrowest, 0, 'f', 4)
                         .arg(narrowest)
                         .arg(1.5 * step / settings.vref * 100, 0, 'f', 3);
    } else {
        double deviation = 0;
        for (const MeasuredPoint &point : points)
            deviation += point.deviation / double(points.size());
        lines << (settings.samples > 1
                          ? QStringLiteral("resolution: the meter's own; its samples deviated by "
                                           "%1 LSB on average")
                                    .arg(deviation / lsb, 0, 'f', 3)
                          : QStringLiteral("resolution: the meter's own; one sample a point, so "
                                           "its spread is not known"));
    }
    if (!figures) {
        lines << QStringLiteral("figures: none, fewer than two points measured");
        return lines;
    }
    const auto extremes = [](const Extreme &high, const Extreme &low, int decimals) {
        return QStringLiteral("max %1 LSB at code %2, min %3 LSB at code %4")
                .arg(signedText(high.lsb, decimals))
                .arg(high.code)
                .arg(signedText(low.lsb, decimals))
                .arg(low.code);
    };
    // A line fitted over a narrow window says little about code 0 or the whole range.
    const QString narrow = points.back().code - points.front().code < codeCount / 2
            ? QStringLiteral(", from the line of codes %1 to %2 only")
                      .arg(points.front().code)
                      .arg(points.back().code)
            : QString();
    lines << QStringLiteral("offset error: %1 mV (%2 LSB)%3")
                     .arg(signedText(figures->offsetVolts * 1e3, 3),
                          signedText(figures->offsetLsb, 2), narrow)
          << QStringLiteral("gain error: %1 % of full scale%2")
                     .arg(signedText(figures->gainErrorPercent, 4), narrow)
          << QStringLiteral("INL: ") + extremes(figures->inlMax, figures->inlMin, 2)
          << QStringLiteral("DNL: ") + extremes(figures->dnlMax, figures->dnlMin, 4)
                    + QStringLiteral(" (per step of the sweep, per code)")
          << (figures->nonMonotonicAt ? QStringLiteral("monotonic: no, the output falls at code %1")
                                                .arg(*figures->nonMonotonicAt)
                                      : QStringLiteral("monotonic: yes"));
    return lines;
}

QByteArray csvText(const SweepSettings &settings, const QStringList &summary,
                   const std::vector<MeasuredPoint> &points, const std::optional<Figures> &figures)
{
    using namespace TransferAnalysis;
    QByteArray text = "# tx4410-cli sweep\n";
    for (const QString &line : summary)
        text += "# " + line.toUtf8() + '\n';
    text += "code,ideal_v,measured_v,stddev_v,samples,error_lsb,inl_lsb,dnl_lsb\n";
    const double lsb = settings.vref / codeCount;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const MeasuredPoint &point = points[i];
        const double ideal = point.code * lsb;
        text += QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8\n")
                        .arg(point.code)
                        .arg(ideal, 0, 'f', 9)
                        .arg(point.mean, 0, 'f', 9)
                        .arg(point.deviation, 0, 'f', 9)
                        .arg(point.samples)
                        .arg((point.mean - ideal) / lsb, 0, 'f', 4)
                        .arg(figures ? QString::number(figures->inl[i], 'f', 4) : QString())
                        .arg(figures && i > 0 ? QString::number(figures->dnl[i - 1], 'f', 4)
                                              : QString())
                        .toUtf8();
    }
    return text;
}

} // namespace

QList<QCommandLineOption> sweepOptions()
{
    return {valued("channel", "A|B|C|D"),
            valued("from", "CODE"),
            valued("to", "CODE"),
            valued("step", "CODE"),
            valued("points", "N"),
            valued("settle-ms", "MS"),
            valued("samples", "N"),
            valued("vref", "VREF"),
            valued("vdd", "VDD"),
            valued("meter", "HOST[:PORT]"),
            valued("meter-query", "TEXT"),
            valued("meter-timeout", "SECONDS"),
            valued("csv", "FILE"),
            valued("plot", "FILE"),
            valued("method", "endpoint|best-fit")};
}

std::vector<std::int32_t> codesByStep(std::int32_t from, std::int32_t to, std::int32_t step)
{
    std::vector<std::int32_t> codes;
    for (std::int64_t code = from; code < to; code += step)
        codes.push_back(std::int32_t(code));
    codes.push_back(to);
    return codes;
}

std::vector<std::int32_t> codesByCount(std::int32_t from, std::int32_t to, std::int32_t points)
{
    std::vector<std::int32_t> codes;
    for (std::int64_t i = 0; i < points; ++i)
        codes.push_back(from + std::int32_t(std::llround(double(i) * (to - from) / (points - 1))));
    return codes;
}

SweepSettings sweepSettings(const QCommandLineParser &parser)
{
    SweepSettings settings;
    const auto whole = [&](const char *name, std::uint32_t fallback, std::uint32_t highest) {
        return parser.isSet(name)
                ? wholeNumber(QStringLiteral("--") + name, parser.value(name), highest)
                : fallback;
    };
    const auto above0 = [&](const char *name, double fallback) {
        const double value = parser.isSet(name)
                ? realNumber(QStringLiteral("--") + name, parser.value(name))
                : fallback;
        if (!(value > 0))
            refuse(QStringLiteral("--%1 %2 is not above 0").arg(name, parser.value(name)));
        return value;
    };
    settings.channel = nameIndex("--channel", required(parser, "sweep", "channel"), channelNames);
    const auto from = std::int32_t(whole("from", 0, highestCode));
    const auto to = std::int32_t(whole("to", highestCode, highestCode));
    if (from >= to)
        refuse(QStringLiteral("--from %1 is not below --to %2").arg(from).arg(to));
    if (parser.isSet("step") && parser.isSet("points"))
        refuse("sweep takes --step or --points, not both");
    if (parser.isSet("step")) {
        const auto step = std::int32_t(whole("step", 1, highestCode));
        if (step == 0)
            refuse("--step 0: a sweep steps at least one code");
        settings.codes = codesByStep(from, to, step);
    } else {
        const auto points = std::int32_t(whole("points", defaultPoints, highestInt));
        if (points < 2 || points > to - from + 1)
            refuse(QStringLiteral("--points %1 is out of range 2 to %2, the codes from %3 to %4")
                           .arg(points)
                           .arg(to - from + 1)
                           .arg(from)
                           .arg(to));
        settings.codes = codesByCount(from, to, points);
    }
    settings.settleMs = int(whole("settle-ms", 2, 3600000));
    settings.samples = int(whole("samples", 4, 1000000));
    if (settings.samples == 0)
        refuse("--samples 0: a point takes at least one sample");
    settings.vref = above0("vref", 5);
    settings.vdd = above0("vdd", 5);
    if (parser.isSet("meter")) {
        if (parser.isSet("vdd"))
            refuse("--vdd goes with the board's readback, not with --meter");
        const QString meter = parser.value("meter");
        if (!ServerDevice::parseAddress(meter, settings.meterHost, settings.meterPort))
            refuse(QStringLiteral("--meter \"%1\" is not HOST[:PORT]").arg(meter));
        if (parser.isSet("meter-query"))
            settings.meterQuery = parser.value("meter-query");
        const double timeout = above0("meter-timeout", 5);
        if (timeout > 3600)
            refuse("--meter-timeout is above 3600 seconds");
        settings.meterTimeoutMs = int(std::ceil(timeout * 1000));
        if (settings.meterQuery.trimmed().isEmpty() || settings.meterQuery.contains(u'\n'))
            refuse("--meter-query must be one line of text");
    } else if (parser.isSet("meter-query") || parser.isSet("meter-timeout")) {
        refuse("--meter-query and --meter-timeout go with --meter");
    }
    settings.csvFile = parser.value("csv");
    settings.plotFile = parser.value("plot");
    if (parser.isSet("csv") && settings.csvFile.isEmpty())
        refuse("--csv: the file name is empty");
    const QString suffix = QFileInfo(settings.plotFile).suffix().toLower();
    if (parser.isSet("plot") && suffix != u"png" && suffix != u"svg")
        refuse(QStringLiteral("--plot \"%1\" names no .png or .svg file").arg(settings.plotFile));
    if (parser.isSet("method")) {
        const int method = nameIndex("--method", parser.value("method"), {"ENDPOINT", "BEST-FIT"});
        settings.endpointLine = method == 0;
    }
    return settings;
}

SweepCommand::SweepCommand(const SweepSettings &settings, QTextStream &out, QTextStream &err,
                           Complain complain)
    : m_settings(settings)
    , m_out(out)
    , m_err(err)
    , m_complain(std::move(complain))
{ }

SweepCommand::~SweepCommand() = default;

int SweepCommand::prepare(USBStuff *usb, const QString &server)
{
    for (const QString &file : {m_settings.csvFile, m_settings.plotFile}) {
        if (const QString problem = file.isEmpty() ? QString() : unwritable(file);
            !problem.isEmpty()) {
            m_complain(problem);
            return ExitStatus::outputFailed;
        }
    }
    // The board the library will take: the one chosen, else the first that can be opened.
    m_board = usb ? QString() : QStringLiteral("at the server %1").arg(server);
    try {
        std::int16_t status = 0;
        if (usb)
            m_board = QString::fromLatin1(readSettings(*usb, status).port);
        for (const BoardListEntry &board :
             usb ? listBoards(*usb).boards : std::vector<BoardListEntry> {}) {
            if (m_board.isEmpty() && board.access == 0)
                m_board = QString::fromLatin1(board.port);
        }
    } catch (const BoardLibraryError &) { }
    if (m_board.isEmpty())
        m_board = QStringLiteral("unknown");
    if (m_settings.meterHost.isEmpty())
        return ExitStatus::done;
    m_meter = std::make_unique<ScpiMeter>(m_settings.meterHost, m_settings.meterPort,
                                          m_settings.meterQuery, m_settings.meterTimeoutMs);
    if (!m_meter->connectMeter()) {
        m_complain(m_meter->failure());
        return ExitStatus::meterFailed;
    }
    return ExitStatus::done;
}

int SweepCommand::run(SessionDevice &device)
{
    AdcSource adc(device, m_settings.channel, m_settings.vdd);
    VoltSource &source = m_meter ? static_cast<VoltSource &>(*m_meter) : adc;
    SweepRunner runner(device, source);
    ProgressLine progress(m_err, m_settings.codes.size());
    const SweepRunner::Outcome outcome
            = runner.run(m_settings.channel, m_settings.codes, m_settings.settleMs,
                         m_settings.samples, [&](std::size_t done) { progress.update(done); });
    progress.clear();

    const std::vector<MeasuredPoint> &points = runner.points();
    const QString at = points.size() < m_settings.codes.size()
            ? QStringLiteral("at code %1: ").arg(m_settings.codes[points.size()])
            : QString();
    int status = ExitStatus::done;
    switch (outcome) {
    case SweepRunner::Outcome::Done:
        break;
    case SweepRunner::Outcome::Interrupted:
        m_complain(QStringLiteral("interrupted after %1 of %2 points")
                           .arg(points.size())
                           .arg(m_settings.codes.size()));
        status = ExitStatus::interrupted;
        break;
    case SweepRunner::Outcome::RequestFailed:
        m_complain(at + device.failure()->message);
        status = device.failure()->exitStatus;
        break;
    case SweepRunner::Outcome::SourceFailed:
        m_complain(at + source.failure());
        status = ExitStatus::meterFailed;
        break;
    }

    const QString measuredBy = m_meter
            ? QStringLiteral("the meter at %1:%2, %3 each sample")
                      .arg(m_settings.meterHost)
                      .arg(m_settings.meterPort)
                      .arg(m_settings.meterQuery)
            : QStringLiteral(
                      "the board's readback, the multiplexer on channel %1 and the 12-bit ADC")
                      .arg(channelNames[m_settings.channel]);
    const std::optional<Figures> figures = figuresOf(m_settings, points);
    const QStringList summary = summaryLines(m_settings, points, figures, m_board, measuredBy,
                                             m_meter ? m_meter->identity() : QString());
    const QByteArray csv = csvText(m_settings, summary, points, figures);
    for (const QString &line : summary)
        m_out << line << '\n';
    m_out.flush();

    QString error;
    if (!m_settings.csvFile.isEmpty() && !writeWhole(m_settings.csvFile, csv, error)) {
        m_complain(QStringLiteral("cannot write %1: %2").arg(m_settings.csvFile, error));
        status = status == ExitStatus::done ? ExitStatus::outputFailed : status;
    }
    if (!m_settings.plotFile.isEmpty() && points.size() >= 2) {
        QProcess plot;
        plot.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tx4410-plot"),
                   {QStringLiteral("-"), m_settings.plotFile});
        plot.write(csv);
        plot.closeWriteChannel();
        if (!plot.waitForFinished(120000) || plot.exitStatus() != QProcess::NormalExit
            || plot.exitCode() != 0) {
            const QString said = QString::fromLocal8Bit(plot.readAllStandardError()).trimmed();
            m_complain(
                    QStringLiteral("cannot draw %1: %2")
                            .arg(m_settings.plotFile, said.isEmpty() ? plot.errorString() : said));
            status = status == ExitStatus::done ? ExitStatus::outputFailed : status;
        }
    } else if (!m_settings.plotFile.isEmpty()) {
        m_complain(QStringLiteral("no plot drawn: fewer than two points measured"));
    }
    return status;
}
