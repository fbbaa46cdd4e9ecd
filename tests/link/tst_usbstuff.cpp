#include "boardlibrary.h"
#include "statusreason.h"
#include "support/boardtrace.h"
#include "support/simulatedboardcontrol.h"
#include "usbstuffboardport.h"
#include "usbstufffourfunction.h"

#include <QTemporaryDir>
#include <QTest>

// The path buffer, binding and one bring-up attempt of each form, by the calls the board traces.
class tst_USBStuff : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const QString m_trace = m_dir.filePath("trace");
    SimulatedBoardControl m_usb4 {TX4410_USB4_LIBRARY};

    QStringList calls() const
    {
        QStringList lines;
        for (const TraceRecord &call : readTrace(m_trace))
            lines << call.function + ' ' + call.fields + ' ' + QString::number(call.status);
        return lines;
    }

private slots:
    void init()
    {
        qputenv("TX4410_BOARD_TRACE", QFile::encodeName(m_trace));
        QFile::remove(m_trace);
        QCOMPARE(m_usb4.reset(), 0);
    }

    void pathBuffer_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("empty") << "";
        QTest::newRow("exactly 512 bytes") << QString(512, u'p');
        QTest::newRow("non-ASCII as local bytes") << "/home/j\u00fcrgen/TX4413.hex";
    }

    // Bytes and a terminator, the rest kept; beyond 512 bytes, not characters, left alone.
    void pathBuffer()
    {
        QFETCH(QString, path);
        USBStuffFourFunction usb(TX4410_USB4_LIBRARY);
        usb.SetFirmwarePath(QString(512, u'x'));
        usb.SetFirmwarePath(path);
        QVERIFY_THROWS_EXCEPTION(FirmwarePathTooLong,
                                 usb.SetFirmwarePath(path + QString(513, u'p')));
        QVERIFY_THROWS_EXCEPTION(FirmwarePathTooLong, usb.SetFirmwarePath(QString(257, u'\u00e9')));
        QByteArray expected = QByteArray(512, 'x') + '\0';
        expected.replace(0, path.toLocal8Bit().size() + 1, path.toLocal8Bit() + '\0');
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(usb.pathBuffer().data()), 513),
                 expected);
    }

    void reasons_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("reason");
        QTest::newRow("meaning, detail, fix")
                << 28 << "no board at port 1-9; none on the bus"
                << "no board at the chosen port (no board at port 1-9; none on the bus). Fix: "
                   "choose a port that 'tx4410-cli list' shows (--board, TX4410_BOARD_PORT) "
                   "[status 28, PortNotFound]";
        QTest::newRow("no fix to give") << 8 << ""
                                        << "a request code the firmware does not know "
                                           "[status 8, UnknownRequest]";
        QTest::newRow("no such status") << 99 << "x"
                                        << "the board library failed with status 99, which it "
                                           "does not explain";
    }

    // A status for a person: no empty fix, no detail in brackets that is not there.
    void reasons()
    {
        QFETCH(int, status);
        QFETCH(QString, detail);
        QTEST(statusReason(status, detail), "reason");
    }

    // Search, connect, the program's own path stored again, load; only the load's status tells.
    void attempts()
    {
        const QString ids = "vendorId=0x6666 productId=0x4410 ", path = USBStuff::firmwarePath();
        QCOMPARE(m_usb4.setAbsentAttempts(1), 0);
        USBStuffFourFunction usb(TX4410_USB4_LIBRARY);
        usb.SetFirmwarePath("/somewhere/else.hex");
        QVERIFY(!usb.isBoardUp(usb.InitialiseBoard()));
        QVERIFY(usb.isBoardUp(usb.InitialiseBoard()) && usb.boardHandle() == 0x44100001);
        USBStuffBoardPort port("BoardPort");
        port.SetFirmwarePath("/bench/TX4413.hex");
        QVERIFY(!port.isBoardUp(port.InitialiseBoard()) && port.boardHandle() == 0);
        QCOMPARE(calls(),
                 QStringList({"Search_For_Boards " + ids + "found=0 boardList=[00] 1",
                              "Connect " + ids + "board=0 handle=0x0 1",
                              "Download_Firmware handle=0x0 path=\"" + path + "\" 1",
                              "Search_For_Boards " + ids + "found=1 boardList=[01] 0",
                              "Connect " + ids + "board=1 handle=0x44100001 0",
                              "Download_Firmware handle=0x44100001 path=\"" + path + "\" 0",
                              "LoadFirmWare path=\"/bench/TX4413.hex\" -5"}));
        // The request function is bound on its own first use.
        std::uint8_t buffer[1] = {};
        USBStuffBoardPort lacking("KVN_CYUSB_USB4");
        QVERIFY_THROWS_EXCEPTION(BoardLibraryError, lacking.VendorRequest({0xDD}, buffer));
        // A four-function load succeeds with 0 only, a BoardPort load with anything not negative.
        QVERIFY(!usb.isBoardUp(1) && port.isBoardUp(1) && port.isBoardUp(0) && !port.isBoardUp(-1));
    }
};

QTEST_GUILESS_MAIN(tst_USBStuff)
#include "tst_usbstuff.moc"
