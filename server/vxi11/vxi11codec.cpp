#include "vxi11codec.h"

namespace Vxi11 {

// Bytes after the arguments are let be, as rpcgen's readers do.

bool isCoreProcedure(std::uint32_t procedure)
{
    switch (procedure) {
    case nullProcedure:
    case createLink:
    case deviceWrite:
    case deviceRead:
    case deviceReadStb:
    case deviceTrigger:
    case deviceClear:
    case deviceRemote:
    case deviceLocal:
    case deviceLock:
    case deviceUnlock:
    case deviceEnableSrq:
    case deviceDocmd:
    case destroyLink:
    case createInterruptChannel:
    case destroyInterruptChannel:
        return true;
    default:
        return false;
    }
}

bool read(QByteArrayView arguments, CreateLinkParms &parms)
{
    Rpc::XdrReader reader(arguments);
    return reader.i32(parms.clientId) && reader.boolean(parms.lockDevice)
            && reader.u32(parms.lockTimeout) && reader.opaque(parms.device, maxDeviceName);
}

bool read(QByteArrayView arguments, WriteParms &parms)
{
    Rpc::XdrReader reader(arguments);
    return reader.i32(parms.link) && reader.u32(parms.ioTimeout) && reader.u32(parms.lockTimeout)
            && reader.i32(parms.flags) && reader.opaque(parms.data, maxWriteBytes);
}

bool read(QByteArrayView arguments, ReadParms &parms)
{
    Rpc::XdrReader reader(arguments);
    std::int32_t termChar = 0;
    const bool ok = reader.i32(parms.link) && reader.u32(parms.requestSize)
            && reader.u32(parms.ioTimeout) && reader.u32(parms.lockTimeout)
            && reader.i32(parms.flags) && reader.i32(termChar);
    parms.termChar = char(termChar); // a char travels in a whole unit
    return ok;
}

bool read(QByteArrayView arguments, GenericParms &parms)
{
    Rpc::XdrReader reader(arguments);
    return reader.i32(parms.link) && reader.i32(parms.flags) && reader.u32(parms.lockTimeout)
            && reader.u32(parms.ioTimeout);
}

bool readLockParms(QByteArrayView arguments, GenericParms &parms)
{
    Rpc::XdrReader reader(arguments);
    parms.ioTimeout = 0;
    return reader.i32(parms.link) && reader.i32(parms.flags) && reader.u32(parms.lockTimeout);
}

bool readLink(QByteArrayView arguments, std::int32_t &link)
{
    Rpc::XdrReader reader(arguments);
    return reader.i32(link);
}

QByteArray createLinkResult(std::int32_t error, std::int32_t link, std::uint16_t abortPort,
                            std::uint32_t maxReceiveSize)
{
    Rpc::XdrWriter writer;
    writer.i32(error).i32(link).u32(abortPort).u32(maxReceiveSize);
    return writer.bytes();
}

QByteArray writeResult(std::int32_t error, std::uint32_t size)
{
    Rpc::XdrWriter writer;
    writer.i32(error).u32(size);
    return writer.bytes();
}

QByteArray readResult(std::int32_t error, std::int32_t reason, QByteArrayView data)
{
    Rpc::XdrWriter writer;
    writer.i32(error).i32(reason).opaque(data);
    return writer.bytes();
}

QByteArray readStbResult(std::int32_t error, std::uint8_t statusByte)
{
    Rpc::XdrWriter writer;
    writer.i32(error).u32(statusByte);
    return writer.bytes();
}

QByteArray errorResult(std::int32_t error)
{
    Rpc::XdrWriter writer;
    writer.i32(error);
    return writer.bytes();
}

} // namespace Vxi11

