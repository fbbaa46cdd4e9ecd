// The web edge's plain functions: a request head read as the one gate and the routes both see it,
// who may use the panel, and a page's WebSocket frames read as RFC 6455 holds a server to.
#include "access.h"
#include "httpwire.h"
#include "websocketwire.h"

#include <QTest>

class WebWire : public QObject
{
    Q_OBJECT

private slots:
    void head_data();
    void head();
    void refusal_data();
    void refusal();
    void frame_data();
    void frame();
};

void WebWire::head_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status"); // 0: read whole; -1: not whole yet
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("host");

    const QByteArray host = "Host: bench\r\n";
    const auto get = [&host](const QByteArray &target, const QByteArray &more = {}) {
        return "GET " + target + " HTTP/1.1\r\n" + host + more + "\r\n";
    };
    // The same path however it is spelt.
    QTest::newRow("plain") << get("/panel/made/sweep.csv") << 0
                           << QByteArray("/panel/made/sweep.csv") << QByteArray("bench");
    QTest::newRow("a letter percent-encoded")
            << get("/p%61nel/made/sweep.csv") << 0 << QByteArray("/panel/made/sweep.csv")
            << QByteArray("bench");
    QTest::newRow("a slash percent-encoded")
            << get("/panel%2Fmade%2fsweep.csv") << 0 << QByteArray("/panel/made/sweep.csv")
            << QByteArray("bench");
    QTest::newRow("dot segments") << get("/x/./../panel/made/sweep.csv") << 0
                                  << QByteArray("/panel/made/sweep.csv") << QByteArray("bench");
    QTest::newRow("dot segments encoded")
            << get("/x/%2e%2E/panel/") << 0 << QByteArray("/panel/") << QByteArray("bench");
    QTest::newRow("above the root")
            << get("/../../panel") << 0 << QByteArray("/panel") << QByteArray("bench");
    QTest::newRow("repeated slashes") << get("//panel//made///sweep.csv") << 0
                                      << QByteArray("/panel/made/sweep.csv") << QByteArray("bench");
    QTest::newRow("a folder's trailing slash kept")
            << get("/panel/x/..") << 0 << QByteArray("/panel/") << QByteArray("bench");
    QTest::newRow("the query dropped")
            << get("/panel/?a=%2F..") << 0 << QByteArray("/panel/") << QByteArray("bench");
    QTest::newRow("absolute form names the host")
            << get("http://other.example:81/p%61nel/") << 0 << QByteArray("/panel/")
            << QByteArray("other.example:81");
    QTest::newRow("absolute form without a path")
            << get("HTTPS://other.example") << 0 << QByteArray("/") << QByteArray("other.example");
    QTest::newRow("leading empty lines")
            << "\r\n\r\n" + get("/") << 0 << QByteArray("/") << QByteArray("bench");
    QTest::newRow("HTTP/1.0 without Host")
            << QByteArray("GET /lxi/identification HTTP/1.0\r\n\r\n") << 0
            << QByteArray("/lxi/identification") << QByteArray();
    // Not whole yet.
    QTest::newRow("no empty line yet")
            << QByteArray("GET / HTTP/1.1\r\nHost: a\r\n") << -1 << QByteArray() << QByteArray();
    // Framing two readers could disagree on.
    QTest::newRow("Content-Length and chunked")
            << get("/", "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n") << 400
            << QByteArray() << QByteArray();
    QTest::newRow("two lengths, equal") << get("/", "Content-Length: 5\r\nContent-Length: 5\r\n")
                                        << 400 << QByteArray() << QByteArray();
    QTest::newRow("a length as a list")
            << get("/", "Content-Length: 5, 5\r\n") << 400 << QByteArray() << QByteArray();
    QTest::newRow("a signed length")
            << get("/", "Content-Length: +5\r\n") << 400 << QByteArray() << QByteArray();
    QTest::newRow("chunked alone")
            << get("/", "Transfer-Encoding: chunked\r\n") << 501 << QByteArray() << QByteArray();
    QTest::newRow("a bare LF") << QByteArray("GET / HTTP/1.1\nHost: a\r\n\r\n") << 400
                               << QByteArray() << QByteArray();
    QTest::newRow("a bare LF before the head is whole")
            << QByteArray("GET / HTTP/1.1\r\nHost: a\nX") << 400 << QByteArray() << QByteArray();
    QTest::newRow("a folded field")
            << get("/", "X-A: 1\r\n 2\r\n") << 400 << QByteArray() << QByteArray();
    QTest::newRow("space before the colon")
            << get("/", "Content-Length : 5\r\n") << 400 << QByteArray() << QByteArray();
    QTest::newRow("two Hosts") << get("/", "Host: other\r\n") << 400 << QByteArray()
                               << QByteArray();
    QTest::newRow("HTTP/1.1 without Host")
            << QByteArray("GET / HTTP/1.1\r\n\r\n") << 400 << QByteArray() << QByteArray();
    QTest::newRow("a Host with a path") << QByteArray("GET / HTTP/1.1\r\nHost: a/b\r\n\r\n") << 400
                                        << QByteArray() << QByteArray();
    QTest::newRow("userinfo in the absolute form")
            << get("http://u@other/panel/") << 400 << QByteArray() << QByteArray();
    QTest::newRow("a fragment") << get("/panel/#x") << 400 << QByteArray() << QByteArray();
    QTest::newRow("a broken escape") << get("/panel/%g0") << 400 << QByteArray() << QByteArray();
    QTest::newRow("an escape cut short") << get("/panel/%4") << 400 << QByteArray() << QByteArray();
    QTest::newRow("an encoded NUL") << get("/panel/%00") << 400 << QByteArray() << QByteArray();
    QTest::newRow("another scheme")
            << get("ftp://other/panel/") << 400 << QByteArray() << QByteArray();
    QTest::newRow("two spaces") << QByteArray("GET  / HTTP/1.1\r\nHost: a\r\n\r\n") << 400
                                << QByteArray() << QByteArray();
    QTest::newRow("HTTP/2.0") << QByteArray("GET / HTTP/2.0\r\nHost: a\r\n\r\n") << 505
                              << QByteArray() << QByteArray();
    QTest::newRow("a body over the limit")
            << get("/", "Content-Length: 16385\r\n") << 413 << QByteArray() << QByteArray();
    QTest::newRow("a head of 16 KiB and one more byte, not whole")
            << "GET / HTTP/1.1\r\nX: " + QByteArray(16 * 1024 - 18, 'a') << 431 << QByteArray()
            << QByteArray();
    QTest::newRow("a whole head over 16 KiB")
            << get("/", "X: " + QByteArray(16 * 1024, 'a') + "\r\n") << 431 << QByteArray()
            << QByteArray();
    QTest::newRow("101 fields") << get("/", QByteArray("A:\r\n").repeated(100)) << 431
                                << QByteArray() << QByteArray();
    QTest::newRow("100 fields") << get("/", QByteArray("A:\r\n").repeated(99)) << 0
                                << QByteArray("/") << QByteArray("bench");
}

