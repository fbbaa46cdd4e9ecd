#include "boardcore.h"
#include "support/fakeusb.h"
#include "usbboard.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <array>

// The USB board through a fake bus: what goes over USB, and what each failure reports.
using Fault = FakeUsbBus::Fault;
using Buffer = std::array<std::uint8_t, 3>; // one byte past the read's two
Q_DECLARE_METATYPE(BoardStatus)
Q_DECLARE_METATYPE(Fault)

namespace {

constexpr Buffer untouched {0x5A, 0x5A, 0x5A};

// 3 bytes at 0, then 0x00 to 0x4f at 0x100 in records of ten: chunks cut through records.
const QByteArray image = ":03000000020100FA\n:0A01000000010203040506070809C8\n"
                         ":0A010A000A0B0C0D0E0F101112135A\n:0A0114001415161718191A1B1C1DEC\n"
                         ":0A011E001E1F20212223242526277E\n:0A01280028292A2B2C2D2E2F303110\n"
                         ":0A01320032333435363738393A3BA2\n:0A013C003C3D3E3F40414243444534\n"
                         ":0A014600464748494A4B4C4D4E4FC6\n:00000001FF\n";

// The board gets four looks to come back.
struct Rig
{
    BoardStatus request(int code, Buffer &buffer)
    {
        const auto *kind = BoardProtocol::findRequest(code);
        return core.vendorRequest({code, 0, 0, int(kind->direction), kind->length, buffer.data()});
    }

    QStringList log;
    std::unique_ptr<FakeUsbBus> owned = std::make_unique<FakeUsbBus>(log);
    FakeUsbBus &bus = *owned; // the USB board's own
    BoardCore core = BoardCore::withBackend(
            std::make_unique<UsbBoard>(std::move(owned), UsbBoard::ComeBack {4, {}}));
};

} // namespace

class TestUsbBoard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void upload();
    void failures_data();
    void failures();
    void cablePulledAndRetry();
    void standInRefused();
    void traceLines();

private:
    QTemporaryDir m_dir;
    QByteArray m_image;
};

void TestUsbBoard::initTestCase()
{
    m_image = m_dir.filePath("image.hex").toLocal8Bit();
    QFile file(QString::fromLocal8Bit(m_image));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(image), image.size());
}

void TestUsbBoard::upload()
{
    QString chunks[2];
    for (int i = 0; i < 80; ++i)
        chunks[i / 64] += QString::asprintf(i % 64 ? " %02x" : "%02x", i);
    Rig rig;
    QCOMPARE(rig.core.bringUp(m_image), BoardStatus::Ok);
    QCOMPARE(rig.log,
             QStringList({"open 1.2", "claim 0", "40 a0 e600 0000 [01]",
                          "40 a0 0000 0000 [02 01 00]", "40 a0 0100 0000 [" + chunks[0] + ']',
                          "40 a0 0140 0000 [" + chunks[1] + ']', "40 a0 e600 0000 [00]",
                          "release 0", "close", "open 1.3", "claim 0"}));
    // A board that runs the firmware already is loaded again, and comes back anew.
    rig.log.clear();
    QCOMPARE(rig.core.bringUp(m_image), BoardStatus::Ok);
    QCOMPARE(rig.log.mid(0, 5),
             QStringList({"release 0", "close", "open 1.3", "claim 0", "40 a0 e600 0000 [01]"}));
    QCOMPARE(rig.log.last(2), QStringList({"open 1.4", "claim 0"}));
}

void TestUsbBoard::failures_data()
{
    QTest::addColumn<int>("after");
    QTest::addColumn<QString>("on");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<BoardStatus>("bringUp");
    QTest::addColumn<BoardStatus>("read");
    using enum BoardStatus;
    const auto row = [](const char *name, int after, const char *on, Fault fault,
                        BoardStatus bringUp, BoardStatus read = Ok) {
        QTest::newRow(name) << after << QString(on) << fault << bringUp << read;
    };
    row("read in full", 1, "", Fault::Stall, Ok);
    row("back at the last look", 4, "", Fault::Stall, Ok);
    row("one look too late", 5, "", Fault::Stall, BoardNotBack);
    row("never back", -1, "", Fault::Stall, BoardNotBack);
    row("back, not ours to open", 1, "open 1.3", Fault::Access, NoAccess);
    row("no permission", 1, "open 1.2", Fault::Access, NoAccess);
    row("interface held elsewhere", 1, "claim", Fault::Busy, BoardBusy);
    row("reset stalls", 1, "40 a0 e600 0000 [01]", Fault::Stall, Stalled);
    row("chunk times out", 1, "40 a0 0100", Fault::Timeout, TimedOut);
    row("short chunk", 1, "40 a0 0140", Fault::Short, ShortTransfer);
    row("chunk fails", 1, "40 a0 0000", Fault::Failed, RequestFailed);
    row("board gone while loading", 1, "40 a0 0000", Fault::Gone, BoardGone);
    row("board leaves as its CPU runs", 1, "40 a0 e600 0000 [00]", Fault::Gone, Ok);
    // Letting the CPU run may end in any error: whether the board comes back decides.
    row("run write stalls, back", 1, "40 a0 e600 0000 [00]", Fault::Stall, Ok);
    row("run write times out, back", 1, "40 a0 e600 0000 [00]", Fault::Timeout, Ok);
    row("run write fails, never back", -1, "40 a0 e600 0000 [00]", Fault::Failed, BoardNotBack);
    row("read stalls", 1, "c0 bb 0000 0000 2", Fault::Stall, Ok, Stalled);
    row("short read", 1, "c0", Fault::Short, Ok, ShortTransfer);
}

