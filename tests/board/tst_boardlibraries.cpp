#include "boardfaces.h"
#include "boardprotocol.h"
#include "support/boardtrace.h"
#include "support/simulatedboardcontrol.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <memory>

namespace {

namespace Code = BoardProtocol::RequestCode;

enum class Form { FourFunction, BoardPort };

using Buffer = std::array<std::uint8_t, 2>;
constexpr Buffer untouched {0x5A, 0x5A};

} // namespace

Q_DECLARE_METATYPE(Form)

class TestBoardLibraries : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void exportsOnlyFacesAndControls_data();
    void exportsOnlyFacesAndControls();
    void bringUp_data();
    void bringUp();
    void requestsBeforeLoadFail_data();
    void requestsBeforeLoadFail();
    void wrongHandleFails();
    void badRequestLeavesBuffer_data();
    void badRequestLeavesBuffer();
    void absentAttemptsFromEnvironment_data();
    void absentAttemptsFromEnvironment();
    void absentAttemptsByControl_data();
    void absentAttemptsByControl();
    void failingRequests_data();
    void failingRequests();
    void adcReadsWrittenChannel_data();
    void adcReadsWrittenChannel();
    void pinsAndCommandsReachDac_data();
    void pinsAndCommandsReachDac();
    void traceRecordsEveryCall_data();
    void traceRecordsEveryCall();
    void librariesKeepSeparateBoards();
    void usbBoardFindsNone_data();
    void usbBoardFindsNone();
    void survivesBadPointersAndPaths();
    void sameRequestsSameReplies_data();
    void sameRequestsSameReplies();

private:
    // One bring-up attempt made the way the program makes it; true when the board is up.
    bool bringUp(Form form, const QByteArray &path);
    std::int16_t request(Form form, int code, int value, int index, int direction, int length,
                         std::uint8_t *buffer);
    std::int16_t sendWord(Form form, std::int32_t word);
    const SimulatedBoardControl &control(Form form) const;
    void addFormRows(const char *suffix = "");

    std::unique_ptr<SimulatedBoardControl> m_usb4;
    std::unique_ptr<SimulatedBoardControl> m_boardPort;
    SearchForBoardsFunction m_search = nullptr;
    ConnectFunction m_connect = nullptr;
    DownloadFirmwareFunction m_download = nullptr;
    VendorRequestFunction m_vendorRequest = nullptr;
    LoadFirmWareFunction m_loadFirmWare = nullptr;
    VendorIORequestFunction m_vendorIORequest = nullptr;

    std::int32_t m_handle = 0;
    std::int16_t m_lastStatus = 0;
    QTemporaryDir m_dir;
};

void TestBoardLibraries::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (qEnvironmentVariableIsEmpty("TX4410_BOARD"))
        qputenv("TX4410_BOARD", "sim");
    // The libraries read the environment at their first call: set the knobs before it.
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

    // The first attempt of each library finds no board; the second does.
    QVERIFY(!bringUp(Form::FourFunction, TX4410_FIRMWARE_FILE));
    QVERIFY(!bringUp(Form::BoardPort, TX4410_FIRMWARE_FILE));
    QVERIFY(bringUp(Form::FourFunction, TX4410_FIRMWARE_FILE));
    QVERIFY(bringUp(Form::BoardPort, TX4410_FIRMWARE_FILE));
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

void TestBoardLibraries::cleanup()
{
    init();
}

bool TestBoardLibraries::bringUp(Form form, const QByteArray &path)
{
    QByteArray pathBuffer = path;
    if (form == Form::BoardPort) {
        m_lastStatus = m_loadFirmWare(pathBuffer.data());
        return m_lastStatus >= 0;
    }
    std::int32_t found = 0;
    std::array<std::uint8_t, 128> boardList {};
    m_search(BoardProtocol::vendorId, BoardProtocol::productId, &found, boardList.data());
    m_connect(BoardProtocol::vendorId, BoardProtocol::productId, boardList[0], &m_handle);
    m_lastStatus = m_download(m_handle, reinterpret_cast<std::uint8_t *>(pathBuffer.data()));
    return m_lastStatus == 0;
}

