#include "errorbox.h"
#include "fakeboardclient.h"
#include "messageboxanswerer.h"
#include "tx4418.h"
#include "usbstuffboardport.h"
#include "usbstufffourfunction.h"

#include <QTest>

#include <functional>
#include <memory>

namespace {

const QByteArray fakeUsb4Path = TX4410_FAKES_DIR "/libfakeusb4.so";
const QByteArray fakeBoardPortPath = TX4410_FAKES_DIR "/libBoardPort.so";

using Operation = std::function<void(TX4418 &)>;

} // namespace

Q_DECLARE_METATYPE(Operation)

// Each operation through both library forms, checked by what reached the library.
class tst_TX4418 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void requestFields_data();
    void requestFields();
    void readReturnsReplyHighByteFirst_data();
    void readReturnsReplyHighByteFirst();
    void failureShowsOneErrorBox_data();
    void failureShowsOneErrorBox();

private:
    std::unique_ptr<USBStuff> makeUsb(bool boardPort);
    FakeBoardClient &fake(bool boardPort) { return boardPort ? m_fakeBoardPort : m_fakeUsb4; }

    FakeBoardClient m_fakeUsb4 {fakeUsb4Path};
    FakeBoardClient m_fakeBoardPort {fakeBoardPortPath};
    ErrorBox m_errorBox;
};

void tst_TX4418::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("TX4410(version2)"));
}

void tst_TX4418::init()
{
    m_fakeUsb4.reset();
    m_fakeBoardPort.reset();
}

std::unique_ptr<USBStuff> tst_TX4418::makeUsb(bool boardPort)
{
    if (boardPort)
        return std::make_unique<USBStuffBoardPort>("BoardPort");
    auto usb = std::make_unique<USBStuffFourFunction>(fakeUsb4Path);
    usb->InitialiseBoard(); // the handle the requests carry
    m_fakeUsb4.reset();
    return usb;
}

void tst_TX4418::requestFields_data()
{
    QTest::addColumn<bool>("boardPort");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QString>("fields");

    struct Case
    {
        const char *name;
        Operation operation;
        const char *fields;
    };
    const Case cases[] = {
            {"word 0x19FFFF", [](TX4418 &d) { d.SendCommandWord(0x19FFFF); },
             "request=0xdd value=0xffff index=0x19 direction=0 length=0 buffer=[00]"},
            {"word 0x12345678", [](TX4418 &d) { d.SendCommandWord(0x12345678); },
             "request=0xdd value=0x5678 index=0x1234 direction=0 length=0 buffer=[00]"},
            {"word with bit 31", [](TX4418 &d) { d.SendCommandWord(qint32(0x80000001)); },
             "request=0xdd value=0x1 index=0 direction=0 length=0 buffer=[00]"},
            {"word -1", [](TX4418 &d) { d.SendCommandWord(-1); },
             "request=0xdd value=0xffff index=0x7fff direction=0 length=0 buffer=[00]"},
            {"mux A", [](TX4418 &d) { d.SelectMuxChannel(1); },
             "request=0xcc value=0x1 index=0 direction=0 length=0 buffer=[00]"},
            {"mux H", [](TX4418 &d) { d.SelectMuxChannel(128); },
             "request=0xcc value=0x80 index=0 direction=0 length=0 buffer=[00]"},
            {"read ADC", [](TX4418 &d) { d.ReadAdcCode(); },
             "request=0xbb value=0 index=0 direction=1 length=2 buffer=[00 00]"},
            {"CLR high", [](TX4418 &d) { d.SetClrPin(true); },
             "request=0xe1 value=0 index=0 direction=0 length=0 buffer=[00]"},
            {"CLR low", [](TX4418 &d) { d.SetClrPin(false); },
             "request=0xe0 value=0 index=0 direction=0 length=0 buffer=[00]"},
            {"LDAC high", [](TX4418 &d) { d.SetLdacPin(true); },
             "request=0xf1 value=0 index=0 direction=0 length=0 buffer=[00]"},
            {"LDAC low", [](TX4418 &d) { d.SetLdacPin(false); },
             "request=0xf0 value=0 index=0 direction=0 length=0 buffer=[00]"},
    };
    for (bool boardPort : {false, true}) {
        for (const Case &c : cases) {
            QTest::addRow("%s, %s", boardPort ? "BoardPort" : "four-function", c.name)
                    << boardPort << c.operation << QString::fromLatin1(c.fields);
        }
    }
}

void tst_TX4418::requestFields()
{
    QFETCH(bool, boardPort);
    QFETCH(Operation, operation);
    QFETCH(QString, fields);

    const std::unique_ptr<USBStuff> usb = makeUsb(boardPort);
    TX4418 device(*usb, m_errorBox);
    MessageBoxAnswerer answerer(QMessageBox::Ok);
    // A buffer left dirty by an earlier read must not leak into the next request.
    fake(boardPort).setReply(0xAA, 0x55);
    device.ReadAdcCode();
    operation(device);

    const QStringList log = fake(boardPort).log();
    QCOMPARE(log.size(), 2);
    const QString expected
            = boardPort ? "VendorIORequest " + fields : "Vendor_Request handle=77 " + fields;
    QCOMPARE(log[1], expected);
    QVERIFY(answerer.seen().isEmpty());
}

void tst_TX4418::readReturnsReplyHighByteFirst_data()
{
    QTest::addColumn<bool>("boardPort");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::addColumn<qint32>("code");

    for (bool boardPort : {false, true}) {
        const char *form = boardPort ? "BoardPort" : "four-function";
        QTest::addRow("%s 0F FF", form) << boardPort << 0x0F << 0xFF << 4095;
        QTest::addRow("%s FF FF", form) << boardPort << 0xFF << 0xFF << 65535;
    }
}

void tst_TX4418::readReturnsReplyHighByteFirst()
{
    QFETCH(bool, boardPort);
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(qint32, code);

    const std::unique_ptr<USBStuff> usb = makeUsb(boardPort);
    TX4418 device(*usb, m_errorBox);
    fake(boardPort).setReply(std::uint8_t(first), std::uint8_t(second));
    QCOMPARE(device.ReadAdcCode(), code);
}

void tst_TX4418::failureShowsOneErrorBox_data()
{
    QTest::addColumn<bool>("boardPort");
    QTest::addColumn<int>("status");

    QTest::newRow("four-function, 1") << false << 1;
    QTest::newRow("four-function, -1") << false << -1;
    QTest::newRow("BoardPort, 1") << true << 1;
    QTest::newRow("BoardPort, -7") << true << -7;
}

void tst_TX4418::failureShowsOneErrorBox()
{
    QFETCH(bool, boardPort);
    QFETCH(int, status);

    const std::unique_ptr<USBStuff> usb = makeUsb(boardPort);
    TX4418 device(*usb, m_errorBox);
    fake(boardPort).setRequestStatus(std::int16_t(status));
    MessageBoxAnswerer answerer(QMessageBox::Ok);

    device.SetClrPin(false);
    QCOMPARE(answerer.seen().size(), 1);
    const SeenMessageBox box = answerer.seen().first();
    QCOMPARE(box.caption, QStringLiteral("TX4410(version2)"));
    QCOMPARE(box.text, QStringLiteral("error"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QVERIFY(box.modal);

    // Nothing is retried: each failing call is one request and one box.
    device.SendCommandWord(0);
    device.SelectMuxChannel(1);
    QCOMPARE(answerer.seen().size(), 3);
    QCOMPARE(fake(boardPort).log().size(), 3);
}

QTEST_MAIN(tst_TX4418)
#include "tst_tx4418.moc"
