#include "rpcconnection.h"

#include "connection.h"

RpcConnection::RpcConnection(std::unique_ptr<Connection> connection, qsizetype maxRecordBytes,
                             qint64 maxUnsentBytes)
    : m_connection(std::move(connection))
    , m_records(maxRecordBytes)
    , m_maxUnsent(maxUnsentBytes)
{
    connect(m_connection.get(), &Connection::readable, this, &RpcConnection::received);
}

RpcConnection::~RpcConnection() = default;

void RpcConnection::received()
{
    if (m_receiving)
        return;
    m_receiving = true;
    while (!m_calling && !m_connection->closed()) {
        m_stream += m_connection->read(m_connection->bytesAvailable());
        switch (m_records.take(m_stream, m_record)) {
        case Rpc::RecordReader::Result::TooLarge:
            m_connection->abort(); // a stream that cannot be followed any more
            m_receiving = false;
            return;
        case Rpc::RecordReader::Result::More:
            if (m_connection->inputEnded())
                emit drained();
            m_receiving = false;
            return;
        case Rpc::RecordReader::Result::Record:
            break;
        }
        Rpc::Call call;
        const Rpc::CallProblem problem = Rpc::readCall(m_record, call);
        switch (problem) {
        case Rpc::CallProblem::NotACall:
            break; // nothing to answer to
        case Rpc::CallProblem::RpcVersion:
        case Rpc::CallProblem::BadCredential:
            m_connection->write(Rpc::markRecord(Rpc::problemReply(problem, call.xid)));
            m_connection->flush();
            break;
        case Rpc::CallProblem::None:
            m_calling = true;
            emit called(call);
            break;
        }
    }
    m_receiving = false;
}

void RpcConnection::reply(QByteArrayView message)
{
    if (!m_calling)
        return;
    m_calling = false;
    m_connection->write(Rpc::markRecord(message));
    m_connection->flush();
    if (m_connection->unsent() > m_maxUnsent) {
        emit overflowed();
        m_connection->abort();
        return;
    }
    if (!m_receiving)
        QMetaObject::invokeMethod(this, &RpcConnection::received, Qt::QueuedConnection);
}
