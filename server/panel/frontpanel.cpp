#include "frontpanel.h"

#include "instrument.h"
#include "instrumenthost.h"
#include "readbackchannels.h"
#include "serverboard.h"
#include "websocket.h"
#include "websocketwire.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

namespace {

constexpr int channels = 4;
// A page that lets this much pile up unsent has stopped reading: it is closed.
constexpr qint64 maxUnsentBytes = 1 << 20;
// A page's request is a few dozen bytes; a larger message is no page's, and closes it.
constexpr quint64 maxRequestBytes = 4096;

const char *interfaceName(Session::Interface interface)
{
    switch (interface) {
    case Session::Interface::Socket:
        return "socket";
    case Session::Interface::Vxi11:
        return "vxi11";
    case Session::Interface::Sweep:
        return "sweep";
    case Session::Interface::Web:
        break;
    }
    return "web";
}

} // namespace

class FrontPanel::Page final : public Session
{
public:
    Page(InstrumentHost &host, std::unique_ptr<WebSocket> socket)
        : Session(host, Interface::Web, socket->peer())
        , socket(std::move(socket))
    { }

    std::unique_ptr<WebSocket> socket;
};

FrontPanel::FrontPanel(InstrumentHost &host, ServerBoard &board, int maxPages,
                       std::function<void(const QString &)> log)
    : m_host(host)
    , m_board(board)
    , m_maxPages(maxPages)
    , m_sweep(host, std::move(log))
{
    m_readback.setInterval(1000);
    connect(&m_readback, &QTimer::timeout, this, &FrontPanel::readBack);
    m_stateSoon.setSingleShot(true);
    m_stateSoon.setInterval(20);
    connect(&m_stateSoon, &QTimer::timeout, this, [this] { sendState(false); });
    const auto soon = [this] {
        if (!m_pages.empty() && !m_stateSoon.isActive())
            m_stateSoon.start();
    };
    connect(&m_host, &InstrumentHost::executed, this, soon);
    connect(&m_board, &ServerBoard::changed, this, soon);
    connect(&m_sweep, &PanelSweep::changed, this, soon);
}

FrontPanel::~FrontPanel()
{
    // A page's socket says it closed as it is destroyed, and a sweep ended now says it changed:
    // nothing may call back into what is being taken down.
    m_sweep.disconnect(this);
    for (const std::unique_ptr<Page> &page : m_pages)
        page->socket->disconnect(this);
    m_pages.clear();
}

void FrontPanel::addPage(std::unique_ptr<WebSocket> socket)
{
    if (int(m_pages.size()) >= m_maxPages) {
        socket->sendText(
                QJsonDocument(
                        QJsonObject {
                                {"type", "refused"},
                                {"text",
                                 QStringLiteral("as many pages as the server takes (%1) are open: "
                                                "close one, and this one tries again")
                                         .arg(m_maxPages)}})
                        .toJson(QJsonDocument::Compact));
        // It goes once its close is done.
        WebSocket *refused = socket.release();
        refused->setParent(this);
        connect(refused, &WebSocket::closed, refused, &QObject::deleteLater);
        refused->close(WebSocketWire::policyViolated, "as many pages as the server takes");
        return;
    }
    socket->setMaxMessageBytes(maxRequestBytes);
    auto &page = *m_pages.emplace_back(std::make_unique<Page>(m_host, std::move(socket)));
    Page *at = &page;
    connect(page.socket.get(), &WebSocket::textReceived, this,
            [this, at](const QString &text) { received(*at, text); });
    connect(page.socket.get(), &WebSocket::binaryReceived, this, [this, at] {
        send(*at,
             {{"type", "result"},
              {"id", QJsonValue()},
              {"errors",
               QJsonArray {QStringLiteral("a binary message is not a request: send the "
                                          "request as JSON text")}}});
    });
    connect(page.socket.get(), &WebSocket::closed, this, [this, at] { closed(at); });
    // Everyone sees the count of pages change; the new page sees everything.
    sendState(true);
    if (!m_readback.isActive())
        m_readback.start();
    readBack();
}

void FrontPanel::closed(Page *page)
{
    const auto found = std::ranges::find(m_pages, page, &std::unique_ptr<Page>::get);
    if (found == m_pages.end())
        return;
    // The socket is calling: it goes once its signal is done.
    (*found)->socket.release()->deleteLater();
    m_pages.erase(found);
    if (m_pages.empty())
        m_readback.stop();
    else
        sendState(false);
}

