#include "corechannel.h"

#include "connection.h"
#include "rpcconnection.h"
#include "vxi11codec.h"
#include "vxi11server.h"

using namespace Vxi11;

// A link: a session of the instrument its device name picked, with the message being written to
// it and the response messages not read yet.
struct CoreChannel::Link final : Session
{
    Link(CoreChannel &channel, InstrumentHost &host, const QString &peer, std::int32_t id)
        : Session(host, Interface::Vxi11, peer)
        , channel(channel)
        , id(id)
    { }

    InstrumentHost &host() { return m_host; }
    void answerLater(const QByteArray &answer) override { channel.answeredLater(*this, answer); }

    CoreChannel &channel;
    std::int32_t id;
    QByteArray pending;             // the message so far, up to its LF or END
    bool discarding = false;        // the rest of an overlong message
    std::deque<QByteArray> answers; // response messages, each ending in LF
    qsizetype answerStart = 0;      // of the first, read before this
    qint64 unread = 0;
};

CoreChannel::CoreChannel(Vxi11Server &server, std::unique_ptr<Connection> connection)
    : m_server(server)
    , m_rpc(std::make_unique<RpcConnection>(std::move(connection), maxWriteBytes + 4096,
                                            server.limits().maxUnreadBytes))
    , m_connection(m_rpc->connection())
    , m_peer(m_connection.peer())
{
    connect(m_rpc.get(), &RpcConnection::called, this, &CoreChannel::call);
    connect(m_rpc.get(), &RpcConnection::drained, this, [this] { finish({}); });
    connect(m_rpc.get(), &RpcConnection::overflowed, this, [this] {
        m_why = QStringLiteral("closed: it left more than %1 bytes of replies untaken")
                        .arg(m_server.limits().maxUnreadBytes);
    });
    connect(&m_connection, &Connection::finished, this, [this] {
        endWaiting();
        m_links.clear(); // their locks go with them
        emit ended(this, m_why);
    });
    connect(&m_connection, &Connection::idle, this, &CoreChannel::idle);
    m_connection.setIdleLimit(m_server.limits().idle);
}

CoreChannel::~CoreChannel()
{
    endWaiting();
    m_links.clear();
}

void CoreChannel::finish(const QString &why)
{
    if (m_closing)
        return;
    m_closing = true;
    m_why = why;
    m_connection.finish(Vxi11Server::linger);
}

void CoreChannel::idle()
{
    if (m_waiting) {
        m_connection.setIdleLimit(m_server.limits().idle);
        return;
    }
    finish(QStringLiteral("closed: idle for %1 s").arg(m_server.limits().idle.count()));
}

CoreChannel::Link *CoreChannel::find(std::int32_t link)
{
    const auto found = m_links.find(link);
    return found == m_links.end() ? nullptr : found->second.get();
}

void CoreChannel::succeed(QByteArrayView results)
{
    m_rpc->reply(Rpc::acceptedReply(m_xid, Rpc::AcceptStatus::Success, results));
}

void CoreChannel::fail(std::int32_t error)
{
    switch (m_procedure) {
    case createLink:
        return succeed(createLinkResult(error, 0, 0, 0));
    case deviceWrite:
        return succeed(writeResult(error, 0));
    case deviceRead:
        return succeed(readResult(error, 0, {}));
    case deviceReadStb:
        return succeed(readStbResult(error, 0));
    default:
        return succeed(errorResult(error));
    }
}

