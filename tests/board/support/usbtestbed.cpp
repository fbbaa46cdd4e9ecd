// Before any Qt header, whose keyword macros GLib's headers cannot take.
#include <umockdev.h>

#include "usbtestbed.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QThread>

#include <dlfcn.h>

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include <future>

namespace {

// "6666:4400" as the descriptor holds it, little end first: "66660044".
QByteArray descriptorIds(const QByteArray &identity)
{
    const auto swapped = [](const QByteArray &hex) {
        return hex.mid(2, 2) + hex.left(2);
    };
    return swapped(identity.left(4)) + swapped(identity.mid(5, 4));
}

// The board libraries' libusb context, its default one, shared by the whole process: bound at
// run time, as the benchmark stands in front of a libusb function itself.
struct Libusb
{
    template<typename Function> static Function bound(void *library, const char *name)
    {
        return library ? reinterpret_cast<Function>(dlsym(library, name)) : nullptr;
    }
    void *library = dlopen("libusb-1.0.so.0", RTLD_NOW);
    ssize_t (*list)(void *, void ***) = bound<decltype(list)>(library, "libusb_get_device_list");
    std::uint8_t (*address)(void *)
            = bound<decltype(address)>(library, "libusb_get_device_address");
    void (*free)(void **, int) = bound<decltype(free)>(library, "libusb_free_device_list");
    int (*init)(void **) = bound<decltype(init)>(library, "libusb_init");
    bool started = list && address && free && init && init(nullptr) == 0;
};

QByteArray firmwareIdentity(const QByteArray &loader)
{
    return loader.left(5) + QByteArray::number(loader.mid(5).toInt(nullptr, 16) + 0x10, 16);
}

} // namespace

struct UsbTestbed::Glib
{
    UMockdevTestbed *bed = umockdev_testbed_new();
    GMainContext *context = g_main_context_new();
};

UsbTestbed &UsbTestbed::instance()
{
    static auto *testbed = new UsbTestbed; // never destroyed: its thread runs to the end
    return *testbed;
}

UsbTestbed::UsbTestbed()
    : m_glib(std::make_unique<Glib>())
{
    std::thread([context = m_glib->context] {
        g_main_context_push_thread_default(context);
        g_main_loop_run(g_main_loop_new(context, FALSE));
    }).detach();
    // Another user's process may look at the boards, and make its uevent socket here.
    const QByteArray root = umockdev_testbed_get_root_dir(m_glib->bed);
    ::chmod(root.constData(), 01777);
    reset();
}

void UsbTestbed::deny(const QByteArray &port)
{
    inThread([&] {
        const std::lock_guard lock(m_mutex);
        m_boards[port].denied = true;
        openToAll();
    });
}

void UsbTestbed::refuseClaims(const QByteArray &port)
{
    const std::lock_guard lock(m_mutex);
    m_boards[port].refusesClaims = true;
}

// Nodes and their emulation sockets open to another user, as the udev rule would make them,
// but those of boards denied.
void UsbTestbed::openToAll()
{
    const QString root = QString::fromLocal8Bit(umockdev_testbed_get_root_dir(m_glib->bed));
    QStringList denied;
    for (auto board = m_boards.cbegin(); board != m_boards.cend(); ++board) {
        if (board->denied)
            denied << root + QString::fromLatin1(m_nodes.value(board.key()));
    }
    QDirIterator entries(root, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QFileInfo entry(entries.next());
        const mode_t mode = entry.isDir() ? 0755 : denied.contains(entry.filePath()) ? 0 : 0666;
        ::chmod(QFile::encodeName(entry.filePath()).constData(), mode);
    }
}

// Work on the testbed's thread, where its handler lives, waited for.
void UsbTestbed::inThread(const std::function<void()> &work)
{
    struct Call
    {
        const std::function<void()> &work;
        std::promise<void> done;
    } call {work, {}};
    g_main_context_invoke(
            m_glib->context,
            [](gpointer data) -> gboolean {
                auto *call = static_cast<Call *>(data);
                call->work();
                call->done.set_value();
                return G_SOURCE_REMOVE;
            },
            &call);
    call.done.get_future().wait();
}

void UsbTestbed::reset()
{
    inThread([this] {
        const std::lock_guard lock(m_mutex);
        for (const QByteArray &port : m_boards.keys())
            removeBoard(port);
        m_boards.clear();
        m_boards["1-1"] = {"6666:4400"};
        addBoard("1-1", "6666:4400");
        m_fault = m_runFault = Fault::None;
        m_comesBack = true;
        m_racer.clear();
        m_backAfter = 0;
        m_log.clear();
    });
}

