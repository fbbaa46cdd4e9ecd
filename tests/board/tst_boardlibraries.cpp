#include "boardfaces.h"
#include "boardprotocol.h"
#include "boardstatus.h"
#include "support/simulatedboardcontrol.h"
#include "support/usbtestbed.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <memory>

namespace Code = BoardProtocol::RequestCode;
enum class Form { FourFunction, BoardPort };
// Where the board stands when a request comes.
enum class Setup { Up, NotUp, LoadFailed, Failing, FailingByEnvironment };
Q_DECLARE_METATYPE(Form)
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(BoardStatus)
Q_DECLARE_METATYPE(UsbTestbed::Fault)

namespace {
using Buffer = std::array<std::uint8_t, 2>;
constexpr Buffer untouched {0x5A, 0x5A};
const QByteArray firmware = TX4410_FIRMWARE_FILE;

template<typename Rows> void forEachForm(Rows rows)
{
    rows(Form::FourFunction, "four-function");
    rows(Form::BoardPort, "BoardPort");
}
} // namespace

class TestBoardLibraries : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void exports_data();
    void exports();
    void bringUp_data();
    void bringUp();
    void refusedArguments();
    void requestRules_data();
    void requestRules();
    void absentAttempts_data();
    void absentAttempts();
    void traceLinePerCall_data() { formRows(); }
    void traceLinePerCall();
    void librariesKeepSeparateBoards();
    void usbBoard_data();
    void usbBoard();

private:
    static void formRows()
    {
        QTest::addColumn<Form>("form");
        forEachForm([](Form form, const char *name) { QTest::newRow(name) << form; });
    }
    // One bring-up as the program makes it; LoadFirmWare's status negated, so that both forms
    // give 0 or a BoardStatus.
    std::int16_t bringUp(Form form, QByteArray path)
    {
        if (form == Form::BoardPort)
            return static_cast<std::int16_t>(-m_loadFirmWare(path.data()));
        std::int32_t found = 0;
        std::array<std::uint8_t, 128> list {};
        m_search(BoardProtocol::vendorId, BoardProtocol::productId, &found, list.data());
        m_connect(BoardProtocol::vendorId, BoardProtocol::productId, list[0], &m_handle);
        return m_download(m_handle, reinterpret_cast<std::uint8_t *>(path.data()));
    }
    std::int16_t request(Form form, int code, int value = 0, int index = 0, int direction = 0,
                         int length = 0, std::uint8_t *buffer = &m_byte)
    {
        if (form == Form::BoardPort)
            return m_vendorIORequest(short(code), value, index, short(direction), short(length),
                                     reinterpret_cast<char *>(buffer));
        return m_vendorRequest(m_handle, std::uint8_t(code), value, index, std::uint8_t(direction),
                               std::int16_t(length), buffer);
    }
    std::int16_t sendWord(Form form, std::int32_t word)
    {
        return request(form, Code::CommandWord, word & 0xFFFF, word >> 16);
    }
    const SimulatedBoardControl &control(Form form) const
    {
        return form == Form::BoardPort ? *m_boardPort : *m_usb4;
    }

    static inline std::uint8_t m_byte = 0;
    std::unique_ptr<SimulatedBoardControl> m_usb4, m_boardPort;
    SearchForBoardsFunction m_search = nullptr;
    ConnectFunction m_connect = nullptr;
    DownloadFirmwareFunction m_download = nullptr;
    VendorRequestFunction m_vendorRequest = nullptr;
    LoadFirmWareFunction m_loadFirmWare = nullptr;
    VendorIORequestFunction m_vendorIORequest = nullptr;
    std::int32_t m_handle = 0;
    QTemporaryDir m_dir;
};