void CoreChannel::call(const Rpc::Call &call)
{
    m_xid = call.xid;
    m_procedure = call.procedure;
    if (call.program != coreProgram)
        return m_rpc->reply(Rpc::acceptedReply(m_xid, Rpc::AcceptStatus::ProgramUnavailable));
    if (call.version != programVersion)
        return m_rpc->reply(Rpc::programMismatchReply(m_xid, programVersion, programVersion));
    const auto garbage = [this] {
        m_rpc->reply(Rpc::acceptedReply(m_xid, Rpc::AcceptStatus::GarbageArguments));
    };
    GenericParms generic;
    std::int32_t id = 0;
    switch (call.procedure) {
    case nullProcedure:
        return succeed({});
    case createLink:
        return makeLink(call.arguments);
    case deviceWrite: {
        WriteParms parms;
        if (!Vxi11::read(call.arguments, parms))
            return garbage();
        Link *link = find(parms.link);
        if (link == nullptr)
            return fail(invalidLink);
        return whenFree(*link, parms.flags, parms.lockTimeout, [this, link, parms] {
            write(*link, parms.data, (parms.flags & Flag::end) != 0);
            if (!m_closing)
                succeed(writeResult(noError, std::uint32_t(parms.data.size())));
        });
    }
    case deviceRead: {
        ReadParms parms;
        if (!Vxi11::read(call.arguments, parms))
            return garbage();
        Link *link = find(parms.link);
        if (link == nullptr)
            return fail(invalidLink);
        return whenFree(*link, parms.flags, parms.lockTimeout, [this, link, parms] {
            read(*link, std::int32_t(std::min<std::uint32_t>(parms.requestSize, INT32_MAX)),
                 parms.flags, parms.termChar, parms.ioTimeout);
        });
    }
    case deviceReadStb:
    case deviceClear:
    case deviceRemote:
    case deviceLocal:
    case deviceTrigger: {
        if (!Vxi11::read(call.arguments, generic))
            return garbage();
        Link *link = find(generic.link);
        if (link == nullptr)
            return fail(invalidLink);
        if (call.procedure == deviceTrigger)
            return fail(operationNotSupported);
        return whenFree(*link, generic.flags, generic.lockTimeout, [this, link] {
            if (m_procedure == deviceReadStb)
                return succeed(readStbResult(
                        noError, std::uint8_t(link->status.statusByte(!link->answers.empty()))));
            if (m_procedure == deviceClear) {
                // IEEE 488.2's device clear: input and output go, the parser starts afresh;
                // the status registers and the error queue stay.
                link->pending.clear();
                link->discarding = false;
                link->answers.clear();
                link->answerStart = 0;
                link->unread = 0;
            }
            succeed(errorResult(noError)); // remote and local: there is no front panel
        });
    }
    case deviceLock: {
        if (!readLockParms(call.arguments, generic))
            return garbage();
        Link *link = find(generic.link);
        if (link == nullptr)
            return fail(invalidLink);
        return lock(*link, generic.flags, generic.lockTimeout);
    }
    case deviceUnlock:
    case destroyLink: {
        if (!readLink(call.arguments, id))
            return garbage();
        Link *link = find(id);
        if (link == nullptr)
            return fail(invalidLink);
        if (call.procedure == deviceUnlock)
            return fail(link->host().unlock(*link) ? noError : noLockHeldByThisLink);
        m_links.erase(id);
        return fail(noError);
    }
    case deviceEnableSrq:
    case deviceDocmd: {
        // Their arguments start with the link; service requests and bus commands are not here.
        Rpc::XdrReader reader(call.arguments);
        if (!reader.i32(id))
            return garbage();
        if (find(id) == nullptr)
            return fail(invalidLink);
        return call.procedure == deviceDocmd
                ? succeed(Rpc::XdrWriter().i32(operationNotSupported).opaque({}).bytes())
                : fail(operationNotSupported);
    }
    case createInterruptChannel:
    case destroyInterruptChannel:
        return fail(operationNotSupported);
    default:
        return m_rpc->reply(Rpc::acceptedReply(m_xid, Rpc::AcceptStatus::ProcedureUnavailable));
    }
}

void CoreChannel::makeLink(QByteArrayView arguments)
{
    CreateLinkParms parms;
    if (!Vxi11::read(arguments, parms))
        return m_rpc->reply(Rpc::acceptedReply(m_xid, Rpc::AcceptStatus::GarbageArguments));
    InstrumentHost *host = m_server.device(parms.device);
    if (host == nullptr)
        return fail(deviceNotAccessible);
    if (m_server.linkCount() >= m_server.limits().maxClients)
        return fail(outOfResources);
    auto link = std::make_unique<Link>(*this, *host, m_peer, m_server.newLink());
    const auto made = [this](std::unique_ptr<Link> link) {
        const std::int32_t id = link->id;
        m_links.emplace(id, std::move(link));
        succeed(createLinkResult(noError, id, m_server.abortPort(), Vxi11Server::maxReceiveSize));
    };
    if (!parms.lockDevice || host->lock(*link))
        return made(std::move(link));
    Link &waiting = *link;
    m_waiting.emplace().link = waiting.id;
    m_waiting->host = host;
    // The link exists only once it holds the lock; until then only this wait has it.
    auto held = std::make_shared<std::unique_ptr<Link>>(std::move(link));
    m_waiting->lockWait
            = host->awaitLock(waiting, true, std::chrono::milliseconds(parms.lockTimeout),
                              [this, held, made](bool locked) {
                                  m_waiting.reset();
                                  if (locked)
                                      made(std::move(*held));
                                  else
                                      fail(lockedByAnotherLink);
                              });
}

void CoreChannel::whenFree(Link &link, std::int32_t flags, std::uint32_t lockTimeout,
                           std::function<void()> go)
{
    if (link.host().mayRun(link))
        return go();
    if ((flags & Flag::waitLock) == 0)
        return fail(lockedByAnotherLink);
    m_waiting.emplace().link = link.id;
    m_waiting->host = &link.host();
    m_waiting->lockWait = link.host().awaitLock(link, false, std::chrono::milliseconds(lockTimeout),
                                                [this, go](bool free) {
                                                    m_waiting.reset();
                                                    if (free)
                                                        go();
                                                    else
                                                        fail(lockedByAnotherLink);
                                                });
}

void CoreChannel::lock(Link &link, std::int32_t flags, std::uint32_t lockTimeout)
{
    InstrumentHost &host = link.host();
    if (host.lockHolder() == &link)
        return fail(lockedByAnotherLink); // a lock is held once, not counted
    if (host.lock(link))
        return fail(noError);
    if ((flags & Flag::waitLock) == 0)
        return fail(lockedByAnotherLink);
    m_waiting.emplace().link = link.id;
    m_waiting->host = &host;
    m_waiting->lockWait = host.awaitLock(link, true, std::chrono::milliseconds(lockTimeout),
                                         [this](bool locked) {
                                             m_waiting.reset();
                                             fail(locked ? noError : lockedByAnotherLink);
                                         });
}

