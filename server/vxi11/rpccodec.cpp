#include "rpccodec.h"

#include <QtEndian>

namespace Rpc {

namespace {

enum MessageType : std::uint32_t { call = 0, reply = 1 };
enum ReplyStatus : std::uint32_t { accepted = 0, denied = 1 };
constexpr std::uint32_t rpcMismatch = 0;
constexpr std::uint32_t authError = 1;         // rejected: the credential
constexpr std::uint32_t authBadCredential = 1; // it cannot be read
constexpr std::uint32_t authNone = 0;
// RFC 5531: a credential or verifier body holds at most 400 bytes.
constexpr std::uint32_t maxAuthBytes = 400;
constexpr std::uint32_t lastFragment = 0x8000'0000;

qsizetype padded(std::uint32_t length)
{
    return qsizetype((std::uint64_t(length) + 3) & ~std::uint64_t(3));
}

XdrWriter replyHeader(std::uint32_t xid, ReplyStatus status)
{
    XdrWriter writer;
    writer.u32(xid).u32(reply).u32(status);
    return writer;
}

} // namespace

bool XdrReader::take(qsizetype count, QByteArrayView &taken)
{
    if (count < 0 || count > m_bytes.size() - m_at)
        return false;
    taken = m_bytes.sliced(m_at, count);
    m_at += count;
    return true;
}

bool XdrReader::u32(std::uint32_t &value)
{
    QByteArrayView unit;
    if (!take(4, unit))
        return false;
    value = qFromBigEndian<std::uint32_t>(unit.data());
    return true;
}

bool XdrReader::i32(std::int32_t &value)
{
    std::uint32_t unit = 0;
    if (!u32(unit))
        return false;
    value = std::int32_t(unit);
    return true;
}

bool XdrReader::boolean(bool &value)
{
    const qsizetype at = m_at;
    std::uint32_t unit = 0;
    if (!u32(unit) || unit > 1) {
        m_at = at;
        return false;
    }
    value = unit == 1;
    return true;
}

bool XdrReader::opaque(QByteArray &value, std::uint32_t most)
{
    const qsizetype at = m_at;
    std::uint32_t length = 0;
    QByteArrayView body;
    if (!u32(length) || length > most || !take(padded(length), body)) {
        m_at = at;
        return false;
    }
    value = body.first(length).toByteArray();
    return true;
}

XdrWriter &XdrWriter::u32(std::uint32_t value)
{
    char unit[4];
    qToBigEndian(value, unit);
    m_bytes.append(unit, 4);
    return *this;
}

XdrWriter &XdrWriter::opaque(QByteArrayView value)
{
    u32(std::uint32_t(value.size()));
    m_bytes.append(value);
    m_bytes.append(padded(std::uint32_t(value.size())) - value.size(), '\0');
    return *this;
}

XdrWriter &XdrWriter::raw(QByteArrayView bytes)
{
    m_bytes.append(bytes);
    return *this;
}

RecordReader::Result RecordReader::take(QByteArray &stream, QByteArray &record)
{
    qsizetype at = 0;
    Result result = Result::More;
    while (stream.size() - at >= 4) {
        const std::uint32_t header = qFromBigEndian<std::uint32_t>(stream.constData() + at);
        const qsizetype length = qsizetype(header & ~lastFragment);
        if (length > m_max - m_partial.size()) {
            result = Result::TooLarge;
            break;
        }
        if (stream.size() - at - 4 < length)
            break;
        m_partial.append(stream.constData() + at + 4, length);
        at += 4 + length;
        if ((header & lastFragment) != 0) {
            record = std::exchange(m_partial, {});
            result = Result::Record;
            break;
        }
    }
    stream.remove(0, at);
    return result;
}

QByteArray markRecord(QByteArrayView record)
{
    XdrWriter writer;
    writer.u32(lastFragment | std::uint32_t(record.size())).raw(record);
    return writer.bytes();
}

CallProblem readCall(QByteArrayView message, Call &call)
{
    XdrReader reader(message);
    std::uint32_t type = 0;
    std::uint32_t version = 0;
    if (!reader.u32(call.xid) || !reader.u32(type) || type != MessageType::call)
        return CallProblem::NotACall;
    if (!reader.u32(version) || version != rpcVersion)
        return CallProblem::RpcVersion;
    if (!reader.u32(call.program) || !reader.u32(call.version) || !reader.u32(call.procedure))
        return CallProblem::NotACall;
    // The credential, then the verifier: each a flavour and up to 400 bytes of body.
    for (int part = 0; part < 2; ++part) {
        std::uint32_t flavour = 0;
        std::uint32_t length = 0;
        QByteArray body;
        if (!reader.u32(flavour) || !XdrReader(reader.rest()).u32(length))
            return CallProblem::NotACall;
        if (length > maxAuthBytes)
            return CallProblem::BadCredential;
        if (!reader.opaque(body, maxAuthBytes))
            return CallProblem::NotACall;
    }
    call.arguments = reader.rest();
    return CallProblem::None;
}

QByteArray badCredentialReply(std::uint32_t xid)
{
    XdrWriter writer = replyHeader(xid, denied);
    writer.u32(authError).u32(authBadCredential);
    return writer.bytes();
}

QByteArray problemReply(CallProblem problem, std::uint32_t xid)
{
    switch (problem) {
    case CallProblem::RpcVersion:
        return rpcMismatchReply(xid);
    case CallProblem::BadCredential:
        return badCredentialReply(xid);
    case CallProblem::None:
    case CallProblem::NotACall:
        break;
    }
    return {};
}

QByteArray acceptedReply(std::uint32_t xid, AcceptStatus status, QByteArrayView results)
{
    XdrWriter writer = replyHeader(xid, accepted);
    writer.u32(authNone).u32(0).u32(std::uint32_t(status)).raw(results);
    return writer.bytes();
}

QByteArray programMismatchReply(std::uint32_t xid, std::uint32_t low, std::uint32_t high)
{
    XdrWriter versions;
    versions.u32(low).u32(high);
    return acceptedReply(xid, AcceptStatus::ProgramMismatch, versions.bytes());
}

QByteArray rpcMismatchReply(std::uint32_t xid)
{
    XdrWriter writer = replyHeader(xid, denied);
    writer.u32(rpcMismatch).u32(rpcVersion).u32(rpcVersion);
    return writer.bytes();
}

QByteArray callMessage(std::uint32_t xid, std::uint32_t program, std::uint32_t version,
                       std::uint32_t procedure, QByteArrayView arguments)
{
    XdrWriter writer;
    writer.u32(xid).u32(call).u32(rpcVersion).u32(program).u32(version).u32(procedure);
    writer.u32(authNone).u32(0).u32(authNone).u32(0).raw(arguments);
    return writer.bytes();
}

bool readReply(QByteArrayView message, std::uint32_t xid, QByteArrayView &results)
{
    XdrReader reader(message);
    std::uint32_t got = 0;
    std::uint32_t type = 0;
    std::uint32_t status = 0;
    std::uint32_t flavour = 0;
    std::uint32_t accept = 0;
    QByteArray body;
    if (!reader.u32(got) || got != xid || !reader.u32(type) || type != reply || !reader.u32(status)
        || status != accepted || !reader.u32(flavour) || !reader.opaque(body, maxAuthBytes)
        || !reader.u32(accept) || accept != std::uint32_t(AcceptStatus::Success))
        return false;
    results = reader.rest();
    return true;
}

} // namespace Rpc