void TestUsbBoard::failures()
{
    QFETCH(int, after);
    QFETCH(QString, on);
    QFETCH(Fault, fault);
    QFETCH(BoardStatus, bringUp);
    QFETCH(BoardStatus, read);
    Rig rig;
    rig.bus.comeBackAfter = after;
    rig.bus.faultOn = on;
    rig.bus.fault = fault;
    QCOMPARE(rig.core.bringUp(m_image), bringUp);
    if (bringUp == BoardStatus::Ok) {
        Buffer buffer = untouched;
        QCOMPARE(rig.request(0xBB, buffer), read);
        QCOMPARE(buffer, read == BoardStatus::Ok ? (Buffer {0x0F, 0xFF, 0x5A}) : untouched);
    }
    // Nothing goes over USB after a failure, though the board may be let go.
    QStringList log = rig.log;
    log.removeIf([](const QString &line) { return line == u"release 0" || line == u"close"; });
    if (!on.isEmpty() && (bringUp != BoardStatus::Ok || read != BoardStatus::Ok))
        QVERIFY2(log.last().startsWith(on), qPrintable(log.join(u'\n')));
}

// Each bring-up attempt, each connect and a fresh core let go of what was opened before.
void TestUsbBoard::cablePulledAndRetry()
{
    Rig rig;
    QCOMPARE(rig.core.bringUp(m_image), BoardStatus::Ok);
    rig.bus.present = false;
    Buffer buffer = untouched;
    for (const int code : {0xBB, 0xE0, 0xBB})
        QCOMPARE(rig.request(code, buffer), BoardStatus::BoardGone);
    QCOMPARE(buffer, untouched);
    rig.log.clear();
    // The four-function form loads regardless; the load says why no board was opened.
    std::int32_t found = 0, handle = 0;
    std::array<std::uint8_t, BoardCore::boardListBytes> list {};
    rig.core.searchForBoards(0x6666, 0x4410, &found, list.data());
    rig.core.connect(0x6666, 0x4410, list[0], &handle);
    QCOMPARE(rig.core.downloadFirmware(handle, m_image), BoardStatus::NoBoard);
    rig.bus.plug();
    QCOMPARE(rig.core.bringUp("/nonexistent/TX4413.hex"), BoardStatus::FirmwareMissing);
    QCOMPARE(rig.core.connect(0x6666, 0x4410, 1, &handle), BoardStatus::Ok);
    rig.core = BoardCore::simulated();
    const QStringList once {"open 1.4", "claim 0", "release 0", "close"};
    QCOMPARE(rig.log, QStringList({"release 0", "close"}) + once + once);
}

void TestUsbBoard::standInRefused()
{
    Rig rig;
    QCOMPARE(rig.core.bringUp(TX4410_FIRMWARE_SOURCE), BoardStatus::StandInFirmware);
    QCOMPARE(rig.log, QStringList({"open 1.2", "claim 0"}));
}

void TestUsbBoard::traceLines()
{
    const QString file = m_dir.filePath("trace.log");
    qputenv("TX4410_BOARD_TRACE", file.toLocal8Bit());
    Rig rig;
    rig.bus.faultOn = "c0";
    Buffer buffer {};
    QVERIFY(rig.core.bringUp(m_image) == BoardStatus::Ok
            && rig.request(0xBB, buffer) == BoardStatus::Stalled);
    qunsetenv("TX4410_BOARD_TRACE");
    QFile trace(file);
    QVERIFY(trace.open(QIODevice::ReadOnly));
    QCOMPARE(trace.readAll().split('\n').mid(5), // the upload's five, then the read's own
             QByteArrayList({"ControlTransfer requestType=0xc0 request=0xbb value=0x0 index=0x0 "
                             "length=2 data=[] transferred=0 status=21",
                             ""}));
}

QTEST_APPLESS_MAIN(TestUsbBoard)
#include "tst_usbboard.moc"
