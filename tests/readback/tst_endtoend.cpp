#include "windowonboard.h"

#include <QTest>

namespace {

using Volts = QList<double>; // read back on channels A to D, Vdd 5

constexpr double fullScale = 4.998779296875; // 0xFFFF, ADC 4095

// The clicks and typing of "Write to and Update DAC channel n" to an address, with a code.
QStringList writeAndUpdate(int address, const QString &code)
{
    return {QStringLiteral("cmdBitsOption_3"), QStringLiteral("addressBitsOption_%1").arg(address),
            QLatin1Char('=') + code, QStringLiteral("writeToPartCommand")};
}

} // namespace

// From the editor to a DAC output and back through the readback, on the simulated board.
class tst_EndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void writeAndReadBack_data();
    void writeAndReadBack();
};

void tst_EndToEnd::writeAndReadBack_data()
{
    QTest::addColumn<QStringList>("steps"); // controls clicked; "=code" typed into hexText
    QTest::addColumn<Volts>("volts");

    const QStringList allFull = writeAndUpdate(8, QStringLiteral("FFFF"));
    QTest::newRow("DAC A, 1234") << writeAndUpdate(0, "1234") << Volts {0.355224609375, 0, 0, 0};
    QTest::newRow("DAC B, FFFF") << writeAndUpdate(1, "FFFF") << Volts {0, fullScale, 0, 0};
    QTest::newRow("DAC C, 8000") << writeAndUpdate(2, "8000") << Volts {0, 0, 2.5, 0};
    QTest::newRow("DAC D, c000") << writeAndUpdate(3, "c000") << Volts {0, 0, 0, 3.75};
    QTest::newRow("All DACs, 4000") << writeAndUpdate(8, "4000") << Volts {1.25, 1.25, 1.25, 1.25};
    QTest::newRow("power-down of B and C, 1k Ohm to Ground") << allFull
                    + QStringList {"cmdBitsOption_4", "powerDownCheck_1", "powerDownCheck_2",
                                   "powerDownOption_1", "writeToPartCommand"}
                                                             << Volts {fullScale, 0, 0, fullScale};
    QTest::newRow("Reset All Registers")
            << allFull + QStringList {"cmdBitsOption_5", "ResetOption_1", "writeToPartCommand"}
            << Volts {0, 0, 0, 0};
}

void tst_EndToEnd::writeAndReadBack()
{
    QFETCH(QStringList, steps);
    QFETCH(Volts, volts);

    WindowOnBoard window;
    QVERIFY(window.isReady());
    for (const QString &step : steps) {
        if (step.startsWith(u'='))
            QVERIFY(window.type(QStringLiteral("hexText"), step.mid(1)));
        else
            QVERIFY(window.click(step));
    }
    Volts readBack;
    for (int channel = 0; channel < 4; ++channel) {
        QVERIFY(window.click(QStringLiteral("Option_MUX_%1").arg(channel)));
        readBack.append(window.display());
    }
    QCOMPARE(readBack, volts);
    QVERIFY(window.takeBoxes().isEmpty());
}

QTEST_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
