#include "boardfaces.h"
#include "boardprotocol.h"
#include "boardqueries.h"
#include "boardstatus.h"
#include "support/simulatedboardcontrol.h"
#include "support/usbtestbed.h"

#include <QLibrary>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <array>

#include <unistd.h>

namespace Code = BoardProtocol::RequestCode;
enum class Form { FourFunction, BoardPort };
Q_DECLARE_METATYPE(Form)
Q_DECLARE_METATYPE(BoardStatus)
Q_DECLARE_METATYPE(UsbTestbed::Fault)

namespace {
using Buffer = std::array<std::uint8_t, 2>;
constexpr Buffer untouched {0x5A, 0x5A};
constexpr uid_t nobody = 65534; // nogroup's number too
const QByteArray firmware = TX4410_FIRMWARE_FILE;

template<typename Rows> void forEachForm(Rows rows)
{
    rows(Form::FourFunction, "four-function");
    rows(Form::BoardPort, "BoardPort");
}
} // namespace

// Both libraries as the programs meet them, opened by path: the simulated board's rules, and their
// USB board through libusb to a board in a umockdev testbed.
class TestBoardLibraries : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void refusedArguments();
    void rules_data();
    void rules();
    void usbBoard_data();
    void usbBoard();
    void boardChoice_data();
    void boardChoice();
    void cliOnTheBus();

private:
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
    std::int16_t request(Form form, const QList<int> &f, std::uint8_t *buffer)
    {
        if (form == Form::BoardPort)
            return m_vendorIORequest(short(f[0]), f[1], f[2], short(f[3]), short(f[4]),
                                     reinterpret_cast<char *>(buffer));
        return m_vendorRequest(m_handle, std::uint8_t(f[0]), f[1], f[2], std::uint8_t(f[3]),
                               std::int16_t(f[4]), buffer);
    }
    const SimulatedBoardControl &control(Form form) const
    {
        return form == Form::BoardPort ? m_boardPortControl : m_usb4Control;
    }

    QLibrary m_usb4 {TX4410_USB4_LIBRARY_FILE}, m_boardPort {TX4410_BOARDPORT_LIBRARY_FILE};
    SimulatedBoardControl m_usb4Control {TX4410_USB4_LIBRARY_FILE};
    SimulatedBoardControl m_boardPortControl {TX4410_BOARDPORT_LIBRARY_FILE};
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
    const auto resolve = [](QLibrary &library, auto &function, const char *symbol) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
                library.resolve(symbol));
    };
    resolve(m_usb4, m_search, BoardFaces::searchForBoardsSymbol);
    resolve(m_usb4, m_connect, BoardFaces::connectSymbol);
    resolve(m_usb4, m_download, BoardFaces::downloadFirmwareSymbol);
    resolve(m_usb4, m_vendorRequest, BoardFaces::vendorRequestSymbol);
    resolve(m_boardPort, m_loadFirmWare, BoardFaces::loadFirmWareSymbol);
    resolve(m_boardPort, m_vendorIORequest, BoardFaces::vendorIORequestSymbol);
    QVERIFY(m_search && m_connect && m_download && m_vendorRequest);
    QVERIFY(m_loadFirmWare && m_vendorIORequest);
}

void TestBoardLibraries::init()
{
    qputenv("TX4410_BOARD", "sim");
    QCOMPARE(m_usb4Control.reset(), 0);
    QCOMPARE(m_boardPortControl.reset(), 0);
    m_handle = 0;
}

