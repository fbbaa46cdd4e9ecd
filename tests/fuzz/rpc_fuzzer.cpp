// Random bytes through what the server reads from a VXI-11 or port mapper client: the record
// marking, cut where the first byte says, the call header, and the arguments of every procedure;
// aborts when a record does not survive being marked again, or a reply names another call.

#include "rpccodec.h"
#include "vxi11codec.h"

#include <cstdio>
#include <cstdlib>

namespace {

void check(bool holds, const char *what)
{
    if (holds)
        return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

void readEveryProcedure(const Rpc::Call &call)
{
    Vxi11::CreateLinkParms link;
    Vxi11::WriteParms write;
    Vxi11::ReadParms read;
    Vxi11::GenericParms generic;
    std::int32_t id = 0;
    if (Vxi11::read(call.arguments, link))
        check(link.device.size() <= qsizetype(Vxi11::maxDeviceName), "device name over its limit");
    if (Vxi11::read(call.arguments, write))
        check(write.data.size() <= qsizetype(Vxi11::maxWriteBytes), "write over its limit");
    Vxi11::read(call.arguments, read);
    Vxi11::read(call.arguments, generic);
    Vxi11::readLockParms(call.arguments, generic);
    Vxi11::readLink(call.arguments, id);
    const PortMap::Mapping known[] = {{Vxi11::coreProgram, 1, PortMap::tcp, 4242}};
    const QByteArray reply = PortMap::answer(call, known, 1);
    Rpc::XdrReader header(reply);
    std::uint32_t xid = 0;
    check(header.u32(xid) && xid == call.xid, "a reply to another call");
    PortMap::listsRegistration(call.arguments, Vxi11::coreProgram, "tcp", "0.0.0.0.16.146");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const qsizetype cut = bytes.isEmpty() ? 0 : data[0] % (bytes.size() + 1);
    Rpc::RecordReader records(64 * 1024);
    QByteArray stream = bytes.left(cut);
    QByteArray record;
    for (int part = 0; part < 2; ++part) {
        Rpc::RecordReader::Result result;
        while ((result = records.take(stream, record)) == Rpc::RecordReader::Result::Record) {
            Rpc::RecordReader again(64 * 1024);
            QByteArray marked = Rpc::markRecord(record);
            QByteArray back;
            check(again.take(marked, back) == Rpc::RecordReader::Result::Record && back == record
                          && marked.isEmpty(),
                  "a record marked again reads back otherwise");
            Rpc::Call call;
            if (Rpc::readCall(record, call) == Rpc::CallProblem::None)
                readEveryProcedure(call);
        }
        if (result == Rpc::RecordReader::Result::TooLarge)
            break;
        stream += bytes.mid(cut);
    }
    // The same bytes as one datagram, as the port mapper takes them over UDP.
    Rpc::Call call;
    if (Rpc::readCall(bytes, call) == Rpc::CallProblem::None)
        readEveryProcedure(call);
    return 0;
}
