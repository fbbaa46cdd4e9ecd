#include "sweepcommand.h"

#include "boardinventory.h"
#include "boardlibrary.h"
#include "cliprogram.h"
#include "codeconversion.h"
#include "interruption.h"
#include "optionwords.h"
#include "readbackchannels.h"
#include "scpimeter.h"
#include "sessiondevice.h"
#include "sweeprunner.h"
#include "transferanalysis.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

#include <algorithm>
#include <chrono>
#include <cmath>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
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

// Bytes written to a file descriptor to their end: the system's reason when they could not be.
QString writeAll(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t wrote
                = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return QString::fromLocal8Bit(std::strerror(wrote < 0 ? errno : ENOSPC));
        done += wrote;
    }
    return {};
}

// A file made anew whole or not at all: written beside the old one and renamed over it. What
// is there and no plain file (/dev/stdout, a pipe, a link) is written as it is. The system's
// reason when it failed.
QString writeWhole(const QString &path, const QByteArray &bytes)
{
    const QFileInfo info(path);
    const bool asItIs = info.exists() && (!info.isFile() || info.isSymLink());
    const QByteArray name = QFile::encodeName(path);
    QByteArray temporary = name + ".XXXXXX";
    const int fd = asItIs ? ::open(name.constData(), O_WRONLY | O_CLOEXEC)
                          : ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    QString error = writeAll(fd, bytes);
    if (::close(fd) != 0 && error.isEmpty())
        error = QString::fromLocal8Bit(std::strerror(errno));
    if (!asItIs && error.isEmpty()) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::chmod(temporary.constData(), 0666 & ~mask) != 0
            || ::rename(temporary.constData(), name.constData()) != 0)
            error = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (!asItIs && !error.isEmpty())
        ::unlink(temporary.constData());
    return error;
}

// The CSV as the sweep goes: FILE.partial, a row written as each point is measured, so that
// whatever ends the program the rows measured are on disk; at the end the whole file, every
// column and the summary, renamed over FILE, and FILE.partial removed. A device is written once,
// at the end.
class CsvStream final
{
public:
    explicit CsvStream(const QString &path)
        : m_path(path)
        , m_partial(path + QStringLiteral(".partial"))
    {
        const QFileInfo info(path);
        m_device = info.exists() && (!info.isFile() || info.isSymLink());
    }
    ~CsvStream()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool begin(const QByteArray &head)
    {
        if (m_device)
            return true;
        m_fd = ::open(QFile::encodeName(m_partial).constData(),
                      O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (m_fd < 0)
            return fail(m_partial, QString::fromLocal8Bit(std::strerror(errno)));
        return append(head);
    }
    bool append(const QByteArray &bytes)
    {
        if (m_fd < 0)
            return true;
        const QString error = writeAll(m_fd, bytes);
        return error.isEmpty() || fail(m_partial, error);
    }
    bool finish(const QByteArray &whole)
    {
        if (const QString error = writeWhole(m_path, whole); !error.isEmpty())
            return fail(m_path, error);
        if (m_fd >= 0)
            ::unlink(QFile::encodeName(m_partial).constData());
        return true;
    }
    const QString &failure() const { return m_failure; }

private:
    bool fail(const QString &file, const QString &reason)
    {
        m_failure = QStringLiteral("cannot write %1: %2").arg(file, reason);
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return false;
    }
    QString m_path;
    QString m_partial;
    bool m_device = false;
    int m_fd = -1;
    QString m_failure;
};

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

TransferAnalysis::Path pathOf(const SweepSettings &settings)
{
    if (!settings.meterHost.isEmpty())
        return {0, 0, settings.vref};
    return {settings.vdd / ReadbackChannels::adcFullScale, 0,
            std::min(settings.vref, settings.vdd)};
}

TransferAnalysis::Point pointOf(const MeasuredPoint &point)
{
    return {point.code, point.mean, point.deviation, point.samples};
}

std::optional<Figures> figuresOf(const SweepSettings &settings,
                                 const std::vector<MeasuredPoint> &points)
{
    using namespace TransferAnalysis;
    std::vector<Point> measured;
    for (const MeasuredPoint &point : points)
        measured.push_back(pointOf(point));
    return analyse(measured, settings.vref,
                   settings.endpointLine ? Method::Endpoint : Method::BestFit, pathOf(settings));
}

// A figure against what the path allows it to be off by: within that, it says only so.
QString bounded(double value, double bound, int decimals, const QString &unit)
{
    if (bound > 0 && std::fabs(value) <= bound)
        return QStringLiteral("within ±%1 %2").arg(bound, 0, 'f', decimals).arg(unit);
    return signedText(value, decimals)
            + (bound > 0 ? QStringLiteral(" ±%1").arg(bound, 0, 'f', decimals) : QString()) + ' '
            + unit;
}

// What the summary says before the first point: on standard output, and as the CSV's head.
QStringList headLines(const SweepSettings &settings, const QString &board,
                      const QString &measuredBy, const QString &identity)
{
    const QDateTime now = QDateTime::currentDateTime();
    QStringList lines {QStringLiteral("channel: %1").arg(channelNames[settings.channel]),
                       QStringLiteral("board: %1").arg(board),
                       QStringLiteral("date: %1")
                               .arg(now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate)),
                       QStringLiteral("measured by: %1").arg(measuredBy)};
    if (!identity.isEmpty())
        lines << QStringLiteral("meter: %1").arg(identity);
    lines << QStringLiteral("settings: %1; %2 points, settle %3 ms, %4 a point, Vref %5 V%6, "
                            "%7 line")
                     .arg(settings.grid)
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
    QStringList carries;
    for (const std::int32_t code : settings.carryCodes)
        carries << QString::number(code);
    if (!carries.isEmpty())
        lines << QStringLiteral("carries: %1").arg(carries.join(u' '));
    return lines;
}

