#pragma once

#include <QMap>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

// Boards in a umockdev testbed, for libusb itself (run under umockdev-wrapper): one bare at port
// 1-1, address 2, back at the next address with the firmware identity each time its CPU is let
// run; more on other root ports as a test plugs them. A thread of its own answers the usbdevfs
// calls, reads answer 0f ff, and each control transfer is logged as the fake bus logs it ("40 a0
// e600 0000 [01]", "c0 bb 0000 0000 2"), behind "1-2: " for a board at another port than 1-1.
// Made once and kept to the end of the process, past the libraries' hold on the boards; child
// processes under the same wrapper see the same boards.
class UsbTestbed final
{
public:
    // What every transfer meets until set otherwise; Timeout costs the transfer's timeout.
    enum class Fault { None, Stall, Timeout, Short, Failed, Gone };

    static UsbTestbed &instance();
    QStringList takeLog();
    void setFault(Fault fault);
    // Only board 1-1, bare; no faults.
    void reset();
    // A board at a root port ("1-2") with this bare identity ("6666:4400"), at the next address;
    // running its firmware already when `loaded`.
    void plug(const QByteArray &port, const QByteArray &loader, bool loaded = false,
              bool busy = false);
    // The board at the port off the bus, as a cable pulled.
    void unplug(const QByteArray &port);
    // What the write that lets the CPU run meets, and whether the board comes back after it
    // (with the firmware identity one above the loader's product id, as 6666:4410 for 4400).
    void setRun(Fault fault, bool comesBack);
    // A board let run leaves the bus for this long before it is back (0: back at once).
    void setBackAfter(int milliseconds);
    // When the CPU of the board at 1-1 is let run, the board at `port` re-enumerates at once and
    // the loaded one only a while later.
    void setRacer(const QByteArray &port);
    // The device node of the board at the port closed to everyone but root (as without the udev
    // rule); the testbed's own folders stay open to all.
    void deny(const QByteArray &port);
    // Claims of the board at the port fail with an error libusb has no name of its own for.
    void refuseClaims(const QByteArray &port);
    // Returns once libusb in this process lists the boards as the testbed has them, before a
    // bring-up in this process: it learns of each change from an event on a socket that queues
    // ten (a burst beyond that makes umockdev abort), and a list behind the testbed opens the
    // nodes of boards that are gone. Child processes list the bus afresh and need no wait.
    void settle();

private:
    UsbTestbed();
    // umockdev's header stays out of here: GLib's and Qt's keywords clash.
    struct Glib;
    static int onIoctl(void *handler, void *client, void *self);
    struct Board
    {
        QByteArray loader; // its identity while bare
        bool busy = false;
        bool present = false; // on the bus now
        bool denied = false;
        bool refusesClaims = false;
    };
    bool claim(const QByteArray &port, void *client, bool claiming);
    bool answer(const QByteArray &port, std::deque<unsigned long> &done, unsigned long request,
                void *arg, int &error);
    void addBoard(const QByteArray &port, const QByteArray &identity);
    void removeBoard(const QByteArray &port);
    void comeBack(const QByteArray &port);
    void openToAll();
    void inThread(const std::function<void()> &work);

    std::unique_ptr<Glib> m_glib;
    std::mutex m_mutex; // what follows is shared with the thread
    QStringList m_log;
    // URBs to hand back, by their address in the client, for each client (each process that
    // opened a board has its own).
    QMap<void *, std::deque<unsigned long>> m_done;
    Fault m_fault = Fault::None;
    Fault m_runFault = Fault::None;
    bool m_comesBack = true;
    QByteArray m_racer;
    int m_backAfter = 0;
    QByteArray m_comingBack; // the board the call in hand lets run
    QMap<QByteArray, void *> m_claims; // by port: the connection holding its interface
    int m_devnum = 1;                     // the root hub's
    QMap<QByteArray, Board> m_boards;     // by port
    QMap<QByteArray, QByteArray> m_ports; // by device node
    QMap<QByteArray, QByteArray> m_nodes; // by port, the latest
};