void TestBoardLibraries::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The libraries read the environment at their first call.
    qputenv("TX4410_BOARD", "sim");
    qputenv("TX4410_SIM_ABSENT_ATTEMPTS", "1");
    m_usb4 = std::make_unique<SimulatedBoardControl>(TX4410_USB4_LIBRARY_FILE);
    m_boardPort = std::make_unique<SimulatedBoardControl>(TX4410_BOARDPORT_LIBRARY_FILE);
    QVERIFY2(m_usb4->isValid(), qPrintable(m_usb4->errorString()));
    QVERIFY2(m_boardPort->isValid(), qPrintable(m_boardPort->errorString()));
    m_search = m_usb4->function<SearchForBoardsFunction>(BoardFaces::searchForBoardsSymbol);
    m_connect = m_usb4->function<ConnectFunction>(BoardFaces::connectSymbol);
    m_download = m_usb4->function<DownloadFirmwareFunction>(BoardFaces::downloadFirmwareSymbol);
    m_vendorRequest = m_usb4->function<VendorRequestFunction>(BoardFaces::vendorRequestSymbol);
    m_loadFirmWare = m_boardPort->function<LoadFirmWareFunction>(BoardFaces::loadFirmWareSymbol);
    m_vendorIORequest
            = m_boardPort->function<VendorIORequestFunction>(BoardFaces::vendorIORequestSymbol);
    QVERIFY(m_search && m_connect && m_download && m_vendorRequest);
    QVERIFY(m_loadFirmWare && m_vendorIORequest);
    for (const Form form : {Form::FourFunction, Form::BoardPort}) {
        QVERIFY(bringUp(form, firmware) > 0);
        QCOMPARE(bringUp(form, firmware), 0);
    }
}

void TestBoardLibraries::init()
{
    qputenv("TX4410_BOARD", "sim");
    qunsetenv("TX4410_SIM_ABSENT_ATTEMPTS");
    qunsetenv("TX4410_SIM_FAIL_REQUESTS");
    qunsetenv("TX4410_BOARD_TRACE");
    QCOMPARE(m_usb4->reset(), 0);
    QCOMPARE(m_boardPort->reset(), 0);
    m_handle = 0;
}

void TestBoardLibraries::exports_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<QStringList>("symbols");
    const QStringList controls {"SimulatedBoard_ChannelVolts", "SimulatedBoard_ReadState",
                                "SimulatedBoard_Reset", "SimulatedBoard_SetAbsentAttempts",
                                "SimulatedBoard_SetFailRequests"};
    QTest::newRow("four-function")
            << TX4410_USB4_LIBRARY_FILE
            << QStringList {"Connect", "Download_Firmware", "Search_For_Boards", "Vendor_Request"}
                    + controls;
    QTest::newRow("BoardPort") << TX4410_BOARDPORT_LIBRARY_FILE
                               << QStringList {"_Z12LoadFirmWarePc", "_Z15VendorIORequestsiissPc"}
                    + controls;
}

void TestBoardLibraries::exports()
{
    QFETCH(QString, library);
    QFETCH(QStringList, symbols);
    QProcess nm;
    nm.start(TX4410_NM, {"--dynamic", "--defined-only", "--format=just-symbols", library});
    QVERIFY(nm.waitForFinished());
    QCOMPARE(nm.exitCode(), 0);
    QStringList exported
            = QString::fromLatin1(nm.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    // Sanitizer builds add the type information of function types; nothing of the core.
    exported.removeIf(
            [](const QString &s) { return s.startsWith(u"_ZTIF") || s.startsWith(u"_ZTSF"); });
    exported.sort();
    symbols.sort();
    QCOMPARE(exported, symbols);
}

void TestBoardLibraries::bringUp_data()
{
    QTest::addColumn<Form>("form");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("contents"); // written to the path first unless null
    QTest::addColumn<BoardStatus>("status");
    const QByteArray dir = m_dir.path().toLocal8Bit();
    forEachForm([&](Form form, const char *name) {
        using enum BoardStatus;
        const auto row = [&](const char *what, const QByteArray &path, BoardStatus status,
                             const QByteArray &contents = {}) {
            QTest::addRow("%s, %s", name, what) << form << path << contents << status;
        };
        row("shipped firmware", firmware, Ok);
        // Read up to the NUL: what follows would make the path too long.
        row("path up to its NUL", firmware + '\0' + QByteArray(5000, 'a'), Ok);
        row("missing file", dir + "/missing.hex", FirmwareMissing);
        row("directory", dir, FirmwareMissing);
        row("path of 4096 bytes", QByteArray(4096, 'a'), FirmwareMissing);
        row("path of 4097 bytes", QByteArray(4097, 'a'), PathTooLong);
        row("bad checksum", dir + "/bad.hex", FirmwareInvalid, ":03000000020100FB\n:00000001FF\n");
        row("over 1 MiB", dir + "/large.hex", FirmwareInvalid, QByteArray(1024 * 1024 + 1, '\n'));
    });
}

void TestBoardLibraries::bringUp()
{
    QFETCH(Form, form);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, contents);
    QFETCH(BoardStatus, status);

    // Away from power-on first: registers, reference, LDAC register and pin, mux.
    QCOMPARE(bringUp(form, firmware), 0);
    for (const std::int32_t word : {0x1F8000, 0x380001, 0x300003})
        QCOMPARE(sendWord(form, word), 0);
    QCOMPARE(request(form, Code::LdacLow), 0);
    QCOMPARE(request(form, Code::SelectMux, 8), 0);
    QCOMPARE(control(form).state()->ldacHigh, 0);
    if (!contents.isNull()) {
        QFile file(QString::fromLocal8Bit(path));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(contents), contents.size());
    }

    QCOMPARE(bringUp(form, path), statusCode(status));
    const std::optional<SimulatedBoardState> state = control(form).state();
    QVERIFY(state);
    QCOMPARE(state->firmwareRunning, status == BoardStatus::Ok);
    if (status == BoardStatus::Ok) {
        QCOMPARE(state->dacRegister[3], 0);
        QCOMPARE(state->internalReference, 0);
        QCOMPARE(state->ldacMask, 0);
        QCOMPARE(state->ldacHigh, 1);
        QCOMPARE(state->muxMask, 1);
    }
    QCOMPARE(request(form, Code::ClrLow),
             status == BoardStatus::Ok ? 0 : statusCode(BoardStatus::NotLoaded));
    QCOMPARE(control(form).state()->clrHigh, status != BoardStatus::Ok);
}