namespace PortMap {

bool read(QByteArrayView arguments, Mapping &mapping)
{
    Rpc::XdrReader reader(arguments);
    return reader.u32(mapping.program) && reader.u32(mapping.version)
            && reader.u32(mapping.protocol) && reader.u32(mapping.port);
}

QByteArray answer(const Rpc::Call &call, const Mapping *mappings, std::size_t count)
{
    if (call.program != program)
        return Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::ProgramUnavailable);
    if (call.version != version)
        return Rpc::programMismatchReply(call.xid, version, version);
    Mapping asked;
    switch (call.procedure) {
    case null:
        return Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::Success);
    case set:
    case unset:
    case getPort: {
        if (!read(call.arguments, asked))
            return Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::GarbageArguments);
        std::uint32_t port = 0;
        for (std::size_t i = 0; i < count && call.procedure == getPort; ++i) {
            // Any version: the program itself says which it serves.
            if (mappings[i].program == asked.program && mappings[i].protocol == asked.protocol)
                port = mappings[i].port;
        }
        return Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::Success,
                                  call.procedure == getPort
                                          ? portResult(port)
                                          : Rpc::XdrWriter().boolean(false).bytes());
    }
    case dump:
        return Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::Success,
                                  dumpResult(mappings, count));
    default:
        return Rpc::acceptedReply(call.xid, Rpc::AcceptStatus::ProcedureUnavailable);
    }
}

QByteArray portResult(std::uint32_t port)
{
    Rpc::XdrWriter writer;
    writer.u32(port);
    return writer.bytes();
}

QByteArray dumpResult(const Mapping *mappings, std::size_t count)
{
    Rpc::XdrWriter writer;
    for (std::size_t i = 0; i < count; ++i) {
        const Mapping &mapping = mappings[i];
        writer.boolean(true)
                .u32(mapping.program)
                .u32(mapping.version)
                .u32(mapping.protocol)
                .u32(mapping.port);
    }
    writer.boolean(false);
    return writer.bytes();
}

QByteArray registration(std::uint32_t program, std::uint32_t version, QByteArrayView netId,
                        QByteArrayView address, QByteArrayView owner)
{
    Rpc::XdrWriter writer;
    writer.u32(program).u32(version).opaque(netId).opaque(address).opaque(owner);
    return writer.bytes();
}

bool readBoolean(QByteArrayView results, bool &value)
{
    Rpc::XdrReader reader(results);
    return reader.boolean(value);
}

bool listsRegistration(QByteArrayView dump, std::uint32_t program, QByteArrayView netId,
                       QByteArrayView address)
{
    Rpc::XdrReader reader(dump);
    bool more = false;
    while (reader.boolean(more) && more) {
        std::uint32_t listed = 0;
        std::uint32_t version = 0;
        QByteArray listedNetId;
        QByteArray listedAddress;
        QByteArray owner;
        if (!reader.u32(listed) || !reader.u32(version) || !reader.opaque(listedNetId, 256)
            || !reader.opaque(listedAddress, 256) || !reader.opaque(owner, 256))
            return false;
        if (listed == program && listedNetId == netId && listedAddress == address)
            return true;
    }
    return false;
}

QByteArray universalAddress(QByteArrayView host, std::uint16_t port)
{
    return host.toByteArray() + '.' + QByteArray::number(port >> 8) + '.'
            + QByteArray::number(port & 0xFF);
}

QByteArray registeredAddress(QByteArrayView dump, std::uint32_t program, QByteArrayView netId)
{
    Rpc::XdrReader reader(dump);
    bool more = false;
    while (reader.boolean(more) && more) {
        std::uint32_t listed = 0;
        std::uint32_t version = 0;
        QByteArray listedNetId;
        QByteArray listedAddress;
        QByteArray owner;
        if (!reader.u32(listed) || !reader.u32(version) || !reader.opaque(listedNetId, 256)
            || !reader.opaque(listedAddress, 256) || !reader.opaque(owner, 256))
            return {};
        if (listed == program && listedNetId == netId)
            return listedAddress;
    }
    return {};
}

bool splitUniversalAddress(QByteArrayView address, QByteArray &host, std::uint16_t &port)
{
    const qsizetype low = address.lastIndexOf('.');
    const qsizetype high = low > 0 ? address.first(low).lastIndexOf('.') : -1;
    if (high <= 0)
        return false;
    bool highNumber = false;
    bool lowNumber = false;
    const uint highByte = address.sliced(high + 1, low - high - 1).toUInt(&highNumber);
    const uint lowByte = address.sliced(low + 1).toUInt(&lowNumber);
    if (!highNumber || !lowNumber || highByte > 255 || lowByte > 255)
        return false;
    host = address.first(high).toByteArray();
    port = std::uint16_t(highByte << 8 | lowByte);
    return true;
}

} // namespace PortMap