// A write's data: each LF ends a message, and so does the END flag.
void CoreChannel::write(Link &link, QByteArrayView data, bool end)
{
    const qsizetype most = m_server.limits().maxLineBytes;
    while (!data.isEmpty() && !m_closing) {
        const qsizetype lf = data.indexOf('\n');
        const QByteArrayView part = lf < 0 ? data : data.first(lf);
        if (!link.discarding) {
            link.pending.append(part);
            if (link.pending.size() > most) {
                link.status.report(Scpi::Error::tooMuchData, m_server.tooLong());
                link.pending.clear();
                link.discarding = true;
            }
        }
        if (lf < 0)
            break;
        data = data.sliced(lf + 1);
        runMessage(link);
    }
    if (end && (!link.pending.isEmpty() || link.discarding) && !m_closing)
        runMessage(link);
}

void CoreChannel::runMessage(Link &link)
{
    if (std::exchange(link.discarding, false))
        return;
    QByteArray message = std::exchange(link.pending, {});
    if (message.endsWith('\r'))
        message.chop(1);
    // IEEE 488.2's Query INTERRUPTED: a new message while an answer waits unread. The answer
    // goes, so that the next read gets the new message's, never a stale one.
    if (!link.answers.empty()) {
        link.status.report(Scpi::Error::queryInterrupted, "an answer was left unread");
        link.answers.clear();
        link.answerStart = 0;
        link.unread = 0;
    }
    const QByteArray answer = link.host().execute(
            std::string_view(message.constData(), std::size_t(message.size())), link);
    if (answer.isEmpty())
        return;
    link.unread += answer.size();
    link.answers.push_back(answer);
    if (link.unread > m_server.limits().maxUnreadBytes) {
        finish(QStringLiteral("closed: it left more than %1 bytes of answers unread")
                       .arg(m_server.limits().maxUnreadBytes));
    }
}

void CoreChannel::read(Link &link, std::int32_t requestSize, std::int32_t flags, char termChar,
                       std::uint32_t ioTimeout)
{
    if (link.answers.empty()) {
        if (ioTimeout == 0)
            return nothingToRead(link);
        // Nothing can come meanwhile (this channel's calls wait for this one), but a client
        // that reads without having asked is kept as an instrument keeps it: until its timeout.
        Waiting &waiting = m_waiting.emplace();
        waiting.link = link.id;
        waiting.reading = true;
        waiting.requestSize = requestSize;
        waiting.flags = flags;
        waiting.termChar = termChar;
        waiting.timer = std::make_unique<QTimer>();
        waiting.timer->setSingleShot(true);
        connect(waiting.timer.get(), &QTimer::timeout, this, [this, &link] {
            m_waiting->timer.release()->deleteLater();
            m_waiting.reset();
            nothingToRead(link);
        });
        waiting.timer->start(std::chrono::milliseconds(ioTimeout));
        return;
    }
    const QByteArray &message = link.answers.front();
    const qsizetype start = link.answerStart;
    qsizetype size = std::min<qsizetype>(message.size() - start, requestSize);
    std::int32_t reason = 0;
    if ((flags & Flag::termCharSet) != 0) {
        const qsizetype at = message.indexOf(termChar, start);
        if (at >= 0 && at < start + size) {
            size = at - start + 1;
            reason |= Reason::character;
        }
    }
    if (size == requestSize)
        reason |= Reason::requestCount;
    const QByteArray data = message.mid(start, size);
    link.unread -= size;
    if (start + size == message.size()) {
        reason |= Reason::end;
        link.answers.pop_front();
        link.answerStart = 0;
    } else {
        link.answerStart += size;
    }
    succeed(readResult(noError, reason, data));
}

void CoreChannel::answeredLater(Link &link, const QByteArray &answer)
{
    link.unread += answer.size();
    link.answers.push_back(answer);
    if (!m_waiting || m_waiting->link != link.id || !m_waiting->reading)
        return;
    const Waiting asked {link.id,
                         nullptr,
                         0,
                         nullptr,
                         true,
                         m_waiting->requestSize,
                         m_waiting->flags,
                         m_waiting->termChar};
    m_waiting->timer.release()->deleteLater();
    m_waiting.reset();
    read(link, asked.requestSize, asked.flags, asked.termChar, 0);
}

// IEEE 488.2's Query UNTERMINATED: asked to talk with nothing to say.
void CoreChannel::nothingToRead(Link &link)
{
    link.status.report(Scpi::Error::queryUnterminated, "a read with no answer waiting");
    fail(ioTimeout);
}

void CoreChannel::endWaiting()
{
    if (!m_waiting)
        return;
    if (m_waiting->host != nullptr)
        m_waiting->host->cancelWait(m_waiting->lockWait);
    m_waiting.reset();
}

void CoreChannel::abort(std::int32_t link)
{
    if (!m_waiting || m_waiting->link != link)
        return;
    endWaiting();
    fail(aborted);
}