void UsbTestbed::plug(const QByteArray &port, const QByteArray &loader, bool loaded, bool busy)
{
    inThread([&] {
        const std::lock_guard lock(m_mutex);
        removeBoard(port);
        m_boards[port] = {loader, busy};
        addBoard(port, loaded ? firmwareIdentity(loader) : loader);
    });
}

// The interface is one program's at a time, as the kernel has it: a claim while another
// connection holds it is refused, until that one lets it go or closes the node.
bool UsbTestbed::claim(const QByteArray &port, void *client, bool claiming)
{
    auto *holder = static_cast<UMockdevIoctlClient *>(m_claims.value(port));
    if (holder != nullptr && holder != client && umockdev_ioctl_client_get_connected(holder))
        return !claiming;
    if (holder != nullptr && (claiming || holder == client)) {
        m_claims.remove(port);
        g_object_unref(holder);
    }
    if (claiming)
        m_claims.insert(port, g_object_ref(client));
    return true;
}

void UsbTestbed::unplug(const QByteArray &port)
{
    inThread([&] {
        const std::lock_guard lock(m_mutex);
        removeBoard(port);
    });
}

void UsbTestbed::setRun(Fault fault, bool comesBack)
{
    const std::lock_guard lock(m_mutex);
    m_runFault = fault;
    m_comesBack = comesBack;
}

void UsbTestbed::setBackAfter(int milliseconds)
{
    const std::lock_guard lock(m_mutex);
    m_backAfter = milliseconds;
}

void UsbTestbed::setRacer(const QByteArray &port)
{
    const std::lock_guard lock(m_mutex);
    m_racer = port;
}

void UsbTestbed::removeBoard(const QByteArray &port)
{
    if (!m_boards.value(port).present)
        return;
    const QByteArray syspath = "/sys/devices/usb1/" + port;
    umockdev_testbed_uevent(m_glib->bed, syspath.constData(), "remove");
    umockdev_testbed_remove_device(m_glib->bed, syspath.constData());
    m_boards[port].present = false;
}

// The board at the next bus address, in place of the one at its port, seen by libusb's hotplug
// at once.
void UsbTestbed::addBoard(const QByteArray &port, const QByteArray &identity)
{
    removeBoard(port);
    // Device, configuration and one vendor interface.
    const QByteArray descriptors = "12010002FF000040" + descriptorIds(identity).toUpper()
            + "0001000000010902120001010080320904000000FF000000";
    const QByteArray syspath = "/sys/devices/usb1/" + port;
    const QByteArray number = QByteArray::number(++m_devnum);
    const QByteArray node = "bus/usb/001/" + number.rightJustified(3, '0');
    const QByteArray record = "P: " + syspath.mid(4) + "\nN: " + node + '=' + descriptors
            + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/" + node
            + "\nE: BUSNUM=001\nE: DEVNUM=" + node.right(3) + "\nA: busnum=1\nA: devnum=" + number
            + "\nA: dev=189:" + number + "\nA: bConfigurationValue=1\nH: descriptors=" + descriptors
            + '\n';
    GError *error = nullptr;
    // A handler of its own per device node: a program may hold one while another opens the next.
    UMockdevIoctlBase *handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), this);
    if (!umockdev_testbed_add_from_string(m_glib->bed, record.constData(), &error)
        || !umockdev_testbed_attach_ioctl(m_glib->bed, ("/dev/" + node).constData(), handler,
                                          &error))
        qFatal("The testbed does not take the board: %s", error->message);
    umockdev_testbed_uevent(m_glib->bed, syspath.constData(), "add");
    m_boards[port].present = true;
    m_nodes[port] = "/dev/" + node;
    openToAll();
    m_ports["/dev/" + node] = port;
}

// Back with the firmware identity; with a racer, that one first and this one 300 ms later; else
// after the time set, off the bus meanwhile.
void UsbTestbed::comeBack(const QByteArray &port)
{
    const QByteArray identity = firmwareIdentity(m_boards.value(port).loader);
    if (m_racer.isEmpty() && m_backAfter == 0) {
        addBoard(port, identity);
        return;
    }
    if (!m_racer.isEmpty())
        addBoard(m_racer, firmwareIdentity(m_boards.value(m_racer).loader));
    removeBoard(port); // for a while
    struct Later
    {
        UsbTestbed *testbed;
        QByteArray port, identity;
    };
    GSource *later = g_timeout_source_new(m_racer.isEmpty() ? guint(m_backAfter) : 300);
    g_source_set_callback(
            later,
            [](gpointer data) -> gboolean {
                auto *back = static_cast<Later *>(data);
                const std::lock_guard lock(back->testbed->m_mutex);
                back->testbed->addBoard(back->port, back->identity);
                return G_SOURCE_REMOVE;
            },
            new Later {this, port, identity},
            [](gpointer data) { delete static_cast<Later *>(data); });
    g_source_attach(later, m_glib->context);
    g_source_unref(later);
}