std::int16_t TestBoardLibraries::request(Form form, int code, int value, int index, int direction,
                                         int length, std::uint8_t *buffer)
{
    if (form == Form::BoardPort)
        return m_vendorIORequest(static_cast<short>(code), value, index,
                                 static_cast<short>(direction), static_cast<short>(length),
                                 reinterpret_cast<char *>(buffer));
    return m_vendorRequest(m_handle, static_cast<std::uint8_t>(code), value, index,
                           static_cast<std::uint8_t>(direction), static_cast<std::int16_t>(length),
                           buffer);
}

std::int16_t TestBoardLibraries::sendWord(Form form, std::int32_t word)
{
    std::uint8_t buffer = 0;
    return request(form, Code::CommandWord, word & 0xFFFF, (word & 0x7FFF0000) >> 16, 0, 0,
                   &buffer);
}

const SimulatedBoardControl &TestBoardLibraries::control(Form form) const
{
    return form == Form::BoardPort ? *m_boardPort : *m_usb4;
}

void TestBoardLibraries::addFormRows(const char *suffix)
{
    QTest::addRow("four-function%s", suffix) << Form::FourFunction;
    QTest::addRow("BoardPort%s", suffix) << Form::BoardPort;
}

void TestBoardLibraries::exportsOnlyFacesAndControls_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<QStringList>("symbols");

    const QStringList controls {"SimulatedBoard_ChannelVolts", "SimulatedBoard_ReadState",
                                "SimulatedBoard_Reset", "SimulatedBoard_SetAbsentAttempts",
                                "SimulatedBoard_SetFailRequests"};
    QTest::newRow("libKVN_CYUSB_USB4.so")
            << TX4410_USB4_LIBRARY_FILE
            << QStringList {"Connect", "Download_Firmware", "Search_For_Boards", "Vendor_Request"}
                    + controls;
    QTest::newRow("libBoardPort.so")
            << TX4410_BOARDPORT_LIBRARY_FILE
            << QStringList {"_Z12LoadFirmWarePc", "_Z15VendorIORequestsiissPc"} + controls;
}

void TestBoardLibraries::exportsOnlyFacesAndControls()
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
    exported.removeIf([](const QString &symbol) {
        return symbol.startsWith(u"_ZTIF") || symbol.startsWith(u"_ZTSF");
    });
    exported.sort();
    symbols.sort();
    QCOMPARE(exported, symbols);
}

void TestBoardLibraries::bringUp_data()
{
    QTest::addColumn<Form>("form");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("up");

    const QByteArray shipped; // the null array stands for the copied TX4413.hex
    for (const Form form : {Form::FourFunction, Form::BoardPort}) {
        const char *name = form == Form::BoardPort ? "BoardPort" : "four-function";
        QTest::addRow("%s, shipped firmware", name) << form << shipped << true;
        QTest::addRow("%s, bad checksum", name)
                << form << QByteArray(":03000000020100FB\n:00000001FF\n") << false;
        QTest::addRow("%s, no end of file", name)
                << form << QByteArray(":03000000020100FA\n") << false;
        QTest::addRow("%s, empty file", name) << form << QByteArray("") << false;
    }
}

