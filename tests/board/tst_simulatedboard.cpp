#include "intelheximage.h"
#include "simulatedboard.h"

#include <QTest>

#include <array>

namespace {

namespace Code = BoardProtocol::RequestCode;

const BoardProtocol::RequestKind &kind(std::uint8_t code)
{
    return *BoardProtocol::findRequest(code);
}

// A board that is up: found, opened and running its firmware.
SimulatedBoard boardUp(SimulatedBoard::Knobs knobs = {})
{
    SimulatedBoard board(knobs);
    const IntelHexImage image = IntelHexImage::load(TX4410_FIRMWARE_SOURCE);
    if (board.search(BoardProtocol::vendorId, BoardProtocol::productId) != 1
        || board.open(1) != BoardStatus::Ok || board.loadFirmware(image) != BoardStatus::Ok)
        qFatal("the simulated board did not come up");
    return board;
}

BoardStatus send(SimulatedBoard &board, std::uint8_t code, std::int32_t value = 0,
                 std::int32_t index = 0)
{
    return board.transfer(kind(code), value, index, {});
}

std::array<std::uint8_t, 2> readAdc(SimulatedBoard &board)
{
    std::array<std::uint8_t, 2> reply {0x5A, 0x5A};
    if (board.transfer(kind(Code::ReadAdc), 0, 0, reply) != BoardStatus::Ok)
        qFatal("the ADC read failed");
    return reply;
}

} // namespace

class TestSimulatedBoard : public QObject
{
    Q_OBJECT

private slots:
    void adcCode_data();
    void adcCode();
    void readback_data();
    void readback();
    void muxRefusesMask_data();
    void muxRefusesMask();
    void commandWordSplitsValueAndIndex();
    void pinsReachTheDac();
    void absentAttempts_data();
    void absentAttempts();
    void foreignIdentityFindsNothing();
    void failingRequestsLeaveReplyUntouched();
    void requestsNeedFirmware();
    void firmwareLoadRestartsBoard();
    void parseAbsentAttempts_data();
    void parseAbsentAttempts();
};

void TestSimulatedBoard::adcCode_data()
{
    QTest::addColumn<double>("volts");
    QTest::addColumn<int>("code");

    QTest::newRow("0 V") << 0.0 << 0;
    QTest::newRow("just below one step") << 0.0012207 << 0;
    QTest::newRow("one step") << 5.0 / 4096 << 1;
    QTest::newRow("1.25 V") << 1.25 << 1024;
    QTest::newRow("2.5 V") << 2.5 << 2048;
    QTest::newRow("DAC code 0x1234") << 0.35552978515625 << 0x123;
    QTest::newRow("DAC full scale") << 4.9999237060546875 << 4095;
    QTest::newRow("supply: capped") << 5.0 << 4095;
    QTest::newRow("above supply: capped") << 7.5 << 4095;
    QTest::newRow("negative") << -1.0 << 0;
}

void TestSimulatedBoard::adcCode()
{
    QFETCH(double, volts);
    QFETCH(int, code);
    QCOMPARE(SimulatedBoard::adcCode(volts), code);
}

void TestSimulatedBoard::readback_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("low");

    // Channels A to D hold 0x1000, 0x8000, 0xC000 and 0x1234.
    QTest::newRow("A") << 1 << 0x01 << 0x00;
    QTest::newRow("B") << 2 << 0x08 << 0x00;
    QTest::newRow("C") << 4 << 0x0C << 0x00;
    QTest::newRow("D") << 8 << 0x01 << 0x23;
    QTest::newRow("E") << 16 << 0 << 0;
    QTest::newRow("F") << 32 << 0 << 0;
    QTest::newRow("G") << 64 << 0 << 0;
    QTest::newRow("H") << 128 << 0 << 0;
}

void TestSimulatedBoard::readback()
{
    QFETCH(int, mask);
    QFETCH(int, high);
    QFETCH(int, low);

    SimulatedBoard board = boardUp();
    for (const std::int32_t word : {0x181000, 0x198000, 0x1AC000, 0x1B1234})
        QCOMPARE(send(board, Code::CommandWord, word & 0xFFFF, word >> 16), BoardStatus::Ok);
    QCOMPARE(send(board, Code::SelectMux, mask), BoardStatus::Ok);
    QCOMPARE(board.muxMask(), mask);
    QCOMPARE(readAdc(board), (std::array<std::uint8_t, 2> {std::uint8_t(high), std::uint8_t(low)}));
}

void TestSimulatedBoard::muxRefusesMask_data()
{
    QTest::addColumn<int>("mask");
    QTest::newRow("none") << 0;
    QTest::newRow("A and B") << 3;
    QTest::newRow("A and H") << 129;
    QTest::newRow("beyond H") << 256;
    QTest::newRow("16-bit -1") << 0xFFFF;
}

void TestSimulatedBoard::muxRefusesMask()
{
    QFETCH(int, mask);
    SimulatedBoard board = boardUp();
    QCOMPARE(send(board, Code::SelectMux, 4), BoardStatus::Ok);
    QCOMPARE(send(board, Code::SelectMux, mask), BoardStatus::RequestRefused);
    QCOMPARE(board.muxMask(), 4);
}

void TestSimulatedBoard::commandWordSplitsValueAndIndex()
{
    // Write and update D with 0xABCD: value the low 16 bits, index bits 16 and up.
    SimulatedBoard board = boardUp();
    QCOMPARE(send(board, Code::CommandWord, 0xABCD, 0x1B), BoardStatus::Ok);
    QCOMPARE(board.dac().dacRegister(3), 0xABCD);
    QCOMPARE(board.dac().dacRegister(0), 0);
}

