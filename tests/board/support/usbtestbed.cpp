// Before any Qt header, whose keyword macros GLib's headers cannot take.
#include <umockdev.h>

#include "usbtestbed.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

constexpr const char *syspath = "/sys/devices/usb1/1-1";

// Device, configuration and one vendor interface; the product id in the bus's byte order.
QByteArray descriptors(const char *product)
{
    return QByteArray("12010002FF0000406666") + product
            + "000100000001"
              "0902120001010080320904000000FF000000";
}

} // namespace

struct UsbTestbed::Glib
{
    UMockdevTestbed *bed = umockdev_testbed_new();
    GMainContext *context = g_main_context_new();
    GMainLoop *loop = g_main_loop_new(context, FALSE);
    UMockdevIoctlBase *handler = umockdev_ioctl_base_new();
};

UsbTestbed::UsbTestbed()
    : m_glib(std::make_unique<Glib>())
{
    g_signal_connect(m_glib->handler, "handle-ioctl", G_CALLBACK(onIoctl), this);
    // The handler runs in the thread-default context of its attaching: the thread's.
    g_main_context_push_thread_default(m_glib->context);
    addBoard("0044");
    g_main_context_pop_thread_default(m_glib->context);
    m_thread = std::thread([this] {
        g_main_context_push_thread_default(m_glib->context);
        g_main_loop_run(m_glib->loop);
    });
}

UsbTestbed::~UsbTestbed()
{
    g_main_loop_quit(m_glib->loop);
    m_thread.join();
    g_object_unref(m_glib->handler);
    g_main_loop_unref(m_glib->loop);
    g_main_context_unref(m_glib->context);
    g_object_unref(m_glib->bed);
}

// The board at the next bus address, seen by libusb's hotplug at once.
void UsbTestbed::addBoard(const char *product)
{
    if (m_devnum > 1) {
        umockdev_testbed_uevent(m_glib->bed, syspath, "remove");
        umockdev_testbed_remove_device(m_glib->bed, syspath);
    }
    const QByteArray number = QByteArray::number(++m_devnum);
    const QByteArray node = "bus/usb/001/" + number.rightJustified(3, '0');
    const QByteArray record = "P: " + QByteArray(syspath).mid(4) + "\nN: " + node + '='
            + descriptors(product) + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/"
            + node + "\nE: BUSNUM=001\nE: DEVNUM=" + node.right(3)
            + "\nA: busnum=1\nA: devnum=" + number + "\nA: dev=189:" + number
            + "\nA: bConfigurationValue=1\nH: descriptors=" + descriptors(product) + '\n';
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(m_glib->bed, record.constData(), &error)
        || !umockdev_testbed_attach_ioctl(m_glib->bed, ("/dev/" + node).constData(),
                                          m_glib->handler, &error))
        qFatal("The testbed does not take the board: %s\n%s", error->message, record.constData());
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

void UsbTestbed::setReply(const QByteArray &reply)
{
    const std::lock_guard lock(m_mutex);
    m_reply = reply;
}

void UsbTestbed::unplug()
{
    const std::lock_guard lock(m_mutex);
    m_fault = Fault::Gone;
    umockdev_testbed_uevent(m_glib->bed, syspath, "remove");
}

int UsbTestbed::onIoctl(void *, void *ioctlClient, void *self)
{
    auto *client = static_cast<UMockdevIoctlClient *>(ioctlClient);
    auto *testbed = static_cast<UsbTestbed *>(self);
    int error = 0;
    const std::lock_guard lock(testbed->m_mutex);
    const bool done = testbed->answer(umockdev_ioctl_client_get_request(client),
                                      umockdev_ioctl_client_get_arg(client), error);
    umockdev_ioctl_client_complete(client, done ? 0 : -1, error);
    return TRUE;
}

bool UsbTestbed::answer(unsigned long request, void *ioctlArg, int &error)
{
    auto *arg = static_cast<UMockdevIoctlData *>(ioctlArg);
    const auto urbAddress = [&] {
        return *reinterpret_cast<unsigned long *>(arg->data);
    };
    const auto resolve = [&](UMockdevIoctlData *data, std::size_t offset, std::size_t size) {
        return umockdev_ioctl_data_resolve(data, offset, size, nullptr);
    };
    error = m_fault == Fault::Gone ? ENODEV : 0;
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES:
        std::memset(resolve(arg, 0, 4)->data, 0, 4);
        return true;
    case USBDEVFS_CLAIMINTERFACE:
        error = m_fault == Fault::Busy ? EBUSY : error;
        return error == 0;
    case USBDEVFS_RELEASEINTERFACE:
        return error == 0;
    case USBDEVFS_DISCARDURB:
        reinterpret_cast<usbdevfs_urb *>(resolve(arg, 0, sizeof(usbdevfs_urb))->data)->status
                = -ENOENT;
        m_done.push_back(urbAddress());
        return true;
    case USBDEVFS_REAPURBNDELAY:
        if (m_done.empty()) {
            error = error != 0 ? error : EAGAIN;
            return false;
        }
        std::memcpy(resolve(arg, 0, sizeof(void *))->data, &m_done.front(), sizeof(void *));
        m_done.pop_front();
        return true;
    case USBDEVFS_SUBMITURB:
        break;
    default:
        error = ENOTTY;
        return false;
    }

    UMockdevIoctlData *urbData = resolve(arg, 0, sizeof(usbdevfs_urb));
    auto *urb = reinterpret_cast<usbdevfs_urb *>(urbData->data);
    guint8 *buffer = resolve(urbData, offsetof(usbdevfs_urb, buffer), urb->buffer_length)->data;
    const int length = buffer[6] | buffer[7] << 8;
    const QByteArray data(reinterpret_cast<const char *>(buffer + 8), length);
    const bool in = buffer[0] & 0x80;
    m_log << QString::asprintf("%02x %02x %04x %04x ", buffer[0], buffer[1],
                               buffer[2] | buffer[3] << 8, buffer[4] | buffer[5] << 8)
                    + (in ? QString::number(length)
                          : '[' + QString::fromLatin1(data.toHex(' ')) + ']');
    if (error != 0)
        return false;
    if (m_fault == Fault::Timeout)
        return true;
    urb->status = m_fault == Fault::Stall ? -EPIPE : m_fault == Fault::Failed ? -EPROTO : 0;
    urb->actual_length = in ? std::min<int>(length, m_reply.size()) : length;
    if (m_fault == Fault::Short)
        urb->actual_length = length - 1;
    if (in)
        std::memcpy(buffer + 8, m_reply.constData(), urb->actual_length);
    m_done.push_back(urbAddress());
    if (buffer[1] == 0xA0 && (buffer[2] | buffer[3] << 8) == 0xE600 && data == QByteArray(1, 0))
        addBoard("1044");
    return true;
}
