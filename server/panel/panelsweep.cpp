#include "panelsweep.h"

#include "commandtarget.h"
#include "instrument.h"
#include "instrumenthost.h"
#include "session.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>

#include <unistd.h>

#include <linux/close_range.h>
#include <sys/syscall.h>

namespace {

QByteArray codeHeader(int channel)
{
    return "SOUR" + QByteArray::number(channel) + ":VOLT:CODE";
}

// "-240,"Hardware error;request ... failed"" as a line for the page.
QString errorLine(const QByteArray &error)
{
    const qsizetype comma = error.indexOf(',');
    QByteArray text = error.mid(comma + 1);
    if (text.startsWith('"') && text.endsWith('"'))
        text = text.mid(1, text.size() - 2).replace("\"\"", "\"");
    return QString::fromUtf8(text).replace(u';', QStringLiteral(": "));
}

} // namespace

PanelSweep::PanelSweep(InstrumentHost &host, std::function<void(const QString &)> log)
    : m_host(host)
    , m_log(std::move(log))
{
    // Nothing of the server's but the pipes it is given: no socket, no hand-off channel.
    m_plot.setChildProcessModifier(
            [] { ::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC); });
    connect(&m_plot, &QProcess::finished, this, [this](int status, QProcess::ExitStatus how) {
        QFile picture(m_folder->filePath(QStringLiteral("sweep.png")));
        if (how == QProcess::NormalExit && status == 0 && picture.open(QIODevice::ReadOnly))
            m_picture = picture.readAll();
        else
            m_log(QStringLiteral("the sweep's picture was not drawn: %1")
                          .arg(QString::fromLocal8Bit(m_plot.readAllStandardError()).trimmed()));
        done();
    });
    connect(&m_plot, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        m_log(QStringLiteral("the sweep's picture was not drawn: tx4410-plot %1")
                      .arg(m_plot.errorString()));
        done();
    });
}

PanelSweep::~PanelSweep()
{
    m_closing = true;
    if (m_runner && m_runner->running()) {
        m_runner->disconnect(this);
        m_runner->cancel();
        finished(Sweep::Runner::Outcome::Cancelled);
    }
    m_plot.disconnect(this);
    if (m_plot.state() != QProcess::NotRunning) {
        m_plot.kill();
        m_plot.waitForFinished(1000);
    }
}

QString PanelSweep::start(const Settings &settings, double reference, double vdd,
                          const QString &board)
{
    if (m_state == u"running")
        return QStringLiteral("a sweep is running on this board: wait for it, or stop it");
    if (m_host.lockHolder() != nullptr)
        return QStringLiteral("%1 holds the instrument locked: try again once it lets go")
                .arg(m_host.lockHolder()->peer());
    static const QRegularExpression whole(QStringLiteral("^[0-9]{1,5}$"));
    Sweep::Request request;
    request.channel = settings.channel - 1;
    request.vref = reference;
    request.vdd = vdd;
    const std::pair<const char *, std::optional<std::int32_t> *> fields[]
            = {{"from", &request.from}, {"to", &request.to}, {"points", &request.points}};
    const QString texts[] = {settings.from, settings.to, settings.points};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        if (texts[i].isEmpty())
            continue;
        if (!whole.match(texts[i]).hasMatch() || texts[i].toInt() > Sweep::highestCode)
            return QStringLiteral("%1 \"%2\" is not a whole number 0 to %3")
                    .arg(QLatin1String(fields[i].first), texts[i])
                    .arg(Sweep::highestCode);
        *fields[i].second = texts[i].toInt();
    }
    std::variant<Sweep::Plan, QString> plan = Sweep::makePlan(request);
    if (const QString *refusal = std::get_if<QString>(&plan))
        return QString(*refusal).remove(QStringLiteral("--"));
    m_plan = std::get<Sweep::Plan>(std::move(plan));
    m_channel = settings.channel;

    m_session = std::make_unique<CommandTarget>(m_host, QStringLiteral("the front panel's sweep"),
                                                errorLine);
    m_host.lock(*m_session);
    m_codeBefore = m_session->run(codeHeader(m_channel).toStdString() + '?').trimmed();
    m_facts = {};
    m_facts.board = board;
    m_facts.date = QDateTime::currentDateTime();
    m_head = Sweep::headLines(m_plan, m_facts);
    m_csv = Sweep::csvHead(m_head);
    m_picture.clear();
    m_state = QStringLiteral("running");
    m_summary.clear();
    m_error.clear();
    m_points = 0;
    ++m_serial;
    m_source = std::make_unique<Sweep::ReadbackSource>(*m_session, m_plan.channel, m_plan.vdd);
    m_runner = std::make_unique<Sweep::Runner>(*m_session, *m_source, m_plan);
    connect(m_runner.get(), &Sweep::Runner::measured, this,
            [this](const Sweep::MeasuredPoint &point) {
                m_csv += Sweep::csvRow(m_plan, point, nullptr, 0, m_facts);
                ++m_points;
                emit changed();
            });
    connect(m_runner.get(), &Sweep::Runner::finished, this, &PanelSweep::finished);
    m_runner->start();
    m_log(QStringLiteral("sweep of DAC %1 started from the front panel")
                  .arg(QChar(u'A' + m_plan.channel)));
    emit changed();
    return {};
}

