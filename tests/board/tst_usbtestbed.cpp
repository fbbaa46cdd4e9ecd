#include "boardfaces.h"
#include "boardstatus.h"
#include "support/simulatedboardcontrol.h"
#include "support/usbtestbed.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <memory>

// Both board libraries on the USB board, through libusb, to a board in a umockdev testbed.
using Fault = UsbTestbed::Fault;
using Buffer = std::array<std::uint8_t, 3>; // one byte past the longest request
Q_DECLARE_METATYPE(Fault)

class TestUsbTestbed : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void requests_data();
    void requests();
    void failures_data();
    void failures();
    void trace();
    void cablePulled();
    void cleanupTestCase();

private:
    // One bring-up as the program makes it; LoadFirmWare's status negated.
    int bringUp(bool boardPort);
    int request(bool boardPort, QList<int> fields, Buffer &buffer);

    std::unique_ptr<SimulatedBoardControl> m_usb4, m_boardPort;
    QTemporaryDir m_dir;
    QByteArray m_image;
    std::int32_t m_handle = 0;
    std::unique_ptr<UsbTestbed> m_testbed;
};

void TestUsbTestbed::initTestCase()
{
    qunsetenv("TX4410_BOARD");
    qunsetenv("TX4410_BOARD_TRACE");
    m_testbed = std::make_unique<UsbTestbed>();
    m_usb4 = std::make_unique<SimulatedBoardControl>(TX4410_USB4_LIBRARY_FILE);
    m_boardPort = std::make_unique<SimulatedBoardControl>(TX4410_BOARDPORT_LIBRARY_FILE);
    m_image = m_dir.filePath("image.hex").toLocal8Bit();
    QFile file(QString::fromLocal8Bit(m_image));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write(":03000000020100FA\n:00000001FF\n") > 0);
}

int TestUsbTestbed::bringUp(bool boardPort)
{
    if (boardPort)
        return -m_boardPort->function<LoadFirmWareFunction>(BoardFaces::loadFirmWareSymbol)(
                m_image.data());
    // The first failure of the three.
    std::int32_t found = 0;
    std::array<std::uint8_t, 128> list {};
    auto *path = reinterpret_cast<std::uint8_t *>(m_image.data());
    if (const int status = m_usb4->function<SearchForBoardsFunction>(
                BoardFaces::searchForBoardsSymbol)(0x6666, 0x4410, &found, list.data()))
        return status;
    if (const int status = m_usb4->function<ConnectFunction>(BoardFaces::connectSymbol)(
                0x6666, 0x4410, list[0], &m_handle))
        return status;
    return m_usb4->function<DownloadFirmwareFunction>(BoardFaces::downloadFirmwareSymbol)(m_handle,
                                                                                          path);
}

int TestUsbTestbed::request(bool boardPort, QList<int> f, Buffer &buffer)
{
    if (boardPort)
        return m_boardPort->function<VendorIORequestFunction>(BoardFaces::vendorIORequestSymbol)(
                short(f[0]), f[1], f[2], short(f[3]), short(f[4]),
                reinterpret_cast<char *>(buffer.data()));
    return m_usb4->function<VendorRequestFunction>(BoardFaces::vendorRequestSymbol)(
            m_handle, std::uint8_t(f[0]), f[1], f[2], std::uint8_t(f[3]), std::int16_t(f[4]),
            buffer.data());
}

void TestUsbTestbed::requests_data()
{
    QTest::addColumn<bool>("boardPort");
    QTest::addColumn<QList<int>>("fields"); // code, value, index, direction, length
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QByteArray>("read");
    for (const bool boardPort : {false, true}) {
        const auto row = [&](const char *name, const QList<int> &fields, const char *setup,
                             const QByteArray &read = QByteArray(1, 0)) {
            QTest::addRow("%s, %s", boardPort ? "BoardPort" : "four-function", name)
                    << boardPort << fields << QString(setup) << read;
        };
        row("command word 0x19ffff", {0xDD, 0xFFFF, 0x19, 0, 0}, "40 dd ffff 0019 []");
        row("mux on H", {0xCC, 128, 0, 0, 0}, "40 cc 0080 0000 []");
        row("read ADC", {0xBB, 0, 0, 1, 2}, "c0 bb 0000 0000 2", QByteArray::fromHex("0fff"));
        row("CLR low", {0xE0, 0, 0, 0, 0}, "40 e0 0000 0000 []");
        row("CLR high", {0xE1, 0, 0, 0, 0}, "40 e1 0000 0000 []");
        row("LDAC low", {0xF0, 0, 0, 0, 0}, "40 f0 0000 0000 []");
        row("LDAC high", {0xF1, 0, 0, 0, 0}, "40 f1 0000 0000 []");
    }
}