void TestBoardLibraries::bringUp()
{
    QFETCH(Form, form);
    QFETCH(QByteArray, contents);
    QFETCH(bool, up);

    QByteArray path = TX4410_FIRMWARE_FILE;
    if (!contents.isNull()) {
        QFile file(m_dir.filePath("image.hex"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(contents), contents.size());
        file.close();
        path = file.fileName().toLocal8Bit();
    }
    QCOMPARE(bringUp(form, path), up);
    if (!up && form == Form::BoardPort)
        QVERIFY(m_lastStatus < 0);
    if (!up && form == Form::FourFunction)
        QVERIFY(m_lastStatus != 0);
    QCOMPARE(control(form).state()->firmwareRunning, up ? 1 : 0);

    std::uint8_t buffer = 0;
    QCOMPARE(request(form, Code::ClrLow, 0, 0, 0, 0, &buffer) == 0, up);
}

void TestBoardLibraries::requestsBeforeLoadFail_data()
{
    QTest::addColumn<Form>("form");
    addFormRows();
}

void TestBoardLibraries::requestsBeforeLoadFail()
{
    QFETCH(Form, form);

    Buffer buffer = untouched;
    QVERIFY(request(form, Code::ReadAdc, 0, 0, 1, 2, buffer.data()) != 0);
    QCOMPARE(buffer, untouched);

    // Found and opened, but the load failed.
    QVERIFY(!bringUp(form, m_dir.filePath("missing.hex").toLocal8Bit()));
    QVERIFY(request(form, Code::ReadAdc, 0, 0, 1, 2, buffer.data()) != 0);
    QCOMPARE(buffer, untouched);
    QVERIFY(sendWord(form, 0x188000) != 0);
    QCOMPARE(control(form).state()->dacRegister[0], 0);
}

void TestBoardLibraries::wrongHandleFails()
{
    QVERIFY(bringUp(Form::FourFunction, TX4410_FIRMWARE_FILE));
    QVERIFY(m_handle != 0);
    std::uint8_t buffer = 0;
    for (const std::int32_t handle : {m_handle + 1, m_handle - 1, 0, -1}) {
        QVERIFY(m_vendorRequest(handle, Code::ClrLow, 0, 0, 0, 0, &buffer) != 0);
        QVERIFY(m_download(
                        handle,
                        reinterpret_cast<std::uint8_t *>(const_cast<char *>(TX4410_FIRMWARE_FILE)))
                != 0);
    }
    QCOMPARE(control(Form::FourFunction).state()->clrHigh, 1);
    QCOMPARE(m_vendorRequest(m_handle, Code::ClrLow, 0, 0, 0, 0, &buffer), 0);
    QCOMPARE(control(Form::FourFunction).state()->clrHigh, 0);
}

void TestBoardLibraries::badRequestLeavesBuffer_data()
{
    QTest::addColumn<Form>("form");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("length");

    for (const Form form : {Form::FourFunction, Form::BoardPort}) {
        const char *name = form == Form::BoardPort ? "BoardPort" : "four-function";
        QTest::addRow("%s, unknown code", name) << form << 0xAA << 0 << 1 << 2;
        QTest::addRow("%s, read ADC to the board", name) << form << 0xBB << 0 << 0 << 2;
        QTest::addRow("%s, read ADC of one byte", name) << form << 0xBB << 0 << 1 << 1;
        QTest::addRow("%s, read ADC with a value", name) << form << 0xBB << 1 << 1 << 2;
        QTest::addRow("%s, mux mask not one-hot", name) << form << 0xCC << 3 << 0 << 0;
    }
    QTest::addRow("BoardPort, code beyond a byte") << Form::BoardPort << 0x1BB << 0 << 1 << 2;
}

void TestBoardLibraries::badRequestLeavesBuffer()
{
    QFETCH(Form, form);
    QFETCH(int, code);
    QFETCH(int, value);
    QFETCH(int, direction);
    QFETCH(int, length);

    QVERIFY(bringUp(form, TX4410_FIRMWARE_FILE));
    // Channel A at full scale, so that a read that slipped through would change the buffer.
    QCOMPARE(sendWord(form, 0x18FFFF), 0);
    Buffer buffer = untouched;
    QVERIFY(request(form, code, value, 0, direction, length, buffer.data()) != 0);
    QCOMPARE(buffer, untouched);
    QVERIFY(request(form, code, value, 0, direction, length, nullptr) != 0);
    QCOMPARE(control(form).state()->muxMask, 1);
}

void TestBoardLibraries::absentAttemptsFromEnvironment_data()
{
    QTest::addColumn<Form>("form");
    QTest::addColumn<QByteArray>("knob");
    QTest::addColumn<QList<bool>>("attempts");

    for (const Form form : {Form::FourFunction, Form::BoardPort}) {
        const char *name = form == Form::BoardPort ? "BoardPort" : "four-function";
        QTest::addRow("%s, 2", name)
                << form << QByteArray("2") << QList<bool> {false, false, true, true};
        QTest::addRow("%s, always", name) << form << QByteArray("always") << QList<bool>(5, false);
        QTest::addRow("%s, -1", name) << form << QByteArray("-1") << QList<bool>(3, false);
        QTest::addRow("%s, 0", name) << form << QByteArray("0") << QList<bool> {true};
    }
}

void TestBoardLibraries::absentAttemptsFromEnvironment()
{
    QFETCH(Form, form);
    QFETCH(QByteArray, knob);
    QFETCH(QList<bool>, attempts);

    qputenv("TX4410_SIM_ABSENT_ATTEMPTS", knob);
    QCOMPARE(control(form).reset(), 0);
    QList<bool> actual;
    for (qsizetype i = 0; i < attempts.size(); ++i)
        actual.append(bringUp(form, TX4410_FIRMWARE_FILE));
    QCOMPARE(actual, attempts);
}

void TestBoardLibraries::absentAttemptsByControl_data()
{
    QTest::addColumn<Form>("form");
    addFormRows();
}

void TestBoardLibraries::absentAttemptsByControl()
{
    QFETCH(Form, form);

    QCOMPARE(control(form).setAbsentAttempts(1), 0);
    QVERIFY(!bringUp(form, TX4410_FIRMWARE_FILE));
    QVERIFY(bringUp(form, TX4410_FIRMWARE_FILE));

    QCOMPARE(control(form).setAbsentAttempts(-1), 0);
    QVERIFY(!bringUp(form, TX4410_FIRMWARE_FILE));
    QVERIFY(!bringUp(form, TX4410_FIRMWARE_FILE));

    // Reset returns to the environment's knob: none.
    QCOMPARE(control(form).reset(), 0);
    QVERIFY(bringUp(form, TX4410_FIRMWARE_FILE));
}

void TestBoardLibraries::failingRequests_data()
{
    QTest::addColumn<Form>("form");
    QTest::addColumn<bool>("byEnvironment");
    QTest::addRow("four-function, environment") << Form::FourFunction << true;
    QTest::addRow("four-function, control") << Form::FourFunction << false;
    QTest::addRow("BoardPort, environment") << Form::BoardPort << true;
    QTest::addRow("BoardPort, control") << Form::BoardPort << false;
}

void TestBoardLibraries::failingRequests()
{
    QFETCH(Form, form);
    QFETCH(bool, byEnvironment);

    if (byEnvironment) {
        qputenv("TX4410_SIM_FAIL_REQUESTS", "1");
        QCOMPARE(control(form).reset(), 0);
    } else {
        QCOMPARE(control(form).setFailRequests(true), 0);
    }
    QVERIFY(bringUp(form, TX4410_FIRMWARE_FILE));
    Buffer buffer = untouched;
    QVERIFY(request(form, Code::ReadAdc, 0, 0, 1, 2, buffer.data()) != 0);
    QCOMPARE(buffer, untouched);
    QVERIFY(sendWord(form, 0x188000) != 0);
    QCOMPARE(control(form).state()->dacRegister[0], 0);

    QCOMPARE(control(form).setFailRequests(false), 0);
    QCOMPARE(sendWord(form, 0x188000), 0);
    QCOMPARE(control(form).state()->dacRegister[0], 0x8000);
}

void TestBoardLibraries::adcReadsWrittenChannel_data()
{
    QTest::addColumn<Form>("form");
    addFormRows();
}

void TestBoardLibraries::adcReadsWrittenChannel()
{
    QFETCH(Form, form);

    QVERIFY(bringUp(form, TX4410_FIRMWARE_FILE));
    // Write and update B with 0x1234: 0.3555 V, ADC code 0x123.
    QCOMPARE(sendWord(form, 0x191234), 0);
    QCOMPARE(control(form).channelVolts(1), 0.35552978515625);
    std::uint8_t unused = 0;
    QCOMPARE(request(form, Code::SelectMux, 2, 0, 0, 0, &unused), 0);
    Buffer buffer {};
    QCOMPARE(request(form, Code::ReadAdc, 0, 0, 1, 2, buffer.data()), 0);
    QCOMPARE(buffer, (Buffer {0x01, 0x23}));

    // Channel E reads 0 V.
    QCOMPARE(request(form, Code::SelectMux, 16, 0, 0, 0, &unused), 0);
    QCOMPARE(request(form, Code::ReadAdc, 0, 0, 1, 2, buffer.data()), 0);
    QCOMPARE(buffer, (Buffer {0, 0}));
}

void TestBoardLibraries::pinsAndCommandsReachDac_data()
{
    QTest::addColumn<Form>("form");
    addFormRows();
}

void TestBoardLibraries::pinsAndCommandsReachDac()
{
    QFETCH(Form, form);
    const SimulatedBoardControl &board = control(form);

    QVERIFY(bringUp(form, TX4410_FIRMWARE_FILE));
    std::uint8_t unused = 0;
    QCOMPARE(sendWord(form, 0x07C000), 0); // write input, all channels
    QCOMPARE(board.channelVolts(3), 0.0);
    QCOMPARE(request(form, Code::LdacLow, 0, 0, 0, 0, &unused), 0);
    QCOMPARE(board.channelVolts(3), 3.75);
    QCOMPARE(board.state()->ldacHigh, 0);
    QCOMPARE(request(form, Code::ClrLow, 0, 0, 0, 0, &unused), 0);
    QCOMPARE(board.channelVolts(0), 0.0);
    QCOMPARE(request(form, Code::ClrHigh, 0, 0, 0, 0, &unused), 0);
    QCOMPARE(request(form, Code::LdacHigh, 0, 0, 0, 0, &unused), 0);
    QCOMPARE(sendWord(form, 0x380001), 0); // internal reference on
    QCOMPARE(sendWord(form, 0x0F0000), 0); // update all
    QCOMPARE(board.channelVolts(2), 1.875);
    const std::optional<SimulatedBoardState> state = board.state();
    QVERIFY(state);
    QCOMPARE(state->internalReference, 1);
    QCOMPARE(state->clrHigh, 1);
    QCOMPARE(state->ldacHigh, 1);
    QCOMPARE(state->inputRegister[1], 0xC000);
    QVERIFY(!board.channelVolts(4));
    QVERIFY(!board.channelVolts(-1));
}

void TestBoardLibraries::traceRecordsEveryCall_data()
{
    QTest::addColumn<Form>("form");
    addFormRows();
}

void TestBoardLibraries::traceRecordsEveryCall()
{
    QFETCH(Form, form);

    const QString file = m_dir.filePath(form == Form::BoardPort ? "boardport.log" : "usb4.log");
    QFile::remove(file);
    qputenv("TX4410_BOARD_TRACE", file.toLocal8Bit());
    QVERIFY(bringUp(form, TX4410_FIRMWARE_FILE));
    QCOMPARE(sendWord(form, 0x191234), 0);
    Buffer buffer {};
    QVERIFY(request(form, Code::ReadAdc, 0, 0, 0, 2, buffer.data()) != 0);
    std::uint8_t unused = 0;
    QCOMPARE(request(form, Code::SelectMux, 2, 0, 0, 0, &unused), 0);
    QCOMPARE(request(form, Code::ReadAdc, 0, 0, 1, 2, buffer.data()), 0);
    // Calls after the variable is cleared leave no line.
    qunsetenv("TX4410_BOARD_TRACE");
    QCOMPARE(request(form, Code::ClrLow, 0, 0, 0, 0, &unused), 0);

    const BoardTrace trace = BoardTrace::read(file);
    QCOMPARE(trace.malformedLines(), QStringList());
    const QString requestName = form == Form::BoardPort ? "VendorIORequest" : "Vendor_Request";
    QStringList functions;
    for (const BoardTrace::Record &record : trace.records())
        functions.append(record.function);
    const QStringList bringUpCalls = form == Form::BoardPort
            ? QStringList {"LoadFirmWare"}
            : QStringList {"Search_For_Boards", "Connect", "Download_Firmware"};
    QCOMPARE(functions, bringUpCalls + QStringList(4, requestName));

    const QList<BoardTrace::Record> requests = trace.calls(requestName);
    QCOMPARE(requests[0].number("request"), 0xDD);
    QCOMPARE(requests[0].number("value"), 0x1234);
    QCOMPARE(requests[0].number("index"), 0x19);
    QCOMPARE(requests[0].bytes("buffer"), QByteArray(1, '\0'));
    QCOMPARE(requests[1].number("direction"), 0);
    QVERIFY(requests[1].status != 0);
    QCOMPARE(requests[1].bytes("buffer"), QByteArray(2, '\0'));
    QCOMPARE(requests[3].bytes("buffer"), QByteArray("\x01\x23", 2));
    QCOMPARE(requests[3].status, 0);

    const BoardTrace::Record &load = trace.records()[bringUpCalls.size() - 1];
    QCOMPARE(load.path("path"), QByteArray(TX4410_FIRMWARE_FILE));
    QCOMPARE(load.status, 0);

    const QString handle = QStringLiteral("handle=0x%1 ").arg(m_handle, 0, 16);
    const QString expected = form == Form::BoardPort
            ? "VendorIORequest request=0xbb value=0x0 index=0x0 direction=1 length=2 buffer=[01 "
              "23] status=0"
            : "Vendor_Request " + handle
                    + "request=0xbb value=0x0 index=0x0 direction=1 length=2 buffer=[01 23] "
                      "status=0";
    QFile raw(file);
    QVERIFY(raw.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(raw.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.constLast(), expected);

    if (form == Form::FourFunction) {
        const BoardTrace::Record &search = trace.records()[0];
        QCOMPARE(search.number("vendorId"), BoardProtocol::vendorId);
        QCOMPARE(search.number("productId"), BoardProtocol::productId);
        QCOMPARE(search.number("found"), 1);
        QCOMPARE(search.bytes("boardList"), QByteArray(1, '\1'));
        const BoardTrace::Record &connect = trace.records()[1];
        QCOMPARE(connect.number("board"), 1);
        QCOMPARE(connect.number("handle"), m_handle);
        QCOMPARE(trace.records()[2].number("handle"), m_handle);
    }
}

void TestBoardLibraries::librariesKeepSeparateBoards()
{
    QVERIFY(bringUp(Form::FourFunction, TX4410_FIRMWARE_FILE));
    QVERIFY(bringUp(Form::BoardPort, TX4410_FIRMWARE_FILE));
    QCOMPARE(m_boardPort->setFailRequests(true), 0);
    QCOMPARE(sendWord(Form::FourFunction, 0x188000), 0);
    QVERIFY(sendWord(Form::BoardPort, 0x188000) != 0);
    QCOMPARE(m_usb4->channelVolts(0), 2.5);
    QCOMPARE(m_boardPort->channelVolts(0), 0.0);

    QCOMPARE(m_usb4->setAbsentAttempts(-1), 0);
    QVERIFY(bringUp(Form::BoardPort, TX4410_FIRMWARE_FILE));
}

void TestBoardLibraries::usbBoardFindsNone_data()
{
    QTest::addColumn<Form>("form");
    QTest::addColumn<QByteArray>("board");
    QTest::addRow("four-function, unset") << Form::FourFunction << QByteArray();
    QTest::addRow("four-function, usb") << Form::FourFunction << QByteArray("usb");
    QTest::addRow("BoardPort, unset") << Form::BoardPort << QByteArray();
    QTest::addRow("BoardPort, usb") << Form::BoardPort << QByteArray("usb");
}

void TestBoardLibraries::usbBoardFindsNone()
{
    QFETCH(Form, form);
    QFETCH(QByteArray, board);

    if (board.isNull())
        qunsetenv("TX4410_BOARD");
    else
        qputenv("TX4410_BOARD", board);
    QCOMPARE(control(form).reset(), 0);

    if (form == Form::FourFunction) {
        std::int32_t found = 7;
        std::array<std::uint8_t, 128> boardList {};
        QVERIFY(m_search(BoardProtocol::vendorId, BoardProtocol::productId, &found,
                         boardList.data())
                != 0);
        QCOMPARE(found, 0);
    }
    QVERIFY(!bringUp(form, TX4410_FIRMWARE_FILE));
    std::uint8_t buffer = 0;
    QVERIFY(request(form, Code::ClrLow, 0, 0, 0, 0, &buffer) != 0);
    QVERIFY(control(form).setAbsentAttempts(0) != 0);
    QVERIFY(control(form).setFailRequests(false) != 0);
    QVERIFY(!control(form).state());
    QVERIFY(!control(form).channelVolts(0));
}

void TestBoardLibraries::survivesBadPointersAndPaths()
{
    std::int32_t found = 0;
    std::array<std::uint8_t, 128> boardList {};
    QVERIFY(m_search(BoardProtocol::vendorId, BoardProtocol::productId, nullptr, nullptr) != 0);
    QVERIFY(m_search(BoardProtocol::vendorId, BoardProtocol::productId, &found, nullptr) != 0);
    QVERIFY(m_connect(BoardProtocol::vendorId, BoardProtocol::productId, 1, nullptr) != 0);
    QVERIFY(m_download(m_handle, nullptr) != 0);
    QVERIFY(m_loadFirmWare(nullptr) < 0);

    QByteArray overlong(64 * 1024, 'a');
    QVERIFY(!bringUp(Form::FourFunction, overlong));
    QVERIFY(!bringUp(Form::BoardPort, overlong));
    QVERIFY(m_lastStatus < 0);
    QVERIFY(!bringUp(Form::BoardPort, m_dir.path().toLocal8Bit()));

    QVERIFY(m_vendorRequest(m_handle, Code::ReadAdc, 0, 0, 1, 2, nullptr) != 0);
    QVERIFY(m_vendorIORequest(Code::ReadAdc, 0, 0, 1, 2, nullptr) != 0);
    QCOMPARE(m_search(BoardProtocol::vendorId, BoardProtocol::productId, &found, boardList.data()),
             0);
}

void TestBoardLibraries::sameRequestsSameReplies_data()
{
    QTest::addColumn<Form>("form");
    addFormRows();
}

void TestBoardLibraries::sameRequestsSameReplies()
{
    QFETCH(Form, form);

    const auto run = [&] {
        QList<int> replies;
        replies.append(bringUp(form, TX4410_FIRMWARE_FILE));
        replies.append(m_handle);
        for (const std::int32_t word : {0x1FC000, 0x20001A, 0x1A4000})
            replies.append(sendWord(form, word));
        for (const int mask : {1, 2, 4, 8}) {
            std::uint8_t unused = 0;
            Buffer buffer {};
            replies.append(request(form, Code::SelectMux, mask, 0, 0, 0, &unused));
            replies.append(request(form, Code::ReadAdc, 0, 0, 1, 2, buffer.data()));
            replies.append(buffer[0] << 8 | buffer[1]);
        }
        return replies;
    };
    const QList<int> first = run();
    QCOMPARE(control(form).reset(), 0);
    m_handle = 0;
    QCOMPARE(run(), first);
    // Power-down of B and D, C rewritten: 3.75 V, 0, 1.25 V, 0.
    QCOMPARE(first.mid(5), (QList<int> {0, 0, 3072, 0, 0, 0, 0, 0, 1024, 0, 0, 0}));
}

QTEST_APPLESS_MAIN(TestBoardLibraries)
#include "tst_boardlibraries.moc"
