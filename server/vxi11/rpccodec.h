// ONC RPC on the wire, as plain functions from bytes to typed values and back: XDR's 32-bit
// big-endian units and padded variable-length data, the record marking that cuts a TCP stream
// into messages, and the headers of calls and replies. No sockets here.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>

namespace Rpc {

// Reads XDR from a message; each read fails (false) past the end and leaves the value alone.
class XdrReader
{
public:
    explicit XdrReader(QByteArrayView bytes)
        : m_bytes(bytes)
    { }

    bool u32(std::uint32_t &value);
    bool i32(std::int32_t &value);
    // 0 or 1; anything else is not a boolean.
    bool boolean(bool &value);
    // Variable-length opaque data or a string, at most `most` bytes, with its padding.
    bool opaque(QByteArray &value, std::uint32_t most);
    QByteArrayView rest() const { return m_bytes.sliced(m_at); }

private:
    bool take(qsizetype count, QByteArrayView &taken);

    QByteArrayView m_bytes;
    qsizetype m_at = 0;
};

class XdrWriter
{
public:
    XdrWriter &u32(std::uint32_t value);
    XdrWriter &i32(std::int32_t value) { return u32(std::uint32_t(value)); }
    XdrWriter &boolean(bool value) { return u32(value ? 1 : 0); }
    XdrWriter &opaque(QByteArrayView value);
    XdrWriter &raw(QByteArrayView bytes);
    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// Cuts a byte stream into records: each is one or more fragments, each fragment behind a
// four-byte header whose top bit marks the record's last fragment and whose other bits give
// the fragment's length.
class RecordReader
{
public:
    enum class Result { More, Record, TooLarge };

    explicit RecordReader(qsizetype maxRecordBytes)
        : m_max(maxRecordBytes)
    { }

    // Takes what it can from the front of `stream`. Record: `record` holds the next whole one.
    // TooLarge: the record would pass the limit, and the stream cannot be followed any more.
    Result take(QByteArray &stream, QByteArray &record);

private:
    qsizetype m_max;
    QByteArray m_partial; // the fragments of the record so far
};

// One record of one fragment.
QByteArray markRecord(QByteArrayView record);

inline constexpr std::uint32_t rpcVersion = 2;

struct Call
{
    std::uint32_t xid = 0;
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    std::uint32_t procedure = 0;
    QByteArrayView arguments;
};

enum class CallProblem {
    None,
    NotACall,      // cannot be answered: no transaction id, or a reply
    RpcVersion,    // answered as denied, RPC_MISMATCH
    BadCredential, // a credential or verifier over RFC 5531's 400 bytes: denied, AUTH_ERROR
};

// A call's header, its credential and verifier passed over whatever their flavour.
CallProblem readCall(QByteArrayView message, Call &call);

enum class AcceptStatus : std::uint32_t {
    Success = 0,
    ProgramUnavailable = 1,
    ProgramMismatch = 2,
    ProcedureUnavailable = 3,
    GarbageArguments = 4,
    SystemError = 5,
};

QByteArray acceptedReply(std::uint32_t xid, AcceptStatus status, QByteArrayView results = {});
// The program is here, in versions low to high only.
QByteArray programMismatchReply(std::uint32_t xid, std::uint32_t low, std::uint32_t high);
QByteArray rpcMismatchReply(std::uint32_t xid);
// Denied: the credential cannot be read (AUTH_ERROR, AUTH_BADCRED).
QByteArray badCredentialReply(std::uint32_t xid);
// What a call's problem is answered, when it is answered at all: empty for None and NotACall.
QByteArray problemReply(CallProblem problem, std::uint32_t xid);

// A call of ours (to rpcbind), with no credential.
QByteArray callMessage(std::uint32_t xid, std::uint32_t program, std::uint32_t version,
                       std::uint32_t procedure, QByteArrayView arguments);
// The results of a successful reply to the call `xid`; false for anything else.
bool readReply(QByteArrayView message, std::uint32_t xid, QByteArrayView &results);

} // namespace Rpc