FrontPanel::Request FrontPanel::programMessage(const QJsonObject &request)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9.+# -]{1,40}$"));
    const QString action = request.value("action").toString();
    const QString value = request.value("value").toString().trimmed();
    const int channel = request.value("channel").toInt();
    QByteArray header;
    if (action == u"volts" || action == u"code") {
        if (channel < 1 || channel > channels)
            return {{}, QStringLiteral("no DAC channel %1").arg(channel)};
        header = "SOUR" + QByteArray::number(channel)
                + (action == u"code" ? ":VOLT:CODE" : ":VOLT");
    } else if (action == u"reference") {
        header = "SOUR:VOLT:REF";
    } else if (action == u"vdd") {
        header = "MEAS:VDD";
    } else if (action == u"clr" || action == u"ldac") {
        header = "PIN:" + action.toUpper().toLatin1();
    } else if (action == u"reset") {
        return {"*RST", {}};
    } else if (action == u"calibration") {
        header = "CAL:STAT";
    } else {
        return {{}, QStringLiteral("no such action \"%1\"").arg(action)};
    }
    if (!plain.match(value).hasMatch())
        return {{},
                value.isEmpty() ? QStringLiteral("nothing entered")
                                : QStringLiteral("\"%1\" is not a number").arg(value)};
    return {header + ' ' + value.toLatin1(), {}};
}

QString FrontPanel::errorInWords(const QByteArray &error)
{
    const qsizetype comma = error.indexOf(',');
    QByteArray text = error.mid(comma + 1);
    if (text.startsWith('"') && text.endsWith('"'))
        text = text.mid(1, text.size() - 2).replace("\"\"", "\"");
    const qsizetype semicolon = text.indexOf(';');
    const QString words = QString::fromUtf8(semicolon < 0 ? text : text.left(semicolon));
    const QString detail = semicolon < 0 ? QString() : QString::fromUtf8(text.mid(semicolon + 1));
    return QStringLiteral("%1 (%2)%3")
            .arg(words, QString::fromLatin1(error.left(comma)),
                 detail.isEmpty() ? QString() : QStringLiteral(": ") + detail);
}

QString FrontPanel::sampleVolts(int code, double vdd)
{
    return QString::number(ReadbackChannels::sampleVolts(code, vdd), 'f', 14);
}

void FrontPanel::received(Page &page, const QString &text)
{
    const QJsonObject request = QJsonDocument::fromJson(text.toUtf8()).object();
    QJsonObject result {{"type", "result"}, {"id", request.value("id")}};
    const QString action = request.value("action").toString();
    if (action == u"sweep" || action == u"stop-sweep") {
        QString refusal;
        if (action == u"stop-sweep")
            m_sweep.stop();
        else if (refusal = shutOut(page); refusal.isEmpty())
            refusal = m_sweep.start(
                    {request.value("channel").toInt(), request.value("from").toString().trimmed(),
                     request.value("to").toString().trimmed(),
                     request.value("points").toString().trimmed()},
                    m_host.instrument().reference(), m_host.instrument().vdd(), m_board.port());
        result.insert("errors", refusal.isEmpty() ? QJsonArray() : QJsonArray {refusal});
        send(page, result);
        sendState(false);
        return;
    }
    const Request asked = programMessage(request);
    QStringList errors;
    if (!asked.refusal.isEmpty()) {
        errors << asked.refusal;
    } else if (const QString refusal = shutOut(page); !refusal.isEmpty()) {
        errors << refusal;
    } else {
        m_host.execute(std::string_view(asked.message.constData(), asked.message.size()), page);
        while (page.status.errorCount() > 0)
            errors << errorInWords(page.status.nextError());
        page.status.takeEvents();
    }
    result.insert("message", QString::fromLatin1(asked.message));
    result.insert("errors", QJsonArray::fromStringList(errors));
    send(page, result);
    sendState(false);
    // What was set is read back at once, not at the next second.
    if (errors.isEmpty())
        readBack();
}

QString FrontPanel::shutOut(const Session &page) const
{
    const Session *holder = m_host.lockHolder();
    if (holder == nullptr || holder == &page)
        return {};
    if (holder->interface() == Session::Interface::Sweep)
        return QStringLiteral("a sweep is running: try again when it is done");
    return QStringLiteral("a VXI-11 link from %1 holds the instrument locked: try again once "
                          "it lets go")
            .arg(holder->peer());
}

