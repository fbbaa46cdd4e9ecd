#include "boardcore.h"

#include <QTest>

#include <array>
#include <string>

Q_DECLARE_METATYPE(BoardStatus)

namespace {

namespace Code = BoardProtocol::RequestCode;

struct BroughtUp
{
    BoardCore core;
    std::int32_t handle;
};

BroughtUp bringUp(BoardCore core)
{
    std::int32_t found = 0;
    std::array<std::uint8_t, BoardCore::boardListBytes> list {};
    std::int32_t handle = 0;
    core.searchForBoards(BoardProtocol::vendorId, BoardProtocol::productId, &found, list.data());
    core.connect(BoardProtocol::vendorId, BoardProtocol::productId, list[0], &handle);
    if (core.downloadFirmware(handle, TX4410_FIRMWARE_SOURCE) != BoardStatus::Ok)
        qFatal("bring-up of the simulated board failed");
    return {std::move(core), handle};
}

} // namespace

class TestBoardCore : public QObject
{
    Q_OBJECT

private slots:
    void searchFillsList();
    void searchFindingNothing();
    void searchNeedsItsPointers();
    void connectGivesHandle();
    void connectRefuses_data();
    void connectRefuses();
    void downloadRefuses_data();
    void downloadRefuses();
    void requestRules_data();
    void requestRules();
    void requestWithStaleHandle();
    void requestAfterFailedLoad();
    void bringUpWithoutHandle();
    void usbBoardFindsNoBoard();
    void fromEnvironment_data();
    void fromEnvironment();
};

void TestBoardCore::searchFillsList()
{
    BoardCore core = BoardCore::simulated();
    std::int32_t found = -7;
    std::array<std::uint8_t, BoardCore::boardListBytes> list;
    list.fill(0xEE);
    QCOMPARE(core.searchForBoards(BoardProtocol::vendorId, BoardProtocol::productId, &found,
                                  list.data()),
             BoardStatus::Ok);
    QCOMPARE(found, 1);
    QCOMPARE(list[0], 1);
    for (std::size_t i = 1; i < list.size(); ++i)
        QCOMPARE(list[i], 0);
}

void TestBoardCore::searchFindingNothing()
{
    BoardCore core = BoardCore::simulated({-1, false});
    std::int32_t found = 5;
    std::array<std::uint8_t, BoardCore::boardListBytes> list;
    list.fill(0xEE);
    QCOMPARE(core.searchForBoards(BoardProtocol::vendorId, BoardProtocol::productId, &found,
                                  list.data()),
             BoardStatus::NoBoard);
    QCOMPARE(found, 0);
    QCOMPARE(list, (std::array<std::uint8_t, BoardCore::boardListBytes> {}));
}

void TestBoardCore::searchNeedsItsPointers()
{
    BoardCore core = BoardCore::simulated();
    std::int32_t found = 0;
    std::array<std::uint8_t, BoardCore::boardListBytes> list {};
    QCOMPARE(core.searchForBoards(BoardProtocol::vendorId, BoardProtocol::productId, nullptr,
                                  list.data()),
             BoardStatus::NullArgument);
    QCOMPARE(list[0], 0);
    QCOMPARE(core.searchForBoards(BoardProtocol::vendorId, BoardProtocol::productId, &found,
                                  nullptr),
             BoardStatus::NullArgument);
    QCOMPARE(found, 0);
}

void TestBoardCore::connectGivesHandle()
{
    BoardCore core = BoardCore::simulated();
    std::int32_t found = 0;
    std::array<std::uint8_t, BoardCore::boardListBytes> list {};
    core.searchForBoards(BoardProtocol::vendorId, BoardProtocol::productId, &found, list.data());
    std::int32_t first = 0;
    QCOMPARE(core.connect(BoardProtocol::vendorId, BoardProtocol::productId, 1, &first),
             BoardStatus::Ok);
    QVERIFY(first != 0);

    // Opening again gives a new handle; the old one is closed.
    std::int32_t second = 0;
    QCOMPARE(core.connect(BoardProtocol::vendorId, BoardProtocol::productId, 1, &second),
             BoardStatus::Ok);
    QVERIFY(second != 0 && second != first);
    QCOMPARE(core.downloadFirmware(first, TX4410_FIRMWARE_SOURCE), BoardStatus::BadHandle);
    QCOMPARE(core.downloadFirmware(second, TX4410_FIRMWARE_SOURCE), BoardStatus::Ok);
}