// The figures of what was measured, "key: value" a line.
QStringList resultLines(const SweepSettings &settings, const std::vector<MeasuredPoint> &points,
                        const std::optional<Figures> &figures, int discarded)
{
    using namespace TransferAnalysis;
    const bool readback = settings.meterHost.isEmpty();
    QStringList lines;
    QString measured = QStringLiteral("measured: %1 of %2 points")
                               .arg(points.size())
                               .arg(settings.codes.size());
    if (!points.empty() && points.size() < settings.codes.size())
        measured += QStringLiteral(", codes %1 to %2")
                            .arg(points.front().code)
                            .arg(points.back().code);
    if (figures && figures->railPoints > 0)
        measured += QStringLiteral("; %1 at a rail (0 V or %2 V, within the noise), left out of "
                                   "the figures")
                            .arg(figures->railPoints)
                            .arg(pathOf(settings).highRail);
    lines << measured;
    if (discarded > 0)
        lines << QStringLiteral("unasked answers: %1 line%2 from the meter that no query asked "
                                "for, dropped before the next query")
                         .arg(discarded)
                         .arg(discarded == 1 ? "" : "s");
    const double idealLsb = settings.vref / codeCount;
    if (readback) {
        const double step = settings.vdd / ReadbackChannels::adcFullScale;
        lines << QStringLiteral("resolution: one ADC step, Vdd / 4096 = %1 mV = %2 LSB; each "
                                "reading the middle of its step")
                         .arg(step * 1e3, 0, 'f', 3)
                         .arg(step / idealLsb, 0, 'f', 1);
    } else {
        lines << QStringLiteral("resolution: the meter's own");
    }
    if (figures && figures->noiseDegrees > 0)
        lines << QStringLiteral("noise: the samples deviated by %1 mV (%2 LSB), pooled over the "
                                "points off the rails")
                         .arg(figures->noiseVolts * 1e3, 0, 'f', 4)
                         .arg(figures->noiseVolts / idealLsb, 0, 'f', 3);
    else if (settings.samples == 1)
        lines << QStringLiteral("noise: not known, one sample a point");
    if (!figures) {
        lines << QStringLiteral("figures: none, fewer than two points measured off the rails");
        return lines;
    }
    const QString method = settings.endpointLine ? "end-point" : "best-fit";
    lines << QStringLiteral("LSB: %1 uV, the %2 line's slope (ideal: Vref / 65536 = %3 uV)")
                     .arg(figures->lsb * 1e6, 0, 'f', 3)
                     .arg(method)
                     .arg(idealLsb * 1e6, 0, 'f', 3);
    const auto offset = [&](const LineFigures &line) {
        const QString volts = bounded(line.offsetVolts * 1e3, line.offsetBoundVolts * 1e3, 3, "mV");
        return volts.startsWith(u'w') ? volts
                                      : volts
                        + QStringLiteral(" (%1 LSB)")
                                  .arg(signedText(line.offsetVolts / idealLsb, 2));
    };
    lines << QStringLiteral("offset error: end-point line %1, best-fit line %2, at code 0")
                     .arg(offset(figures->endpoint), offset(figures->bestFit))
          << QStringLiteral("gain error: end-point line %1, best-fit line %2, of full scale")
                     .arg(bounded(figures->endpoint.gainErrorPercent,
                                  figures->endpoint.gainBoundPercent, 4, "%"),
                          bounded(figures->bestFit.gainErrorPercent,
                                  figures->bestFit.gainBoundPercent, 4, "%"));
    const QString why = readback
            ? (settings.samples > 1 ? QStringLiteral("the readback's resolution and noise")
                                    : QStringLiteral("the readback's resolution"))
            : QStringLiteral("the noise");
    // Each extreme as measured, or within the bound; both within: the bound alone.
    const auto extremes = [&](const Extreme &high, const Extreme &low, double bound) {
        const auto within = [bound](const Extreme &extreme) {
            return bound > 0 && std::fabs(extreme.lsb) <= bound;
        };
        if (within(high) && within(low))
            return QStringLiteral("within ±%1 LSB, %2").arg(bound, 0, 'f', 2).arg(why);
        const auto one = [&](const char *name, const Extreme &extreme) {
            return within(extreme)
                    ? QStringLiteral("%1 within ±%2 LSB").arg(name).arg(bound, 0, 'f', 2)
                    : QStringLiteral("%1 %2 LSB at code %3")
                              .arg(name, signedText(extreme.lsb, 2))
                              .arg(extreme.code);
        };
        return one("max", high) + ", " + one("min", low)
                + QStringLiteral(" (±%1 LSB, %2)").arg(bound, 0, 'f', 2).arg(why);
    };
    lines << QStringLiteral("INL: ")
                    + extremes(figures->inlMax, figures->inlMin, figures->inlBoundLsb);
    const QString wide = figures->narrowestWide == figures->widestWide
            ? QString::number(figures->widestWide)
            : QStringLiteral("%1 to %2").arg(figures->narrowestWide).arg(figures->widestWide);
    if (figures->dnlSteps == 0)
        lines << QStringLiteral("DNL: not measured (steps of %1 codes)").arg(wide);
    else
        lines << QStringLiteral("DNL: %1; over %2 steps of one code%3")
                         .arg(extremes(figures->dnlMax, figures->dnlMin, figures->dnlBoundLsb))
                         .arg(figures->dnlSteps)
                         .arg(settings.carryCodes.empty() ? QString()
                                                          : QStringLiteral(", at the carries"));
    if (figures->wideSteps > 0)
        lines << QStringLiteral("step error: over %1 codes, each step's rise less its codes, in "
                                "LSB: %2")
                         .arg(wide)
                         .arg(extremes(figures->stepMax, figures->stepMin, figures->stepBoundLsb));
    switch (figures->monotonic) {
    case Monotonic::Yes:
        lines << QStringLiteral("monotonic: yes, every code measured rises above its guard band");
        break;
    case Monotonic::No:
        lines << (figures->fallCode - figures->fallFrom == 1
                          ? QStringLiteral("monotonic: no, the output falls %1 LSB at code %2")
                                    .arg(figures->fallLsb, 0, 'f', 2)
                                    .arg(figures->fallCode)
                          : QStringLiteral("monotonic: no, the output falls %1 LSB between "
                                           "codes %2 and %3")
                                    .arg(figures->fallLsb, 0, 'f', 2)
                                    .arg(figures->fallFrom)
                                    .arg(figures->fallCode));
        break;
    case Monotonic::NotEstablished:
        lines << QStringLiteral("monotonic: not established %1; a fall of more than %2 LSB "
                                "would have been seen")
                         .arg(figures->wideSteps > 0
                                      ? QStringLiteral("between the codes measured (steps of up "
                                                       "to %1 codes)")
                                                .arg(figures->widestWide)
                                      : QStringLiteral("(%1)").arg(why))
                         .arg(figures->visibleFallLsb, 0, 'f', 2);
        break;
    }
    lines << QStringLiteral("bands: INL ±%1 LSB, DNL ±%2 LSB, step error ±%3 LSB")
                     .arg(figures->inlBoundLsb, 0, 'f', 3)
                     .arg(figures->dnlBoundLsb, 0, 'f', 3)
                     .arg(figures->stepBoundLsb, 0, 'f', 3);
    return lines;
}

