#include "editorwindow.h"
#include "messageboxanswerer.h"

#include <QTest>

#include <optional>

namespace {

// What the user sees of the editor, to tell that a click on "Write to Part" changed nothing.
struct EditorView
{
    QString cellDigits;
    qint64 lit;
    QString hex;
    QString voltage;
    QString vref;

    bool operator==(const EditorView &) const = default;
};

EditorView viewOf(const EditorWindow &window)
{
    return {window.digits(0, 31), window.litCells(), window.text(QStringLiteral("hexText")),
            window.text(QStringLiteral("voltageText")), window.text(QStringLiteral("VrefText"))};
}

// The calls as a reader of the trace would see them.
QString describe(const QList<BoardTrace::Record> &calls)
{
    QStringList lines;
    for (const BoardTrace::Record &call : calls) {
        QString line = call.function;
        for (const auto &[name, value] : call.arguments)
            line += QLatin1Char(' ') + name + QLatin1Char('=') + value;
        lines.append(line);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

// "Write to Part" as the bench user meets it: the word built in the window is the one request
// that reaches the board, and the simulated DAC's outputs follow it.
class TestWriteToPartWindow final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void sendsTheWordOfTheChoices_data();
    void sendsTheWordOfTheChoices();
    void twoClicksSendTheSameWordTwice();
    void refusedWriteShowsErrorAndKeepsTheEditor();
    void outputsFollowTheWrites_data();
    void outputsFollowTheWrites();

private:
    std::unique_ptr<EditorWindow> m_window;
};

void TestWriteToPartWindow::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("TX4410(version2)"));
}

void TestWriteToPartWindow::init()
{
    m_window = std::make_unique<EditorWindow>();
    QVERIFY(m_window->open());
}

void TestWriteToPartWindow::cleanup()
{
    m_window.reset();
}

void TestWriteToPartWindow::sendsTheWordOfTheChoices_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("word");

    QTest::newRow("Write to Input Register n, DAC A, code 0")
            << QStringList {"Write to Input Register n", "DAC A", "hexText=0"} << 0;
    QTest::newRow("nothing chosen since start-up") << QStringList {} << 0;
    QTest::newRow("Write to and Update DAC channel n, DAC B, FFFF")
            << QStringList {"Write to and Update DAC channel n", "DAC B", "hexText=FFFF"}
            << 0x19FFFF;
    QTest::newRow("Write to Input Register n, Update All, All DACs, 8000")
            << QStringList {"Write to Input Register n, Update All", "All DACs", "hexText=8000"}
            << 0x178000;
    QTest::newRow("Update DAC Register n after DAC C")
            << QStringList {"DAC C", "Update DAC Register n"} << 0xA0000;
    QTest::newRow("power down DAC A and DAC C, 1k Ohm to Ground")
            << QStringList {"Power Down DAC (Power-up)", "DAC A", "DAC C", "1k Ohm to Ground"}
            << 0x200015;
    QTest::newRow("Reset All Registers")
            << QStringList {"Reset", "Reset All Registers"} << 0x280001;
    QTest::newRow("Internal reference ON")
            << QStringList {"REF Setup Register", "Internal reference ON"} << 0x380001;
    QTest::newRow("LDAC overwrite DAC A and DAC D")
            << QStringList {"LDAC Register Setup", "DAC A", "DAC D"} << 0x300009;
    QTest::newRow("DAC D, 1.25 V typed")
            << QStringList {"Write to and Update DAC channel n", "DAC D", "voltageText=1.25"}
            << 0x1B4000;
    QTest::newRow("00ff typed, DAC B") << QStringList {"DAC B", "hexText=00ff"} << 0x100FF;
    QTest::newRow("All DACs goes out as address 7")
            << QStringList {"All DACs", "hexText=1"} << 0x70001;
    QTest::newRow("DAC H, hidden, the same address")
            << QStringList {"addressBitsOption_7", "hexText=1"} << 0x70001;
    QTest::newRow("CLR Code Register, Full Scale: command 0, no data")
            << QStringList {"cmdBitsOption_8", "clearCodeOption_2"} << 0;
    QTest::newRow("negative reference: the code stays in the data field")
            << QStringList {"Write to and Update DAC channel n", "DAC B", "VrefText=-5",
                            "voltageText=1"}
            << 0x190000;
}

void TestWriteToPartWindow::sendsTheWordOfTheChoices()
{
    QFETCH(QStringList, steps);
    QFETCH(int, word);

    QVERIFY(m_window->perform(steps));
    QVERIFY(m_window->sentWords().isEmpty());
    const EditorView before = viewOf(*m_window);
    const qsizetype callsBefore = m_window->callsSinceOpen().size();

    QVERIFY(m_window->perform({"Write to Part"}));

    // The click may also take the focus from the Vdd box, which samples: that read is the
    // readback's, not the click's.
    QList<BoardTrace::Record> calls = m_window->callsSinceOpen().mid(callsBefore);
    calls.removeIf([](const BoardTrace::Record &call) {
        return call.function == u"Vendor_Request" && call.number(QStringLiteral("request")) == 0xBB;
    });
    QVERIFY2(calls.size() == 1, qPrintable(describe(calls)));
    const BoardTrace::Record &request = calls.first();
    QCOMPARE(request.function, QStringLiteral("Vendor_Request"));
    QCOMPARE(request.number(QStringLiteral("request")).value_or(-1), 0xDD);
    QCOMPARE(request.number(QStringLiteral("value")).value_or(-1), word & 0xFFFF);
    QCOMPARE(request.number(QStringLiteral("index")).value_or(-1), word >> 16);
    QCOMPARE(request.status, 0);
    QVERIFY(viewOf(*m_window) == before);
}

