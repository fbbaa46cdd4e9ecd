#include "socketsession.h"

#include "connection.h"
#include "instrumenthost.h"

namespace {

constexpr qint64 readChunk = 64 * 1024;

} // namespace

SocketSession::SocketSession(SocketServer &server, InstrumentHost &host,
                             std::unique_ptr<Connection> connection, Interface interface)
    : Session(host, interface, connection->peer())
    , m_server(server)
    , m_connection(std::move(connection))
{
    connect(m_connection.get(), &Connection::readable, this, [this] {
        if (!m_closing)
            m_host.wantTurn(*this);
    });
    connect(m_connection.get(), &Connection::finished, this,
            [this] { m_server.ended(this, m_why); });
    connect(m_connection.get(), &Connection::idle, this, &SocketSession::idle);
    m_connection->setIdleLimit(m_server.m_limits.idle);
}

SocketSession::~SocketSession() = default;

bool SocketSession::hasWork() const
{
    return m_input.indexOf('\n', m_start) >= 0 || m_connection->bytesAvailable() > 0;
}

bool SocketSession::runTurn()
{
    const SocketServer::Limits &limits = m_server.m_limits;
    for (int lines = 0; lines < limits.linesPerTurn && !m_closing;) {
        const qsizetype end = m_input.indexOf('\n', m_start);
        if (end < 0) {
            m_input.remove(0, m_start);
            m_start = 0;
            if (m_input.size() > limits.maxLineBytes) {
                if (!m_discarding)
                    status.report(Scpi::Error::tooMuchData, m_server.m_tooLong);
                m_discarding = true;
                m_input.clear();
            }
            if (m_connection->bytesAvailable() <= 0)
                break;
            m_input += m_connection->read(readChunk);
            continue;
        }
        std::string_view line(m_input.constData() + m_start, std::size_t(end - m_start));
        m_start = end + 1;
        if (std::exchange(m_discarding, false))
            continue;
        ++lines;
        if (qsizetype(line.size()) > limits.maxLineBytes) {
            status.report(Scpi::Error::tooMuchData, m_server.m_tooLong);
            continue;
        }
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const QByteArray answer = m_host.execute(line, *this);
        // A query answered later: nothing after it runs before its answer is out.
        if (m_host.awaiting(*this))
            break;
        if (answer.isEmpty())
            continue;
        m_connection->write(answer);
        if (m_connection->unsent() > limits.maxUnreadBytes) {
            m_why = QStringLiteral("closed: it left more than %1 bytes of answers unread")
                            .arg(limits.maxUnreadBytes);
            m_closing = true;
            m_connection->abort();
            return false;
        }
    }
    if (m_closing)
        return false;
    m_connection->flush();
    if (m_host.awaiting(*this))
        return false;
    if (hasWork())
        return true;
    // The client has sent all it will (a partial last line is dropped): once its answers are
    // out, the connection closes.
    if (m_connection->inputEnded())
        finish({});
    return false;
}

void SocketSession::answerLater(const QByteArray &answer)
{
    if (m_closing)
        return;
    m_connection->write(answer);
    m_connection->flush();
}

void SocketSession::finish(const QString &why)
{
    if (m_closing)
        return;
    m_closing = true;
    m_why = why;
    m_connection->finish(SocketServer::linger);
}

// Silent for the idle limit: closed, unless it has lines waiting (behind a lock) or answers not
// yet taken.
void SocketSession::idle()
{
    if (hasWork() || m_connection->unsent() > 0) {
        m_connection->setIdleLimit(m_server.m_limits.idle);
        return;
    }
    finish(QStringLiteral("closed: idle for %1 s").arg(m_server.m_limits.idle.count()));
}
