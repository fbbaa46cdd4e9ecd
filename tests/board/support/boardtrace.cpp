#include "boardtrace.h"

#include <QFile>

namespace {

std::optional<qint64> parseNumber(QStringView text)
{
    const bool negative = text.startsWith(u'-');
    text = text.mid(negative ? 1 : 0);
    const int base = text.startsWith(u"0x") ? 16 : 10;
    text = text.mid(base == 16 ? 2 : 0);
    bool ok = !text.isEmpty() && !text.startsWith(u'+') && !text.startsWith(u'-');
    const qint64 magnitude = ok ? text.toLongLong(&ok, base) : 0;
    return ok ? std::optional<qint64>(negative ? -magnitude : magnitude) : std::nullopt;
}

// The end of the value that starts at `from`, or -1: a quoted text or a byte list may hold spaces.
qsizetype valueEnd(const QString &line, qsizetype from)
{
    if (line.mid(from).startsWith(u'"')) {
        for (qsizetype i = from + 1; i < line.size(); ++i) {
            if (line[i] == u'\\')
                ++i;
            else if (line[i] == u'"')
                return i + 1;
        }
        return -1;
    }
    const bool list = line.mid(from).startsWith(u'[');
    const qsizetype end = line.indexOf(list ? u']' : u' ', from);
    return end < 0 ? (list ? -1 : line.size()) : end + (list ? 1 : 0);
}

} // namespace

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

std::optional<QByteArray> BoardTrace::Record::path(const QString &name) const
{
    const QString value = text(name);
    if (value.size() < 2 || !value.startsWith(u'"') || !value.endsWith(u'"'))
        return std::nullopt;
    const QByteArray quoted = value.mid(1, value.size() - 2).toLatin1();
    QByteArray path;
    for (qsizetype i = 0; i < quoted.size(); ++i) {
        const char next = i + 1 < quoted.size() ? quoted[i + 1] : '\0';
        bool ok = true;
        if (quoted[i] != '\\') {
            path.append(quoted[i]);
        } else if (next == '\\' || next == '"') {
            path.append(quoted[++i]);
        } else if (next == 'x' && i + 3 < quoted.size()) {
            path.append(static_cast<char>(quoted.mid(i + 2, 2).toUInt(&ok, 16)));
            i += 3;
        } else {
            ok = false;
        }
        if (!ok)
            return std::nullopt;
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
        const qsizetype equals = line.indexOf(u'=', at + 1);
        if (line[at] != u' ' || equals <= at + 1)
            return std::nullopt;
        const QString name = line.mid(at + 1, equals - at - 1);
        const qsizetype end = valueEnd(line, equals + 1);
        if (name.contains(u' ') || end < 0 || end == equals + 1)
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
    if (input.open(QIODevice::ReadOnly)) {
        for (const QByteArray &bytes : input.readAll().split('\n')) {
            if (std::optional<Record> record = parseLine(QString::fromLatin1(bytes)))
                trace.m_records.append(std::move(*record));
        }
    }
    return trace;
}

QList<BoardTrace::Record> BoardTrace::calls(const QString &function) const
{
    QList<Record> calls = m_records;
    calls.removeIf([&](const Record &record) { return record.function != function; });
    return calls;
}