void TestBoardCore::connectRefuses_data()
{
    QTest::addColumn<bool>("search");
    QTest::addColumn<int>("vendorId");
    QTest::addColumn<int>("productId");
    QTest::addColumn<int>("board");

    QTest::newRow("no search") << false << int(BoardProtocol::vendorId)
                               << int(BoardProtocol::productId) << 1;
    QTest::newRow("board 0") << true << int(BoardProtocol::vendorId)
                             << int(BoardProtocol::productId) << 0;
    QTest::newRow("board 2") << true << int(BoardProtocol::vendorId)
                             << int(BoardProtocol::productId) << 2;
    QTest::newRow("other vendor") << true << 0x1234 << int(BoardProtocol::productId) << 1;
    QTest::newRow("other product") << true << int(BoardProtocol::vendorId) << 0x1234 << 1;
}

void TestBoardCore::connectRefuses()
{
    QFETCH(bool, search);
    QFETCH(int, vendorId);
    QFETCH(int, productId);
    QFETCH(int, board);

    BoardCore core = BoardCore::simulated();
    if (search) {
        std::int32_t found = 0;
        std::array<std::uint8_t, BoardCore::boardListBytes> list {};
        core.searchForBoards(BoardProtocol::vendorId, BoardProtocol::productId, &found,
                             list.data());
    }
    std::int32_t handle = 0x1111;
    QCOMPARE(core.connect(vendorId, productId, static_cast<std::uint8_t>(board), &handle),
             BoardStatus::NoBoard);
    QCOMPARE(handle, 0);
    QCOMPARE(core.connect(vendorId, productId, static_cast<std::uint8_t>(board), nullptr),
             BoardStatus::NullArgument);
}

void TestBoardCore::downloadRefuses_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("rightHandle");
    QTest::addColumn<BoardStatus>("status");

    QTest::newRow("wrong handle") << QByteArray(TX4410_FIRMWARE_SOURCE) << false
                                  << BoardStatus::BadHandle;
    QTest::newRow("missing file") << QByteArray("/nonexistent/TX4413.hex") << true
                                  << BoardStatus::FirmwareMissing;
    QTest::newRow("empty path") << QByteArray("") << true << BoardStatus::FirmwareMissing;
    QTest::newRow("not a HEX image")
            << QByteArray(__FILE__) << true << BoardStatus::FirmwareInvalid;
    QTest::newRow("overlong path")
            << QByteArray(BoardCore::maxPathBytes + 1, 'a') << true << BoardStatus::PathTooLong;
}

void TestBoardCore::downloadRefuses()
{
    QFETCH(QByteArray, path);
    QFETCH(bool, rightHandle);
    QFETCH(BoardStatus, status);

    BoardCore core = BoardCore::simulated();
    std::int32_t found = 0;
    std::array<std::uint8_t, BoardCore::boardListBytes> list {};
    std::int32_t handle = 0;
    core.searchForBoards(BoardProtocol::vendorId, BoardProtocol::productId, &found, list.data());
    core.connect(BoardProtocol::vendorId, BoardProtocol::productId, list[0], &handle);
    QCOMPARE(core.downloadFirmware(rightHandle ? handle : handle + 1, path.constData()), status);

    std::uint8_t buffer = 0;
    QCOMPARE(core.vendorRequest(handle, {Code::ClrLow, 0, 0, 0, 0, &buffer}),
             BoardStatus::NotLoaded);
}

