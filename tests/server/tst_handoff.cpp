// What an instrument of --all reads from its hand-off channel: a connection with the bytes read
// before it, a message to ignore, or the end of the channel; never the end for what is not.
#include "handoff.h"

#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

class HandOff : public QObject
{
    Q_OBJECT

private slots:
    void received_data();
    void received();
};

namespace {

enum class Sending { Nothing, Connection, NoDescriptor, TooLong, Gone };

} // namespace

void HandOff::received_data()
{
    QTest::addColumn<int>("sending");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("expected");

    const QByteArray call = QByteArray(40, '\x7f');
    QTest::newRow("woken with nothing to read")
            << int(Sending::Nothing) << QByteArray() << int(Received::Nothing);
    QTest::newRow("a connection with what was read of it")
            << int(Sending::Connection) << call << int(Received::Connection);
    QTest::newRow("a connection with nothing read yet")
            << int(Sending::Connection) << QByteArray() << int(Received::Connection);
    QTest::newRow("a message with no connection in it")
            << int(Sending::NoDescriptor) << QByteArray() << int(Received::Nothing);
    QTest::newRow("a message longer than any hand-off")
            << int(Sending::TooLong) << QByteArray() << int(Received::Nothing);
    QTest::newRow("the server gone") << int(Sending::Gone) << QByteArray() << int(Received::End);
}

void HandOff::received()
{
    QFETCH(int, sending);
    QFETCH(QByteArray, bytes);
    QFETCH(int, expected);

    int pair[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0, pair), 0);
    int handed[2];
    QCOMPARE(::pipe(handed), 0);
    switch (Sending(sending)) {
    case Sending::Nothing:
        break;
    case Sending::Connection:
        QCOMPARE(sendConnection(pair[0], handed[0], bytes), Sent::Done);
        break;
    case Sending::NoDescriptor:
        QCOMPARE(::send(pair[0], "\0", 1, 0), 1);
        break;
    case Sending::TooLong: {
        const QByteArray longer(8 * 1024, '\1');
        QCOMPARE(::send(pair[0], longer.constData(), std::size_t(longer.size()), 0),
                 ssize_t(longer.size()));
        break;
    }
    case Sending::Gone:
        ::close(pair[0]);
        pair[0] = -1;
        break;
    }
    int descriptor = -1;
    QByteArray received;
    QCOMPARE(int(receiveConnection(pair[1], descriptor, received)), expected);
    if (expected == int(Received::Connection)) {
        QVERIFY(descriptor >= 0);
        QCOMPARE(received, bytes);
        // The very pipe handed over: what goes in at one end comes out of the descriptor.
        QCOMPARE(::write(handed[1], "x", 1), ssize_t(1));
        char got = 0;
        QCOMPARE(::read(descriptor, &got, 1), ssize_t(1));
        QCOMPARE(got, 'x');
        ::close(descriptor);
    } else {
        QCOMPARE(descriptor, -1);
    }
    for (const int each : {pair[0], pair[1], handed[0], handed[1]})
        if (each >= 0)
            ::close(each);
}

QTEST_GUILESS_MAIN(HandOff)
#include "tst_handoff.moc"