// Handles Connect did not give leave the board alone; null pointers are refused.
void TestBoardLibraries::refusedArguments()
{
    QCOMPARE(bringUp(Form::FourFunction, firmware), 0);
    QVERIFY(m_handle != 0);
    QByteArray path = firmware;
    for (const std::int32_t handle : {m_handle + 1, m_handle - 1, 0, -1}) {
        QCOMPARE(m_vendorRequest(handle, Code::ClrLow, 0, 0, 0, 0, &m_byte),
                 statusCode(BoardStatus::BadHandle));
        QCOMPARE(m_download(handle, reinterpret_cast<std::uint8_t *>(path.data())),
                 statusCode(BoardStatus::BadHandle));
    }
    QCOMPARE(m_usb4->state()->clrHigh, 1);
    QCOMPARE(request(Form::FourFunction, Code::ClrLow), 0);
    QCOMPARE(m_usb4->state()->clrHigh, 0);
    const std::int16_t refused = statusCode(BoardStatus::NullArgument);
    const std::int32_t vendor = BoardProtocol::vendorId, product = BoardProtocol::productId;
    std::int32_t found = 0;
    QCOMPARE(m_search(vendor, product, nullptr, nullptr), refused);
    QCOMPARE(m_search(vendor, product, &found, nullptr), refused);
    QCOMPARE(m_connect(vendor, product, 1, nullptr), refused);
    QCOMPARE(m_download(m_handle, nullptr), refused);
    QCOMPARE(m_loadFirmWare(nullptr), -refused);
}

