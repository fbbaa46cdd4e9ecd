#include "boardlibrary.h"
#include "fakeboardclient.h"
#include "usbstuffboardport.h"
#include "usbstufffourfunction.h"

#include <QCoreApplication>
#include <QTest>

#include <memory>

namespace {

// The fake libraries' folder comes from the build; the fake two-function library is found by
// its real bare name because the test runs with that folder in LD_LIBRARY_PATH.
const QByteArray fakeUsb4Path = TX4410_FAKES_DIR "/libfakeusb4.so";
const QByteArray fakeBoardPortPath = TX4410_FAKES_DIR "/libBoardPort.so";

QString pathOf(const USBStuff &usb)
{
    return QString::fromLocal8Bit(reinterpret_cast<const char *>(usb.pathBuffer().data()));
}

} // namespace

class tst_USBStuff : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void pathBufferHoldsBytesAndTerminator_data();
    void pathBufferHoldsBytesAndTerminator();
    void pathBufferRefusesTooLongPath();

    void fourFunctionAttemptCallsInOrder();
    void fourFunctionNoBoardStillConnectsAndLoads();
    void boardPortAttemptIsOneLoad();
    void successRule_data();
    void successRule();

    void missingLibraryNamesPathAndReason();
    void missingFunctionNamesIt();

private:
    FakeBoardClient m_fakeUsb4 {fakeUsb4Path};
    FakeBoardClient m_fakeBoardPort {fakeBoardPortPath};
};

void tst_USBStuff::init()
{
    m_fakeUsb4.reset();
    m_fakeBoardPort.reset();
}

void tst_USBStuff::pathBufferHoldsBytesAndTerminator_data()
{
    QTest::addColumn<QString>("path");

    QTest::newRow("program folder") << QStringLiteral("/opt/eval/TX4413.hex");
    QTest::newRow("empty") << QString();
    QTest::newRow("exactly 512 bytes") << QString(512, QLatin1Char('p'));
    QTest::newRow("blanks kept") << QStringLiteral("/home/bench user/TX4413.hex");
    QTest::newRow("non-ASCII as local bytes") << QStringLiteral("/home/j\u00fcrgen/TX4413.hex");
}

void tst_USBStuff::pathBufferHoldsBytesAndTerminator()
{
    QFETCH(QString, path);

    USBStuffFourFunction usb(fakeUsb4Path);
    usb.SetFirmwarePath(path);

    const QByteArray expected = path.toLocal8Bit();
    const auto &buffer = usb.pathBuffer();
    for (qsizetype i = 0; i < expected.size(); ++i)
        QCOMPARE(buffer[i], std::uint8_t(expected[i]));
    QCOMPARE(buffer[expected.size()], std::uint8_t(0));
}

void tst_USBStuff::pathBufferRefusesTooLongPath()
{
    USBStuffFourFunction usb(fakeUsb4Path);
    usb.SetFirmwarePath(QStringLiteral("/short/TX4413.hex"));
    const auto before = usb.pathBuffer();

    QVERIFY_THROWS_EXCEPTION(FirmwarePathTooLong,
                             usb.SetFirmwarePath(QString(513, QLatin1Char('p'))));
    QVERIFY(usb.pathBuffer() == before);
    // Two bytes a character: 257 characters are 514 bytes.
    QVERIFY_THROWS_EXCEPTION(FirmwarePathTooLong, usb.SetFirmwarePath(QString(257, QChar(0x00e9))));
    QVERIFY(usb.pathBuffer() == before);
}

void tst_USBStuff::fourFunctionAttemptCallsInOrder()
{
    m_fakeUsb4.setBoardFound(3, 1);
    USBStuffFourFunction usb(fakeUsb4Path);
    // Every attempt stores the program's own firmware path again.
    usb.SetFirmwarePath(QStringLiteral("/somewhere/else.hex"));

    QCOMPARE(usb.InitialiseBoard(), 0);
    QCOMPARE(usb.InitialiseBoard(), 0);
    QCOMPARE(usb.boardHandle(), 77);
    const QString path = USBStuff::firmwarePath();
    const QStringList attempt {
            "Search_For_Boards vendorId=0x6666 productId=0x4410 found=0 boardList[0]=0",
            "Connect vendorId=0x6666 productId=0x4410 board=3",
            "Download_Firmware handle=77 path=" + path};
    QCOMPARE(m_fakeUsb4.log(), attempt + attempt);
    QCOMPARE(pathOf(usb), path);
}

