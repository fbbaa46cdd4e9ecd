#include "boardcore.h"
#include "support/fakeusb.h"
#include "usbboard.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <array>

// The USB board through a fake bus: what goes over USB, and what each failure reports.
using Fault = FakeUsbBus::Fault;
using namespace std::chrono_literals;
Q_DECLARE_METATYPE(BoardStatus)
Q_DECLARE_METATYPE(Fault)

namespace {

// 3 bytes at 0, then 0x00 to 0x4f at 0x100 in records of ten: chunks cut through records.
const QByteArray image = ":03000000020100FA\n:0A01000000010203040506070809C8\n"
                         ":0A010A000A0B0C0D0E0F101112135A\n:0A0114001415161718191A1B1C1DEC\n"
                         ":0A011E001E1F20212223242526277E\n:0A01280028292A2B2C2D2E2F303110\n"
                         ":0A01320032333435363738393A3BA2\n:0A013C003C3D3E3F40414243444534\n"
                         ":0A014600464748494A4B4C4D4E4FC6\n:00000001FF\n";

QString counting(int first, int count)
{
    QByteArray bytes;
    for (int i = first; i < first + count; ++i)
        bytes.append(char(i));
    return '[' + QString::fromLatin1(bytes.toHex(' ')) + ']';
}

struct Rig
{
    explicit Rig(int looks = 4)
        : core(BoardCore::withBackend(
                std::make_unique<UsbBoard>(bus.transport(), UsbBoard::ComeBack {looks, 0ms})))
    { }
    BoardStatus request(int code, std::uint8_t *buffer, int value = 0, int index = 0)
    {
        const auto *kind = BoardProtocol::findRequest(code);
        return core.vendorRequest({code, value, index, int(kind->direction), kind->length, buffer});
    }

    FakeUsbBus bus;
    BoardCore core;
};

} // namespace

class TestUsbBoard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void upload();
    void comeBack_data();
    void comeBack();
    void failures_data();
    void failures();
    void cablePulled();
    void retryClosesTheOldBoard();
    void standInRefused();
    void traceLines();
    void udevRule();

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
    Rig rig;
    QCOMPARE(rig.core.bringUp(m_image), BoardStatus::Ok);
    QCOMPARE(rig.bus.log,
             QStringList({"open 1.2", "claim 0", "40 a0 e600 0000 [01]",
                          "40 a0 0000 0000 [02 01 00]", "40 a0 0100 0000 " + counting(0, 64),
                          "40 a0 0140 0000 " + counting(64, 16), "40 a0 e600 0000 [00]",
                          "release 0", "close", "open 1.3", "claim 0"}));
    // The requests go to the board with its firmware; a board already running it is loaded too.
    std::uint8_t byte = 0;
    QCOMPARE(rig.request(0xDD, &byte, 0x8000, 0x18), BoardStatus::Ok);
    QCOMPARE(rig.bus.log.last(), "40 dd 8000 0018 []");
    rig.bus.log.clear();
    QCOMPARE(rig.core.bringUp(m_image), BoardStatus::Ok);
    QCOMPARE(rig.bus.log.mid(0, 5),
             QStringList({"release 0", "close", "open 1.3", "claim 0", "40 a0 e600 0000 [01]"}));
    QCOMPARE(rig.bus.log.last(2), QStringList({"open 1.4", "claim 0"}));
}

void TestUsbBoard::comeBack_data()
{
    QTest::addColumn<int>("after");
    QTest::addColumn<UsbResult>("reopen");
    QTest::addColumn<BoardStatus>("status");
    // The board gets four looks.
    QTest::newRow("back at the first look") << 1 << UsbResult::Ok << BoardStatus::Ok;
    QTest::newRow("back at the last look") << 4 << UsbResult::Ok << BoardStatus::Ok;
    QTest::newRow("one look too late") << 5 << UsbResult::Ok << BoardStatus::BoardNotBack;
    QTest::newRow("never back") << -1 << UsbResult::Ok << BoardStatus::BoardNotBack;
    QTest::newRow("back, not ours to open") << 2 << UsbResult::Access << BoardStatus::NoAccess;
}