void TestBoardLibraries::requestRules_data()
{
    QTest::addColumn<Form>("form");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QList<int>>("fields"); // code, value, index, direction, length
    QTest::addColumn<BoardStatus>("status");

    forEachForm([](Form form, const char *name) {
        using enum BoardStatus;
        using enum Setup;
        const auto row
                = [&](const char *what, Setup setup, const QList<int> &fields, BoardStatus status) {
                      QTest::addRow("%s, %s", name, what) << form << setup << fields << status;
                  };
        const QList<int> adc {0xBB, 0, 0, 1, 2}, word {0xDD, 0x8000, 0x18, 0, 0};
        row("no load", NotUp, adc, form == Form::BoardPort ? NoBoard : BadHandle);
        row("load failed", LoadFailed, adc, NotLoaded);
        row("read ADC, failing", Failing, adc, RequestFailed);
        row("command word, failing by environment", FailingByEnvironment, word, RequestFailed);
        row("command word", Up, word, Ok);
        row("command word, largest", Up, {0xDD, 0xFFFF, 0x7FFF, 0, 0}, Ok);
        row("select mux H", Up, {0xCC, 128, 0, 0, 0}, Ok);
        row("read ADC", Up, adc, Ok);
        row("CLR low", Up, {0xE0, 0, 0, 0, 0}, Ok);
        row("unknown code", Up, {0xAA, 0, 0, 1, 2}, UnknownRequest);
        if (form == Form::BoardPort) {
            row("code beyond a byte", Up, {0x1BB, 0, 0, 1, 2}, UnknownRequest);
            row("negative code", Up, {-0x45, 0, 0, 1, 2}, UnknownRequest);
        }
        row("read ADC to the board", Up, {0xBB, 0, 0, 0, 2}, WrongDirection);
        row("command word from the board", Up, {0xDD, 0x8000, 0x18, 1, 0}, WrongDirection);
        row("direction 2", Up, {0xE1, 0, 0, 2, 0}, WrongDirection);
        row("read ADC, one byte", Up, {0xBB, 0, 0, 1, 1}, WrongLength);
        row("command word with data", Up, {0xDD, 0x8000, 0x18, 0, 2}, WrongLength);
        row("negative length", Up, {0xF0, 0, 0, 0, -1}, WrongLength);
        row("value beyond 16 bits", Up, {0xDD, 0x10000, 0x18, 0, 0}, ValueOutOfRange);
        row("negative value", Up, {0xCC, -1, 0, 0, 0}, ValueOutOfRange);
        row("read ADC with a value", Up, {0xBB, 1, 0, 1, 2}, ValueOutOfRange);
        row("value on a pin", Up, {0xE0, 1, 0, 0, 0}, ValueOutOfRange);
        row("index beyond 15 bits", Up, {0xDD, 0x8000, 0x8018, 0, 0}, IndexOutOfRange);
        row("negative index", Up, {0xDD, 0, -1, 0, 0}, IndexOutOfRange);
        row("index on the mux", Up, {0xCC, 1, 1, 0, 0}, IndexOutOfRange);
        row("mux mask not one-hot", Up, {0xCC, 6, 0, 0, 0}, RequestRefused);
    });
}

void TestBoardLibraries::requestRules()
{
    QFETCH(Form, form);
    QFETCH(Setup, setup);
    QFETCH(QList<int>, fields);
    QFETCH(BoardStatus, status);

    if (setup == Setup::FailingByEnvironment) {
        qputenv("TX4410_SIM_FAIL_REQUESTS", "1");
        QCOMPARE(control(form).reset(), 0);
    }
    if (setup == Setup::LoadFailed)
        QVERIFY(bringUp(form, "/nonexistent/TX4413.hex") > 0);
    else if (setup != Setup::NotUp)
        QCOMPARE(bringUp(form, firmware), 0);
    // A at full scale, so that a read that slipped through would change the buffer.
    if (setup == Setup::Up)
        QCOMPARE(sendWord(form, 0x18FFFF), 0);
    if (setup == Setup::Failing)
        QCOMPARE(control(form).setFailRequests(true), 0);
    const std::uint16_t dacA = control(form).state()->dacRegister[0];

    const auto send = [&](std::uint8_t *buffer) {
        return request(form, fields[0], fields[1], fields[2], fields[3], fields[4], buffer);
    };
    Buffer buffer = untouched;
    QCOMPARE(send(buffer.data()), statusCode(status));
    const bool read = status == BoardStatus::Ok && fields[0] == Code::ReadAdc;
    QCOMPARE(buffer, read ? (Buffer {0x0F, 0xFF}) : untouched);
    if (status != BoardStatus::Ok)
        QCOMPARE(control(form).state()->dacRegister[0], dacA);
    QCOMPARE(send(nullptr), statusCode(BoardStatus::NullArgument));
}

void TestBoardLibraries::absentAttempts_data()
{
    QTest::addColumn<Form>("form");
    QTest::addColumn<bool>("byControl");
    QTest::addColumn<QByteArray>("knob");
    QTest::addColumn<QList<bool>>("attempts"); // which bring-ups find the board
    forEachForm([](Form form, const char *name) {
        const auto row = [&](bool byControl, const char *knob, const QList<bool> &attempts) {
            QTest::addRow("%s, %s %s", name, byControl ? "control" : "environment", knob)
                    << form << byControl << QByteArray(knob) << attempts;
        };
        row(false, "2", {false, false, true, true});
        row(false, "always", QList<bool>(4, false));
        row(false, "-1", QList<bool>(3, false));
        row(false, "soon", {true});
        row(true, "1", {false, true, true});
        row(true, "-1", QList<bool>(3, false));
    });
}