void UsbTestbed::settle()
{
    static const Libusb libusb;
    if (!libusb.started)
        qFatal("libusb does not start in the testbed");
    QList<int> expected;
    {
        const std::lock_guard lock(m_mutex);
        for (auto board = m_boards.cbegin(); board != m_boards.cend(); ++board) {
            if (board->present)
                expected << m_nodes.value(board.key()).right(3).toInt();
        }
    }
    std::ranges::sort(expected);
    QList<int> listed;
    for (const QDeadlineTimer deadline(10000); !deadline.hasExpired(); QThread::msleep(2)) {
        void **devices = nullptr;
        const ssize_t count = libusb.list(nullptr, &devices);
        listed.clear();
        for (ssize_t at = 0; at < count; ++at)
            listed << libusb.address(devices[at]);
        libusb.free(devices, 1);
        std::ranges::sort(listed);
        if (listed == expected)
            return;
    }
    qFatal("libusb lists other boards than the testbed has");
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
    const QByteArray port = testbed->m_ports.value(umockdev_ioctl_client_get_devnode(client));
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    if ((request == USBDEVFS_CLAIMINTERFACE || request == USBDEVFS_RELEASEINTERFACE)
        && !testbed->claim(port, client, request == USBDEVFS_CLAIMINTERFACE) && error == 0)
        error = EBUSY;
    const bool done = testbed->answer(port, testbed->m_done[client],
                                      umockdev_ioctl_client_get_request(client),
                                      umockdev_ioctl_client_get_arg(client), error);
    umockdev_ioctl_client_complete(client, done ? 0 : -1, error);
    // Only once the call is answered: leaving the bus ends the client's hold on the old node,
    // and what the call resolved with it.
    if (!testbed->m_comingBack.isEmpty())
        testbed->comeBack(std::exchange(testbed->m_comingBack, {}));
    return TRUE;
}

// One usbdevfs call: true when it succeeds, else false with `error` set. libusb gets on
// without the calls left out (its capabilities among them).
bool UsbTestbed::answer(const QByteArray &port, std::deque<unsigned long> &done,
                        unsigned long request, void *ioctlArg, int &error)
{
    auto *arg = static_cast<UMockdevIoctlData *>(ioctlArg);
    const unsigned long address = *reinterpret_cast<unsigned long *>(arg->data);
    UMockdevIoctlData *urbData = request == USBDEVFS_SUBMITURB || request == USBDEVFS_DISCARDURB
            ? umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr)
            : nullptr;
    auto *urb = urbData ? reinterpret_cast<usbdevfs_urb *>(urbData->data) : nullptr;
    if (request == USBDEVFS_CLAIMINTERFACE && error == 0 && m_boards.value(port).busy)
        error = EBUSY;
    if (request == USBDEVFS_CLAIMINTERFACE && error == 0 && m_boards.value(port).refusesClaims)
        error = EIO;
    if (request == USBDEVFS_CLAIMINTERFACE || request == USBDEVFS_RELEASEINTERFACE)
        return error == 0;
    if (request == USBDEVFS_DISCARDURB) { // the transfer timed out
        urb->status = -ENOENT;
        done.push_back(address);
        return true;
    }
    if (request == USBDEVFS_REAPURBNDELAY && !done.empty()) {
        std::memcpy(umockdev_ioctl_data_resolve(arg, 0, sizeof(void *), nullptr)->data,
                    &done.front(), sizeof(void *));
        done.pop_front();
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
    const bool runs = setup[1] == 0xA0 && value == 0xE600 && data == QByteArray(1, 0);
    const Fault fault = runs ? m_runFault : m_fault;
    m_log << (port == "1-1" ? QString() : QString::fromLatin1(port + ": "))
                    + QString::asprintf("%02x %02x %04x %04x ", setup[0], setup[1], value,
                                        setup[4] | setup[5] << 8)
                    + (in ? QString::number(length)
                          : '[' + QString::fromLatin1(data.toHex(' ')) + ']');
    if (runs && m_comesBack)
        m_comingBack = port;
    if (error != 0 || fault == Fault::Timeout)
        return error == 0;
    urb->status = fault == Fault::Stall ? -EPIPE : fault == Fault::Failed ? -EPROTO : 0;
    urb->actual_length = fault == Fault::Short ? length - 1 : length;
    if (in)
        std::memcpy(setup + 8, "\x0f\xff", std::size_t(std::min(2, urb->actual_length)));
    done.push_back(address);
    return true;
}
