#pragma once

#include <usbtransport.h>

#include <QByteArray>
#include <QStringList>

#include <algorithm>
#include <optional>

// A bus with one board on it, owned by the USB board that reaches it. Every open, claim, release,
// close and control transfer goes to the test's log as one line: "open 1.2", "claim 0",
// "40 a0 e600 0000 [01]" to the board, "c0 bb 0000 0000 2" for a read (answered 0f ff).
class FakeUsbBus final : public UsbTransport
{
public:
    enum class Fault { Stall, Timeout, Short, Gone, Failed, Access, Busy };
    static constexpr UsbIdentity loader {0x6666, 0x4400}, firmware {0x6666, 0x4410};

    explicit FakeUsbBus(QStringList &log)
        : log(log)
    { }
    // On the bus again, at the next address.
    void plug(UsbIdentity shown = loader)
    {
        present = true;
        backIn = -1;
        at = {shown, 1, std::uint8_t(at.address + 1), at.port};
    }

    QStringList &log;
    bool present = true;
    UsbDeviceAddress at {loader, 1, 2, "1-1"};
    // Looks after the CPU is let run before the board shows its firmware identity; -1: never.
    int comeBackAfter = 1;
    // Every line that starts with this meets the fault instead of the board.
    QString faultOn;
    Fault fault = Fault::Stall;

    std::vector<UsbDeviceAddress> devices(std::span<const UsbIdentity> identities) override
    {
        if (backIn > 0 && --backIn == 0)
            plug(firmware);
        if (!present || std::ranges::find(identities, at.identity) == identities.end())
            return {};
        return {at};
    }
    UsbOpened open(const UsbDeviceAddress &address) override
    {
        const UsbResult result = address != at
                ? UsbResult::Gone
                : resultOf(met(QString::asprintf("open %d.%d", address.bus, address.address)));
        return {result, result == UsbResult::Ok ? std::make_unique<Device>(*this) : nullptr};
    }

private:
    std::optional<Fault> met(const QString &line)
    {
        log << line;
        return !faultOn.isEmpty() && line.startsWith(faultOn) ? std::optional(fault) : std::nullopt;
    }
    UsbResult resultOf(std::optional<Fault> fault) const
    {
        constexpr UsbResult results[] {UsbResult::Stall, UsbResult::Timeout, UsbResult::Ok,
                                       UsbResult::Gone,  UsbResult::Failed,  UsbResult::Access,
                                       UsbResult::Busy};
        return !present ? UsbResult::Gone : fault ? results[int(*fault)] : UsbResult::Ok;
    }

    class Device final : public UsbDevice
    {
    public:
        explicit Device(FakeUsbBus &bus)
            : m_bus(bus)
        { }
        ~Device() override { m_bus.log << "close"; }
        UsbResult claimInterface(int interface) override
        {
            return m_bus.resultOf(m_bus.met("claim " + QString::number(interface)));
        }
        bool kernelDriverActive(int) override { return false; }
        UsbResult releaseInterface(int interface) override
        {
            return m_bus.resultOf(m_bus.met("release " + QString::number(interface)));
        }
        UsbTransferResult controlTransfer(const UsbControlSetup &setup,
                                          std::span<std::uint8_t> data,
                                          std::chrono::milliseconds timeout) override
        {
            const QByteArray bytes(reinterpret_cast<const char *>(data.data()),
                                   qsizetype(data.size()));
            // The CPU let run: the board leaves, to come back with its firmware identity.
            const bool runs
                    = setup.request == 0xA0 && setup.value == 0xE600 && bytes == QByteArray(1, 0);
            const std::optional<Fault> fault
                    = m_bus.met(QString::asprintf("%02x %02x %04x %04x ", setup.requestType,
                                                  setup.request, setup.value, setup.index)
                                + (setup.isIn() ? QString::number(data.size())
                                                : '[' + QString::fromLatin1(bytes.toHex(' ')) + ']')
                                + (timeout == std::chrono::seconds(1) ? "" : " not in 1 s"));
            if (!m_bus.present)
                return {UsbResult::Gone, 0};
            const UsbResult result = m_bus.resultOf(fault);
            m_bus.backIn = runs ? m_bus.comeBackAfter : m_bus.backIn;
            m_bus.present = !runs && fault != Fault::Gone;
            // Scribbled over, as a failed read may leave it: this is no buffer of the caller's.
            std::ranges::fill(data.subspan(0, setup.isIn() ? data.size() : 0), 0xEE);
            if (fault && fault != Fault::Short)
                return {result, 0};
            if (setup.isIn())
                std::ranges::copy(QByteArray::fromHex("0fff").left(qsizetype(data.size())),
                                  data.begin());
            return {UsbResult::Ok, data.size() - (fault ? 1 : 0)};
        }

    private:
        FakeUsbBus &m_bus;
    };

    int backIn = -1;
};
