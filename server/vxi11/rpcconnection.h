#pragma once

#include "rpccodec.h"

#include <QObject>

#include <memory>

class Connection;

// RPC calls over one TCP connection: records in, one call at a time, replies out in order. A
// call is answered once, now or later; the next is read only after that.
class RpcConnection final : public QObject
{
    Q_OBJECT

public:
    // Replies the client leaves untaken beyond `maxUnsentBytes` close the connection: a client
    // that calls without reading cannot make the server grow.
    RpcConnection(std::unique_ptr<Connection> connection, qsizetype maxRecordBytes,
                  qint64 maxUnsentBytes = 4 * 1024 * 1024);
    ~RpcConnection() override;

    Connection &connection() { return *m_connection; }
    // Answers the call in hand.
    void reply(QByteArrayView message);

signals:
    // The call to answer; its arguments are valid until the reply.
    void called(const Rpc::Call &call);
    // The client has nothing more to ask: no call in hand, and its input has ended.
    void drained();
    // It left more replies untaken than allowed: the connection is closed.
    void overflowed();

private:
    void received();

    std::unique_ptr<Connection> m_connection;
    Rpc::RecordReader m_records;
    QByteArray m_stream;
    QByteArray m_record; // the call in hand
    qint64 m_maxUnsent;
    bool m_calling = false;
    bool m_receiving = false;
};
