#pragma once

#include <QList>
#include <QString>

#include <optional>

// One line of a board library call trace (TX4410_BOARD_TRACE): what reached the board.
struct TraceRecord
{
    QString function; // Vendor_Request, LoadFirmWare, ...
    QString fields;   // the arguments as written, between the function and its status
    int status = 0;

    // A hexadecimal (0x1f, -0x1) or decimal argument; nullopt when the call has no such one.
    std::optional<qint64> number(const QString &name) const;
};

// The calls in the file as it is now; no file reads as no calls.
QList<TraceRecord> readTrace(const QString &file);
