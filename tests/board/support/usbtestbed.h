#pragma once

#include <QStringList>

#include <deque>
#include <memory>
#include <mutex>

// The board in a umockdev testbed, for libusb itself (run under umockdev-wrapper): bare at 1.2,
// back at the next address with the firmware identity each time its CPU is let run. A thread of
// its own answers the usbdevfs calls, reads answer 0f ff, and each control transfer is logged as
// the fake bus logs it ("40 a0 e600 0000 [01]", "c0 bb 0000 0000 2"). Made once and kept to the
// end of the process, past the libraries' hold on the board.
class UsbTestbed final
{
public:
    // What every transfer meets until set otherwise; Timeout costs the transfer's timeout.
    enum class Fault { None, Stall, Timeout, Short, Failed, Gone };

    static UsbTestbed &instance();
    QStringList takeLog();
    void setFault(Fault fault);

private:
    UsbTestbed();
    // umockdev's header stays out of here: GLib's and Qt's keywords clash.
    struct Glib;
    static int onIoctl(void *handler, void *client, void *self);
    bool answer(unsigned long request, void *arg, int &error);
    void addBoard(const char *product);

    std::unique_ptr<Glib> m_glib;
    std::mutex m_mutex; // what follows is shared with the thread
    QStringList m_log;
    std::deque<unsigned long> m_done; // URBs to hand back, by their address in the client
    Fault m_fault = Fault::None;
    int m_devnum = 1; // the root hub's
};