void TestBoardLibraries::absentAttempts()
{
    QFETCH(Form, form);
    QFETCH(bool, byControl);
    QFETCH(QByteArray, knob);
    QFETCH(QList<bool>, attempts);

    if (byControl) {
        QCOMPARE(control(form).setAbsentAttempts(knob.toInt()), 0);
    } else {
        qputenv("TX4410_SIM_ABSENT_ATTEMPTS", knob);
        QCOMPARE(control(form).reset(), 0);
    }
    QList<bool> actual;
    for (qsizetype i = 0; i < attempts.size(); ++i)
        actual.append(bringUp(form, firmware) == 0);
    QCOMPARE(actual, attempts);
    // Setting the knob counts afresh; reset returns to the environment's knob.
    QCOMPARE(control(form).setAbsentAttempts(1), 0);
    QVERIFY(bringUp(form, firmware) > 0);
    QCOMPARE(bringUp(form, firmware), 0);
    QCOMPARE(control(form).reset(), 0);
    QCOMPARE(bringUp(form, firmware) == 0, byControl || attempts.first());
}

void TestBoardLibraries::traceLinePerCall()
{
    QFETCH(Form, form);
    const QString file = m_dir.filePath(form == Form::BoardPort ? "boardport.log" : "usb4.log");
    qputenv("TX4410_BOARD_TRACE", file.toLocal8Bit());
    QCOMPARE(bringUp(form, firmware), 0);
    QCOMPARE(sendWord(form, 0x191234), 0);
    Buffer buffer = untouched;
    QVERIFY(request(form, Code::ReadAdc, 0, 0, 0, 2, buffer.data()) != 0);
    QCOMPARE(request(form, Code::SelectMux, 2), 0);
    QCOMPARE(request(form, Code::ReadAdc, 0, 0, 1, 2, buffer.data()), 0);
    qunsetenv("TX4410_BOARD_TRACE");
    QCOMPARE(request(form, Code::ClrLow), 0);
    // A trace file that cannot be written changes nothing.
    qputenv("TX4410_BOARD_TRACE", "/nonexistent/trace.log");
    QCOMPARE(request(form, Code::ClrHigh), 0);

    const QString handle = "handle=0x" + QString::number(m_handle, 16);
    const QString ids = "vendorId=0x6666 productId=0x4410 ";
    const QString path = "path=\"" + QString::fromLocal8Bit(firmware) + "\" status=0";
    QStringList expected {"LoadFirmWare " + path};
    QString call = "VendorIORequest ";
    if (form == Form::FourFunction) {
        expected = QStringList {"Search_For_Boards " + ids + "found=1 boardList=[01] status=0",
                                "Connect " + ids + "board=1 " + handle + " status=0",
                                "Download_Firmware " + handle + ' ' + path};
        call = "Vendor_Request " + handle + ' ';
    }
    for (const char *rest :
         {"request=0xdd value=0x1234 index=0x19 direction=0 length=0 buffer=[00] status=0",
          "request=0xbb value=0x0 index=0x0 direction=0 length=2 buffer=[5a 5a] status=9",
          "request=0xcc value=0x2 index=0x0 direction=0 length=0 buffer=[00] status=0",
          "request=0xbb value=0x0 index=0x0 direction=1 length=2 buffer=[01 23] status=0"})
        expected << call + rest;
    QFile trace(file);
    QVERIFY(trace.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLatin1(trace.readAll()).split(u'\n', Qt::SkipEmptyParts), expected);
}

void TestBoardLibraries::librariesKeepSeparateBoards()
{
    QCOMPARE(bringUp(Form::FourFunction, firmware), 0);
    QCOMPARE(bringUp(Form::BoardPort, firmware), 0);
    QCOMPARE(m_boardPort->setFailRequests(true), 0);
    QCOMPARE(sendWord(Form::FourFunction, 0x188000), 0);
    QCOMPARE(sendWord(Form::BoardPort, 0x188000), statusCode(BoardStatus::RequestFailed));
    QCOMPARE(m_usb4->channelVolts(0), 2.5);
    QCOMPARE(m_boardPort->channelVolts(0), 0.0);
    QCOMPARE(m_usb4->setAbsentAttempts(-1), 0);
    QCOMPARE(bringUp(Form::BoardPort, firmware), 0);
    QCOMPARE(m_boardPort->setFailRequests(false), 0);
    QCOMPARE(sendWord(Form::BoardPort, 0x188000), 0);
    QCOMPARE(m_boardPort->channelVolts(0), 2.5);
}

