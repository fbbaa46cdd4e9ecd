// Who may use the web pages, decided from a request's head alone, as plain functions: a Host
// that is not this server's own (DNS rebinding), a page of another origin changing the board
// (a POST or a WebSocket from elsewhere), and the optional token.
#pragma once

#include "httpwire.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A web origin: "https://bench7.example" is {"https", "bench7.example", 443}.
struct Origin
{
    QByteArray scheme; // "http" or "https"
    QString host;      // lower case, IPv6 without brackets
    quint16 port = 0;  // the scheme's own when none was written

    bool operator==(const Origin &) const = default;
};

// An Origin header or an --http-origin: the scheme, the host and the port, nothing else;
// nothing when it is not one ("null", a path, another scheme).
std::optional<Origin> readOrigin(QByteArrayView text);

struct Access
{
    QStringList names; // this server's names and addresses, lower case, IPv6 without brackets
    quint16 port = 0;
    QByteArray token; // empty: no token asked for
    // The origins a proxy in front serves the pages as (--http-origin): their hosts are this
    // server's too, and a page from them may change the board.
    QList<Origin> publicOrigins;
};

// The front panel's paths, which answer only to this server's own names; the LXI pages are
// read-only and answer to whatever name a client found the instrument by.
bool panelPath(QByteArrayView path);
// The paths that need the token, when there is one: the panel, but not its sign-in page and
// the stylesheet that page shares.
bool guarded(QByteArrayView path);

// The cookie that carries the token.
inline constexpr char tokenCookie[] = "tx4410_token";

// The host a Host header names, lower case, without its port, brackets or final dot; empty when
// it names none.
QString hostName(QByteArrayView host);

// Whether the Host header names this server at its port (80 when it names none), or the host
// and port of a public origin (the origin's scheme's port when it names none, as a proxy on
// 443 passes it).
bool ownHost(QByteArrayView host, const Access &access);

// Whether a page of `origin` may change the board through a request with this Host: a public
// origin, or this server itself over plain HTTP, as the Host names it by its own name and port.
bool ownOrigin(QByteArrayView origin, QByteArrayView host, const Access &access);

struct Refusal
{
    int status = 403;
    QByteArray reason;
};

// What refuses the request, if anything: a foreign Host (421) on the panel's paths; on a POST or
// an upgrade, an Origin other than the page's own (403); on a guarded path without the token,
// 401 (for a page, the server sends the sign-in page's address instead).
std::optional<Refusal> refusal(const RequestHead &head, const Access &access);

// The token given in a cookie header, a form field or a file's first line, compared in time
// independent of where it differs.
bool sameToken(QByteArrayView given, QByteArrayView token);
QByteArray cookieValue(QByteArrayView cookies, QByteArrayView name);
