#include "httpwire.h"

#include <algorithm>
#include <array>

namespace {

// RFC 9110's token characters: a method, a field's name.
bool tokenChar(char c)
{
    static constexpr QByteArrayView others = "!#$%&'*+-.^_`|~";
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
            || others.contains(c);
}

bool token(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (!tokenChar(c))
            return false;
    }
    return true;
}

// A field's value: visible characters, spaces and tabs, and bytes above ASCII; no other control.
bool fieldValue(QByteArrayView value)
{
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t') || byte == 0x7F)
            return false;
    }
    return true;
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

// Whether a comma-separated list (Connection, Upgrade) names `wanted`, in any case.
bool listNames(QByteArrayView list, QByteArrayView wanted)
{
    for (const QByteArray &item : list.toByteArray().split(',')) {
        if (trimmed(item).compare(wanted, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// A Host or an authority: a name, an IPv4 address or a bracketed IPv6 one, and a port.
bool hostText(QByteArrayView host)
{
    if (host.isEmpty())
        return false;
    for (char c : host) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || QByteArrayView("/?#@\\\"<>{}|^`").contains(c))
            return false;
    }
    return true;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

HeadReading refused(int status, QByteArray reason)
{
    HeadReading reading;
    reading.kind = HeadReading::Kind::Refused;
    reading.status = status;
    reading.reason = std::move(reason);
    return reading;
}

} // namespace

std::optional<Target> readTarget(QByteArrayView target)
{
    for (char c : target) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '#')
            return std::nullopt;
    }
    Target read;
    QByteArrayView rest = target;
    if (!target.startsWith('/')) {
        // The absolute form, as a proxy sends it: its authority is the host asked for.
        const QByteArrayView schemes[] = {"http://", "https://"};
        const auto scheme = std::ranges::find_if(schemes, [target](QByteArrayView each) {
            return target.size() > each.size()
                    && target.first(each.size()).compare(each, Qt::CaseInsensitive) == 0;
        });
        if (scheme == std::end(schemes))
            return std::nullopt;
        rest = target.sliced(scheme->size());
        qsizetype end = 0;
        while (end < rest.size() && rest[end] != '/' && rest[end] != '?')
            ++end;
        read.authority = rest.first(end).toByteArray();
        if (!hostText(read.authority))
            return std::nullopt;
        rest = rest.sliced(end);
    }
    if (const qsizetype query = rest.indexOf('?'); query >= 0)
        rest.truncate(query);
    // Decoded once: "%2e%2e" is a dot segment and "%2F" a slash, for the gate and the routes.
    QByteArray decoded;
    decoded.reserve(rest.size() + 1);
    for (qsizetype at = 0; at < rest.size(); ++at) {
        char c = rest[at];
        if (c == '%') {
            const int high = at + 2 < rest.size() ? hexDigit(rest[at + 1]) : -1;
            const int low = at + 2 < rest.size() ? hexDigit(rest[at + 2]) : -1;
            if (high < 0 || low < 0)
                return std::nullopt;
            c = char(high * 16 + low);
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7F)
                return std::nullopt;
            at += 2;
        }
        decoded.append(c);
    }
    QList<QByteArray> kept;
    const QList<QByteArray> segments = decoded.split('/');
    for (const QByteArray &segment : segments) {
        if (segment.isEmpty() || segment == ".")
            continue;
        if (segment == "..") {
            if (!kept.isEmpty())
                kept.removeLast();
            continue;
        }
        kept.append(segment);
    }
    const QByteArray &last = segments.constLast();
    const bool folder = last.isEmpty() || last == "." || last == "..";
    read.path = '/' + kept.join('/');
    if (folder && !kept.isEmpty())
        read.path += '/';
    return read;
}

