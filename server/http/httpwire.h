// HTTP/1.1 requests on the wire, as plain functions from bytes to a typed request head and from
// a reply to bytes: the request line, the header fields, the framing of a body, and the target
// decoded and normalised once into the path that both the access rules and the routes read.
// No sockets here.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>
#include <utility>

struct RequestHead
{
    QByteArray method; // "GET", "HEAD", "POST"
    // The target decoded once (percent-encoding), its dot segments and repeated slashes gone,
    // the query dropped: what the gate judges is what the routes serve.
    QByteArray path;
    // The host the request names: an absolute-form target's authority, else the Host header,
    // port included as sent; empty when none.
    QByteArray host;
    QByteArray origin;    // empty when none was sent (not a browser)
    QByteArray fetchSite; // Sec-Fetch-Site, as a browser says where the request comes from
    QByteArray cookie;    // every Cookie field, joined
    bool upgrade = false; // a WebSocket upgrade
    QByteArray webSocketKey;
    QByteArray webSocketVersion;
    bool http11 = true;
    // The client may send another request on the connection after this one's answer.
    bool keepAlive = true;
    bool expectContinue = false;
    qint64 contentLength = 0;
    qsizetype headBytes = 0; // the head's length on the wire, its empty line included
};

struct HeadLimits
{
    qsizetype bytes = 16 * 1024;
    int fields = 100;
    qint64 bodyBytes = 16 * 1024;
};

struct HeadReading
{
    enum class Kind {
        More,     // not whole yet
        Complete, // `head` holds it
        Refused,  // `status` and `reason` say why; the connection closes after the answer
    };
    Kind kind = Kind::More;
    RequestHead head;
    int status = 0;
    QByteArray reason;
};

// The head at the start of `bytes` (which may hold more: a body, the next request).
HeadReading readHead(QByteArrayView bytes, const HeadLimits &limits = {});

// A request target in origin form ("/panel/?x") or absolute form ("http://host/panel/") as the
// routes will see it: the path decoded and normalised, and the authority of the absolute
// form; nothing when it is no target this server can take.
struct Target
{
    QByteArray path;
    QByteArray authority; // empty for the origin form
};
std::optional<Target> readTarget(QByteArrayView target);

// "200 OK", "421 Misdirected Request"
QByteArray statusLine(int status);

struct Reply
{
    int status = 200;
    QByteArray type; // Content-Type; empty with no body
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> fields;
    bool close = false; // the connection closes once it is sent
};

// The reply's bytes; `head`: for a HEAD request, its fields without the body.
QByteArray replyBytes(const Reply &reply, bool head);