// Handles Connect did not give leave the board alone; null pointers are refused.
void TestBoardLibraries::refusedArguments()
{
    QCOMPARE(bringUp(Form::FourFunction, firmware), 0);
    QVERIFY(m_handle != 0);
    QByteArray path = firmware;
    std::uint8_t byte = 0;
    for (const std::int32_t handle : {m_handle + 1, m_handle - 1, 0, -1}) {
        QCOMPARE(m_vendorRequest(handle, Code::ClrLow, 0, 0, 0, 0, &byte),
                 statusCode(BoardStatus::BadHandle));
        QCOMPARE(m_download(handle, reinterpret_cast<std::uint8_t *>(path.data())),
                 statusCode(BoardStatus::BadHandle));
    }
    const std::int16_t refused = statusCode(BoardStatus::NullArgument);
    const std::int32_t vendor = BoardProtocol::vendorId, product = BoardProtocol::productId;
    std::int32_t found = 0;
    QCOMPARE(m_search(vendor, product, &found, nullptr), refused);
    QCOMPARE(m_connect(vendor, product, 1, nullptr), refused);
    QCOMPARE(m_download(m_handle, nullptr), refused);
    QCOMPARE(m_loadFirmWare(nullptr), -refused);
    QCOMPARE(m_vendorRequest(m_handle, Code::ReadAdc, 0, 0, 1, 2, nullptr), refused);
    QCOMPARE(m_vendorIORequest(Code::ReadAdc, 0, 0, 1, 2, nullptr), refused);
}

void TestBoardLibraries::rules_data()
{
    QTest::addColumn<Form>("form");
    QTest::addColumn<QByteArray>("path");     // loaded after the shipped firmware; null: none
    QTest::addColumn<QByteArray>("contents"); // written to the path first unless null
    QTest::addColumn<BoardStatus>("load");
    QTest::addColumn<QList<int>>("fields"); // code, value, index, direction, length
    QTest::addColumn<BoardStatus>("status");
    const QByteArray dir = m_dir.path().toLocal8Bit();
    forEachForm([&](Form form, const char *name) {
        using enum BoardStatus;
        const QList<int> adc {0xBB, 0, 0, 1, 2};
        const auto load = [&](const char *what, const QByteArray &path, BoardStatus status,
                              const QByteArray &contents = {}) {
            QTest::addRow("%s, %s", name, what)
                    << form << path << contents << status << adc << (status == Ok ? Ok : NotLoaded);
        };
        // Read up to the NUL: what follows would make the path too long.
        load("path up to its NUL", firmware + '\0' + QByteArray(5000, 'a'), Ok);
        load("directory", dir, FirmwareMissing);
        load("path of 4096 bytes", QByteArray(4096, 'a'), FirmwareMissing);
        load("path of 4097 bytes", QByteArray(4097, 'a'), PathTooLong);
        load("bad checksum", dir + "/bad.hex", FirmwareInvalid, ":03000000020100FB\n:00000001FF\n");
        load("over 1 MiB", dir + "/large.hex", FirmwareInvalid, QByteArray(1024 * 1024 + 1, '\n'));
        const auto row = [&](const char *what, const QList<int> &fields, BoardStatus status) {
            QTest::addRow("%s, %s", name, what)
                    << form << firmware << QByteArray() << Ok << fields << status;
        };
        QTest::addRow("%s, no load", name) << form << QByteArray() << QByteArray() << Ok << adc
                                           << (form == Form::BoardPort ? NoBoard : BadHandle);
        row("unknown code", {0xAA, 0, 0, 1, 2}, UnknownRequest);
        if (form == Form::BoardPort)
            row("code beyond a byte", {0x1BB, 0, 0, 1, 2}, UnknownRequest);
        row("read ADC to the board", {0xBB, 0, 0, 0, 2}, WrongDirection);
        row("read ADC, one byte", {0xBB, 0, 0, 1, 1}, WrongLength);
        row("value beyond 16 bits", {0xDD, 0x10000, 0x18, 0, 0}, ValueOutOfRange);
        row("index beyond 15 bits", {0xDD, 0x8000, 0x8018, 0, 0}, IndexOutOfRange);
        row("mux mask not one-hot", {0xCC, 6, 0, 0, 0}, RequestRefused);
    });
}