void TestBoardLibraries::usbBoard_data()
{
    QTest::addColumn<Form>("form");
    QTest::addColumn<QList<int>>("fields"); // code, value, index, direction, length
    QTest::addColumn<UsbTestbed::Fault>("fault");
    QTest::addColumn<BoardStatus>("status");
    QTest::addColumn<QString>("setup"); // as the testbed logs it
    forEachForm([](Form form, const char *name) {
        using enum UsbTestbed::Fault;
        const auto row = [&](const char *what, const QList<int> &fields, const char *setup,
                             UsbTestbed::Fault fault = None, BoardStatus status = BoardStatus::Ok) {
            QTest::addRow("%s, %s", name, what)
                    << form << fields << fault << status << QString(setup);
        };
        const QList<int> read {0xBB, 0, 0, 1, 2};
        row("command word 0x19ffff", {0xDD, 0xFFFF, 0x19, 0, 0}, "40 dd ffff 0019 []");
        row("mux on H", {0xCC, 128, 0, 0, 0}, "40 cc 0080 0000 []");
        row("read ADC", read, "c0 bb 0000 0000 2");
        for (const int pin : {0xE0, 0xE1, 0xF0, 0xF1}) // CLR low, high; LDAC low, high
            row(qPrintable(QString::asprintf("pin request %x", pin)), {pin, 0, 0, 0, 0},
                qPrintable(QString::asprintf("40 %x 0000 0000 []", pin)));
        row("read ADC stalls", read, "c0 bb 0000 0000 2", Stall, BoardStatus::Stalled);
        row("short read", read, "c0 bb 0000 0000 2", Short, BoardStatus::ShortTransfer);
        row("read times out", read, "c0 bb 0000 0000 2", Timeout, BoardStatus::TimedOut);
        row("protocol error", read, "c0 bb 0000 0000 2", Failed, BoardStatus::RequestFailed);
        row("cable pulled", read, "c0 bb 0000 0000 2", Gone, BoardStatus::BoardGone);
    });
}

// The USB board, unless TX4410_BOARD says otherwise: through libusb to a board in a testbed.
void TestBoardLibraries::usbBoard()
{
    QFETCH(Form, form);
    QFETCH(QList<int>, fields);
    QFETCH(UsbTestbed::Fault, fault);
    QFETCH(BoardStatus, status);
    QFETCH(QString, setup);
    UsbTestbed &testbed = UsbTestbed::instance();
    qunsetenv("TX4410_BOARD");
    QCOMPARE(control(form).reset(), 0);
    QCOMPARE(control(form).setFailRequests(false), statusCode(BoardStatus::NotSimulated));
    QFile image(m_dir.filePath("image.hex"));
    QVERIFY(image.open(QIODevice::WriteOnly)
            && image.write(":03000000020100FA\n:00000001FF\n") > 0);
    image.close();
    QCOMPARE(bringUp(form, image.fileName().toLocal8Bit()), 0);
    QCOMPARE(testbed.takeLog(), // reset, image, run (the chunks: the USB board's own tests)
             QStringList({"40 a0 e600 0000 [01]", "40 a0 0000 0000 [02 01 00]",
                          "40 a0 e600 0000 [00]"}));
    testbed.setFault(fault);
    Buffer buffer = untouched;
    QCOMPARE(request(form, fields[0], fields[1], fields[2], fields[3], fields[4], buffer.data()),
             statusCode(status));
    testbed.setFault(UsbTestbed::Fault::None);
    QCOMPARE(testbed.takeLog(), QStringList {setup});
    const bool read = fields[0] == Code::ReadAdc && status == BoardStatus::Ok;
    QCOMPARE(buffer, read ? (Buffer {0x0F, 0xFF}) : untouched);
}

QTEST_APPLESS_MAIN(TestBoardLibraries)
#include "tst_boardlibraries.moc"