void TestUsbTestbed::requests()
{
    QFETCH(bool, boardPort);
    QFETCH(QList<int>, fields);
    QFETCH(QString, setup);
    QFETCH(QByteArray, read);
    m_testbed->setReply(QByteArray::fromHex("0fff"));
    QCOMPARE(bringUp(boardPort), 0);
    QCOMPARE(m_testbed->takeLog().last(3),
             QStringList({"40 a0 e600 0000 [01]", "40 a0 0000 0000 [02 01 00]",
                          "40 a0 e600 0000 [00]"}));
    Buffer buffer {};
    QCOMPARE(request(boardPort, fields, buffer), 0);
    QCOMPARE(m_testbed->takeLog(), QStringList {setup});
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer.data()), read.size()), read);
    QCOMPARE(buffer[2], 0);
}

void TestUsbTestbed::failures_data()
{
    QTest::addColumn<bool>("boardPort");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("status");
    for (const bool boardPort : {false, true}) {
        const auto row = [&](const char *name, Fault fault, BoardStatus status) {
            QTest::addRow("%s, %s", boardPort ? "BoardPort" : "four-function", name)
                    << boardPort << fault << int(statusCode(status));
        };
        row("stall", Fault::Stall, BoardStatus::Stalled);
        row("short", Fault::Short, BoardStatus::ShortTransfer);
        row("timeout", Fault::Timeout, BoardStatus::TimedOut);
        row("protocol error", Fault::Failed, BoardStatus::RequestFailed);
        row("interface held elsewhere", Fault::Busy, BoardStatus::BoardBusy);
    }
}

void TestUsbTestbed::failures()
{
    QFETCH(bool, boardPort);
    QFETCH(Fault, fault);
    QFETCH(int, status);
    m_testbed->setReply(QByteArray::fromHex("0fff"));
    const bool atClaim = fault == Fault::Busy;
    if (atClaim)
        m_testbed->setFault(fault);
    QCOMPARE(bringUp(boardPort), atClaim ? status : 0);
    m_testbed->setFault(fault);
    Buffer buffer {0x5A, 0x5A, 0x5A};
    if (!atClaim)
        QCOMPARE(request(boardPort, {0xBB, 0, 0, 1, 2}, buffer), status);
    m_testbed->setFault(Fault::None);
    QCOMPARE(buffer, (Buffer {0x5A, 0x5A, 0x5A}));
}

// The libraries' own lines for the USB board, and one per control transfer before them.
void TestUsbTestbed::trace()
{
    const QString file = m_dir.filePath("trace.log");
    qputenv("TX4410_BOARD_TRACE", file.toLocal8Bit());
    m_testbed->setReply(QByteArray::fromHex("0fff"));
    QCOMPARE(bringUp(false), 0);
    Buffer buffer {};
    QCOMPARE(request(false, {0xBB, 0, 0, 1, 2}, buffer), 0);
    qunsetenv("TX4410_BOARD_TRACE");
    QFile trace(file);
    QVERIFY(trace.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(trace.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2 + 3 + 1 + 2);
    QCOMPARE(lines[0],
             "Search_For_Boards vendorId=0x6666 productId=0x4410 found=1 boardList=[01] status=0");
    QCOMPARE(lines[2],
             "ControlTransfer requestType=0x40 request=0xa0 value=0xe600 index=0x0 length=1 "
             "data=[01] transferred=1 status=0");
    QVERIFY(lines[5].startsWith("Download_Firmware "));
    QCOMPARE(lines[6],
             "ControlTransfer requestType=0xc0 request=0xbb value=0x0 index=0x0 length=2 "
             "data=[0f ff] transferred=2 status=0");
    QVERIFY(lines[7].startsWith("Vendor_Request ")
            && lines[7].endsWith(" buffer=[0f ff] status=0"));
}

// Last: the board stays unplugged.
void TestUsbTestbed::cablePulled()
{
    for (const bool boardPort : {false, true})
        QCOMPARE(bringUp(boardPort), 0);
    m_testbed->unplug();
    for (const bool boardPort : {false, true}) {
        Buffer buffer {0x5A, 0x5A, 0x5A};
        QCOMPARE(request(boardPort, {0xBB, 0, 0, 1, 2}, buffer),
                 statusCode(BoardStatus::BoardGone));
        QCOMPARE(request(boardPort, {0xE0, 0, 0, 0, 0}, buffer),
                 statusCode(BoardStatus::BoardGone));
        QCOMPARE(buffer, (Buffer {0x5A, 0x5A, 0x5A}));
        QCOMPARE(bringUp(boardPort), statusCode(BoardStatus::NoBoard));
    }
}

// The libraries let go of the board while the testbed still answers.
void TestUsbTestbed::cleanupTestCase()
{
    qputenv("TX4410_BOARD", "sim");
    QCOMPARE(m_usb4->reset(), 0);
    QCOMPARE(m_boardPort->reset(), 0);
}

QTEST_APPLESS_MAIN(TestUsbTestbed)
#include "tst_usbtestbed.moc"