// A failed load leaves the board refusing requests, even after a good one; a refused request
// leaves the buffer as it was.
void TestBoardLibraries::rules()
{
    QFETCH(Form, form);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, contents);
    QFETCH(QList<int>, fields);
    QFETCH(BoardStatus, status);
    if (!path.isNull()) {
        QCOMPARE(bringUp(form, firmware), 0);
        if (!contents.isNull()) {
            QFile file(QString::fromLocal8Bit(path));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(file.write(contents), contents.size());
        }
        QTEST(BoardStatus(bringUp(form, path)), "load");
        // A at full scale, where the board takes it: a good read then differs from no read.
        std::uint8_t byte = 0;
        request(form, {Code::CommandWord, 0xFFFF, 0x18, 0, 0}, &byte);
    }
    Buffer buffer = untouched;
    QCOMPARE(request(form, fields, buffer.data()), statusCode(status));
    QCOMPARE(buffer, status == BoardStatus::Ok ? (Buffer {0x0F, 0xFF}) : untouched);
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
        row("CLR low", {0xE0, 0, 0, 0, 0}, "40 e0 0000 0000 []");
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
    testbed.reset();
    qunsetenv("TX4410_BOARD");
    QCOMPARE(control(form).reset(), 0);
    QCOMPARE(control(form).setFailRequests(false), statusCode(BoardStatus::NotSimulated));
    QFile image(m_dir.filePath("image.hex"));
    QVERIFY(image.open(QIODevice::WriteOnly)
            && image.write(":03000000020100FA\n:00000001FF\n") > 0);
    image.close();
    testbed.settle();
    QCOMPARE(bringUp(form, image.fileName().toLocal8Bit()), 0);
    QCOMPARE(testbed.takeLog(), // reset, image, run (the chunks: the USB board's own tests)
             QStringList({"40 a0 e600 0000 [01]", "40 a0 0000 0000 [02 01 00]",
                          "40 a0 e600 0000 [00]"}));
    testbed.setFault(fault);
    Buffer buffer = untouched;
    QCOMPARE(request(form, fields, buffer.data()), statusCode(status));
    testbed.setFault(UsbTestbed::Fault::None);
    QCOMPARE(testbed.takeLog(), QStringList {setup});
    // A transfer failing for no reason of its own kind is named as libusb names it.
    const auto detail = reinterpret_cast<BoardStatusDetailFunction>(
            (form == Form::BoardPort ? m_boardPort : m_usb4).resolve("Board_StatusDetail"));
    std::array<char, 256> text {};
    QVERIFY(detail && detail(text.data(), std::int32_t(text.size())) == 0);
    QCOMPARE(QString(text.data()),
             status == BoardStatus::RequestFailed
                     ? QStringLiteral("request 0xbb at port 1-1: LIBUSB_ERROR_IO")
                     : QString());
    const bool read = fields[0] == Code::ReadAdc && status == BoardStatus::Ok;
    QCOMPARE(buffer, read ? (Buffer {0x0F, 0xFF}) : untouched);
}

void TestBoardLibraries::boardChoice_data()
{
    QTest::addColumn<QByteArrayList>("boards"); // beside the bare one at 1-1: port identity [flags]
    QTest::addColumn<QByteArrayList>("settings"); // NAME=value; "run=" the run write's fault
    QTest::addColumn<BoardStatus>("status");
    QTest::addColumn<QString>("log"); // the transfers, the read after a bring-up included
    using enum BoardStatus;
    const QString load = "40 a0 e600 0000 [01]|40 a0 0000 0000 [02 01 00]|40 a0 e600 0000 [00]";
    const QString read = "|c0 bb 0000 0000 2";
    const auto row = [](const char *name, const QByteArrayList &boards,
                        const QByteArrayList &settings, BoardStatus status, const QString &log) {
        QTest::newRow(name) << boards << settings << status << log;
    };
    row("another board comes back first: the loaded one is opened", {"1-2 6666:4400 racer"},
        {"TX4410_BOARD_PORT=1-1"}, Ok, load + read);
    row("chosen by port", {"1-2 6666:4400"}, {"TX4410_BOARD_PORT=1-2"}, Ok,
        QString("1-2: " + load + read).replace("|", "|1-2: "));
    row("no board at the port chosen", {}, {"TX4410_BOARD_PORT=1-3"}, PortNotFound, "");
    row("the busy board skipped", {"1-1 6666:4400 busy", "1-2 6666:4400 busy", "1-3 6666:4400"}, {},
        Ok, QString("1-3: " + load + read).replace("|", "|1-3: "));
    // Plugged out of port order: libusb lists them in the order they came (or its reverse).
    row("the first free port, whatever the bus's order",
        {"1-1 6666:4400 busy", "1-3 6666:4400", "1-2 6666:4400", "1-4 6666:4400"}, {}, Ok,
        QString("1-2: " + load + read).replace("|", "|1-2: "));
    row("attached: no load", {"1-2 6666:4400 loaded"}, {"TX4410_BOARD_PORT=1-2", "TX4410_ATTACH=1"},
        Ok, "1-2: c0 bb 0000 0000 2");
    row("attach to a bare board", {}, {"TX4410_ATTACH=1"}, NotRunningFirmware, "");
    row("run write fails, board back", {}, {"run=failed"}, Ok, load + read);
    row("run write stalls, board back", {}, {"run=stall"}, Ok, load + read);
    row("run write times out, board back", {}, {"run=timeout"}, Ok, load + read);
    row("run write stalls, never back", {}, {"run=stall gone", "TX4410_COME_BACK_SECONDS=0.3"},
        BoardNotBack, load);
    row("identity from the file", {"1-2 04b4:8613"},
        {"file=loader-id = 04b4:8613\nfirmware-id = 04b4:8623\n"}, Ok,
        QString("1-2: " + load + read).replace("|", "|1-2: "));
    row("identity from the environment", {"1-2 04b4:8613"},
        {"TX4410_LOADER_ID=04b4:8613", "TX4410_FIRMWARE_ID=04b4:8623"}, Ok,
        QString("1-2: " + load + read).replace("|", "|1-2: "));
    row("malformed file", {}, {"file=loader-id: 04b4:8613\n"}, ConfigInvalid, "");
}

