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

        // The value as written, or a null string when the call has no such argument.
        QString text(const QString &name) const;
        // A hexadecimal (0x1f, -0x1) or decimal value.
        std::optional<qint64> number(const QString &name) const;
        // A quoted path, its escapes undone.
        std::optional<QByteArray> path(const QString &name) const;
    };

    // Reads the file as it is now; a missing file reads as an empty trace, and lines not in the
    // trace format are left out.
    static BoardTrace read(const QString &file);
    static std::optional<Record> parseLine(const QString &line);

    const QList<Record> &records() const { return m_records; }
    QList<Record> calls(const QString &function) const;

private:
    QList<Record> m_records;
};
