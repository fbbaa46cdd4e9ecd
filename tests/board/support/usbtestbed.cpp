// Before any Qt header, whose keyword macros GLib's headers cannot take.
#include <umockdev.h>

#include "usbtestbed.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

constexpr const char *syspath = "/sys/devices/usb1/1-1";

struct UsbTestbed::Glib
{
    UMockdevTestbed *bed = umockdev_testbed_new();
    GMainContext *context = g_main_context_new();
    UMockdevIoctlBase *handler = umockdev_ioctl_base_new();
};

UsbTestbed &UsbTestbed::instance()
{
    static auto *testbed = new UsbTestbed; // never destroyed: its thread runs to the end
    return *testbed;
}

UsbTestbed::UsbTestbed()
    : m_glib(std::make_unique<Glib>())
{
    g_signal_connect(m_glib->handler, "handle-ioctl", G_CALLBACK(onIoctl), this);
    // The handler runs in the thread-default context of its attaching: the thread's.
    g_main_context_push_thread_default(m_glib->context);
    addBoard("0044");
    g_main_context_pop_thread_default(m_glib->context);
    std::thread([context = m_glib->context] {
        g_main_context_push_thread_default(context);
        g_main_loop_run(g_main_loop_new(context, FALSE));
    }).detach();
}

// The board at the next bus address, in place of the last, seen by libusb's hotplug at once.
void UsbTestbed::addBoard(const char *product)
{
    if (m_devnum > 1) {
        umockdev_testbed_uevent(m_glib->bed, syspath, "remove");
        umockdev_testbed_remove_device(m_glib->bed, syspath);
    }
    // Device, configuration and one vendor interface; the product id in the bus's byte order.
    const QByteArray descriptors = "12010002FF0000406666" + QByteArray(product)
            + "0001000000010902120001010080320904000000FF000000";
    const QByteArray number = QByteArray::number(++m_devnum);
    const QByteArray node = "bus/usb/001/" + number.rightJustified(3, '0');
    const QByteArray record = "P: " + QByteArray(syspath).mid(4) + "\nN: " + node + '='
            + descriptors + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/" + node
            + "\nE: BUSNUM=001\nE: DEVNUM=" + node.right(3) + "\nA: busnum=1\nA: devnum=" + number
            + "\nA: dev=189:" + number + "\nA: bConfigurationValue=1\nH: descriptors=" + descriptors
            + '\n';
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(m_glib->bed, record.constData(), &error)
        || !umockdev_testbed_attach_ioctl(m_glib->bed, ("/dev/" + node).constData(),
                                          m_glib->handler, &error))
        qFatal("The testbed does not take the board: %s", error->message);
    umockdev_testbed_uevent(m_glib->bed, syspath, "add");
}

QStringList UsbTestbed::takeLog()
{
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_log, {});
}

void UsbTestbed::setFault(Fault fault)
{
    const std::lock_guard lock(m_mutex);
    m_fault = fault;
}

int UsbTestbed::onIoctl(void *, void *ioctlClient, void *self)
{
    auto *client = static_cast<UMockdevIoctlClient *>(ioctlClient);
    auto *testbed = static_cast<UsbTestbed *>(self);
    const std::lock_guard lock(testbed->m_mutex);
    int error = testbed->m_fault == Fault::Gone ? ENODEV : 0;
    const bool done = testbed->answer(umockdev_ioctl_client_get_request(client),
                                      umockdev_ioctl_client_get_arg(client), error);
    umockdev_ioctl_client_complete(client, done ? 0 : -1, error);
    return TRUE;
}

// One usbdevfs call: true when it succeeds, else false with `error` set. libusb gets on
// without the calls left out (its capabilities among them).
bool UsbTestbed::answer(unsigned long request, void *ioctlArg, int &error)
{
    auto *arg = static_cast<UMockdevIoctlData *>(ioctlArg);
    const unsigned long address = *reinterpret_cast<unsigned long *>(arg->data);
    UMockdevIoctlData *urbData = request == USBDEVFS_SUBMITURB || request == USBDEVFS_DISCARDURB
            ? umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr)
            : nullptr;
    auto *urb = urbData ? reinterpret_cast<usbdevfs_urb *>(urbData->data) : nullptr;
    if (request == USBDEVFS_CLAIMINTERFACE || request == USBDEVFS_RELEASEINTERFACE)
        return error == 0;
    if (request == USBDEVFS_DISCARDURB) { // the transfer timed out
        urb->status = -ENOENT;
        m_done.push_back(address);
        return true;
    }
    if (request == USBDEVFS_REAPURBNDELAY && !m_done.empty()) {
        std::memcpy(umockdev_ioctl_data_resolve(arg, 0, sizeof(void *), nullptr)->data,
                    &m_done.front(), sizeof(void *));
        m_done.pop_front();
        return true;
    }
    if (request != USBDEVFS_SUBMITURB) {
        // No kernel driver on the interface, as for a vendor interface no driver knows.
        const bool aboutDriver = request == USBDEVFS_GETDRIVER || request == USBDEVFS_IOCTL;
        const int refusal = aboutDriver ? ENODATA : ENOTTY;
        error = request == USBDEVFS_REAPURBNDELAY && error == 0 ? EAGAIN : error ? error : refusal;
        return false;
    }

    guint8 *setup = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                                std::size_t(urb->buffer_length), nullptr)
                            ->data;
    const int value = setup[2] | setup[3] << 8, length = setup[6] | setup[7] << 8;
    const QByteArray data(reinterpret_cast<const char *>(setup + 8), length);
    const bool in = setup[0] & 0x80;
    m_log << QString::asprintf("%02x %02x %04x %04x ", setup[0], setup[1], value,
                               setup[4] | setup[5] << 8)
                    + (in ? QString::number(length)
                          : '[' + QString::fromLatin1(data.toHex(' ')) + ']');
    if (error != 0 || m_fault == Fault::Timeout)
        return error == 0;
    urb->status = m_fault == Fault::Stall ? -EPIPE : m_fault == Fault::Failed ? -EPROTO : 0;
    urb->actual_length = m_fault == Fault::Short ? length - 1 : length;
    if (in)
        std::memcpy(setup + 8, "\x0f\xff", std::size_t(std::min(2, urb->actual_length)));
    m_done.push_back(address);
    if (setup[1] == 0xA0 && value == 0xE600 && data == QByteArray(1, 0))
        addBoard("1044");
    return true;
}