void WebWire::head()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, host);
    // What follows the head is the next request's, and not read with it.
    const HeadReading reading = readHead(status == 0 ? bytes + "GET /next HTTP/1.1\r\n" : bytes);
    if (status < 0) {
        QCOMPARE(int(readHead(bytes).kind), int(HeadReading::Kind::More));
        return;
    }
    QCOMPARE(reading.status, status);
    QCOMPARE(int(reading.kind),
             int(status == 0 ? HeadReading::Kind::Complete : HeadReading::Kind::Refused));
    if (status != 0)
        return;
    QCOMPARE(reading.head.path, path);
    QCOMPARE(reading.head.host, host);
    // Where the next request begins.
    QCOMPARE(reading.head.headBytes, bytes.size());
}

void WebWire::refusal_data()
{
    QTest::addColumn<QByteArray>("request");  // method, path, then fields
    QTest::addColumn<QStringList>("origins"); // --http-origin
    QTest::addColumn<int>("status");          // 0: let through

    const auto origins = [](QStringList list) {
        return list;
    };
    const QStringList none;
    const QStringList proxied {"https://bench7.example"};
    QTest::newRow("own name and port")
            << QByteArray("GET /panel/\r\nHost: bench:8080") << none << 0;
    QTest::newRow("own address, name in capitals and a final dot")
            << QByteArray("GET /panel/\r\nHost: BENCH.:8080") << none << 0;
    QTest::newRow("another port") << QByteArray("GET /panel/\r\nHost: bench:8081") << none << 421;
    QTest::newRow("no port: 80") << QByteArray("GET /panel/\r\nHost: bench") << none << 421;
    QTest::newRow("a name ending in ours")
            << QByteArray("GET /panel/\r\nHost: evil-bench:8080") << none << 421;
    QTest::newRow("ours as a prefix")
            << QByteArray("GET /panel/\r\nHost: bench.evil.example:8080") << none << 421;
    QTest::newRow("no Host") << QByteArray("GET /panel/\r\n") << none << 421;
    QTest::newRow("the LXI pages answer any name")
            << QByteArray("GET /lxi/identification\r\nHost: anything") << none << 0;
    QTest::newRow("the proxy's name, no port")
            << QByteArray("GET /panel/\r\nHost: bench7.example") << proxied << 0;
    QTest::newRow("the proxy's name and port")
            << QByteArray("GET /panel/\r\nHost: bench7.example:443") << proxied << 0;
    QTest::newRow("the proxy's name, another port")
            << QByteArray("GET /panel/\r\nHost: bench7.example:8443") << proxied << 421;
    QTest::newRow("the proxy's name without --http-origin")
            << QByteArray("GET /panel/\r\nHost: bench7.example") << none << 421;
    QTest::newRow("a proxy on its own port")
            << QByteArray("GET /panel/\r\nHost: bench7.example:8443")
            << origins({"https://BENCH7.example:8443"}) << 0;
    // Origins, on the socket and on a POST.
    QTest::newRow("the page's own origin")
            << QByteArray("UPGRADE /panel/socket\r\nHost: bench:8080\r\nOrigin: http://bench:8080")
            << none << 0;
    QTest::newRow("no Origin: no browser")
            << QByteArray("UPGRADE /panel/socket\r\nHost: bench:8080") << none << 0;
    QTest::newRow("an origin that starts like ours") << QByteArray(
            "UPGRADE /panel/socket\r\nHost: bench:8080\r\nOrigin: http://bench:8080.evil.example")
                                                     << none << 403;
    QTest::newRow("our name as another's prefix") << QByteArray(
            "UPGRADE /panel/socket\r\nHost: bench:8080\r\nOrigin: http://bench.evil.example:8080")
                                                  << none << 403;
    QTest::newRow("another port's origin")
            << QByteArray("UPGRADE /panel/socket\r\nHost: bench:8080\r\nOrigin: http://bench:8081")
            << none << 403;
    QTest::newRow("https to a plain server")
            << QByteArray("UPGRADE /panel/socket\r\nHost: bench:8080\r\nOrigin: https://bench:8080")
            << none << 403;
    QTest::newRow("an origin with a path")
            << QByteArray("POST /panel/login\r\nHost: bench:8080\r\nOrigin: http://bench:8080/x")
            << none << 403;
    QTest::newRow("a null origin")
            << QByteArray("POST /panel/login\r\nHost: bench:8080\r\nOrigin: null") << none << 403;
    QTest::newRow("a null origin from elsewhere") << QByteArray(
            "POST /panel/login\r\nHost: bench:8080\r\nOrigin: null\r\nSec-Fetch-Site: cross-site")
                                                  << none << 403;
    QTest::newRow("the panel's own form") << QByteArray(
            "POST /panel/login\r\nHost: bench:8080\r\nOrigin: null\r\nSec-Fetch-Site: same-origin")
                                          << none << 0;
    QTest::newRow("the proxy's page") << QByteArray(
            "UPGRADE /panel/socket\r\nHost: bench7.example\r\nOrigin: https://bench7.example")
                                      << proxied << 0;
    QTest::newRow("the proxy's page, its port written") << QByteArray(
            "UPGRADE /panel/socket\r\nHost: bench7.example\r\nOrigin: https://bench7.example:443")
                                                        << proxied << 0;
    QTest::newRow("the proxy's page without --http-origin") << QByteArray(
            "UPGRADE /panel/socket\r\nHost: bench7.example:443\r\nOrigin: https://bench7.example")
                                                            << none << 421;
    QTest::newRow("the proxy's name over plain HTTP") << QByteArray(
            "UPGRADE /panel/socket\r\nHost: bench7.example\r\nOrigin: http://bench7.example")
                                                      << proxied << 403;
    QTest::newRow("the proxy's name as a prefix")
            << QByteArray("UPGRADE /panel/socket\r\nHost: bench7.example\r\nOrigin: "
                          "https://bench7.example.evil.example")
            << proxied << 403;
    QTest::newRow("a plain GET from elsewhere changes nothing")
            << QByteArray("GET /panel/\r\nHost: bench:8080\r\nOrigin: http://evil.example") << none
            << 0;
    // The token.
    QTest::newRow("the token in its cookie")
            << QByteArray("GET /panel/\r\nHost: bench:8080\r\nCookie: a=b; tx4410_token=secret-1")
            << origins({"token"}) << 0;
    QTest::newRow("the token missing")
            << QByteArray("GET /panel/\r\nHost: bench:8080\r\nCookie: a=b") << origins({"token"})
            << 401;
    QTest::newRow("the token in another cookie")
            << QByteArray("GET /panel/\r\nHost: bench:8080\r\nCookie: x_tx4410_token=secret-1")
            << origins({"token"}) << 401;
    QTest::newRow("the token one letter short") << QByteArray(
            "GET /panel/made/sweep.csv\r\nHost: bench:8080\r\nCookie: tx4410_token=secret-")
                                                << origins({"token"}) << 401;
    QTest::newRow("the sign-in page without it")
            << QByteArray("GET /panel/login\r\nHost: bench:8080") << origins({"token"}) << 0;
    QTest::newRow("the stylesheet the sign-in page shares")
            << QByteArray("GET /panel/panel.css\r\nHost: bench:8080") << origins({"token"}) << 0;
    QTest::newRow("the script it does not")
            << QByteArray("GET /panel/panel.js\r\nHost: bench:8080") << origins({"token"}) << 401;
}

