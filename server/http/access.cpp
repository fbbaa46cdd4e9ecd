#include "access.h"

#include <QList>

namespace {

QByteArray headerValue(const QList<QByteArray> &lines, QByteArrayView name)
{
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && QByteArrayView(line).first(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

} // namespace

std::optional<RequestHead> readHead(QByteArrayView bytes)
{
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0)
        return std::nullopt;
    QList<QByteArray> lines = bytes.first(end).toByteArray().split('\n');
    const QList<QByteArray> request = lines.takeFirst().trimmed().split(' ');
    if (request.size() != 3 || !request[2].startsWith("HTTP/"))
        return std::nullopt;
    RequestHead head;
    head.method = request[0];
    head.path = request[1].left(request[1].indexOf('?') < 0 ? request[1].size()
                                                            : request[1].indexOf('?'));
    head.host = headerValue(lines, "Host");
    head.origin = headerValue(lines, "Origin");
    head.cookie = headerValue(lines, "Cookie");
    head.upgrade = headerValue(lines, "Upgrade").toLower().contains("websocket");
    return head;
}

bool panelPath(QByteArrayView path)
{
    return path == "/panel" || path.startsWith("/panel/");
}

bool guarded(QByteArrayView path)
{
    return panelPath(path) && path != "/panel/login";
}

bool ownHost(QByteArrayView host, const Access &access)
{
    QByteArrayView name = host;
    QByteArrayView port;
    if (host.startsWith('[')) {
        const qsizetype close = host.indexOf(']');
        if (close < 0)
            return false;
        name = host.sliced(1, close - 1);
        port = host.sliced(close + 1);
        if (!port.isEmpty() && !port.startsWith(':'))
            return false;
        port = port.isEmpty() ? port : port.sliced(1);
    } else if (const qsizetype colon = host.lastIndexOf(':'); colon >= 0) {
        name = host.first(colon);
        port = host.sliced(colon + 1);
    }
    bool number = true;
    const uint asked = port.isEmpty() ? 80 : port.toUInt(&number);
    if (!number || asked != access.port || name.isEmpty())
        return false;
    QString lower = QString::fromLatin1(name).toLower();
    if (lower.endsWith(u'.'))
        lower.chop(1);
    return access.names.contains(lower);
}

std::optional<Refusal> refusal(const RequestHead &head, const Access &access)
{
    if (panelPath(head.path) && !ownHost(head.host, access))
        return Refusal {421, "this server does not answer to the host name \"" + head.host
                                     + "\": open it by its own name or address"};
    const bool changes = head.method == "POST" || head.upgrade;
    if (changes && !head.origin.isEmpty()
        && head.origin.compare("http://" + head.host, Qt::CaseInsensitive) != 0)
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