QByteArray csvHead(const QStringList &head)
{
    QByteArray text = "# tx4410-cli sweep\n";
    for (const QString &line : head)
        text += "# " + line.toUtf8() + '\n';
    return text
            + "code,ideal_v,measured_v,stddev_v,samples,time_s,error_lsb,rail,inl_lsb,dnl_lsb,"
              "step_error_lsb\n";
}

// A row; the figures' columns empty until they are known.
QByteArray csvRow(const SweepSettings &settings, const MeasuredPoint &point, const Figures *figures,
                  std::size_t i)
{
    using namespace TransferAnalysis;
    const double lsb = settings.vref / codeCount;
    const double ideal = point.code * lsb;
    const auto cell = [&](const std::vector<double> &values) {
        return figures && !std::isnan(values[i]) ? QString::number(values[i], 'f', 4) : QString();
    };
    const bool rail = figures ? bool(figures->rail[i])
                              : atRail(pointOf(point), pathOf(settings), settings.vref);
    return QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9,%10,%11\n")
            .arg(point.code)
            .arg(ideal, 0, 'f', 9)
            .arg(point.mean, 0, 'f', 9)
            .arg(point.deviation, 0, 'f', 9)
            .arg(point.samples)
            .arg(point.seconds, 0, 'f', 6)
            .arg((point.mean - ideal) / lsb, 0, 'f', 4)
            .arg(rail ? 1 : 0)
            .arg(figures ? cell(figures->inl) : QString(), figures ? cell(figures->dnl) : QString(),
                 figures ? cell(figures->stepError) : QString())
            .toUtf8();
}

} // namespace

