#include "boardtrace.h"

#include <QFile>

namespace {

std::optional<qint64> parseNumber(QStringView text)
{
    bool negative = false;
    if (text.startsWith(u'-')) {
        negative = true;
        text = text.mid(1);
    }
    int base = 10;
    if (text.startsWith(u"0x")) {
        base = 16;
        text = text.mid(2);
    }
    if (text.isEmpty() || text.startsWith(u'+') || text.startsWith(u'-'))
        return std::nullopt;
    bool ok = false;
    const qint64 magnitude = text.toLongLong(&ok, base);
    if (!ok)
        return std::nullopt;
    return negative ? -magnitude : magnitude;
}

// The end of the value that starts at `from`: a quoted text or a byte list may hold spaces.
qsizetype valueEnd(const QString &line, qsizetype from)
{
    if (from < line.size() && line[from] == u'"') {
        for (qsizetype i = from + 1; i < line.size(); ++i) {
            if (line[i] == u'\\')
                ++i;
            else if (line[i] == u'"')
                return i + 1;
        }
        return -1;
    }
    if (from < line.size() && line[from] == u'[') {
        const qsizetype close = line.indexOf(u']', from);
        return close < 0 ? -1 : close + 1;
    }
    const qsizetype space = line.indexOf(u' ', from);
    return space < 0 ? line.size() : space;
}

} // namespace

bool BoardTrace::Record::has(const QString &name) const
{
    for (const auto &[key, value] : arguments) {
        if (key == name)
            return true;
    }
    return false;
}

QString BoardTrace::Record::text(const QString &name) const
{
    for (const auto &[key, value] : arguments) {
        if (key == name)
            return value;
    }
    return {};
}

std::optional<qint64> BoardTrace::Record::number(const QString &name) const
{
    return parseNumber(text(name));
}

std::optional<QByteArray> BoardTrace::Record::bytes(const QString &name) const
{
    const QString value = text(name);
    if (!value.startsWith(u'[') || !value.endsWith(u']'))
        return std::nullopt;
    const QString inner = value.mid(1, value.size() - 2);
    QByteArray bytes;
    if (inner.isEmpty())
        return bytes;
    for (const QString &item : inner.split(u' ')) {
        bool ok = false;
        const uint byte = item.toUInt(&ok, 16);
        if (!ok || item.size() != 2)
            return std::nullopt;
        bytes.append(static_cast<char>(byte));
    }
    return bytes;
}

std::optional<QByteArray> BoardTrace::Record::path(const QString &name) const
{
    const QString value = text(name);
    if (value.size() < 2 || !value.startsWith(u'"') || !value.endsWith(u'"'))
        return std::nullopt;
    const QByteArray quoted = value.mid(1, value.size() - 2).toLatin1();
    QByteArray path;
    for (qsizetype i = 0; i < quoted.size(); ++i) {
        if (quoted[i] != '\\') {
            path.append(quoted[i]);
            continue;
        }
        if (i + 1 < quoted.size() && (quoted[i + 1] == '\\' || quoted[i + 1] == '"')) {
            path.append(quoted[++i]);
        } else if (i + 3 < quoted.size() && quoted[i + 1] == 'x') {
            bool ok = false;
            const uint byte = quoted.mid(i + 2, 2).toUInt(&ok, 16);
            if (!ok)
                return std::nullopt;
            path.append(static_cast<char>(byte));
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return path;
}

std::optional<BoardTrace::Record> BoardTrace::parseLine(const QString &line)
{
    Record record;
    qsizetype at = line.indexOf(u' ');
    if (at <= 0)
        return std::nullopt;
    record.function = line.left(at);

    while (at < line.size()) {
        if (line[at] != u' ')
            return std::nullopt;
        const qsizetype equals = line.indexOf(u'=', at + 1);
        if (equals <= at + 1)
            return std::nullopt;
        const QString name = line.mid(at + 1, equals - at - 1);
        if (name.contains(u' '))
            return std::nullopt;
        const qsizetype end = valueEnd(line, equals + 1);
        if (end < 0 || end == equals + 1)
            return std::nullopt;
        record.arguments.append({name, line.mid(equals + 1, end - equals - 1)});
        at = end;
    }

    if (record.arguments.isEmpty() || record.arguments.constLast().first != u"status")
        return std::nullopt;
    const std::optional<qint64> status = parseNumber(record.arguments.takeLast().second);
    if (!status)
        return std::nullopt;
    record.status = static_cast<int>(*status);
    return record;
}

BoardTrace BoardTrace::read(const QString &file)
{
    BoardTrace trace;
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly))
        return trace;
    const QByteArray contents = input.readAll();
    for (const QByteArray &bytes : contents.split('\n')) {
        if (bytes.isEmpty())
            continue;
        const QString line = QString::fromLatin1(bytes);
        if (std::optional<Record> record = parseLine(line))
            trace.m_records.append(std::move(*record));
        else
            trace.m_malformed.append(line);
    }
    return trace;
}

QList<BoardTrace::Record> BoardTrace::calls(const QString &function) const
{
    QList<Record> calls;
    for (const Record &record : m_records) {
        if (record.function == function)
            calls.append(record);
    }
    return calls;
}
