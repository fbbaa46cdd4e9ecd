#include "digitcell.h"
#include "mainform.h"
#include "messageboxanswerer.h"
#include "textbox.h"
#include "windowonboard.h"

#include <QAbstractButton>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <memory>

namespace {

// cmdBitsOption indexes.
constexpr int writeInput = 0;
constexpr int updateDac = 1;
constexpr int writeInputUpdateAll = 2;
constexpr int writeAndUpdate = 3;
constexpr int powerDown = 4;
constexpr int reset = 5;

constexpr int allDacs = 8; // addressBitsOption index

// What the readback shows for the DAC codes below with Vdd 5: the ADC reads the top 12 bits.
constexpr double fullScale = 4.998779296875; // 0xFFFF, ADC 4095

using Volts = QList<double>; // channels A to D

} // namespace

// From the editor to a DAC output and back through the readback, on the simulated board: what
// a user writes with "Write to Part" is what the readback shows.
class tst_EndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void writeAndReadBack_data();
    void writeAndReadBack();
    void powerDownAndUp_data();
    void powerDownAndUp();
    void resetCommands_data();
    void resetCommands();
    void inputRegisterWaitsForUpdate_data();
    void inputRegisterWaitsForUpdate();
    void updateAllTakesEveryInput();

private:
    [[nodiscard]] bool click(const QString &name) const;
    [[nodiscard]] bool chooseCommand(int index) const
    {
        return click(QStringLiteral("cmdBitsOption_%1").arg(index));
    }
    [[nodiscard]] bool chooseAddress(int index) const
    {
        return click(QStringLiteral("addressBitsOption_%1").arg(index));
    }
    [[nodiscard]] bool typeHex(const QString &code) const;
    [[nodiscard]] bool writeToPart() const { return click(QStringLiteral("writeToPartCommand")); }
    // A whole write: the command, the address, the code, "Write to Part".
    [[nodiscard]] bool write(int command, int address, const QString &code) const
    {
        return chooseCommand(command) && chooseAddress(address) && typeHex(code) && writeToPart();
    }
    // Each of A to D read back through its channel button.
    Volts readBack() const;

    QTemporaryDir m_scratch;
    std::unique_ptr<WindowOnBoard> m_window;
    // Answers and records any box a test does not expect; a test that expects boxes drops it
    // and answers them itself.
    std::unique_ptr<MessageBoxAnswerer> m_unexpectedBoxes;
};

void tst_EndToEnd::initTestCase()
{
    QVERIFY(m_scratch.isValid());
    QCoreApplication::setApplicationName(QStringLiteral("TX4410(version2)"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.4"));
}

void tst_EndToEnd::init()
{
    m_unexpectedBoxes = std::make_unique<MessageBoxAnswerer>(QMessageBox::Ok);
    m_window = std::make_unique<WindowOnBoard>(
            BoardLibraryForm::FourFunction,
            m_scratch.filePath(QStringLiteral("trace-%1").arg(QTest::currentTestFunction())));
    QVERIFY(m_window->isReady());
    QCOMPARE(readBack(), Volts({0, 0, 0, 0}));
}

void tst_EndToEnd::cleanup()
{
    m_window.reset();
    if (m_unexpectedBoxes) {
        const QList<SeenMessageBox> seen = m_unexpectedBoxes->seen();
        m_unexpectedBoxes.reset();
        QVERIFY2(seen.isEmpty(), seen.isEmpty() ? "" : qPrintable(seen.first().text));
    }
}

bool tst_EndToEnd::click(const QString &name) const
{
    QWidget *target = m_window->control(name);
    if (!target || !target->isVisible() || target->visibleRegion().isEmpty()) {
        qWarning("%s cannot be clicked", qPrintable(name));
        return false;
    }
    QTest::mouseClick(target, Qt::LeftButton);
    return true;
}

bool tst_EndToEnd::typeHex(const QString &code) const
{
    auto *box = m_window->control<TextBox>(QStringLiteral("hexText"));
    if (!click(QStringLiteral("hexText")) || !box->hasFocus())
        return false;
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, code);
    return box->text() == code;
}

Volts tst_EndToEnd::readBack() const
{
    Volts volts;
    for (int channel = 0; channel < 4; ++channel) {
        if (!click(QStringLiteral("Option_MUX_%1").arg(channel)))
            return {};
        volts.append(m_window->control<DigitCell>(QStringLiteral("ADCDisplay"))->value());
    }
    return volts;
}

void tst_EndToEnd::writeAndReadBack_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QList<int>>("dacRegisters");
    QTest::addColumn<Volts>("volts");

    QTest::newRow("DAC A, 1234") << 0 << "1234" << QList<int> {0x1234, 0, 0, 0}
                                 << Volts {0.355224609375, 0, 0, 0};
    QTest::newRow("DAC B, FFFF") << 1 << "FFFF" << QList<int> {0, 0xFFFF, 0, 0}
                                 << Volts {0, fullScale, 0, 0};
    QTest::newRow("DAC C, 8000") << 2 << "8000" << QList<int> {0, 0, 0x8000, 0}
                                 << Volts {0, 0, 2.5, 0};
    QTest::newRow("DAC D, c000") << 3 << "c000" << QList<int> {0, 0, 0, 0xC000}
                                 << Volts {0, 0, 0, 3.75};
    QTest::newRow("All DACs, 4000")
            << allDacs << "4000" << QList<int> {0x4000, 0x4000, 0x4000, 0x4000}
            << Volts {1.25, 1.25, 1.25, 1.25};
}

