#include "access.h"

namespace {

struct HostPort
{
    QString name;  // lower case, without brackets or a final dot
    int port = -1; // -1: none written
};

bool digits(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// "name", "name:8080", "10.0.0.2:80", "[::1]:8080"
std::optional<HostPort> readHostPort(QByteArrayView text)
{
    QByteArrayView name = text;
    std::optional<QByteArrayView> port;
    bool bracketed = false;
    if (text.startsWith('[')) {
        const qsizetype close = text.indexOf(']');
        if (close < 0)
            return std::nullopt;
        bracketed = true;
        name = text.sliced(1, close - 1);
        const QByteArrayView rest = text.sliced(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(':'))
            return std::nullopt;
        if (!rest.isEmpty())
            port = rest.sliced(1);
    } else if (const qsizetype colon = text.lastIndexOf(':'); colon >= 0) {
        name = text.first(colon);
        port = text.sliced(colon + 1);
    }
    HostPort read;
    if (port) {
        if (!digits(*port) || port->toUInt() == 0 || port->toUInt() > 65535)
            return std::nullopt;
        read.port = int(port->toUInt());
    }
    read.name = QString::fromLatin1(name).toLower();
    if (read.name.endsWith(u'.'))
        read.name.chop(1);
    if (read.name.isEmpty())
        return std::nullopt;
    for (const QChar c : std::as_const(read.name)) {
        const bool plain = c.isDigit() || (c >= u'a' && c <= u'z') || c == u'.' || c == u'-';
        if (!plain && !(bracketed && c == u':'))
            return std::nullopt;
    }
    return read;
}

quint16 schemePort(QByteArrayView scheme)
{
    return scheme == "https" ? 443 : 80;
}

} // namespace

std::optional<Origin> readOrigin(QByteArrayView text)
{
    const qsizetype separator = text.indexOf("://");
    if (separator < 0)
        return std::nullopt;
    Origin origin;
    origin.scheme = text.first(separator).toByteArray().toLower();
    if (origin.scheme != "http" && origin.scheme != "https")
        return std::nullopt;
    const std::optional<HostPort> authority = readHostPort(text.sliced(separator + 3));
    if (!authority)
        return std::nullopt;
    origin.host = authority->name;
    origin.port = authority->port < 0 ? schemePort(origin.scheme) : quint16(authority->port);
    return origin;
}

QString hostName(QByteArrayView host)
{
    const std::optional<HostPort> read = readHostPort(host);
    return read ? read->name : QString();
}

bool panelPath(QByteArrayView path)
{
    return path == "/panel" || path.startsWith("/panel/");
}

bool guarded(QByteArrayView path)
{
    return panelPath(path) && path != "/panel/login" && path != "/panel/panel.css";
}

namespace {

// Named as this server itself, at its own port: not through a proxy.
bool directHost(const std::optional<HostPort> &asked, const Access &access)
{
    return asked && access.names.contains(asked->name)
            && (asked->port < 0 ? 80 : asked->port) == access.port;
}

} // namespace

bool ownHost(QByteArrayView host, const Access &access)
{
    const std::optional<HostPort> asked = readHostPort(host);
    if (!asked)
        return false;
    if (directHost(asked, access))
        return true;
    for (const Origin &origin : access.publicOrigins) {
        const int port = asked->port < 0 ? schemePort(origin.scheme) : asked->port;
        if (origin.host == asked->name && origin.port == port)
            return true;
    }
    return false;
}

bool ownOrigin(QByteArrayView origin, QByteArrayView host, const Access &access)
{
    const std::optional<Origin> page = readOrigin(origin);
    if (!page)
        return false;
    if (access.publicOrigins.contains(*page))
        return true;
    const std::optional<HostPort> asked = readHostPort(host);
    return directHost(asked, access) && page->scheme == "http" && page->host == asked->name
            && page->port == (asked->port < 0 ? 80 : asked->port);
}

std::optional<Refusal> refusal(const RequestHead &head, const Access &access)
{
    if (panelPath(head.path) && !ownHost(head.host, access))
        return Refusal {421,
                        "this server does not answer to the host name \"" + head.host
                                + "\": open it by its own name or address"};
    const bool changes = head.method == "POST" || head.upgrade;
    // A form of the panel's own pages posts with Origin "null", as their referrer policy has
    // it; the browser then vouches for where it comes from, which no page can forge.
    const bool ownForm = head.origin == "null" && head.fetchSite == "same-origin";
    if (changes && !head.origin.isEmpty() && !ownForm && !ownOrigin(head.origin, head.host, access))
        return Refusal {403, "a page from " + head.origin + " may not change this instrument"};
    if (!access.token.isEmpty() && guarded(head.path)
        && !sameToken(cookieValue(head.cookie, tokenCookie), access.token))
        return Refusal {401, "the panel needs the server's token: sign in at /panel/login"};
    return std::nullopt;
}

QByteArray cookieValue(QByteArrayView cookies, QByteArrayView name)
{
    for (const QByteArray &pair : cookies.toByteArray().split(';')) {
        const qsizetype equals = pair.indexOf('=');
        if (equals > 0 && pair.left(equals).trimmed() == name)
            return pair.mid(equals + 1).trimmed();
    }
    return {};
}

bool sameToken(QByteArrayView given, QByteArrayView token)
{
    if (token.isEmpty())
        return false;
    unsigned difference = unsigned(given.size() != token.size());
    for (qsizetype at = 0; at < token.size(); ++at)
        difference |= unsigned(char(at < given.size() ? given[at] : 0) ^ token[at]);
    return difference == 0;
}
