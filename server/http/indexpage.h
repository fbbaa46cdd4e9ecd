// The index of a server of every board: one row per instrument, for a person and for a script
// that reads its table.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

struct IndexRow
{
    int number = 0;
    QString port;         // the board's USB port path
    bool present = false; // on the bus now
    bool running = false; // its server runs
    quint16 socketPort = 0;
    quint16 httpPort = 0; // 0: no web pages
};

// `host` as the client named it (bracketed when IPv6); `vxi11` whether INSTR resources work.
QByteArray indexPage(const QString &host, bool vxi11, const std::vector<IndexRow> &rows);
