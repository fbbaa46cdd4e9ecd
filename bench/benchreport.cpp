#include "benchreport.h"

#include "benchbuild.h"

#include <QDateTime>
#include <QFile>
#include <QSysInfo>
#include <QThread>

namespace {

QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString firstLineOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringLiteral("unknown");
    return QString::fromUtf8(file.readLine()).trimmed();
}

QString cpuModel()
{
    QFile file(QStringLiteral("/proc/cpuinfo"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringLiteral("unknown");
    // Files under /proc report no size: read to the end rather than asking atEnd().
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("model name")))
            return line.section(QLatin1Char(':'), 1).trimmed();
    }
    return QStringLiteral("unknown");
}

} // namespace

BenchReport::BenchReport(std::FILE *out)
    : m_out(out)
{ }

void BenchReport::line(const QString &text)
{
    std::fputs(text.toUtf8().append('\n').constData(), m_out);
    std::fflush(m_out);
}

void BenchReport::comment(const QString &text)
{
    line(QStringLiteral("# ") + text);
}

void BenchReport::figure(const QString &name, double value, int decimals)
{
    line(name + QLatin1Char(' ') + number(value, decimals));
}

void BenchReport::count(const QString &name, long long value)
{
    line(name + QLatin1Char(' ') + QString::number(value));
}

void BenchReport::target(const QString &name, double value, Bound bound, double limit, int decimals)
{
    const bool met = bound == Bound::AtMost ? value <= limit : value < limit;
    if (!met)
        ++m_misses;
    line(QStringLiteral("target.%1 %2 %3 %4 %5")
                 .arg(name, number(value, decimals),
                      bound == Bound::AtMost ? QStringLiteral("<=") : QStringLiteral("<"),
                      number(limit, decimals),
                      met ? QStringLiteral("PASS") : QStringLiteral("MISS")));
}

QString BenchReport::machineDescription()
{
    return QStringLiteral("date %1; nproc %2; cpu %3; kernel %4; qt %5; build %6")
            .arg(QDateTime::currentDateTime().toString(Qt::ISODate))
            .arg(QThread::idealThreadCount())
            .arg(cpuModel(), QSysInfo::kernelVersion(), QString::fromLatin1(qVersion()),
                 QString::fromLatin1(benchBuildType));
}

QString BenchReport::loadAverages()
{
    return firstLineOf(QStringLiteral("/proc/loadavg")).section(QLatin1Char(' '), 0, 2);
}