void TestSimulatedBoard::pinsReachTheDac()
{
    SimulatedBoard board = boardUp();
    QCOMPARE(send(board, Code::ClrLow), BoardStatus::Ok);
    QVERIFY(!board.dac().clrHigh());
    QCOMPARE(send(board, Code::ClrHigh), BoardStatus::Ok);
    QVERIFY(board.dac().clrHigh());
    QCOMPARE(send(board, Code::LdacLow), BoardStatus::Ok);
    QVERIFY(!board.dac().ldacHigh());
    QCOMPARE(send(board, Code::LdacHigh), BoardStatus::Ok);
    QVERIFY(board.dac().ldacHigh());
}

void TestSimulatedBoard::absentAttempts_data()
{
    QTest::addColumn<int>("knob");
    QTest::addColumn<QList<int>>("found");

    QTest::newRow("present at once") << 0 << QList<int> {1, 1, 1};
    QTest::newRow("after two") << 2 << QList<int> {0, 0, 1, 1};
    QTest::newRow("never") << -1 << QList<int> {0, 0, 0, 0, 0};
}

void TestSimulatedBoard::absentAttempts()
{
    QFETCH(int, knob);
    QFETCH(QList<int>, found);

    SimulatedBoard board(SimulatedBoard::Knobs {knob, false});
    QList<int> actual;
    for (qsizetype i = 0; i < found.size(); ++i)
        actual.append(board.search(BoardProtocol::vendorId, BoardProtocol::productId));
    QCOMPARE(actual, found);

    // Setting the knob counts afresh.
    board.setAbsentAttempts(1);
    QCOMPARE(board.search(BoardProtocol::vendorId, BoardProtocol::productId), 0);
    QCOMPARE(board.search(BoardProtocol::vendorId, BoardProtocol::productId), 1);
}

void TestSimulatedBoard::foreignIdentityFindsNothing()
{
    SimulatedBoard board;
    QCOMPARE(board.search(BoardProtocol::vendorId + 1, BoardProtocol::productId), 0);
    QCOMPARE(board.open(1), BoardStatus::NoBoard);
    QCOMPARE(board.search(BoardProtocol::vendorId, BoardProtocol::productId + 1), 0);
    QCOMPARE(board.search(BoardProtocol::vendorId, BoardProtocol::productId), 1);
    QCOMPARE(board.open(2), BoardStatus::NoBoard);
}

void TestSimulatedBoard::failingRequestsLeaveReplyUntouched()
{
    SimulatedBoard board = boardUp(SimulatedBoard::Knobs {0, true});
    std::array<std::uint8_t, 2> reply {0x5A, 0x5A};
    QCOMPARE(board.transfer(kind(Code::ReadAdc), 0, 0, reply), BoardStatus::RequestFailed);
    QCOMPARE(reply, (std::array<std::uint8_t, 2> {0x5A, 0x5A}));
    QCOMPARE(send(board, Code::CommandWord, 0x8000, 0x18), BoardStatus::RequestFailed);
    QCOMPARE(board.dac().dacRegister(0), 0);

    board.setFailRequests(false);
    QCOMPARE(send(board, Code::CommandWord, 0x8000, 0x18), BoardStatus::Ok);
    QCOMPARE(board.dac().dacRegister(0), 0x8000);
}

void TestSimulatedBoard::requestsNeedFirmware()
{
    SimulatedBoard board;
    QCOMPARE(board.search(BoardProtocol::vendorId, BoardProtocol::productId), 1);
    QCOMPARE(board.open(1), BoardStatus::Ok);
    QCOMPARE(send(board, Code::ClrLow), BoardStatus::NotLoaded);
    QVERIFY(board.dac().clrHigh());
}

void TestSimulatedBoard::firmwareLoadRestartsBoard()
{
    SimulatedBoard board = boardUp();
    QCOMPARE(send(board, Code::CommandWord, 0x8000, 0x1F), BoardStatus::Ok);
    QCOMPARE(send(board, Code::SelectMux, 8), BoardStatus::Ok);
    QCOMPARE(send(board, Code::LdacLow), BoardStatus::Ok);

    // A new search closes the board; the next load starts it as at power-on.
    QCOMPARE(board.search(BoardProtocol::vendorId, BoardProtocol::productId), 1);
    QVERIFY(!board.firmwareRunning());
    QCOMPARE(board.open(1), BoardStatus::Ok);
    QCOMPARE(board.loadFirmware(IntelHexImage::load(TX4410_FIRMWARE_SOURCE)), BoardStatus::Ok);
    QCOMPARE(board.dac().dacRegister(3), 0);
    QCOMPARE(board.muxMask(), 1);
    QVERIFY(board.dac().ldacHigh());
}

void TestSimulatedBoard::parseAbsentAttempts_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("attempts");

    QTest::newRow("3") << QByteArray("3") << 3;
    QTest::newRow("0") << QByteArray("0") << 0;
    QTest::newRow("negative") << QByteArray("-1") << -1;
    QTest::newRow("always") << QByteArray("always") << -1;
    QTest::newRow("empty") << QByteArray("") << 0;
    QTest::newRow("not a number") << QByteArray("soon") << 0;
    QTest::newRow("trailing junk") << QByteArray("2x") << 0;
    QTest::newRow("too large") << QByteArray("99999999999") << 0;
}

void TestSimulatedBoard::parseAbsentAttempts()
{
    QFETCH(QByteArray, text);
    QFETCH(int, attempts);
    QCOMPARE(SimulatedBoard::Knobs::parseAbsentAttempts(text.constData()), attempts);
    QCOMPARE(SimulatedBoard::Knobs::parseAbsentAttempts(nullptr), 0);
}

QTEST_APPLESS_MAIN(TestSimulatedBoard)
#include "tst_simulatedboard.moc"
