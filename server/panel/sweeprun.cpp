#include "sweeprun.h"

#include "instrument.h"
#include "instrumenthost.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>

namespace {

QByteArray codeHeader(int channel)
{
    return "SOUR" + QByteArray::number(channel) + ":VOLT:CODE";
}

constexpr int highestCode = 65535;

QString csvPath(const QTemporaryDir &folder)
{
    return folder.filePath(QStringLiteral("sweep.csv"));
}

} // namespace

SweepRun::SweepRun(InstrumentHost &host, std::function<void(const QString &)> log)
    : m_host(host)
    , m_log(std::move(log))
    , m_port(host, SocketServer::Limits {.maxClients = 1}, m_log, Session::Interface::Sweep)
{
    m_progress.setInterval(500);
    connect(&m_progress, &QTimer::timeout, this, &SweepRun::progress);
    connect(&m_process, &QProcess::finished, this,
            [this](int status, QProcess::ExitStatus) { finished(status); });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finished(-1);
    });
}

SweepRun::~SweepRun()
{
    if (running()) {
        m_process.kill();
        m_process.waitForFinished(1000);
    }
}

QString SweepRun::start(const Settings &settings, double reference, double vdd)
{
    if (running())
        return QStringLiteral("a sweep is running on this board: wait for it, or stop it");
    if (settings.channel < 1 || settings.channel > 4)
        return QStringLiteral("no DAC channel %1").arg(settings.channel);
    static const QRegularExpression whole(QStringLiteral("^[0-9]{1,5}$"));
    const std::pair<const char *, QString> numbers[]
            = {{"from", settings.from}, {"to", settings.to}, {"points", settings.points}};
    QStringList arguments;
    for (const auto &[name, value] : numbers) {
        if (value.isEmpty())
            continue;
        if (!whole.match(value).hasMatch() || value.toInt() > highestCode)
            return QStringLiteral("%1 \"%2\" is not a whole number 0 to %3")
                    .arg(QLatin1String(name), value)
                    .arg(highestCode);
        arguments << QStringLiteral("--%1").arg(QLatin1String(name)) << value;
    }
    if (!m_port.listen(QHostAddress::LocalHost, 0))
        return QStringLiteral("no port for the sweep: ") + m_port.errorString();
    m_folder = std::make_unique<QTemporaryDir>();
    m_settings = settings;
    Scpi::StatusModel quiet;
    m_codeBefore = m_host.instrument()
                           .execute(codeHeader(settings.channel).toStdString() + '?', quiet)
                           .trimmed();
    m_state = QStringLiteral("running");
    m_summary.clear();
    m_error.clear();
    m_points = 0;
    m_lastCode = -1;
    ++m_serial;
    const QString channel(QChar(u'A' + settings.channel - 1));
    m_process.setWorkingDirectory(m_folder->path());
    m_process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tx4410-cli"),
                    QStringList {QStringLiteral("--server"),
                                 QStringLiteral("127.0.0.1:%1").arg(m_port.port()),
                                 QStringLiteral("sweep"), QStringLiteral("--channel"), channel}
                            + arguments
                            + QStringList {QStringLiteral("--vref"), QString::number(reference),
                                           QStringLiteral("--vdd"), QString::number(vdd),
                                           QStringLiteral("--csv"), csvPath(*m_folder),
                                           QStringLiteral("--plot"),
                                           m_folder->filePath(QStringLiteral("sweep.png"))});
    m_progress.start();
    m_log(QStringLiteral("sweep of DAC %1 started from the front panel").arg(channel));
    emit changed();
    return {};
}

void SweepRun::stop()
{
    if (running())
        m_process.terminate(); // as Ctrl-C: the sweep ends with what it measured
}

// The rows on disk so far: the CSV is written a row a point as the sweep goes.
void SweepRun::progress()
{
    // Written as FILE.partial while it runs, renamed over FILE at its end.
    QFile partial(csvPath(*m_folder) + QStringLiteral(".partial"));
    if (!partial.open(QIODevice::ReadOnly)) {
        partial.setFileName(csvPath(*m_folder));
        if (!partial.open(QIODevice::ReadOnly))
            return;
    }
    int points = 0;
    int lastCode = -1;
    while (!partial.atEnd()) {
        const QByteArray line = partial.readLine();
        if (!line.endsWith('\n') || line.isEmpty() || !std::isdigit(uchar(line[0])))
            continue;
        ++points;
        lastCode = line.left(line.indexOf(',')).toInt();
    }
    if (points != m_points) {
        m_points = points;
        m_lastCode = lastCode;
        emit changed();
    }
}

void SweepRun::finished(int status)
{
    m_progress.stop();
    progress();
    m_port.finishAll([] {});
    // A sweep from the page leaves the bench as it found it: the channel goes back to the code
    // it had when the sweep began (the sweep's own words moved what every client is shown).
    Scpi::StatusModel quiet;
    m_host.instrument().execute((codeHeader(m_settings.channel) + ' ' + m_codeBefore).toStdString(),
                                quiet);
    m_summary = QString::fromUtf8(m_process.readAllStandardOutput()).trimmed();
    const QString errors = QString::fromUtf8(m_process.readAllStandardError()).trimmed();
    if (status == 0) {
        m_state = QStringLiteral("done");
    } else if (status == 143) {
        m_state = QStringLiteral("stopped");
    } else {
        m_state = QStringLiteral("failed");
        m_error = errors.isEmpty() ? m_process.errorString() : errors;
    }
    m_log(QStringLiteral("sweep from the front panel %1").arg(m_state));
    emit changed();
}

QJsonObject SweepRun::state() const
{
    const int from = m_settings.from.isEmpty() ? 0 : m_settings.from.toInt();
    const int to = m_settings.to.isEmpty() ? highestCode : m_settings.to.toInt();
    // Full only when done: before any sweep nothing is, and a stopped one got as far as it got.
    const double done = m_state == u"done"               ? 1
            : m_lastCode < 0 || to <= from || m_points == 0 ? 0
                                                           : double(m_lastCode - from) / (to - from);
    return {{"state", m_state},
            {"channel", QString(QChar(u'A' + m_settings.channel - 1))},
            {"points", m_points},
            {"progress", done},
            {"summary", m_summary},
            {"error", m_error},
            {"serial", m_serial}};
}

QByteArray SweepRun::file(const QString &name) const
{
    if (!m_folder || running() || (name != u"sweep.csv" && name != u"sweep.png"))
        return {};
    QFile file(m_folder->filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
