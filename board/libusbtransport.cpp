#include "libusbtransport.h"

#include "libusbdevice.h"

#include <libusb.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

namespace {

// Made at the first call that succeeds: USB that was not there (no /dev/bus/usb yet, say) is
// looked for again at the next bring-up. 0 or libusb's error.
int contextError()
{
    static bool ready = false;
    if (ready)
        return LIBUSB_SUCCESS;
    const int error = libusb_init(nullptr);
    ready = error == LIBUSB_SUCCESS;
    return error;
}

// One enumeration of the bus, freed with the devices it did not hand out.
class DeviceList final
{
public:
    DeviceList()
    {
        const ssize_t count
                = contextError() == LIBUSB_SUCCESS ? libusb_get_device_list(nullptr, &m_list) : 0;
        m_count = count > 0 ? static_cast<std::size_t>(count) : 0;
        // Not "no board": the bus could not be listed.
        if (count < 0)
            LibusbDevice::resultOf(int(count));
    }
    ~DeviceList()
    {
        if (m_list != nullptr)
            libusb_free_device_list(m_list, 1);
    }
    DeviceList(const DeviceList &) = delete;
    DeviceList &operator=(const DeviceList &) = delete;

    std::span<libusb_device *const> devices() const { return {m_list, m_count}; }

private:
    libusb_device **m_list = nullptr;
    std::size_t m_count = 0;
};

// "1-2.3" as the kernel names the port; USB has at most seven tiers of hubs.
std::string portPath(libusb_device *device)
{
    std::array<std::uint8_t, 8> ports {};
    const int count = libusb_get_port_numbers(device, ports.data(), int(ports.size()));
    std::string path = std::to_string(libusb_get_bus_number(device));
    for (int at = 0; at < count; ++at)
        path += (at == 0 ? '-' : '.') + std::to_string(ports[std::size_t(at)]);
    return path;
}

std::optional<UsbDeviceAddress> addressOf(libusb_device *device)
{
    libusb_device_descriptor descriptor {};
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS)
        return std::nullopt;
    return UsbDeviceAddress {{descriptor.idVendor, descriptor.idProduct},
                             libusb_get_bus_number(device),
                             libusb_get_device_address(device),
                             portPath(device)};
}

} // namespace

std::string LibusbTransport::unavailable()
{
    // libusb starts without the device nodes (it lists the bus from sysfs), and then finds
    // boards that it can never open: the nodes' folder decides.
    const char *const nodes = "/dev/bus/usb";
    struct stat folder
    { };
    if (::stat(nodes, &folder) != 0)
        return std::string(nodes) + ": " + std::strerror(errno);
    if (!S_ISDIR(folder.st_mode))
        return std::string(nodes) + ": not a folder";
    if (::access(nodes, X_OK) != 0)
        return std::string(nodes) + ": " + std::strerror(errno);
    if (const int error = contextError(); error != LIBUSB_SUCCESS)
        return std::string("libusb_init: ") + libusb_error_name(error);
    return {};
}

std::string LibusbTransport::takeError()
{
    return LibusbDevice::takeNoted();
}

std::vector<UsbDeviceAddress> LibusbTransport::devices(std::span<const UsbIdentity> identities)
{
    std::vector<UsbDeviceAddress> found;
    const DeviceList list;
    for (libusb_device *device : list.devices()) {
        const std::optional<UsbDeviceAddress> address = addressOf(device);
        if (address && std::ranges::find(identities, address->identity) != identities.end())
            found.push_back(*address);
    }
    return found;
}

UsbOpened LibusbTransport::open(const UsbDeviceAddress &address)
{
    const DeviceList list;
    for (libusb_device *device : list.devices()) {
        if (addressOf(device) != address)
            continue;
        libusb_device_handle *handle = nullptr;
        const int error = libusb_open(device, &handle);
        if (error != LIBUSB_SUCCESS)
            return {LibusbDevice::resultOf(error), nullptr};
        return {UsbResult::Ok, std::make_unique<LibusbDevice>(handle)};
    }
    return {UsbResult::Gone, nullptr};
}