void TestUsbBoard::comeBack()
{
    QFETCH(int, after);
    QFETCH(UsbResult, reopen);
    QFETCH(BoardStatus, status);
    Rig rig;
    rig.bus.comeBackAfter = after;
    std::int32_t found = 0, handle = 0;
    std::array<std::uint8_t, BoardCore::boardListBytes> list {};
    QCOMPARE(rig.core.searchForBoards(BoardProtocol::vendorId, BoardProtocol::productId, &found,
                                      list.data()),
             BoardStatus::Ok);
    QCOMPARE(rig.core.connect(BoardProtocol::vendorId, BoardProtocol::productId, list[0], &handle),
             BoardStatus::Ok);
    rig.bus.openResult = reopen;
    QCOMPARE(rig.core.downloadFirmware(handle, m_image), status);
    QCOMPARE(rig.bus.log.last(2),
             status == BoardStatus::Ok ? QStringList({"open 1.3", "claim 0"})
                                       : QStringList({"release 0", "close"}));
}

void TestUsbBoard::failures_data()
{
    QTest::addColumn<QString>("on"); // the start of the failing transfer's line, or "open"
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<UsbResult>("opened");
    QTest::addColumn<BoardStatus>("status");
    const auto row = [](const char *name, const char *on, Fault fault, BoardStatus status,
                        UsbResult opened = UsbResult::Ok) {
        QTest::newRow(name) << QString(on) << fault << opened << status;
    };
    using enum BoardStatus;
    row("open: no permission", "open", Fault::Failed, NoAccess, UsbResult::Access);
    row("open: held by another program", "open", Fault::Failed, BoardBusy, UsbResult::Busy);
    row("load: reset stalls", "40 a0 e600 0000 [01]", Fault::Stall, Stalled);
    row("load: chunk times out", "40 a0 0100", Fault::Timeout, TimedOut);
    row("load: short chunk", "40 a0 0140", Fault::Short, ShortTransfer);
    row("load: chunk fails", "40 a0 0000", Fault::Failed, RequestFailed);
    row("load: board gone", "40 a0 0000", Fault::Gone, BoardGone);
    row("load: board leaves as its CPU runs", "40 a0 e600 0000 [00]", Fault::Gone, Ok);
    row("load: release stalls", "40 a0 e600 0000 [00]", Fault::Stall, Stalled);
    row("read ADC in full", "", Fault::Stall, Ok);
    row("read ADC stalls", "c0 bb 0000 0000 2", Fault::Stall, Stalled);
    row("read ADC times out", "c0 bb", Fault::Timeout, TimedOut);
    row("read ADC short", "c0 bb", Fault::Short, ShortTransfer);
    row("read ADC fails", "c0 bb", Fault::Failed, RequestFailed);
    row("read ADC, board gone", "c0 bb", Fault::Gone, BoardGone);
    row("command word stalls", "40 dd 8000 0018 []", Fault::Stall, Stalled);
}

void TestUsbBoard::failures()
{
    QFETCH(QString, on);
    QFETCH(Fault, fault);
    QFETCH(UsbResult, opened);
    QFETCH(BoardStatus, status);
    Rig rig;
    const bool atBringUp = on.startsWith(u"open") || on.startsWith(u"40 a0");
    rig.bus.openResult = opened;
    rig.bus.faultOn = on == u"open" ? QString() : on;
    rig.bus.fault = fault;
    QCOMPARE(rig.core.bringUp(m_image), atBringUp ? status : BoardStatus::Ok);
    if (!atBringUp) {
        // One byte past the length, which nothing may write.
        std::array<std::uint8_t, 3> buffer {0x5A, 0x5A, 0x5A};
        const bool read = on.isEmpty() || on.startsWith(u"c0");
        QCOMPARE(rig.request(read ? 0xBB : 0xDD, buffer.data(), read ? 0 : 0x8000, read ? 0 : 0x18),
                 status);
        QCOMPARE(buffer,
                 status == BoardStatus::Ok ? (std::array<std::uint8_t, 3> {0x0F, 0xFF, 0x5A})
                                           : (std::array<std::uint8_t, 3> {0x5A, 0x5A, 0x5A}));
    }
    // Nothing goes over USB after a failed transfer.
    if (status != BoardStatus::Ok && !on.startsWith(u"open")) {
        QVERIFY(rig.bus.faultOn.isEmpty());
        QVERIFY(rig.bus.log.last().startsWith(on));
    }
}

