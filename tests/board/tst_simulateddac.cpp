#include "simulateddac.h"

#include <QTest>

using Volts = QList<double>;
using Frames = QList<quint32>;

namespace {

constexpr double fullScale = 65535 * 5.0 / 65536; // 4.99992370605469 V

Volts outputs(const SimulatedDac &dac)
{
    Volts volts;
    for (int channel = 0; channel < SimulatedDac::channelCount; ++channel)
        volts.append(dac.outputVolts(channel));
    return volts;
}

SimulatedDac afterFrames(const Frames &frames)
{
    SimulatedDac dac;
    for (const quint32 frame : frames)
        dac.writeFrame(frame);
    return dac;
}

} // namespace

class TestSimulatedDac : public QObject
{
    Q_OBJECT

private slots:
    void powersOnAtZero();
    void commands_data();
    void commands();
    void conversion_data();
    void conversion();
    void powerDownModes_data();
    void powerDownModes();
    void powerDownKeepsDacRegister();
    void clrLowLoadsZeroScale();
    void clrHeldLowHoldsZeroScale();
    void ldacFallingEdgeCopiesInputs();
    void ldacLowPassesEveryInputWrite();
    void ldacHighAgainStopsPassing();
};

void TestSimulatedDac::powersOnAtZero()
{
    const SimulatedDac dac;
    QCOMPARE(outputs(dac), Volts({0, 0, 0, 0}));
    QCOMPARE(dac.referenceVolts(), 5.0);
    QVERIFY(dac.clrHigh());
    QVERIFY(dac.ldacHigh());
    QCOMPARE(dac.ldacMask(), 0);
}

void TestSimulatedDac::commands_data()
{
    QTest::addColumn<Frames>("frames");
    QTest::addColumn<Volts>("volts");

    QTest::newRow("write input A: output unchanged") << Frames {0x008000} << Volts {0, 0, 0, 0};
    QTest::newRow("write input A, update A") << Frames {0x008000, 0x080000} << Volts {2.5, 0, 0, 0};
    QTest::newRow("write input A, update B") << Frames {0x008000, 0x090000} << Volts {0, 0, 0, 0};
    QTest::newRow("write input all, update all")
            << Frames {0x078000, 0x0F0000} << Volts {2.5, 2.5, 2.5, 2.5};
    QTest::newRow("write input A, write input B and update all")
            << Frames {0x004000, 0x118000} << Volts {1.25, 2.5, 0, 0};
    QTest::newRow("write input D and update all, address none")
            << Frames {0x034000, 0x148000} << Volts {0, 0, 0, 1.25};
    QTest::newRow("write and update C") << Frames {0x1AFFFF} << Volts {0, 0, fullScale, 0};
    QTest::newRow("write and update all") << Frames {0x1FFFFF} << Volts(4, fullScale);
    QTest::newRow("address 4 names no channel") << Frames {0x1C8000} << Volts {0, 0, 0, 0};
    QTest::newRow("address 6 names no channel") << Frames {0x1E8000} << Volts {0, 0, 0, 0};
    QTest::newRow("bits 23 and 22 are ignored") << Frames {0xD98000} << Volts {0, 2.5, 0, 0};
    QTest::newRow("bits above the frame are ignored")
            << Frames {0x7FC00000 | 0x198000} << Volts {0, 2.5, 0, 0};

    QTest::newRow("reset, registers only") << Frames {0x1F8000, 0x280000} << Volts {0, 0, 0, 0};
    QTest::newRow("reset, registers only: internal reference stays on")
            << Frames {0x380001, 0x280000, 0x1F8000} << Volts(4, 1.25);
    QTest::newRow("reset, registers only: power-down stays")
            << Frames {0x20003F, 0x280000, 0x1F8000} << Volts {0, 0, 0, 0};
    QTest::newRow("reset, registers only: LDAC register stays")
            << Frames {0x300001, 0x280000, 0x008000} << Volts {2.5, 0, 0, 0};
    QTest::newRow("reset all: internal reference off")
            << Frames {0x380001, 0x280001, 0x1F8000} << Volts(4, 2.5);
    QTest::newRow("reset all: channels powered up")
            << Frames {0x20003F, 0x280001, 0x1F8000} << Volts(4, 2.5);
    QTest::newRow("reset all: LDAC register cleared")
            << Frames {0x30000F, 0x280001, 0x078000} << Volts {0, 0, 0, 0};
    QTest::newRow("reset all: registers zero") << Frames {0x1F8000, 0x280001} << Volts {0, 0, 0, 0};

    QTest::newRow("LDAC register A: input write goes through")
            << Frames {0x300001, 0x008000} << Volts {2.5, 0, 0, 0};
    QTest::newRow("LDAC register B: only B goes through")
            << Frames {0x300002, 0x078000} << Volts {0, 2.5, 0, 0};
    QTest::newRow("LDAC register cleared again")
            << Frames {0x30000F, 0x300000, 0x078000} << Volts {0, 0, 0, 0};

    QTest::newRow("internal reference on") << Frames {0x380001, 0x1F8000} << Volts(4, 1.25);
    QTest::newRow("internal reference off again")
            << Frames {0x380001, 0x380000, 0x1F8000} << Volts(4, 2.5);
    QTest::newRow("internal reference: full scale")
            << Frames {0x380001, 0x18FFFF} << Volts {65535 * 2.5 / 65536, 0, 0, 0};
}