void TestWriteToPartWindow::twoClicksSendTheSameWordTwice()
{
    QVERIFY(m_window->perform({"Write to and Update DAC channel n", "DAC B", "hexText=FFFF",
                               "Write to Part", "Write to Part"}));
    QCOMPARE(m_window->sentWords(), (QList<qint64> {0x19FFFF, 0x19FFFF}));
}

void TestWriteToPartWindow::refusedWriteShowsErrorAndKeepsTheEditor()
{
    QVERIFY(m_window->perform({"Write to and Update DAC channel n", "DAC B", "hexText=8000"}));
    const EditorView before = viewOf(*m_window);
    QCOMPARE(m_window->board().setFailRequests(true), 0);
    {
        MessageBoxAnswerer answerer(QMessageBox::Ok);
        QVERIFY(m_window->perform({"Write to Part"}));
        QCOMPARE(answerer.seen().size(), 1);
        QCOMPARE(answerer.seen().first().text, QStringLiteral("error"));
        QCOMPARE(answerer.seen().first().caption, QStringLiteral("TX4410(version2)"));
        QCOMPARE(answerer.seen().first().buttons, QMessageBox::Ok);
    }
    QVERIFY(viewOf(*m_window) == before);
    QVERIFY(m_window->callsSinceOpen().last().status != 0);

    // The same word can go again once the board takes it.
    QCOMPARE(m_window->board().setFailRequests(false), 0);
    MessageBoxAnswerer answerer(QMessageBox::Ok);
    QVERIFY(m_window->perform({"Write to Part"}));
    QVERIFY(answerer.seen().isEmpty());
    QCOMPARE(m_window->sentWords(), (QList<qint64> {0x198000, 0x198000}));
    QCOMPARE(m_window->callsSinceOpen().last().status, 0);
    QCOMPARE(m_window->board().channelVolts(1).value_or(-1), 2.5);
}

void TestWriteToPartWindow::outputsFollowTheWrites_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<double>>("volts"); // channels A to D afterwards

    const double fullScale = 65535 * 5.0 / 65536;
    QTest::newRow("Write to and Update DAC channel n, DAC B, 8000")
            << QStringList {"Write to and Update DAC channel n", "DAC B", "hexText=8000",
                            "Write to Part"}
            << QList<double> {0, 2.5, 0, 0};
    QTest::newRow("2.5 V typed for DAC C")
            << QStringList {"Write to and Update DAC channel n", "DAC C", "voltageText=2.5",
                            "Write to Part"}
            << QList<double> {0, 0, 2.5, 0};
    QTest::newRow("input register only, then Update DAC Register n") << QStringList {
            "Write to Input Register n", "DAC A",        "hexText=FFFF", "Write to Part",
            "Update DAC Register n",     "Write to Part"} << QList<double> {fullScale, 0, 0, 0};
    QTest::newRow("Update All with All DACs")
            << QStringList {"Write to Input Register n, Update All", "All DACs", "hexText=8000",
                            "Write to Part"}
            << QList<double> {2.5, 2.5, 2.5, 2.5};
    QTest::newRow("internal reference on, then mid scale to DAC A")
            << QStringList {"REF Setup Register",
                            "Internal reference ON",
                            "Write to Part",
                            "Write to and Update DAC channel n",
                            "DAC A",
                            "hexText=8000",
                            "Write to Part"}
            << QList<double> {1.25, 0, 0, 0};
    QTest::newRow("DAC A at full scale, then powered down 1k Ohm to Ground")
            << QStringList {"Write to and Update DAC channel n",
                            "DAC A",
                            "hexText=FFFF",
                            "Write to Part",
                            "Power Down DAC (Power-up)",
                            "DAC A",
                            "1k Ohm to Ground",
                            "Write to Part"}
            << QList<double> {0, 0, 0, 0};
    QTest::newRow("DAC D at mid scale, then Reset All Registers")
            << QStringList {"Write to and Update DAC channel n",
                            "DAC D",
                            "hexText=8000",
                            "Write to Part",
                            "Reset",
                            "Reset All Registers",
                            "Write to Part"}
            << QList<double> {0, 0, 0, 0};
}

// End to end: the words the window sends drive the DAC behind the board library.
void TestWriteToPartWindow::outputsFollowTheWrites()
{
    QFETCH(QStringList, steps);
    QFETCH(QList<double>, volts);

    MessageBoxAnswerer answerer(QMessageBox::Ok);
    QVERIFY(m_window->perform(steps));
    QVERIFY(answerer.seen().isEmpty());
    for (int channel = 0; channel < 4; ++channel) {
        const std::optional<double> output = m_window->board().channelVolts(channel);
        QVERIFY(output.has_value());
        QCOMPARE(*output, volts[channel]);
    }
}

QTEST_MAIN(TestWriteToPartWindow)
#include "tst_writetopartwindow.moc"