void WebWire::refusal()
{
    QFETCH(QByteArray, request);
    QFETCH(QStringList, origins);
    QFETCH(int, status);
    QList<QByteArray> lines = request.split('\n');
    const QList<QByteArray> first = lines.takeFirst().trimmed().split(' ');
    QByteArray head = (first[0] == "UPGRADE" ? "GET" : first[0]) + ' ' + first[1] + " HTTP/1.1\r\n";
    for (const QByteArray &line : std::as_const(lines))
        head += line.trimmed() + "\r\n";
    if (first[0] == "UPGRADE")
        head += "Upgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n";
    if (!request.contains("Host:"))
        head.replace("HTTP/1.1", "HTTP/1.0");
    const HeadReading reading = readHead(head + "\r\n");
    QCOMPARE(int(reading.kind), int(HeadReading::Kind::Complete));
    QCOMPARE(reading.head.upgrade, first[0] == "UPGRADE");

    Access access;
    access.names = QStringList {"bench", "localhost", "10.0.0.2"};
    access.port = 8080;
    for (const QString &origin : std::as_const(origins)) {
        if (origin == u"token")
            access.token = "secret-1";
        else
            access.publicOrigins << *readOrigin(origin.toLatin1());
    }
    const std::optional<Refusal> refused = ::refusal(reading.head, access);
    QCOMPARE(refused ? refused->status : 0, status);
}