void TestBoardCore::requestRules_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("length");
    QTest::addColumn<BoardStatus>("status");

    QTest::newRow("command word") << 0xDD << 0x8000 << 0x18 << 0 << 0 << BoardStatus::Ok;
    QTest::newRow("command word, largest") << 0xDD << 0xFFFF << 0x7FFF << 0 << 0 << BoardStatus::Ok;
    QTest::newRow("select mux H") << 0xCC << 128 << 0 << 0 << 0 << BoardStatus::Ok;
    QTest::newRow("read ADC") << 0xBB << 0 << 0 << 1 << 2 << BoardStatus::Ok;
    QTest::newRow("CLR low") << 0xE0 << 0 << 0 << 0 << 0 << BoardStatus::Ok;
    QTest::newRow("LDAC high") << 0xF1 << 0 << 0 << 0 << 0 << BoardStatus::Ok;

    QTest::newRow("unknown code") << 0xAA << 0 << 0 << 0 << 0 << BoardStatus::UnknownRequest;
    QTest::newRow("unknown code 0") << 0x00 << 0 << 0 << 0 << 0 << BoardStatus::UnknownRequest;
    QTest::newRow("code beyond a byte") << 0x1DD << 0 << 0 << 0 << 0 << BoardStatus::UnknownRequest;
    QTest::newRow("negative code") << -35 << 0 << 0 << 0 << 0 << BoardStatus::UnknownRequest;
    QTest::newRow("read ADC to the board")
            << 0xBB << 0 << 0 << 0 << 2 << BoardStatus::WrongDirection;
    QTest::newRow("command word from the board")
            << 0xDD << 0 << 0 << 1 << 0 << BoardStatus::WrongDirection;
    QTest::newRow("direction 2") << 0xE1 << 0 << 0 << 2 << 0 << BoardStatus::WrongDirection;
    QTest::newRow("read ADC, one byte") << 0xBB << 0 << 0 << 1 << 1 << BoardStatus::WrongLength;
    QTest::newRow("read ADC, no bytes") << 0xBB << 0 << 0 << 1 << 0 << BoardStatus::WrongLength;
    QTest::newRow("command word with data") << 0xDD << 0 << 0 << 0 << 2 << BoardStatus::WrongLength;
    QTest::newRow("negative length") << 0xF0 << 0 << 0 << 0 << -1 << BoardStatus::WrongLength;
    QTest::newRow("value beyond 16 bits")
            << 0xDD << 0x10000 << 0 << 0 << 0 << BoardStatus::ValueOutOfRange;
    QTest::newRow("negative value") << 0xCC << -1 << 0 << 0 << 0 << BoardStatus::ValueOutOfRange;
    QTest::newRow("value on a pin") << 0xE0 << 1 << 0 << 0 << 0 << BoardStatus::ValueOutOfRange;
    QTest::newRow("index beyond 15 bits")
            << 0xDD << 0 << 0x8000 << 0 << 0 << BoardStatus::IndexOutOfRange;
    QTest::newRow("negative index") << 0xDD << 0 << -1 << 0 << 0 << BoardStatus::IndexOutOfRange;
    QTest::newRow("index on the mux") << 0xCC << 1 << 1 << 0 << 0 << BoardStatus::IndexOutOfRange;
    QTest::newRow("mux mask not one-hot")
            << 0xCC << 6 << 0 << 0 << 0 << BoardStatus::RequestRefused;
}

void TestBoardCore::requestRules()
{
    QFETCH(int, code);
    QFETCH(int, value);
    QFETCH(int, index);
    QFETCH(int, direction);
    QFETCH(int, length);
    QFETCH(BoardStatus, status);

    auto [core, handle] = bringUp(BoardCore::simulated());
    std::array<std::uint8_t, 2> buffer {0x5A, 0x5A};
    QCOMPARE(core.vendorRequest(handle, {code, value, index, direction, length, buffer.data()}),
             status);
    if (status != BoardStatus::Ok || code != Code::ReadAdc)
        QCOMPARE(buffer, (std::array<std::uint8_t, 2> {0x5A, 0x5A}));
    else
        QCOMPARE(buffer, (std::array<std::uint8_t, 2> {0, 0}));
    QCOMPARE(core.vendorRequest(handle, {code, value, index, direction, length, nullptr}),
             BoardStatus::NullArgument);
}

void TestBoardCore::requestWithStaleHandle()
{
    auto [core, handle] = bringUp(BoardCore::simulated());
    std::uint8_t buffer = 0;
    QCOMPARE(core.vendorRequest(handle + 1, {Code::ClrLow, 0, 0, 0, 0, &buffer}),
             BoardStatus::BadHandle);
    QCOMPARE(core.vendorRequest(0, {Code::ClrLow, 0, 0, 0, 0, &buffer}), BoardStatus::BadHandle);
    QVERIFY(core.simulatedBoard()->dac().clrHigh());

    // A new search closes the board: its handle is gone.
    std::int32_t found = 0;
    std::array<std::uint8_t, BoardCore::boardListBytes> list {};
    core.searchForBoards(BoardProtocol::vendorId, BoardProtocol::productId, &found, list.data());
    QCOMPARE(core.vendorRequest(handle, {Code::ClrLow, 0, 0, 0, 0, &buffer}),
             BoardStatus::BadHandle);
}

