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

// The LXI version these pages are written to.
inline constexpr char lxiVersion[] = "1.5";

// The network interface that carries an address, as LXI's NetworkInformation gives it.
struct InterfaceFacts
{
    QString name;        // "eth0"
    QString subnetMask;  // "255.255.255.0"; for IPv6, the prefix's length
    QString macAddress;  // "02:1A:2B:3C:4D:5E"
    QString gateway;     // the default route's, through this interface; "0.0.0.0" or "::" for none
    bool dhcp = false;   // the address is leased (it has a lifetime), not set for good
    bool autoIp = false; // the address is a link-local one the host chose itself
};

// How clients reach the instrument from where they asked.
struct Reach
{
    QString host;      // as the client named it, or the address it reached
    QString ipAddress; // the address the client reached
    bool ipv6 = false;
    InterfaceFacts lan; // of the interface that carries ipAddress
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
