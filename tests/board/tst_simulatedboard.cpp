#include "intelheximage.h"
#include "simulatedboard.h"

#include <QTest>

#include <array>

Q_DECLARE_METATYPE(BoardStatus)

class TestSimulatedBoard : public QObject
{
    Q_OBJECT

private slots:
    void adcCode_data();
    void adcCode();
    void readback_data();
    void readback();
};

void TestSimulatedBoard::adcCode_data()
{
    QTest::addColumn<double>("volts");
    QTest::addColumn<int>("code");
    QTest::newRow("just below one step") << 0.0012207 << 0;
    QTest::newRow("one step") << 5.0 / 4096 << 1;
    QTest::newRow("2.5 V") << 2.5 << 2048;
    QTest::newRow("DAC full scale") << 4.9999237060546875 << 4095;
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
    QTest::addColumn<BoardStatus>("status");
    QTest::addColumn<int>("code");
    // A to D hold 0x1000, 0x8000, 0xC000 and 0x1234; C is selected before the mask.
    QTest::newRow("A") << 1 << BoardStatus::Ok << 0x100;
    QTest::newRow("B") << 2 << BoardStatus::Ok << 0x800;
    QTest::newRow("D") << 8 << BoardStatus::Ok << 0x123;
    QTest::newRow("H, no DAC") << 128 << BoardStatus::Ok << 0;
    QTest::newRow("none: C kept") << 0 << BoardStatus::RequestRefused << 0xC00;
    QTest::newRow("A and H: C kept") << 129 << BoardStatus::RequestRefused << 0xC00;
    QTest::newRow("beyond H: C kept") << 256 << BoardStatus::RequestRefused << 0xC00;
}

void TestSimulatedBoard::readback()
{
    QFETCH(int, mask);
    QFETCH(BoardStatus, status);
    QFETCH(int, code);
    const auto send = [](SimulatedBoard &board, std::uint8_t code, std::int32_t value,
                         std::int32_t index = 0, std::span<std::uint8_t> data = {}) {
        return board.transfer(*BoardProtocol::findRequest(code), value, index, data);
    };
    SimulatedBoard board;
    QCOMPARE(board.search(BoardProtocol::vendorId, BoardProtocol::productId), 1);
    QCOMPARE(board.open(1), BoardStatus::Ok);
    QCOMPARE(board.loadFirmware(IntelHexImage::load(TX4410_FIRMWARE_SOURCE)), BoardStatus::Ok);
    for (const std::int32_t word : {0x181000, 0x198000, 0x1AC000, 0x1B1234})
        QCOMPARE(send(board, 0xDD, word & 0xFFFF, word >> 16), BoardStatus::Ok);
    QCOMPARE(send(board, 0xCC, 4), BoardStatus::Ok);
    QCOMPARE(send(board, 0xCC, mask), status);
    std::array<std::uint8_t, 2> reply {0x5A, 0x5A};
    QCOMPARE(send(board, 0xBB, 0, 0, reply), BoardStatus::Ok);
    QCOMPARE(reply[0] << 8 | reply[1], code);
}

QTEST_APPLESS_MAIN(TestSimulatedBoard)
#include "tst_simulatedboard.moc"