HeadReading readHead(QByteArrayView bytes, const HeadLimits &limits)
{
    // Empty lines before a request are left over from the one before it.
    qsizetype start = 0;
    while (bytes.sliced(start).startsWith("\r\n"))
        start += 2;
    const qsizetype end = bytes.indexOf("\r\n\r\n", start);
    const qsizetype scanned = end < 0 ? bytes.size() : end + 4;
    for (qsizetype at = start; at < std::min(scanned, limits.bytes + start); ++at) {
        if (bytes[at] == '\0')
            return refused(400, "a NUL byte in the request's head");
        if (bytes[at] == '\n' && (at == 0 || bytes[at - 1] != '\r'))
            return refused(400, "a line of the request's head ends in a bare LF");
    }
    if (scanned - start > limits.bytes)
        return refused(431,
                       "a request head larger than " + QByteArray::number(limits.bytes) + " bytes");
    if (end < 0)
        return {};

    // Each line with its CRLF, the last one's included; the CRs were checked above.
    QList<QByteArray> lines = bytes.sliced(start, end + 2 - start).toByteArray().split('\n');
    lines.removeLast();
    for (QByteArray &line : lines)
        line.chop(1);
    if (lines.size() - 1 > limits.fields)
        return refused(431, "more than " + QByteArray::number(limits.fields) + " header fields");
    const QList<QByteArray> request = lines.takeFirst().split(' ');
    if (request.size() != 3 || !token(request[0]))
        return refused(400, "not an HTTP request line");
    const QByteArray &version = request[2];
    RequestHead head;
    const auto digit = [](char c) {
        return c >= '0' && c <= '9';
    };
    if (version == "HTTP/1.0")
        head.http11 = false;
    else if (version == "HTTP/1.1")
        head.http11 = true;
    else if (version.size() == 8 && version.startsWith("HTTP/") && digit(version[5])
             && version[6] == '.' && digit(version[7]))
        return refused(505, "HTTP/1.1 and 1.0 only");
    else
        return refused(400, "not an HTTP request line");
    head.method = request[0];

    int hosts = 0;
    int lengths = 0;
    int origins = 0;
    bool transferCoding = false;
    bool close = false;
    QByteArray length;
    QList<QByteArray> cookies;
    for (const QByteArray &line : std::as_const(lines)) {
        if (line.startsWith(' ') || line.startsWith('\t'))
            return refused(400, "a header field folded over two lines");
        const qsizetype colon = line.indexOf(':');
        const QByteArrayView name = QByteArrayView(line).first(std::max<qsizetype>(colon, 0));
        if (!token(name))
            return refused(400, "a header field without a name");
        const QByteArrayView value = trimmed(QByteArrayView(line).sliced(colon + 1));
        if (!fieldValue(value))
            return refused(400, "a control character in a header field");
        const auto is = [name](QByteArrayView wanted) {
            return name.compare(wanted, Qt::CaseInsensitive) == 0;
        };
        if (is("Host")) {
            ++hosts;
            head.host = value.toByteArray();
        } else if (is("Content-Length")) {
            ++lengths;
            length = value.toByteArray();
        } else if (is("Transfer-Encoding")) {
            transferCoding = true;
        } else if (is("Origin")) {
            ++origins;
            head.origin = value.toByteArray();
        } else if (is("Sec-Fetch-Site")) {
            head.fetchSite = value.toByteArray();
        } else if (is("Cookie")) {
            cookies << value.toByteArray();
        } else if (is("Connection")) {
            close = close || listNames(value, "close");
        } else if (is("Upgrade")) {
            head.upgrade = head.upgrade || listNames(value, "websocket");
        } else if (is("Sec-WebSocket-Key")) {
            head.webSocketKey = value.toByteArray();
        } else if (is("Sec-WebSocket-Version")) {
            head.webSocketVersion = value.toByteArray();
        } else if (is("Expect")) {
            head.expectContinue = value.compare("100-continue", Qt::CaseInsensitive) == 0;
        }
    }
    head.cookie = cookies.join("; ");
    head.keepAlive = head.http11 && !close;
    // Two readers of one stream must never disagree on where a request ends.
    if (lengths > 0 && transferCoding)
        return refused(400, "both Content-Length and Transfer-Encoding");
    if (lengths > 1)
        return refused(400, "more than one Content-Length");
    if (transferCoding)
        return refused(501, "a body in a transfer coding: send it with Content-Length");
    if (lengths == 1) {
        bool number = length.size() <= 18;
        for (char c : std::as_const(length))
            number = number && c >= '0' && c <= '9';
        if (!number || length.isEmpty())
            return refused(400, "a Content-Length that is not a number");
        head.contentLength = length.toLongLong();
    }
    if (hosts > 1 || origins > 1)
        return refused(400, "more than one Host or Origin");
    if (head.http11 && hosts == 0)
        return refused(400, "an HTTP/1.1 request without Host");
    if (hosts == 1 && !hostText(head.host))
        return refused(400, "a Host that names no host");
    const std::optional<Target> target = readTarget(request[1]);
    if (!target)
        return refused(400, "a request target this server cannot take");
    head.path = target->path;
    if (!target->authority.isEmpty())
        head.host = target->authority;
    if (head.contentLength > limits.bodyBytes)
        return refused(413,
                       "a body larger than " + QByteArray::number(limits.bodyBytes) + " bytes");
    HeadReading reading;
    reading.kind = HeadReading::Kind::Complete;
    reading.head = std::move(head);
    reading.head.headBytes = end + 4;
    return reading;
}

QByteArray statusLine(int status)
{
    static constexpr std::array<std::pair<int, const char *>, 18> reasons {{
            {100, "Continue"},
            {101, "Switching Protocols"},
            {200, "OK"},
            {303, "See Other"},
            {400, "Bad Request"},
            {401, "Unauthorized"},
            {403, "Forbidden"},
            {404, "Not Found"},
            {405, "Method Not Allowed"},
            {408, "Request Timeout"},
            {413, "Content Too Large"},
            {421, "Misdirected Request"},
            {426, "Upgrade Required"},
            {431, "Request Header Fields Too Large"},
            {500, "Internal Server Error"},
            {501, "Not Implemented"},
            {503, "Service Unavailable"},
            {505, "HTTP Version Not Supported"},
    }};
    const auto found = std::ranges::find(reasons, status, &std::pair<int, const char *>::first);
    return QByteArray::number(status) + ' ' + (found == reasons.end() ? "Unknown" : found->second);
}

QByteArray replyBytes(const Reply &reply, bool head)
{
    QByteArray bytes = "HTTP/1.1 " + statusLine(reply.status) + "\r\n";
    const bool final = reply.status >= 200;
    if (final && !reply.type.isEmpty())
        bytes += "Content-Type: " + reply.type + "\r\n";
    if (final)
        bytes += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    for (const auto &[name, value] : reply.fields)
        bytes += name + ": " + value + "\r\n";
    if (reply.close)
        bytes += "Connection: close\r\n";
    bytes += "\r\n";
    if (!head && final)
        bytes += reply.body;
    return bytes;
}