void tst_USBStuff::fourFunctionNoBoardStillConnectsAndLoads()
{
    m_fakeUsb4.setBoardFound(0, 0);
    m_fakeUsb4.setLoadStatus(-3);
    USBStuffFourFunction usb(fakeUsb4Path);

    const std::int16_t status = usb.InitialiseBoard();
    QCOMPARE(status, -3);
    QVERIFY(!usb.isBoardUp(status));
    const QStringList log = m_fakeUsb4.log();
    QCOMPARE(log.size(), 3);
    QCOMPARE(log[1], "Connect vendorId=0x6666 productId=0x4410 board=0");
    QVERIFY(log[2].startsWith("Download_Firmware "));
}

void tst_USBStuff::boardPortAttemptIsOneLoad()
{
    USBStuffBoardPort usb("BoardPort");
    usb.SetFirmwarePath(QStringLiteral("/bench/TX4413.hex"));

    QCOMPARE(usb.InitialiseBoard(), 0);
    QCOMPARE(usb.InitialiseBoard(), 0);
    QCOMPARE(m_fakeBoardPort.log(),
             QStringList({"LoadFirmWare path=/bench/TX4413.hex",
                          "LoadFirmWare path=/bench/TX4413.hex"}));
    QCOMPARE(m_fakeUsb4.log(), QStringList());
    QCOMPARE(usb.boardHandle(), 0);
}

void tst_USBStuff::successRule_data()
{
    QTest::addColumn<bool>("boardPort");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("up");

    QTest::newRow("four-function 0") << false << 0 << true;
    QTest::newRow("four-function 1") << false << 1 << false;
    QTest::newRow("four-function -1") << false << -1 << false;
    QTest::newRow("BoardPort 0") << true << 0 << true;
    QTest::newRow("BoardPort 1") << true << 1 << true;
    QTest::newRow("BoardPort 32767") << true << 32767 << true;
    QTest::newRow("BoardPort -1") << true << -1 << false;
}

void tst_USBStuff::successRule()
{
    QFETCH(bool, boardPort);
    QFETCH(int, status);
    QFETCH(bool, up);

    std::unique_ptr<USBStuff> usb;
    if (boardPort) {
        m_fakeBoardPort.setLoadStatus(std::int16_t(status));
        usb = std::make_unique<USBStuffBoardPort>("BoardPort");
    } else {
        m_fakeUsb4.setLoadStatus(std::int16_t(status));
        usb = std::make_unique<USBStuffFourFunction>(fakeUsb4Path);
    }
    const std::int16_t returned = usb->InitialiseBoard();
    QCOMPARE(returned, status);
    QCOMPARE(usb->isBoardUp(returned), up);
}

void tst_USBStuff::missingLibraryNamesPathAndReason()
{
    USBStuffFourFunction usb("/nonexistent/libKVN_CYUSB_USB4.so");
    try {
        usb.InitialiseBoard();
        QFAIL("a missing library was bound");
    } catch (const BoardLibraryError &error) {
        QVERIFY2(error.message().contains("/nonexistent/libKVN_CYUSB_USB4.so"),
                 qPrintable(error.message()));
        QVERIFY2(error.message().contains("No such file"), qPrintable(error.message()));
    }

    USBStuffBoardPort boardPort("NoSuchBoardLibrary");
    QVERIFY_THROWS_EXCEPTION(BoardLibraryError, boardPort.InitialiseBoard());
}

void tst_USBStuff::missingFunctionNamesIt()
{
    // The two-function fake lacks every four-function symbol.
    USBStuffFourFunction usb(fakeBoardPortPath);
    try {
        usb.InitialiseBoard();
        QFAIL("a missing function was bound");
    } catch (const BoardLibraryError &error) {
        QVERIFY2(error.message().contains("Search_For_Boards"), qPrintable(error.message()));
        QVERIFY2(error.message().contains(QString::fromUtf8(fakeBoardPortPath)),
                 qPrintable(error.message()));
    }
    QCOMPARE(m_fakeBoardPort.log(), QStringList());

    // The request function is bound on its own first use.
    USBStuffBoardPort boardPort("fakeusb4");
    std::uint8_t buffer[1] = {};
    QVERIFY_THROWS_EXCEPTION(BoardLibraryError,
                             boardPort.VendorRequest(VendorRequestFields {0xDD}, buffer));
}

QTEST_GUILESS_MAIN(tst_USBStuff)
#include "tst_usbstuff.moc"