void TestSimulatedDac::commands()
{
    QFETCH(Frames, frames);
    QFETCH(Volts, volts);
    QCOMPARE(outputs(afterFrames(frames)), volts);
}

void TestSimulatedDac::conversion_data()
{
    QTest::addColumn<quint32>("code");
    QTest::addColumn<double>("volts");

    QTest::newRow("one step") << 0x0001u << 5.0 / 65536;
    QTest::newRow("quarter") << 0x4000u << 1.25;
    QTest::newRow("mid scale") << 0x8000u << 2.5;
    QTest::newRow("0x1234") << 0x1234u << 0.35552978515625;
    QTest::newRow("full scale") << 0xFFFFu << 4.9999237060546875;
}

void TestSimulatedDac::conversion()
{
    QFETCH(quint32, code);
    QFETCH(double, volts);
    SimulatedDac dac;
    dac.writeFrame(0x180000 | code);
    QCOMPARE(dac.dacRegister(0), code);
    QCOMPARE(dac.outputVolts(0), volts);
}

void TestSimulatedDac::powerDownModes_data()
{
    QTest::addColumn<quint32>("frame");
    QTest::addColumn<QList<int>>("modes");
    QTest::addColumn<Volts>("volts");

    const Volts mid(4, 2.5);
    QTest::newRow("1 kOhm on B and D")
            << 0x20001Au << QList<int> {0, 1, 0, 1} << Volts {2.5, 0, 2.5, 0};
    QTest::newRow("100 kOhm on A")
            << 0x200021u << QList<int> {2, 0, 0, 0} << Volts {0, 2.5, 2.5, 2.5};
    QTest::newRow("three-state on all") << 0x20003Fu << QList<int> {3, 3, 3, 3} << Volts(4, 0);
    QTest::newRow("no channel selected") << 0x200030u << QList<int> {0, 0, 0, 0} << mid;
    QTest::newRow("address ignored")
            << 0x270014u << QList<int> {0, 0, 1, 0} << Volts {2.5, 2.5, 0, 2.5};
}

void TestSimulatedDac::powerDownModes()
{
    QFETCH(quint32, frame);
    QFETCH(QList<int>, modes);
    QFETCH(Volts, volts);

    SimulatedDac dac = afterFrames({0x1F8000, frame});
    QList<int> actual;
    for (int channel = 0; channel < SimulatedDac::channelCount; ++channel)
        actual.append(static_cast<int>(dac.powerMode(channel)));
    QCOMPARE(actual, modes);
    QCOMPARE(outputs(dac), volts);

    // Normal mode for the same channels powers them up again; the others keep theirs.
    dac.writeFrame(frame & ~0x30u);
    QCOMPARE(outputs(dac), Volts(4, 2.5));
}

void TestSimulatedDac::powerDownKeepsDacRegister()
{
    const SimulatedDac dac = afterFrames({0x18C000, 0x200011});
    QCOMPARE(dac.outputVolts(0), 0.0);
    QCOMPARE(dac.dacRegister(0), 0xC000);
}

void TestSimulatedDac::clrLowLoadsZeroScale()
{
    SimulatedDac dac = afterFrames({0x1F8000});
    dac.setClrPin(false);
    QCOMPARE(outputs(dac), Volts(4, 0));
    dac.setClrPin(true);
    QCOMPARE(outputs(dac), Volts(4, 0));
    // The input registers kept their codes: an update brings them back.
    dac.writeFrame(0x0F0000);
    QCOMPARE(outputs(dac), Volts(4, 2.5));
}

void TestSimulatedDac::clrHeldLowHoldsZeroScale()
{
    SimulatedDac dac;
    dac.setClrPin(false);
    dac.writeFrame(0x1F8000);
    QCOMPARE(outputs(dac), Volts(4, 0));
    QCOMPARE(dac.inputRegister(2), 0x8000);
}

void TestSimulatedDac::ldacFallingEdgeCopiesInputs()
{
    SimulatedDac dac = afterFrames({0x004000, 0x018000, 0x02C000});
    QCOMPARE(outputs(dac), Volts(4, 0));
    dac.setLdacPin(false);
    QCOMPARE(outputs(dac), Volts({1.25, 2.5, 3.75, 0}));
}

void TestSimulatedDac::ldacLowPassesEveryInputWrite()
{
    SimulatedDac dac;
    dac.setLdacPin(false);
    dac.writeFrame(0x00C000);
    QCOMPARE(outputs(dac), Volts({3.75, 0, 0, 0}));
    dac.writeFrame(0x034000);
    QCOMPARE(outputs(dac), Volts({3.75, 0, 0, 1.25}));
}

void TestSimulatedDac::ldacHighAgainStopsPassing()
{
    SimulatedDac dac;
    dac.setLdacPin(false);
    dac.setLdacPin(true);
    dac.writeFrame(0x008000);
    QCOMPARE(outputs(dac), Volts(4, 0));
    QVERIFY(dac.ldacHigh());
}

QTEST_APPLESS_MAIN(TestSimulatedDac)
#include "tst_simulateddac.moc"
