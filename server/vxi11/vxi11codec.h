// The arguments and results of VXI-11's core and abort channels and of the port mapper, as
// plain functions over XDR: what each procedure takes, read from its call, and what it answers.
#pragma once

#include "rpccodec.h"

#include <cstdint>

namespace Vxi11 {

inline constexpr std::uint32_t coreProgram = 0x0607AF;
inline constexpr std::uint32_t abortProgram = 0x0607B0;
inline constexpr std::uint32_t interruptProgram = 0x0607B1;
inline constexpr std::uint32_t programVersion = 1;

// Whether a core channel procedure exists in VXI-11 (then it is answered with its own error
// when it cannot be done, not PROC_UNAVAIL).
bool isCoreProcedure(std::uint32_t procedure);

enum Procedure : std::uint32_t {
    nullProcedure = 0,
    deviceAbort = 1, // on the abort channel
    createLink = 10,
    deviceWrite = 11,
    deviceRead = 12,
    deviceReadStb = 13,
    deviceTrigger = 14,
    deviceClear = 15,
    deviceRemote = 16,
    deviceLocal = 17,
    deviceLock = 18,
    deviceUnlock = 19,
    deviceEnableSrq = 20,
    deviceDocmd = 22,
    destroyLink = 23,
    createInterruptChannel = 25,
    destroyInterruptChannel = 26,
};

// Device_ErrorCode
enum Error : std::int32_t {
    noError = 0,
    syntaxError = 1,
    deviceNotAccessible = 3,
    invalidLink = 4,
    parameterError = 5,
    channelNotEstablished = 6,
    operationNotSupported = 8,
    outOfResources = 9,
    lockedByAnotherLink = 11,
    noLockHeldByThisLink = 12,
    ioTimeout = 15,
    ioError = 17,
    invalidAddress = 21,
    aborted = 23,
    channelAlreadyEstablished = 29,
};

namespace Flag {
inline constexpr std::int32_t waitLock = 0x01;
inline constexpr std::int32_t end = 0x08;
inline constexpr std::int32_t termCharSet = 0x80;
} // namespace Flag

// Why a read ended; several may hold at once.
namespace Reason {
inline constexpr std::int32_t requestCount = 0x01;
inline constexpr std::int32_t character = 0x02;
inline constexpr std::int32_t end = 0x04;
} // namespace Reason

// The longest device name read (a longer record is refused whole before), and the most data one
// write may carry. A name no instrument has, however long, is error 3.
inline constexpr std::uint32_t maxDeviceName = 64 * 1024;
inline constexpr std::uint32_t maxWriteBytes = 1024 * 1024;

struct CreateLinkParms
{
    std::int32_t clientId = 0;
    bool lockDevice = false;
    std::uint32_t lockTimeout = 0;
    QByteArray device;
};

struct WriteParms
{
    std::int32_t link = 0;
    std::uint32_t ioTimeout = 0;
    std::uint32_t lockTimeout = 0;
    std::int32_t flags = 0;
    QByteArray data;
};

struct ReadParms
{
    std::int32_t link = 0;
    std::uint32_t requestSize = 0;
    std::uint32_t ioTimeout = 0;
    std::uint32_t lockTimeout = 0;
    std::int32_t flags = 0;
    char termChar = 0;
};

// Device_GenericParms, and Device_LockParms with no I/O timeout.
struct GenericParms
{
    std::int32_t link = 0;
    std::int32_t flags = 0;
    std::uint32_t lockTimeout = 0;
    std::uint32_t ioTimeout = 0;
};

// Each reads the whole of a procedure's arguments; false when they do not parse.
bool read(QByteArrayView arguments, CreateLinkParms &parms);
bool read(QByteArrayView arguments, WriteParms &parms);
bool read(QByteArrayView arguments, ReadParms &parms);
bool read(QByteArrayView arguments, GenericParms &parms);
bool readLockParms(QByteArrayView arguments, GenericParms &parms);
// A bare Device_Link (device_unlock, destroy_link, device_abort).
bool readLink(QByteArrayView arguments, std::int32_t &link);

QByteArray createLinkResult(std::int32_t error, std::int32_t link, std::uint16_t abortPort,
                            std::uint32_t maxReceiveSize);
QByteArray writeResult(std::int32_t error, std::uint32_t size);
QByteArray readResult(std::int32_t error, std::int32_t reason, QByteArrayView data);
QByteArray readStbResult(std::int32_t error, std::uint8_t statusByte);
QByteArray errorResult(std::int32_t error);

} // namespace Vxi11

namespace PortMap {

inline constexpr std::uint32_t program = 100000;
inline constexpr std::uint32_t version = 2; // the port mapper's own; rpcbind adds 3 and 4
inline constexpr std::uint32_t rpcbindVersion = 3;
inline constexpr std::uint16_t port = 111;
inline constexpr std::uint32_t tcp = 6;
inline constexpr std::uint32_t udp = 17;

// Whether a core channel procedure exists in VXI-11 (then it is answered with its own error
// when it cannot be done, not PROC_UNAVAIL).
bool isCoreProcedure(std::uint32_t procedure);

enum Procedure : std::uint32_t { null = 0, set = 1, unset = 2, getPort = 3, dump = 4, callIt = 5 };

struct Mapping
{
    std::uint32_t program = 0;
    std::uint32_t version = 0;
    std::uint32_t protocol = 0;
    std::uint32_t port = 0;
};

bool read(QByteArrayView arguments, Mapping &mapping);
// The answer of a port mapper that knows these mappings and no others, in its version 2 only:
// GETPORT by program and protocol, DUMP, and a refusal of every SET and UNSET.
QByteArray answer(const Rpc::Call &call, const Mapping *mappings, std::size_t count);
QByteArray portResult(std::uint32_t port);
// DUMP: the list of mappings, each behind a "more follows" boolean.
QByteArray dumpResult(const Mapping *mappings, std::size_t count);

// rpcbind's own registration (versions 3 and 4): program, version, network id ("tcp"), universal
// address ("127.0.0.1.19.137" for port 5001), owner.
QByteArray registration(std::uint32_t program, std::uint32_t version, QByteArrayView netId,
                        QByteArrayView address, QByteArrayView owner);
bool readBoolean(QByteArrayView results, bool &value);
// Whether rpcbind's DUMP lists the program on that network id at that universal address.
bool listsRegistration(QByteArrayView dump, std::uint32_t program, QByteArrayView netId,
                       QByteArrayView address);
// The universal address of a TCP or UDP port: the host's address, then the port's two bytes.
QByteArray universalAddress(QByteArrayView host, std::uint16_t port);
// The address at which rpcbind's DUMP lists the program on that network id; empty for none.
QByteArray registeredAddress(QByteArrayView dump, std::uint32_t program, QByteArrayView netId);
// A universal address taken apart; false when it is none.
bool splitUniversalAddress(QByteArrayView address, QByteArray &host, std::uint16_t &port);

} // namespace PortMap
