#include "handoff.h"

#include "connection.h"
#include "vxi11codec.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The most a client may send before its first create_link, handed on with it (a create_link
// is a few dozen bytes, and a client that sends more before it is no VISA client).
constexpr qsizetype maxHanded = 2 * 1024;

} // namespace

Sent sendConnection(int channel, int descriptor, const QByteArray &received)
{
    // A first byte, as an empty packet would read as the channel's end.
    QByteArray bytes = received.isEmpty() ? QByteArray(1, '\0') : '\1' + received;
    iovec data {bytes.data(), std::size_t(bytes.size())};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control {};
    msghdr message {};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &descriptor, sizeof(int));
    ssize_t sent = 0;
    do
        sent = ::sendmsg(channel, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    while (sent < 0 && errno == EINTR);
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return Sent::Busy;
    return sent == bytes.size() ? Sent::Done : Sent::Failed;
}

Received receiveConnection(int channel, int &descriptor, QByteArray &received)
{
    descriptor = -1;
    received.resize(maxHanded + 1);
    iovec data {received.data(), std::size_t(received.size())};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control {};
    msghdr message {};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    ssize_t got = 0;
    do
        got = ::recvmsg(channel, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
    while (got < 0 && errno == EINTR);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
        return Received::End;
    for (cmsghdr *header = got > 0 ? CMSG_FIRSTHDR(&message) : nullptr; header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS)
            std::memcpy(&descriptor, CMSG_DATA(header), sizeof(int));
    }
    // The first byte says whether bytes follow it; a message cut short is no hand-off.
    const bool whole = (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0;
    received = got > 1 && received[0] == '\1' ? received.mid(1, got - 1) : QByteArray();
    if (descriptor >= 0 && !whole) {
        ::close(descriptor);
        descriptor = -1;
    }
    return descriptor >= 0 ? Received::Connection : Received::Nothing;
}

bool sendReady(int channel, const Ready &ready)
{
    const QByteArray text = QByteArray("ready socket=") + QByteArray::number(ready.socketPort)
            + " http=" + QByteArray::number(ready.httpPort);
    ssize_t sent = 0;
    do
        sent = ::send(channel, text.constData(), std::size_t(text.size()), MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent == text.size();
}

std::optional<Ready> receiveReady(int channel, bool &ended)
{
    std::array<char, 256> bytes {};
    ssize_t got = 0;
    do
        got = ::recv(channel, bytes.data(), bytes.size(), MSG_DONTWAIT);
    while (got < 0 && errno == EINTR);
    ended = got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    if (got <= 0)
        return std::nullopt;
    const QList<QByteArray> words = QByteArray(bytes.data(), got).split(' ');
    if (words.size() != 3 || words[0] != "ready" || !words[1].startsWith("socket=")
        || !words[2].startsWith("http="))
        return std::nullopt;
    bool socketNumber = false;
    bool httpNumber = false;
    const uint socket = words[1].mid(7).toUInt(&socketNumber);
    const uint http = words[2].mid(5).toUInt(&httpNumber);
    if (!socketNumber || !httpNumber || socket == 0 || socket > 65535 || http > 65535)
        return std::nullopt;
    return Ready {quint16(socket), quint16(http)};
}

int Vxi11Dispatch::instrumentNumber(QByteArrayView device)
{
    if (device.isEmpty())
        return 0;
    const QByteArray lower = device.toByteArray().toLower();
    if (!lower.startsWith("inst"))
        return -1;
    bool number = false;
    const int value = lower.mid(4).toInt(&number);
    // One spelling per instrument: "inst01" is no instrument's.
    if (!number || value < 0 || "inst" + QByteArray::number(value) != lower)
        return -1;
    return value;
}

Vxi11Dispatch::Vxi11Dispatch(HandTo handTo, int maxClients, std::chrono::seconds idle,
                             std::function<void(const QString &)> log)
    : m_handTo(std::move(handTo))
    , m_maxClients(maxClients)
    , m_idle(idle)
    , m_log(std::move(log))
{
    connect(&m_core, &Listener::accepted, this, &Vxi11Dispatch::accept);
    keepAccepting(m_core, QStringLiteral("VXI-11's core channel"), m_log);
}

Vxi11Dispatch::~Vxi11Dispatch()
{
    for (const int descriptor : m_clients.keys())
        drop(descriptor);
}

bool Vxi11Dispatch::listen(const QHostAddress &address)
{
    return m_core.listen(address, 0);
}

void Vxi11Dispatch::close()
{
    m_core.close();
}

void Vxi11Dispatch::accept(int descriptor)
{
    if (m_clients.size() >= 2 * m_maxClients) {
        m_refused.refused(QStringLiteral("a VXI-11 connection refused: %1 are waiting for their create_link, "
                             "twice --max-clients")
                      .arg(2 * m_maxClients));
        ::close(descriptor);
        return;
    }
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);
    keepAlive(descriptor);
    auto client = std::make_shared<Client>();
    client->notifier = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
    connect(client->notifier.get(), &QSocketNotifier::activated, this,
            [this, descriptor] { readable(descriptor); });
    // Silent that long before its create_link: it goes, as any silent client does.
    if (m_idle.count() > 0) {
        client->idle = std::make_unique<QTimer>();
        client->idle->setSingleShot(true);
        connect(client->idle.get(), &QTimer::timeout, this,
                [this, descriptor] { drop(descriptor); });
        client->idle->start(m_idle);
    }
    m_clients.insert(descriptor, client);
}

void Vxi11Dispatch::readable(int descriptor)
{
    const std::shared_ptr<Client> client = m_clients.value(descriptor);
    if (!client)
        return;
    std::array<char, 4096> bytes;
    const ssize_t got = ::recv(descriptor, bytes.data(), bytes.size(), 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (got <= 0 || client->received.size() + got > maxHanded)
        return drop(descriptor);
    if (client->idle)
        client->idle->start(m_idle);
    client->stream.append(bytes.data(), got);
    client->received.append(bytes.data(), got);
    for (;;) {
        QByteArray record;
        switch (client->records.take(client->stream, record)) {
        case Rpc::RecordReader::Result::TooLarge:
            return drop(descriptor);
        case Rpc::RecordReader::Result::More:
            return;
        case Rpc::RecordReader::Result::Record:
            break;
        }
        if (!answer(descriptor, *client, record))
            return;
        client->received = client->stream;
    }
}

bool Vxi11Dispatch::answer(int descriptor, Client &client, const QByteArray &record)
{
    using namespace Vxi11;
    Rpc::Call call;
    QByteArray reply;
    bool closing = false;
    const Rpc::CallProblem problem = Rpc::readCall(record, call);
    switch (problem) {
    case Rpc::CallProblem::NotACall:
        return true;
    case Rpc::CallProblem::RpcVersion:
    case Rpc::CallProblem::BadCredential:
        reply = Rpc::problemReply(problem, call.xid);
        break;
    case Rpc::CallProblem::None:
        if (call.program != coreProgram) {
            reply = Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::ProgramUnavailable);
        } else if (call.version != programVersion) {
            reply = Rpc::programMismatchReply(call.xid, programVersion, programVersion);
        } else if (call.procedure == nullProcedure) {
            reply = Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::Success);
        } else if (call.procedure == createLink) {
            CreateLinkParms parms;
            if (!read(call.arguments, parms)) {
                reply = Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::GarbageArguments);
            } else {
                const int number = instrumentNumber(parms.device);
                const HandOff handed = number < 0
                        ? HandOff::NoSuchInstrument
                        : m_handTo(number, descriptor, client.received, call.xid);
                if (handed == HandOff::Taken) {
                    drop(descriptor); // the instrument holds its own copy, or will
                    return false;
                }
                reply = Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::Success,
                                           createLinkResult(handed == HandOff::Full
                                                                    ? outOfResources
                                                                    : deviceNotAccessible,
                                                            0, 0, 0));
                // Told it, and let go: a client refused here holds no place that another
                // instrument's clients need.
                closing = handed == HandOff::Full;
            }
        } else if (!isCoreProcedure(call.procedure)) {
            reply = Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::ProcedureUnavailable);
        } else if (call.procedure == createInterruptChannel
                   || call.procedure == destroyInterruptChannel) {
            reply = Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::Success,
                                       errorResult(operationNotSupported));
        } else {
            // No link exists on this connection yet: every link named is invalid.
            const QByteArray invalid = call.procedure == deviceWrite ? writeResult(invalidLink, 0)
                    : call.procedure == deviceRead    ? readResult(invalidLink, 0, {})
                    : call.procedure == deviceReadStb ? readStbResult(invalidLink, 0)
                                                      : errorResult(invalidLink);
            reply = Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::Success, invalid);
        }
    }
    const QByteArray marked = Rpc::markRecord(reply);
    // A small reply to a client that has not read the last: it goes, or the client is dropped.
    if (::send(descriptor, marked.constData(), std::size_t(marked.size()), MSG_NOSIGNAL)
                != marked.size()
        || closing) {
        drop(descriptor);
        return false;
    }
    return true;
}

void Vxi11Dispatch::drop(int descriptor)
{
    if (const std::shared_ptr<Client> client = m_clients.take(descriptor)) {
        client->notifier->setEnabled(false);
        client->notifier.reset();
        if (client->idle) { // it may be the one calling
            client->idle->stop();
            client->idle.release()->deleteLater();
        }
        ::close(descriptor);
    }
}
