// What tx4410-server is asked to do, read and checked in full before anything is touched.
#pragma once

#include "access.h"
#include "servercalibrations.h"
#include "socketserver.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <optional>

namespace ExitStatus {
constexpr int done = 0;
constexpr int unusable = 1; // the board library, or the address cannot be listened on
constexpr int usage = 2;
constexpr int noBoard = 3;
} // namespace ExitStatus

struct Endpoint
{
    QHostAddress address;
    quint16 port = 0;
};

struct Options
{
    Endpoint listen {QHostAddress::LocalHost, 5025};
    std::optional<Endpoint> http; // nothing: off
    QByteArray httpToken;         // empty: the panel asks for none
    QString httpTokenFile;        // where it was read, for the instruments of --all
    // The origins a TLS proxy in front serves the pages as (--http-origin), and as written.
    QList<Origin> httpOrigins;
    QStringList httpOriginTexts;
    SocketServer::Limits limits;
    bool all = false;
    bool attach = false;
    // As one instrument of the server of every board: its number (-1: a server of its own), the
    // channel to the server of every board (-1: none), and whether VXI-11 connections come
    // through it.
    int instrument = -1;
    int handoff = -1;
    bool handoffVxi11 = true;
    CalibrationOptions calibration;
    QStringList calibrationArguments; // as given, for the instruments of --all
    QString text;                     // for --help and --version: printed, and nothing else done
};

struct UsageError
{
    QString message;
};

extern const char usage[];

// Throws UsageError. Sets the board library's environment (--board, --attach).
Options readOptions(const QStringList &arguments);