void TestUsbBoard::cablePulled()
{
    Rig rig;
    QCOMPARE(rig.core.bringUp(m_image), BoardStatus::Ok);
    std::array<std::uint8_t, 2> buffer {0x5A, 0x5A};
    QCOMPARE(rig.request(0xBB, buffer.data()), BoardStatus::Ok);
    rig.bus.unplug();
    buffer = {0x5A, 0x5A};
    for (int code : {0xBB, 0xE0, 0xBB})
        QCOMPARE(rig.request(code, buffer.data()), BoardStatus::BoardGone);
    QCOMPARE(buffer, (std::array<std::uint8_t, 2> {0x5A, 0x5A}));
    rig.bus.log.clear();
    QCOMPARE(rig.core.bringUp(m_image), BoardStatus::NoBoard);
    QCOMPARE(rig.bus.log, QStringList({"release 0", "close"}));
    rig.bus.plug();
    QCOMPARE(rig.core.bringUp(m_image), BoardStatus::Ok);
    QCOMPARE(rig.request(0xBB, buffer.data()), BoardStatus::Ok);
}

// Each search and each connect lets go of what the last one opened; so does a fresh core.
void TestUsbBoard::retryClosesTheOldBoard()
{
    Rig rig;
    const auto attempt = [&](bool search) {
        std::int32_t found = 0, handle = 0;
        std::array<std::uint8_t, BoardCore::boardListBytes> list {1};
        if (search)
            rig.core.searchForBoards(BoardProtocol::vendorId, BoardProtocol::productId, &found,
                                     list.data());
        rig.core.connect(BoardProtocol::vendorId, BoardProtocol::productId, list[0], &handle);
        return rig.core.downloadFirmware(handle, "/nonexistent/TX4413.hex");
    };
    QCOMPARE(attempt(true), BoardStatus::FirmwareMissing);
    QCOMPARE(attempt(true), BoardStatus::FirmwareMissing);
    QCOMPARE(attempt(false), BoardStatus::FirmwareMissing);
    QCOMPARE(rig.core.bringUp("/nonexistent/TX4413.hex"), BoardStatus::FirmwareMissing);
    rig.core = BoardCore::simulated();
    const QStringList once {"open 1.2", "claim 0", "release 0", "close"};
    QCOMPARE(rig.bus.log, once + once + once + once);
}

void TestUsbBoard::standInRefused()
{
    Rig rig;
    QCOMPARE(rig.core.bringUp(TX4410_FIRMWARE_SOURCE), BoardStatus::StandInFirmware);
    QCOMPARE(rig.bus.log, QStringList({"open 1.2", "claim 0"}));
}

void TestUsbBoard::traceLines()
{
    const QString file = m_dir.filePath("trace.log");
    qputenv("TX4410_BOARD_TRACE", file.toLocal8Bit());
    Rig rig(1);
    rig.bus.comeBackAfter = -1;
    QCOMPARE(rig.core.bringUp(m_image), BoardStatus::BoardNotBack);
    rig.bus.plug(FakeUsbBus::firmware);
    rig.bus.comeBackAfter = 1;
    rig.bus.faultOn = "c0";
    QCOMPARE(rig.core.bringUp(m_image), BoardStatus::Ok);
    std::array<std::uint8_t, 2> buffer {};
    QCOMPARE(rig.request(0xBB, buffer.data()), BoardStatus::Stalled);
    QCOMPARE(rig.request(0xBB, buffer.data()), BoardStatus::Ok);
    qunsetenv("TX4410_BOARD_TRACE");
    QFile trace(file);
    QVERIFY(trace.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(trace.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2 * 5 + 2);
    const QString read
            = "ControlTransfer requestType=0xc0 request=0xbb value=0x0 index=0x0 length=2 ";
    QCOMPARE(lines.first(),
             "ControlTransfer requestType=0x40 request=0xa0 value=0xe600 index=0x0 "
             "length=1 data=[01] transferred=1 status=0");
    QCOMPARE(lines.last(2),
             QStringList({read + "data=[] transferred=0 status=21",
                          read + "data=[0f ff] transferred=2 status=0"}));
}

void TestUsbBoard::udevRule()
{
    QFile file(TX4410_UDEV_RULE);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString rule = QString::fromLatin1(file.readAll());
    for (const UsbIdentity identity : {UsbBoard::loaderIdentity, UsbBoard::firmwareIdentity}) {
        QVERIFY(rule.contains(QString::asprintf(
                R"(ATTR{idVendor}=="%04x", ATTR{idProduct}=="%04x", TAG+="uaccess")",
                identity.vendorId, identity.productId)));
    }
}

QTEST_APPLESS_MAIN(TestUsbBoard)
#include "tst_usbboard.moc"
