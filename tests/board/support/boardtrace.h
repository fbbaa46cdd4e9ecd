#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// A board library call trace (TX4410_BOARD_TRACE) read back into records, one per call, for
// tests that check what reached the board.
class BoardTrace final
{
public:
    struct Record
    {
        QString function;                             // Vendor_Request, LoadFirmWare, ...
        QList<std::pair<QString, QString>> arguments; // in call order, values as written
        int status = 0;

        bool has(const QString &name) const;
        // The value as written, or an empty string when the call has no such argument.
        QString text(const QString &name) const;
        bool isNull(const QString &name) const { return text(name) == u"null"; }
        // A hexadecimal (0x1f, -0x1) or decimal value.
        std::optional<qint64> number(const QString &name) const;
        // A byte list such as [00 1f].
        std::optional<QByteArray> bytes(const QString &name) const;
        // A quoted path, its escapes undone.
        std::optional<QByteArray> path(const QString &name) const;
    };

    // Reads the file as it is now; a missing file reads as an empty trace.
    static BoardTrace read(const QString &file);
    static std::optional<Record> parseLine(const QString &line);

    const QList<Record> &records() const { return m_records; }
    QList<Record> calls(const QString &function) const;
    // Lines that are not in the trace format; a sound trace has none.
    const QStringList &malformedLines() const { return m_malformed; }

private:
    QList<Record> m_records;
    QStringList m_malformed;
};
