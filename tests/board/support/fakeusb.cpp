#include "fakeusb.h"

#include <algorithm>

namespace {

class FakeUsbDevice final : public UsbDevice
{
public:
    explicit FakeUsbDevice(FakeUsbBus &bus)
        : m_bus(bus)
        , m_generation(bus.generation)
    { }
    ~FakeUsbDevice() override { m_bus.log << "close"; }

    UsbResult claimInterface(int interface) override { return logged("claim", interface); }
    UsbResult releaseInterface(int interface) override { return logged("release", interface); }

    UsbTransferResult controlTransfer(const UsbControlSetup &setup, std::span<std::uint8_t> data,
                                      std::chrono::milliseconds timeout) override
    {
        const QByteArray bytes(reinterpret_cast<const char *>(data.data()), qsizetype(data.size()));
        const QString line = QString::asprintf("%02x %02x %04x %04x ", setup.requestType,
                                               setup.request, setup.value, setup.index)
                + (setup.isIn() ? QString::number(data.size())
                                : '[' + QString::fromLatin1(bytes.toHex(' ')) + ']');
        // Every transfer's timeout is 1 s; any other shows in its line.
        m_bus.log << line
                        + (timeout.count() == 1000 ? ""
                                                   : QStringLiteral(" %1 ms").arg(timeout.count()));
        if (!here())
            return {UsbResult::Gone, 0};
        // Scribbled over, as a failing host controller may: the caller's buffer must not be this.
        if (setup.isIn())
            std::ranges::fill(data, 0xEE);
        // Letting the CPU run: the board leaves the bus, to come back with its firmware identity.
        const bool runs
                = setup.request == 0xA0 && setup.value == 0xE600 && bytes == QByteArray(1, 0);
        if (runs)
            m_bus.backIn = m_bus.comeBackAfter;
        if (!m_bus.faultOn.isEmpty() && line.startsWith(m_bus.faultOn)) {
            m_bus.faultOn.clear();
            using Fault = FakeUsbBus::Fault;
            switch (m_bus.fault) {
            case Fault::Stall:
                return {UsbResult::Stall, 0};
            case Fault::Timeout:
                return {UsbResult::Timeout, 0};
            case Fault::Gone:
                m_bus.present = false;
                return {UsbResult::Gone, 0};
            case Fault::Failed:
                return {UsbResult::Failed, 0};
            case Fault::Short:
                return {UsbResult::Ok, data.size() - 1};
            }
        }
        if (setup.isIn())
            std::copy_n(m_bus.reply.begin(), std::min(data.size(), size_t(m_bus.reply.size())),
                        data.begin());
        m_bus.present = !runs;
        return {UsbResult::Ok, data.size()};
    }

private:
    bool here() const { return m_bus.present && m_generation == m_bus.generation; }
    UsbResult logged(const char *what, int interface)
    {
        m_bus.log << QStringLiteral("%1 %2").arg(what).arg(interface);
        return here() ? UsbResult::Ok : UsbResult::Gone;
    }

    FakeUsbBus &m_bus;
    int m_generation;
};

class FakeUsbTransport final : public UsbTransport
{
public:
    explicit FakeUsbTransport(FakeUsbBus &bus)
        : m_bus(bus)
    { }

    std::vector<UsbDeviceAddress> devices(std::span<const UsbIdentity> identities) override
    {
        if (m_bus.backIn > 0 && --m_bus.backIn == 0)
            m_bus.plug(FakeUsbBus::firmware);
        if (m_bus.present && std::ranges::find(identities, m_bus.at.identity) != identities.end())
            return {m_bus.at};
        return {};
    }

    UsbOpened open(const UsbDeviceAddress &address) override
    {
        if (!m_bus.present || address != m_bus.at)
            return {UsbResult::Gone, nullptr};
        if (m_bus.openResult != UsbResult::Ok)
            return {m_bus.openResult, nullptr};
        m_bus.log << QStringLiteral("open %1.%2").arg(address.bus).arg(address.address);
        return {UsbResult::Ok, std::make_unique<FakeUsbDevice>(m_bus)};
    }

private:
    FakeUsbBus &m_bus;
};

} // namespace

std::unique_ptr<UsbTransport> FakeUsbBus::transport()
{
    return std::make_unique<FakeUsbTransport>(*this);
}

void FakeUsbBus::plug(UsbIdentity shown)
{
    present = true;
    ++generation;
    backIn = -1;
    at = {shown, at.bus, static_cast<std::uint8_t>(at.address + 1)};
}