// Which board a bring-up takes, whether it loads it, and when the load is done: through libusb.
void TestBoardLibraries::boardChoice()
{
    QFETCH(QByteArrayList, boards);
    QFETCH(QByteArrayList, settings);
    UsbTestbed &testbed = UsbTestbed::instance();
    testbed.reset();
    testbed.settle(); // each change's events read before the next: libusb's socket holds ten
    for (const QByteArray &board : boards) {
        const QByteArrayList words = board.split(' ');
        testbed.plug(words[0], words[1], words.contains("loaded"), words.contains("busy"));
        testbed.settle();
        if (words.contains("racer"))
            testbed.setRacer(words[0]);
    }
    qunsetenv("TX4410_BOARD");
    for (const QByteArray &setting : settings) {
        const qsizetype equals = setting.indexOf('=');
        const QByteArray name = setting.left(equals), value = setting.mid(equals + 1);
        if (name == "file") {
            QFile file(m_dir.filePath("board.conf"));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(value) == value.size());
            qputenv("TX4410_BOARD_CONFIG", file.fileName().toLocal8Bit());
        } else if (name == "run") {
            using enum UsbTestbed::Fault;
            testbed.setRun(value.startsWith("failed")          ? Failed
                                   : value.startsWith("stall") ? Stall
                                                               : Timeout,
                           !value.endsWith("gone"));
        } else {
            qputenv(name, value);
        }
    }
    QFile image(m_dir.filePath("image.hex"));
    QVERIFY(image.open(QIODevice::WriteOnly)
            && image.write(":03000000020100FA\n:00000001FF\n") > 0);
    image.close();
    QCOMPARE(m_usb4Control.reset(), 0);
    testbed.settle();
    const BoardStatus status
            = BoardStatus(bringUp(Form::FourFunction, image.fileName().toLocal8Bit()));
    Buffer buffer = untouched;
    if (status == BoardStatus::Ok)
        QCOMPARE(m_vendorRequest(m_handle, Code::ReadAdc, 0, 0, 1, 2, buffer.data()), 0);
    for (const char *name : {"TX4410_BOARD_PORT", "TX4410_ATTACH", "TX4410_BOARD_CONFIG",
                             "TX4410_LOADER_ID", "TX4410_FIRMWARE_ID", "TX4410_COME_BACK_SECONDS"})
        qunsetenv(name);
    QTEST(status, "status");
    QTEST(testbed.takeLog().join('|'), "log");
}