QList<QCommandLineOption> sweepOptions()
{
    return {valued("channel", "A|B|C|D"),
            valued("from", "CODE"),
            valued("to", "CODE"),
            valued("step", "CODE"),
            valued("points", "N"),
            valued("carries", "major|all|none"),
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

std::vector<std::int32_t> codesAtAdcMiddles(std::int32_t from, std::int32_t to, double stepCodes,
                                            std::int32_t points)
{
    // The steps whose middles lie within from and to.
    const auto first = std::int64_t(std::ceil(from / stepCodes - 0.5));
    const auto last = std::int64_t(std::floor(to / stepCodes - 0.5));
    if (last - first < 1)
        return codesByCount(from, to, std::min(points, to - from + 1));
    const std::int64_t every
            = std::max<std::int64_t>(1, std::llround(double(last - first) / (points - 1)));
    std::vector<std::int32_t> codes;
    const auto middle = [&](std::int64_t step) {
        return std::clamp(std::int32_t(std::llround((double(step) + 0.5) * stepCodes)), from, to);
    };
    for (std::int64_t step = first; step <= last; step += every)
        codes.push_back(middle(step));
    if (codes.back() != middle(last))
        codes.push_back(middle(last));
    return codes;
}

std::vector<std::int32_t> codesAroundCarries(std::int32_t from, std::int32_t to, int lowestBit)
{
    std::vector<std::int32_t> codes;
    for (int bit = lowestBit; bit <= 15; ++bit) {
        for (std::int32_t code = (1 << bit) - 2; code <= (1 << bit) + 2; ++code) {
            if (code >= from && code <= to)
                codes.push_back(code);
        }
    }
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
    // As the server bounds a reference or a supply.
    const auto volts = [&](const char *name, double fallback) {
        const double value = parser.isSet(name)
                ? realNumber(QStringLiteral("--") + name, parser.value(name))
                : fallback;
        if (!(value >= 0.001 && value <= 1000))
            refuse(QStringLiteral("--%1 %2 is out of range 0.001 to 1000 V")
                           .arg(name, parser.value(name)));
        return value;
    };
    settings.channel = nameIndex("--channel", required(parser, "sweep", "channel"), channelNames);
    const auto from = std::int32_t(whole("from", 0, highestCode));
    const auto to = std::int32_t(whole("to", highestCode, highestCode));
    if (from >= to)
        refuse(QStringLiteral("--from %1 is not below --to %2").arg(from).arg(to));
    if (parser.isSet("step") && parser.isSet("points"))
        refuse("sweep takes --step or --points, not both");
    settings.settleMs = int(whole("settle-ms", 2, 3600000));
    settings.samples = int(whole("samples", 4, 1000000));
    if (settings.samples == 0)
        refuse("--samples 0: a point takes at least one sample");
    settings.vref = volts("vref", 5);
    settings.vdd = volts("vdd", 5);
    if (parser.isSet("meter")) {
        if (parser.isSet("vdd"))
            refuse("--vdd goes with the board's readback, not with --meter");
        const QString meter = parser.value("meter");
        if (!ServerDevice::parseAddress(meter, settings.meterHost, settings.meterPort))
            refuse(QStringLiteral("--meter \"%1\" is not HOST[:PORT]").arg(meter));
        if (parser.isSet("meter-query"))
            settings.meterQuery = parser.value("meter-query");
        const double timeout = parser.isSet("meter-timeout")
                ? realNumber("--meter-timeout", parser.value("meter-timeout"))
                : 5;
        if (!(timeout > 0))
            refuse(QStringLiteral("--meter-timeout %1 is not above 0")
                           .arg(parser.value("meter-timeout")));
        if (timeout > 3600)
            refuse("--meter-timeout is above 3600 seconds");
        settings.meterTimeoutMs = int(std::ceil(timeout * 1000));
        if (settings.meterQuery.trimmed().isEmpty() || settings.meterQuery.contains(u'\n'))
            refuse("--meter-query must be one line of text");
    } else if (parser.isSet("meter-query") || parser.isSet("meter-timeout")) {
        refuse("--meter-query and --meter-timeout go with --meter");
    }

    if (parser.isSet("step")) {
        const auto step = std::int32_t(whole("step", 1, highestCode));
        if (step == 0)
            refuse("--step 0: a sweep steps at least one code");
        settings.codes = codesByStep(from, to, step);
        settings.grid = QStringLiteral("codes %1 to %2 every %3").arg(from).arg(to).arg(step);
    } else if (parser.isSet("points") || !settings.meterHost.isEmpty()) {
        const auto points = std::int32_t(whole("points", defaultPoints, highestInt));
        if (points < 2 || points > to - from + 1)
            refuse(QStringLiteral("--points %1 is out of range 2 to %2, the codes from %3 to %4")
                           .arg(points)
                           .arg(to - from + 1)
                           .arg(from)
                           .arg(to));
        settings.codes = codesByCount(from, to, points);
        settings.grid
                = QStringLiteral("codes %1 to %2 in %3 steps").arg(from).arg(to).arg(points - 1);
    } else {
        // Through the readback every point at the same part of an ADC step: an ideal board then
        // reads without a jump where the grid's spacing changes.
        const double stepCodes = settings.vdd / settings.vref * TransferAnalysis::codeCount
                / ReadbackChannels::adcFullScale;
        settings.codes = codesAtAdcMiddles(from, to, stepCodes, defaultPoints);
        settings.grid = QStringLiteral("codes %1 to %2 at the middle of ADC steps (%3 codes)")
                                .arg(settings.codes.front())
                                .arg(settings.codes.back())
                                .arg(stepCodes, 0, 'g', 4);
    }
    if (parser.isSet("carries"))
        settings.carries = SweepSettings::Carries(
                nameIndex("--carries", parser.value("carries"), {"NONE", "MAJOR", "ALL"}));
    if (settings.carries != SweepSettings::Carries::None) {
        const int lowest = settings.carries == SweepSettings::Carries::All ? 1 : 8;
        const std::vector<std::int32_t> around = codesAroundCarries(from, to, lowest);
        const std::size_t before = settings.codes.size();
        settings.codes.insert(settings.codes.end(), around.begin(), around.end());
        std::sort(settings.codes.begin(), settings.codes.end());
        settings.codes.erase(std::unique(settings.codes.begin(), settings.codes.end()),
                             settings.codes.end());
        for (int bit = lowest; bit <= 15; ++bit) {
            if ((1 << bit) - 1 >= from && (1 << bit) <= to)
                settings.carryCodes.push_back(1 << bit);
        }
        if (settings.codes.size() > before)
            settings.grid += QStringLiteral(", and code by code around the carries at 2^%1 to 2^15")
                                     .arg(lowest);
    }

    settings.csvFile = parser.value("csv");
    settings.plotFile = parser.value("plot");
    if (parser.isSet("csv") && settings.csvFile.isEmpty())
        refuse("--csv: the file name is empty");
    const QString suffix = QFileInfo(settings.plotFile).suffix().toLower();
    if (parser.isSet("plot") && suffix != u"png" && suffix != u"svg")
        refuse(QStringLiteral("--plot \"%1\" names no .png or .svg file").arg(settings.plotFile));
    const auto same = [](const QString &one, const QString &other) {
        const QFileInfo a(one);
        const QFileInfo b(other);
        return a.absoluteFilePath() == b.absoluteFilePath()
                || (a.exists() && a.canonicalFilePath() == b.canonicalFilePath());
    };
    if (parser.isSet("csv") && parser.isSet("plot")
        && (same(settings.csvFile, settings.plotFile)
            || same(settings.csvFile + QStringLiteral(".partial"), settings.plotFile)))
        refuse(QStringLiteral("--csv and --plot name the same file, %1").arg(settings.plotFile));
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
        return isInterrupted() ? interruptedStatus() : ExitStatus::meterFailed;
    }
    return ExitStatus::done;
}

int SweepCommand::run(SessionDevice &device)
{
    const QString measuredBy = m_meter
            ? QStringLiteral("the meter at %1, %2 each sample")
                      .arg(m_meter->where(), m_settings.meterQuery)
            : QStringLiteral("the board's readback, the multiplexer on channel %1 and the 12-bit "
                             "ADC")
                      .arg(channelNames[m_settings.channel]);
    const QStringList head
            = headLines(m_settings, m_board, measuredBy, m_meter ? m_meter->identity() : QString());
    std::optional<CsvStream> csv;
    int status = ExitStatus::done;
    if (!m_settings.csvFile.isEmpty()) {
        csv.emplace(m_settings.csvFile);
        if (!csv->begin(csvHead(head))) {
            m_complain(csv->failure());
            return ExitStatus::outputFailed;
        }
    }

    AdcSource adc(device, m_settings.channel, m_settings.vdd);
    VoltSource &source = m_meter ? static_cast<VoltSource &>(*m_meter) : adc;
    SweepRunner runner(device, source);
    ProgressLine progress(m_err, m_settings.codes.size());
    const SweepRunner::Outcome outcome
            = runner.run(m_settings.channel, m_settings.codes, m_settings.settleMs,
                         m_settings.samples, [&](const MeasuredPoint &point) {
                             progress.update(runner.points().size());
                             return !csv || csv->append(csvRow(m_settings, point, nullptr, 0));
                         });
    progress.clear();

    const std::vector<MeasuredPoint> &points = runner.points();
    const QString at = points.size() < m_settings.codes.size()
            ? QStringLiteral("at code %1: ").arg(m_settings.codes[points.size()])
            : QString();
    switch (outcome) {
    case SweepRunner::Outcome::Done:
        break;
    case SweepRunner::Outcome::Interrupted:
        m_complain(QStringLiteral("interrupted after %1 of %2 points")
                           .arg(points.size())
                           .arg(m_settings.codes.size()));
        status = interruptedStatus();
        break;
    case SweepRunner::Outcome::RequestFailed:
        m_complain(at + device.failure()->message);
        status = device.failure()->exitStatus;
        break;
    case SweepRunner::Outcome::SourceFailed:
        m_complain(at + source.failure());
        status = ExitStatus::meterFailed;
        break;
    case SweepRunner::Outcome::Stopped:
        m_complain(csv->failure() + QStringLiteral(": the sweep stopped there"));
        status = ExitStatus::outputFailed;
        break;
    }
    const int discarded = m_meter ? m_meter->discarded() : 0;
    if (discarded > 0)
        m_complain(QStringLiteral("warning: the meter at %1 sent %2 line%3 that no query asked "
                                  "for; dropped, never taken for an answer")
                           .arg(m_meter->where())
                           .arg(discarded)
                           .arg(discarded == 1 ? "" : "s"));

    const std::optional<Figures> figures = figuresOf(m_settings, points);
    const QStringList results = resultLines(m_settings, points, figures, discarded);
    QByteArray whole = csvHead(head);
    for (std::size_t i = 0; i < points.size(); ++i)
        whole += csvRow(m_settings, points[i], figures ? &*figures : nullptr, i);
    for (const QString &line : results)
        whole += "# " + line.toUtf8() + '\n';
    for (const QString &line : head + results)
        m_out << line << '\n';
    m_out.flush();

    const auto worse = [&status](int failed) {
        status = status == ExitStatus::done ? failed : status;
    };
    if (csv && outcome != SweepRunner::Outcome::Stopped && !csv->finish(whole)) {
        m_complain(csv->failure());
        worse(ExitStatus::outputFailed);
    }
    if (!m_settings.plotFile.isEmpty() && figures)
        worse(drawPlot(whole));
    else if (!m_settings.plotFile.isEmpty())
        m_complain(QStringLiteral("no plot drawn: fewer than two points measured off the rails"));
    return status;
}

int SweepCommand::drawPlot(const QByteArray &csv)
{
    // Ctrl-C, SIGTERM or SIGHUP while it draws ends the drawing; the CSV is written by then.
    const int before = interruptions();
    QProcess plot;
    plot.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tx4410-plot"),
               {QStringLiteral("-"), m_settings.plotFile});
    plot.write(csv);
    plot.closeWriteChannel();
    const QDeadlineTimer deadline(120000);
    while (plot.state() != QProcess::NotRunning && interruptions() == before
           && !deadline.hasExpired())
        plot.waitForFinished(50);
    if (interruptions() != before) {
        plot.kill();
        plot.waitForFinished();
        m_complain(QStringLiteral("interrupted while drawing %1: no picture")
                           .arg(m_settings.plotFile));
        return interruptedStatus();
    }
    if (plot.state() != QProcess::NotRunning || plot.exitStatus() != QProcess::NormalExit
        || plot.exitCode() != 0) {
        const QString said = QString::fromLocal8Bit(plot.readAllStandardError()).trimmed();
        m_complain(QStringLiteral("cannot draw %1: %2")
                           .arg(m_settings.plotFile, said.isEmpty() ? plot.errorString() : said));
        plot.kill();
        plot.waitForFinished();
        return ExitStatus::outputFailed;
    }
    return ExitStatus::done;
}