void tst_EndToEnd::writeAndReadBack()
{
    QFETCH(int, address);
    QFETCH(QString, code);
    QFETCH(QList<int>, dacRegisters);
    QFETCH(Volts, volts);

    QVERIFY(write(writeAndUpdate, address, code));
    const SimulatedBoardState state = m_window->board().state().value();
    for (int channel = 0; channel < 4; ++channel)
        QCOMPARE(int(state.dacRegister[channel]), dacRegisters[channel]);
    QCOMPARE(readBack(), volts);
}

void tst_EndToEnd::powerDownAndUp_data()
{
    QTest::addColumn<int>("mode"); // powerDownOption index
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<Volts>("volts");

    QTest::newRow("1k Ohm to Ground, B and C")
            << 1 << QList<int> {1, 2} << Volts {fullScale, 0, 0, fullScale};
    QTest::newRow("100k Ohm to Ground, A")
            << 2 << QList<int> {0} << Volts {0, fullScale, fullScale, fullScale};
    QTest::newRow("Three State, D")
            << 3 << QList<int> {3} << Volts {fullScale, fullScale, fullScale, 0};
    QTest::newRow("Three State, all four") << 3 << QList<int> {0, 1, 2, 3} << Volts {0, 0, 0, 0};
    QTest::newRow("Normal Operation changes nothing")
            << 0 << QList<int> {0, 2} << Volts {fullScale, fullScale, fullScale, fullScale};
}

void tst_EndToEnd::powerDownAndUp()
{
    QFETCH(int, mode);
    QFETCH(QList<int>, ticked);
    QFETCH(Volts, volts);

    QVERIFY(write(writeAndUpdate, allDacs, QStringLiteral("FFFF")));
    QVERIFY(chooseCommand(powerDown));
    for (const int channel : ticked)
        QVERIFY(click(QStringLiteral("powerDownCheck_%1").arg(channel)));
    QVERIFY(click(QStringLiteral("powerDownOption_%1").arg(mode)));
    QVERIFY(writeToPart());
    QCOMPARE(readBack(), volts);
    const SimulatedBoardState down = m_window->board().state().value();
    for (int channel = 0; channel < 4; ++channel)
        QCOMPARE(int(down.powerMode[channel]), ticked.contains(channel) ? mode : 0);

    // The same channels back to normal operation: their codes were kept.
    QVERIFY(click(QStringLiteral("powerDownOption_0")));
    QVERIFY(writeToPart());
    QCOMPARE(readBack(), Volts({fullScale, fullScale, fullScale, fullScale}));
}

void tst_EndToEnd::resetCommands_data()
{
    QTest::addColumn<int>("kind"); // ResetOption index
    QTest::addColumn<Volts>("afterRewrite");

    // DAC B is powered down before the reset: only a reset of all registers powers it up.
    QTest::newRow("Reset DAC and Input Registers Only")
            << 0 << Volts {fullScale, 0, fullScale, fullScale};
    QTest::newRow("Reset All Registers") << 1 << Volts {fullScale, fullScale, fullScale, fullScale};
}

void tst_EndToEnd::resetCommands()
{
    QFETCH(int, kind);
    QFETCH(Volts, afterRewrite);

    QVERIFY(write(writeAndUpdate, allDacs, QStringLiteral("8000")));
    QVERIFY(chooseCommand(powerDown));
    QVERIFY(click(QStringLiteral("powerDownCheck_1")));
    QVERIFY(click(QStringLiteral("powerDownOption_1")));
    QVERIFY(writeToPart());
    QCOMPARE(readBack(), Volts({2.5, 0, 2.5, 2.5}));

    QVERIFY(chooseCommand(reset));
    QVERIFY(click(QStringLiteral("ResetOption_%1").arg(kind)));
    QVERIFY(writeToPart());
    QCOMPARE(readBack(), Volts({0, 0, 0, 0}));
    const SimulatedBoardState state = m_window->board().state().value();
    for (int channel = 0; channel < 4; ++channel) {
        QCOMPARE(int(state.inputRegister[channel]), 0);
        QCOMPARE(int(state.dacRegister[channel]), 0);
    }

    QVERIFY(write(writeAndUpdate, allDacs, QStringLiteral("FFFF")));
    QCOMPARE(readBack(), afterRewrite);
}

void tst_EndToEnd::inputRegisterWaitsForUpdate_data()
{
    QTest::addColumn<int>("address");

    QTest::newRow("DAC A") << 0;
    QTest::newRow("DAC B") << 1;
    QTest::newRow("DAC C") << 2;
    QTest::newRow("DAC D") << 3;
}

void tst_EndToEnd::inputRegisterWaitsForUpdate()
{
    QFETCH(int, address);

    QVERIFY(write(writeInput, address, QStringLiteral("C000")));
    QCOMPARE(readBack(), Volts({0, 0, 0, 0}));
    QCOMPARE(int(m_window->board().state()->inputRegister[address]), 0xC000);

    QVERIFY(chooseCommand(updateDac));
    QVERIFY(chooseAddress(address));
    QVERIFY(writeToPart());
    Volts expected {0, 0, 0, 0};
    expected[address] = 3.75;
    QCOMPARE(readBack(), expected);
}

void tst_EndToEnd::updateAllTakesEveryInput()
{
    QVERIFY(write(writeInput, 0, QStringLiteral("4000")));
    QVERIFY(write(writeInput, 1, QStringLiteral("8000")));
    QCOMPARE(readBack(), Volts({0, 0, 0, 0}));

    QVERIFY(write(writeInputUpdateAll, 3, QStringLiteral("FFFF")));
    QCOMPARE(readBack(), Volts({1.25, 2.5, 0, fullScale}));
}

QTEST_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