void PanelSweep::stop()
{
    if (m_runner && m_runner->running())
        m_runner->cancel();
}

void PanelSweep::finished(Sweep::Runner::Outcome outcome)
{
    if (!m_session)
        return;
    // A sweep from the page leaves the bench as it found it: the channel goes back to the code
    // it had when the sweep began, before any other client may run.
    const QString failure = m_session->failure();
    m_session->run((codeHeader(m_channel) + ' ' + m_codeBefore).toStdString());
    m_host.unlock(*m_session);
    const std::vector<Sweep::MeasuredPoint> points = m_runner->points();
    if (m_closing)
        m_runner.reset();
    else
        m_runner.release()->deleteLater(); // it is calling
    m_source.reset();
    m_session.reset();

    const Sweep::Summary summary = Sweep::summarise(m_plan, points, m_facts);
    m_csv = Sweep::wholeCsv(m_head, m_plan, points, summary, m_facts);
    m_summary = (m_head + summary.lines).join(u'\n');
    switch (outcome) {
    case Sweep::Runner::Outcome::Done:
    case Sweep::Runner::Outcome::Stopped:
        m_ending = QStringLiteral("done");
        break;
    case Sweep::Runner::Outcome::Cancelled:
        m_ending = QStringLiteral("stopped");
        break;
    case Sweep::Runner::Outcome::RequestFailed:
    case Sweep::Runner::Outcome::SourceFailed:
        m_ending = QStringLiteral("failed");
        m_error = QStringLiteral("at code %1: %2")
                          .arg(m_plan.codes[std::min(points.size(), m_plan.codes.size() - 1)])
                          .arg(failure);
        break;
    }
    if (!summary.untrusted.isEmpty()) {
        m_ending = QStringLiteral("failed");
        m_error = summary.untrusted;
    }
    if (summary.figures && !m_closing)
        draw();
    else
        done();
}

void PanelSweep::draw()
{
    m_folder = std::make_unique<QTemporaryDir>();
    m_plot.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tx4410-plot"),
                 {QStringLiteral("-"), m_folder->filePath(QStringLiteral("sweep.png"))});
    m_plot.write(m_csv);
    m_plot.closeWriteChannel();
}

void PanelSweep::done()
{
    m_state = m_ending;
    m_log(QStringLiteral("sweep from the front panel %1").arg(m_state));
    emit changed();
}

QJsonObject PanelSweep::state() const
{
    // Full only when done: before any sweep nothing is, and a stopped one got as far as it got.
    const double progress = m_state == u"done" ? 1
            : m_plan.codes.empty() || m_state == u"none"
            ? 0
            : double(m_points) / double(m_plan.codes.size());
    return {{"state", m_state},     {"channel", QString(QChar(u'A' + m_channel - 1))},
            {"points", m_points},   {"progress", progress},
            {"summary", m_summary}, {"error", m_error},
            {"serial", m_serial}};
}

QByteArray PanelSweep::file(const QString &name) const
{
    if (m_state == u"running" || m_state == u"none")
        return {};
    if (name == u"sweep.csv")
        return m_csv;
    if (name == u"sweep.png")
        return m_picture;
    return {};
}
