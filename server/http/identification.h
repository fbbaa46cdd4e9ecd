// What the instrument says about itself on its web pages, as plain functions from facts to
// bytes: LXI's identification document and the welcome page.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>

// As *IDN? gives it, and the lines around it.
struct Identity
{
    QString manufacturer;
    QString model;
    QString serialNumber;
    QString firmwareRevision;
    QString description;
};

// How clients reach the instrument from where they asked.
struct Reach
{
    QString host;      // as the client named it, or this machine's name
    QString ipAddress; // of the listening socket, empty when it listens on every address
    bool ipv6 = false;
    QString interfaceName; // "eth0", empty when it listens on every interface
    quint16 httpPort = 0;
    quint16 socketPort = 0;
    QString vxi11Device; // "inst0"; empty when VXI-11 is off
};

// VISA's resource strings for it: VXI-11's INSTR first, when on, then the socket.
QStringList resourceStrings(const Reach &reach);

// The LXI identification document (/lxi/identification).
QByteArray identificationDocument(const Identity &identity, const Reach &reach);

struct BoardState
{
    QString port; // the USB port path, "sim" for the simulated board
    bool up = false;
    int restarts = 0;
    // Each channel as the server last wrote it: volts and code.
    std::array<QString, 4> volts;
    std::array<QString, 4> codes;
    QString reference;
    QString vdd;
    QString clr;
    QString ldac;
    int socketClients = 0;
    int vxi11Links = 0;
    QString lockHolder; // the peer of the link holding the lock, empty when none
};

// The welcome page (/): the same facts, and the board's state, for a person.
QByteArray welcomePage(const Identity &identity, const Reach &reach, const BoardState &board);