// tx4410-cli as a user runs it, on the same boards: list, doctor, and the reason for a failure.
void TestBoardLibraries::cliOnTheBus()
{
    UsbTestbed &testbed = UsbTestbed::instance();
    testbed.reset();
    testbed.plug("1-2", "6666:4400", true, true);
    qunsetenv("TX4410_BOARD");
    const auto run = [](const QStringList &arguments, int status, bool asNobody = false) {
        QProcess cli;
        // Root opens any device node whatever its mode: the user without the rule is nobody.
        if (asNobody)
            cli.setChildProcessModifier([] {
                if (::setgid(nobody) != 0 || ::setuid(nobody) != 0)
                    ::_exit(99);
            });
        cli.start(TX4410_CLI_FILE, arguments);
        if (!cli.waitForFinished(30000) || cli.exitCode() != status)
            qWarning() << cli.readAllStandardError();
        return cli.exitCode() == status
                ? QString::fromUtf8(cli.readAllStandardOutput() + cli.readAllStandardError())
                : QString("exit %1").arg(cli.exitCode());
    };
    QCOMPARE(run({"list"}, 0),
             "1-1       6666:4400  loader only       ok\n"
             "1-2       6666:4410  firmware running  held by another program\n");
    // The same bus as a watcher sees it, opening no board: the busy one is not found busy.
    QCOMPARE(m_usb4Control.reset(), 0); // the USB board, read from the environment again
    testbed.settle();
    const auto present = reinterpret_cast<BoardListFunction>(m_usb4.resolve("Board_Present"));
    std::array<BoardListEntry, 4> entries {};
    std::int32_t count = 0;
    QVERIFY(present != nullptr && present(entries.data(), 4, &count) == 0);
    QCOMPARE(count, 2);
    QCOMPARE(QByteArray(entries[1].port) + ' ' + QByteArray::number(entries[1].access), "1-2 0");
    const QString doctor = run({"doctor"}, 1);
    for (const char *line : {"\nFAIL  firmware image: ", "StandInFirmware",
                             "\nok    board at 1-1: 6666:4400, loader only, can be opened\n",
                             "\nFAIL  board at 1-2: 6666:4410, firmware running, held by another "
                             "program"})
        QVERIFY2(doctor.contains(line), qPrintable(doctor));
    // The shipped stand-in image goes to no real board; the first board is the free one.
    QVERIFY(run({"read", "--channel", "A"}, 3)
                    .startsWith("tx4410-cli: the board was not brought up: TX4413.hex is the "
                                "stand-in image"));
    QVERIFY(run({"--board", "1-2", "--attach", "read", "--channel", "A"}, 3)
                    .contains("[status 25, BoardBusy]"));
    // An error libusb has no kind for: the step, the port and libusb's name, not "no board".
    testbed.plug("1-3", "6666:4400");
    testbed.refuseClaims("1-3");
    QVERIFY(run({"list"}, 0)
                    .endsWith("1-3       6666:4400  loader only       USB error: claiming its "
                              "interface at port 1-3: "
                              "LIBUSB_ERROR_OTHER\n"));
    QVERIFY(run({"--board", "1-3", "read", "--channel", "A"}, 3)
                    .startsWith("tx4410-cli: the board was not brought up: USB failed a step with "
                                "an error this program does not expect (claiming its interface at "
                                "port 1-3: LIBUSB_ERROR_OTHER). Fix: "));
    QCOMPARE(testbed.takeLog(), QStringList());

    // A user the board is closed to: it is said so, and skipped for the next board.
    if (::geteuid() != 0)
        return;
    testbed.reset();
    testbed.plug("1-2", "6666:4400");
    testbed.deny("1-1");
    QCOMPARE(run({"list"}, 0, true),
             "1-1       6666:4400  loader only       no permission\n"
             "1-2       6666:4400  loader only       ok\n");
    QVERIFY(run({"--board", "1-1", "read", "--channel", "A"}, 3, true)
                    .contains("no permission to open the board (port 1-1). Fix: install the udev "
                              "rule and join the plugdev group"));
    QVERIFY(run({"read", "--channel", "A"}, 3, true).contains("[status 18, StandInFirmware]"));
    QCOMPARE(testbed.takeLog(), QStringList());
}

QTEST_APPLESS_MAIN(TestBoardLibraries)
#include "tst_boardlibraries.moc"
