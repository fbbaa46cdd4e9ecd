// Who may use the web pages, decided from a request's head alone, as plain functions: a Host
// that is not this server's own (DNS rebinding), a page of another origin changing the board
// (a POST or a WebSocket from elsewhere), and the optional token.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

#include <optional>

struct RequestHead
{
    QByteArray method; // "GET", "POST"
    QByteArray path;   // without the query
    QByteArray host;   // the Host header as sent, port included
    QByteArray origin; // empty when none was sent (not a browser)
    QByteArray cookie;
    bool upgrade = false; // a WebSocket upgrade
};

// The head once it is whole (up to its empty line); nothing while it is not, or when it is not
// HTTP at all.
std::optional<RequestHead> readHead(QByteArrayView bytes);

struct Access
{
    QStringList names; // this server's names and addresses, lower case, IPv6 without brackets
    quint16 port = 0;
    QByteArray token;  // empty: no token asked for
};

// The front panel's paths, which answer only to this server's own names; the LXI pages are
// read-only and answer to whatever name a client found the instrument by.
bool panelPath(QByteArrayView path);
// The paths that need the token, when there is one: the panel, but not its sign-in.
bool guarded(QByteArrayView path);

// The cookie that carries the token.
inline constexpr char tokenCookie[] = "tx4410_token";

// Whether the Host header names this server at its port.
bool ownHost(QByteArrayView host, const Access &access);

struct Refusal
{
    int status = 403;
    QByteArray reason;
};

// What refuses the request, if anything: a foreign Host (421) on the panel's paths; on a POST or
// an upgrade, an Origin other than the page's own (403); on a guarded path without the token,
// 401 for the socket and a redirect to the sign-in for a page.
std::optional<Refusal> refusal(const RequestHead &head, const Access &access);

// The token given in a cookie header, a form field or a file's first line, compared in time
// independent of where it differs.
bool sameToken(QByteArrayView given, QByteArrayView token);
QByteArray cookieValue(QByteArrayView cookies, QByteArrayView name);
