#pragma once

#include <QByteArray>
#include <QStringList>

#include <deque>
#include <memory>
#include <mutex>
#include <thread>

// The board in a umockdev testbed, for libusb itself (run under umockdev-wrapper). libusb finds
// it bare at 1.2; each time its CPU is let run it comes back at the next address with the
// firmware identity. A
// thread of its own answers the usbdevfs calls and logs each control transfer as the fake bus
// does: "40 a0 e600 0000 [01]", "c0 bb 0000 0000 2".
class UsbTestbed final
{
public:
    // What every transfer meets until set otherwise; Timeout costs the transfer's whole timeout.
    enum class Fault { None, Stall, Timeout, Short, Gone, Failed, Busy };

    UsbTestbed();
    ~UsbTestbed();
    UsbTestbed(const UsbTestbed &) = delete;
    UsbTestbed &operator=(const UsbTestbed &) = delete;

    QStringList takeLog();
    void setFault(Fault fault);
    void setReply(const QByteArray &reply);
    // Pulls the cable: the board leaves the bus, and what is open of it fails.
    void unplug();

private:
    // umockdev's header stays out of here: GLib's and Qt's keywords clash.
    struct Glib;
    static int onIoctl(void *handler, void *client, void *self);
    bool answer(unsigned long request, void *arg, int &error);
    void addBoard(const char *product);

    std::unique_ptr<Glib> m_glib;
    std::thread m_thread;
    std::mutex m_mutex; // what follows is shared with the thread
    QStringList m_log;
    std::deque<unsigned long> m_done; // URBs to hand back, by their address in the client
    Fault m_fault = Fault::None;
    QByteArray m_reply;
    int m_devnum = 1; // the root hub's
};