namespace {

// A frame as a client sends it: masked unless told otherwise.
QByteArray clientFrame(quint8 first, const QByteArray &payload, bool masked = true)
{
    QByteArray bytes(1, char(first));
    const char mask = masked ? char(0x80) : char(0);
    if (payload.size() < 126) {
        bytes += char(mask | payload.size());
    } else {
        bytes += char(mask | 126);
        bytes += char(payload.size() >> 8);
        bytes += char(payload.size() & 0xFF);
    }
    const QByteArray key = masked ? QByteArray("\x12\x34\x56\x78") : QByteArray();
    bytes += key;
    for (qsizetype at = 0; at < payload.size(); ++at)
        bytes += masked ? char(payload[at] ^ key[at % 4]) : payload[at];
    return bytes;
}

} // namespace

void WebWire::frame_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("closeCode"); // 0: a frame; -1: not whole yet
    QTest::addColumn<int>("opcode");
    QTest::addColumn<QByteArray>("payload");

    const QByteArray request = R"({"action":"volts","channel":1,"value":"3"})";
    QTest::newRow("a masked text frame") << clientFrame(0x81, request) << 0 << 1 << request;
    QTest::newRow("a 16-bit length")
            << clientFrame(0x82, QByteArray(300, 'x')) << 0 << 2 << QByteArray(300, 'x');
    QTest::newRow("a ping") << clientFrame(0x89, "hi") << 0 << 9 << QByteArray("hi");
    QTest::newRow("a first piece") << clientFrame(0x01, "{") << 0 << 1 << QByteArray("{");
    QTest::newRow("half a frame") << clientFrame(0x81, request).left(10) << -1 << 0 << QByteArray();
    QTest::newRow("one byte") << QByteArray("\x81") << -1 << 0 << QByteArray();
    QTest::newRow("not masked") << clientFrame(0x81, request, false) << 1002 << 0 << QByteArray();
    QTest::newRow("a reserved bit") << clientFrame(0xC1, request) << 1002 << 0 << QByteArray();
    QTest::newRow("the second reserved bit")
            << clientFrame(0xA1, request) << 1002 << 0 << QByteArray();
    QTest::newRow("the third reserved bit")
            << clientFrame(0x91, request) << 1002 << 0 << QByteArray();
    QTest::newRow("an unknown opcode") << clientFrame(0x83, "x") << 1002 << 0 << QByteArray();
    QTest::newRow("a control frame in pieces")
            << clientFrame(0x09, "x") << 1002 << 0 << QByteArray();
    QTest::newRow("a control frame of 126 bytes")
            << clientFrame(0x89, QByteArray(126, 'x')) << 1002 << 0 << QByteArray();
    QTest::newRow("a short length written long")
            << QByteArray("\x81\xFE\x00\x05", 4) + QByteArray(9, 'x') << 1002 << 0 << QByteArray();
    QTest::newRow("over the limit, refused before it comes")
            << QByteArray("\x81\xFE\x10\x01") << 1009 << 0 << QByteArray();
    QTest::newRow("a 64-bit length over the limit")
            << QByteArray("\x82\xFF\x00\x00\x00\x01\x00\x00\x00\x00", 10) << 1009 << 0
            << QByteArray();
}

void WebWire::frame()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, closeCode);
    QFETCH(int, opcode);
    QFETCH(QByteArray, payload);
    using WebSocketWire::FrameReading;
    const FrameReading reading = WebSocketWire::readClientFrame(bytes + "\x81\x80", 4096);
    if (closeCode < 0) {
        QCOMPARE(int(WebSocketWire::readClientFrame(bytes, 4096).kind),
                 int(FrameReading::Kind::More));
        return;
    }
    QCOMPARE(reading.closeCode, quint16(closeCode));
    if (closeCode != 0)
        return;
    QCOMPARE(int(reading.kind), int(FrameReading::Kind::Frame));
    QCOMPARE(int(reading.frame.opcode), opcode);
    QCOMPARE(reading.frame.payload, payload);
    QCOMPARE(reading.used, bytes.size());
    // And the server's answer frames it back, unmasked.
    const QByteArray back = WebSocketWire::serverFrame(quint8(opcode), payload);
    QCOMPARE(back.right(payload.size()), payload);
    QCOMPARE(quint8(back[1]) & 0x80, 0);
}

QTEST_GUILESS_MAIN(WebWire)
#include "tst_webwire.moc"