void TestBoardCore::requestAfterFailedLoad()
{
    auto [core, handle] = bringUp(BoardCore::simulated());
    QCOMPARE(core.downloadFirmware(handle, "/nonexistent.hex"), BoardStatus::FirmwareMissing);
    std::uint8_t buffer = 0;
    QCOMPARE(core.vendorRequest(handle, {Code::ClrLow, 0, 0, 0, 0, &buffer}),
             BoardStatus::NotLoaded);
}

void TestBoardCore::bringUpWithoutHandle()
{
    BoardCore core = BoardCore::simulated({1, false});
    std::uint8_t buffer = 0;
    QCOMPARE(core.vendorRequest({Code::ClrLow, 0, 0, 0, 0, &buffer}), BoardStatus::NoBoard);
    QCOMPARE(core.bringUp(TX4410_FIRMWARE_SOURCE), BoardStatus::NoBoard);
    QCOMPARE(core.bringUp(nullptr), BoardStatus::NullArgument);
    QCOMPARE(core.vendorRequest({Code::ClrLow, 0, 0, 0, 0, &buffer}), BoardStatus::NotLoaded);
    QCOMPARE(core.bringUp(TX4410_FIRMWARE_SOURCE), BoardStatus::Ok);
    QCOMPARE(core.vendorRequest({Code::ClrLow, 0, 0, 0, 0, &buffer}), BoardStatus::Ok);
    QVERIFY(!core.simulatedBoard()->dac().clrHigh());
}

void TestBoardCore::usbBoardFindsNoBoard()
{
    BoardCore core = BoardCore::usb();
    QVERIFY(core.simulatedBoard() == nullptr);
    std::int32_t found = 3;
    std::array<std::uint8_t, BoardCore::boardListBytes> list {};
    QCOMPARE(core.searchForBoards(BoardProtocol::vendorId, BoardProtocol::productId, &found,
                                  list.data()),
             BoardStatus::NoBoard);
    QCOMPARE(found, 0);
    std::int32_t handle = 9;
    QCOMPARE(core.connect(BoardProtocol::vendorId, BoardProtocol::productId, list[0], &handle),
             BoardStatus::NoBoard);
    QCOMPARE(core.downloadFirmware(handle, TX4410_FIRMWARE_SOURCE), BoardStatus::BadHandle);
    QVERIFY(core.bringUp(TX4410_FIRMWARE_SOURCE) != BoardStatus::Ok);
    std::uint8_t buffer = 0;
    QVERIFY(core.vendorRequest(handle, {Code::ClrLow, 0, 0, 0, 0, &buffer}) != BoardStatus::Ok);
    QVERIFY(core.vendorRequest({Code::ClrLow, 0, 0, 0, 0, &buffer}) != BoardStatus::Ok);
}

void TestBoardCore::fromEnvironment_data()
{
    QTest::addColumn<QByteArray>("board");
    QTest::addColumn<bool>("simulated");

    QTest::newRow("sim") << QByteArray("sim") << true;
    QTest::newRow("unset") << QByteArray() << false;
    QTest::newRow("usb") << QByteArray("usb") << false;
    QTest::newRow("Sim") << QByteArray("Sim") << false;
}

void TestBoardCore::fromEnvironment()
{
    QFETCH(QByteArray, board);
    QFETCH(bool, simulated);

    const QByteArray saved = qgetenv("TX4410_BOARD");
    if (board.isNull())
        qunsetenv("TX4410_BOARD");
    else
        qputenv("TX4410_BOARD", board);
    const BoardCore core = BoardCore::fromEnvironment();
    qputenv("TX4410_BOARD", saved);
    QCOMPARE(core.simulatedBoard() != nullptr, simulated);
}

QTEST_APPLESS_MAIN(TestBoardCore)
#include "tst_boardcore.moc"
