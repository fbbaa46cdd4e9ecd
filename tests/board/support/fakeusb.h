#pragma once

#include <usbtransport.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

// A bus with one board on it, reached through the USB interface as the USB board reaches it.
// Every open, claim, release, close and control transfer is logged as one line: "open 1.2",
// "claim 0", "40 a0 e600 0000 [01]" for data to the board, "c0 bb 0000 0000 2" for a read.
class FakeUsbBus final
{
public:
    enum class Fault { Stall, Timeout, Short, Gone, Failed };

    std::unique_ptr<UsbTransport> transport();
    void unplug()
    {
        present = false;
        backIn = -1;
    }
    // Back on the bus, bare, at a new address.
    void plug(UsbIdentity shown = loader);

    static constexpr UsbIdentity loader {0x6666, 0x4400}, firmware {0x6666, 0x4410};

    QStringList log;
    bool present = true;
    UsbDeviceAddress at {loader, 1, 2};
    int generation = 0; // a device opened before an unplug stays gone
    // Looks after the CPU is let run before the board shows its firmware identity; -1: never.
    int comeBackAfter = 1;
    int backIn = -1;
    UsbResult openResult = UsbResult::Ok;
    // The first transfer whose line starts with `faultOn` meets `fault` instead of the board.
    QString faultOn;
    Fault fault = Fault::Stall;
    QByteArray reply = QByteArray::fromHex("0fff");
};