void FrontPanel::readBack()
{
    if (m_pages.empty())
        return;
    QJsonObject sample {{"type", "readback"}, {"time", QDateTime::currentMSecsSinceEpoch()}};
    if (m_host.lockHolder() != nullptr) {
        sample.insert("error", shutOut(**m_pages.begin()));
        broadcast(sample);
        return;
    }
    Scpi::Instrument &instrument = m_host.instrument();
    QJsonArray codes;
    QJsonArray volts;
    Scpi::StatusModel quiet;
    for (int channel = 1; channel <= channels; ++channel) {
        const QByteArray answer
                = instrument.execute("MEAS" + std::to_string(channel) + ":CODE?", quiet).trimmed();
        if (answer.isEmpty()) {
            sample.insert("error", errorInWords(quiet.nextError()));
            broadcast(sample);
            return;
        }
        codes.append(answer.toInt());
        // Through the readback's calibrated line where a calibration applies, as MEASure reads.
        const Scpi::Calibrations::Entry *calibrated = instrument.appliedTo(channel - 1);
        volts.append(calibrated != nullptr && calibrated->fit.readback.measured
                             ? QString::number(calibrated->fit.readback.at(answer.toInt()), 'f', 14)
                             : sampleVolts(answer.toInt(), instrument.vdd()));
    }
    sample.insert("codes", codes);
    sample.insert("volts", volts);
    broadcast(sample);
}

QJsonObject FrontPanel::state() const
{
    Scpi::StatusModel quiet;
    const QList<QByteArray> answers
            = m_host.instrument()
                      .execute("SOUR1:VOLT?;:SOUR2:VOLT?;:SOUR3:VOLT?;:SOUR4:VOLT?;"
                               ":SOUR1:VOLT:CODE?;:SOUR2:VOLT:CODE?;:SOUR3:VOLT:CODE?;"
                               ":SOUR4:VOLT:CODE?;:SOUR:VOLT:REF?;:MEAS:VDD?;:PIN:CLR?;:PIN:LDAC?",
                               quiet)
                      .trimmed()
                      .split(';');
    const auto answer = [&answers](qsizetype at) {
        return at < answers.size() ? QString::fromLatin1(answers[at]) : QString();
    };
    QJsonArray volts;
    QJsonArray codes;
    for (int channel = 0; channel < channels; ++channel) {
        volts.append(answer(channel));
        codes.append(answer(channel + channels).toInt());
    }
    QJsonObject clients;
    for (const auto interface : {Session::Interface::Socket, Session::Interface::Vxi11,
                                 Session::Interface::Web, Session::Interface::Sweep})
        clients.insert(interfaceName(interface), m_host.sessionCount(interface));
    const Session *holder = m_host.lockHolder();
    // Each channel's calibration in force: when made, when due, how good; null for none.
    QJsonObject calibration {{"on", false}, {"channels", QJsonArray {}}};
    if (const Scpi::Calibrations *calibrations = m_host.instrument().calibrations()) {
        QJsonArray entries;
        for (int channel = 0; channel < channels; ++channel) {
            const Scpi::Calibrations::Entry *entry = calibrations->entry(channel);
            entries.append(
                    entry == nullptr
                            ? QJsonValue()
                            : QJsonObject {{"date", entry->date.toString(Qt::ISODate)},
                                           {"due", entry->due.toString(Qt::ISODate)},
                                           {"overdue", entry->due < calibrations->today()},
                                           {"uncertainty_mv",
                                            entry->fit.uncertainty.total(entry->fit.vref) * 1000}});
        }
        calibration = {{"on", calibrations->applied()}, {"channels", entries}};
    }
    return {{"type", "state"},
            {"board",
             QJsonObject {{"port", m_board.port()},
                          {"up", m_board.isUp()},
                          {"reason", m_board.awayReason()},
                          {"restarts", m_host.restarts()},
                          {"lock", holder ? holder->peer() : QString()}}},
            {"settings",
             QJsonObject {{"volts", volts},
                          {"codes", codes},
                          {"reference", answer(8)},
                          {"vdd", answer(9)},
                          {"clr", answer(10)},
                          {"ldac", answer(11)}}},
            {"clients", clients},
            {"calibration", calibration},
            {"sweep", m_sweep.state()}};
}

void FrontPanel::sendState(bool evenUnchanged)
{
    m_stateSoon.stop();
    const QJsonObject now = state();
    const QByteArray text = QJsonDocument(now).toJson(QJsonDocument::Compact);
    if (!evenUnchanged && text == m_lastState)
        return;
    m_lastState = text;
    broadcast(now);
}

void FrontPanel::send(Page &page, const QJsonObject &message)
{
    page.socket->sendText(QJsonDocument(message).toJson(QJsonDocument::Compact));
    if (page.socket->unsent() > maxUnsentBytes)
        page.socket->abort();
}

void FrontPanel::broadcast(const QJsonObject &message)
{
    const QByteArray text = QJsonDocument(message).toJson(QJsonDocument::Compact);
    // A page whose send fails may leave the list meanwhile.
    for (Page *page : [this] {
             std::vector<Page *> pages;
             for (const auto &page : m_pages)
                 pages.push_back(page.get());
             return pages;
         }()) {
        if (std::ranges::find(m_pages, page, &std::unique_ptr<Page>::get) == m_pages.end())
            continue;
        page->socket->sendText(text);
        if (page->socket->unsent() > maxUnsentBytes)
            page->socket->abort();
    }
}
