#include "simulateddac.h"

#include <QTest>

using Volts = QList<double>;

class TestSimulatedDac : public QObject
{
    Q_OBJECT

private slots:
    void outputs_data();
    void outputs();
};

void TestSimulatedDac::outputs_data()
{
    // Each step is a frame in hexadecimal or a pin level: "CLR low", "LDAC high".
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<Volts>("volts");
    QTest::addColumn<QList<int>>("modes"); // power-down modes of A to D, when given

    const Volts zero(4, 0.0), mid(4, 2.5);
    const double fullScale = 65535 * 5.0 / 65536;
    const auto row = [](const char *name, const QStringList &steps, const Volts &volts,
                        const QList<int> &modes = {}) {
        QTest::newRow(name) << steps << volts << modes;
    };
    row("write input A: output unchanged", {"008000"}, zero);
    row("write input A, update A", {"008000", "080000"}, {2.5, 0, 0, 0});
    row("write input A, update B", {"008000", "090000"}, zero);
    row("write input all, update all", {"078000", "0F0000"}, mid);
    row("write input B and update all", {"004000", "118000"}, {1.25, 2.5, 0, 0});
    row("write and update all, no channel addressed", {"034000", "148000"}, {0, 0, 0, 1.25});
    row("write and update C, full scale", {"1AFFFF"}, {0, 0, fullScale, 0});
    row("one step", {"180001"}, {5.0 / 65536, 0, 0, 0});
    row("address 4 names no channel", {"1C8000"}, zero);
    row("bits above the command ignored", {"7FD98000"}, {0, 2.5, 0, 0});

    row("1 kOhm on B and D", {"1F8000", "20001A"}, {2.5, 0, 2.5, 0}, {0, 1, 0, 1});
    row("three-state on all", {"1F8000", "20003F"}, zero, {3, 3, 3, 3});
    row("100 kOhm on A", {"1F8000", "200021"}, {0, 2.5, 2.5, 2.5}, {2, 0, 0, 0});
    row("power-down ignores its address", {"1F8000", "270014"}, {2.5, 2.5, 0, 2.5}, {0, 0, 1, 0});
    row("normal mode again: DAC register kept", {"1F8000", "20003F", "20000F"}, mid);

    row("reset, registers only", {"1F8000", "280000"}, zero);
    row("reset, registers only: reference stays", {"380001", "280000", "1F8000"}, Volts(4, 1.25));
    row("reset, registers only: power-down stays", {"20003F", "280000", "1F8000"}, zero);
    row("reset, registers only: LDAC register stays", {"300001", "280000", "008000"},
        {2.5, 0, 0, 0});
    row("reset all: registers zero", {"1F8000", "280001"}, zero);
    row("reset all: reference off", {"380001", "280001", "1F8000"}, mid);
    row("reset all: channels powered up", {"20003F", "280001", "1F8000"}, mid);
    row("reset all: LDAC register cleared", {"30000F", "280001", "078000"}, zero);

    row("LDAC register B only", {"300002", "078000"}, {0, 2.5, 0, 0});
    row("LDAC register cleared", {"30000F", "300000", "078000"}, zero);
    row("internal reference", {"380001", "1F8000"}, Volts(4, 1.25));
    row("internal reference off again", {"380001", "380000", "1F8000"}, mid);

    row("CLR low loads zero scale", {"1F8000", "CLR low", "CLR high"}, zero);
    row("CLR held low: inputs still written", {"CLR low", "1F8000", "CLR high", "0F0000"}, mid);
    row("CLR held low: outputs stay at zero", {"CLR low", "1F8000"}, zero);
    row("LDAC falling edge copies inputs", {"004000", "018000", "02C000", "LDAC low"},
        {1.25, 2.5, 3.75, 0});
    row("LDAC held low passes input writes", {"LDAC low", "00C000", "034000"}, {3.75, 0, 0, 1.25});
    row("LDAC high again", {"LDAC low", "LDAC high", "008000"}, zero);
}

void TestSimulatedDac::outputs()
{
    QFETCH(QStringList, steps);
    QFETCH(Volts, volts);
    QFETCH(QList<int>, modes);
    SimulatedDac dac;
    for (const QString &step : steps) {
        if (step.startsWith(u"CLR "))
            dac.setClrPin(step.endsWith(u"high"));
        else if (step.startsWith(u"LDAC "))
            dac.setLdacPin(step.endsWith(u"high"));
        else
            dac.writeFrame(step.toUInt(nullptr, 16));
    }
    Volts actual;
    QList<int> actualModes;
    for (int channel = 0; channel < SimulatedDac::channelCount; ++channel) {
        actual.append(dac.outputVolts(channel));
        actualModes.append(static_cast<int>(dac.powerMode(channel)));
    }
    QCOMPARE(actual, volts);
    if (!modes.isEmpty())
        QCOMPARE(actualModes, modes);
}

QTEST_APPLESS_MAIN(TestSimulatedDac)
#include "tst_simulateddac.moc"
