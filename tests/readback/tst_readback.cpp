#include "windowonboard.h"

#include <QElapsedTimer>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

namespace {

constexpr int selectMux = 0xCC;
constexpr int readAdc = 0xBB;

} // namespace

// The readback panel as a user drives it, checked against what reached the simulated board and
// what the display shows.
class tst_Readback : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sampleVolts_data();
    void sampleVolts();
    void channelChoice_data();
    void channelChoice();
    void samplesOfAnAction_data();
    void samplesOfAnAction();
    void autoSampling();

private:
    int reads() const { return int(m_window->requestCodes().count(readAdc)); }

    std::unique_ptr<WindowOnBoard> m_window;
};

void tst_Readback::init()
{
    m_window = std::make_unique<WindowOnBoard>();
    QVERIFY(m_window->isReady());
}

void tst_Readback::cleanup()
{
    QVERIFY(m_window->takeBoxes().isEmpty());
    m_window.reset();
}

void tst_Readback::sampleVolts_data()
{
    QTest::addColumn<int>("dacCode"); // the ADC reads its top 12 bits
    QTest::addColumn<QString>("vdd");
    QTest::addColumn<double>("volts");

    QTest::newRow("ADC 2048") << 0x8000 << "5" << 2.5;
    QTest::newRow("ADC 4095 of 4096") << 0xFFFF << "5" << 4.998779296875;
    QTest::newRow("ADC 4095, Vdd 3.3") << 0xFFFF << "3.3" << 3.2991943359375;
    QTest::newRow("empty Vdd") << 0xFFFF << "" << 0.0;
    // Shown as it comes out, never a crash.
    QTest::newRow("Vdd beyond a double") << 0x8000 << "9e999" << qInf();
    QTest::newRow("zero of a Vdd beyond a double") << 0 << "9e999" << qQNaN();
}

void tst_Readback::sampleVolts()
{
    QFETCH(int, dacCode);
    QFETCH(QString, vdd);
    QFETCH(double, volts);

    // A reading no row expects, so that every row changes the display.
    QCOMPARE(m_window->putCode(0, 0x2000), 0);
    QVERIFY(m_window->click("sampleCommand"));
    QCOMPARE(m_window->display(), 0.625);

    QCOMPARE(m_window->putCode(0, std::uint16_t(dacCode)), 0);
    QVERIFY(m_window->type("adcVddText", vdd));
    QVERIFY(m_window->click("sampleCommand"));
    QCOMPARE(m_window->display(), volts);
    QVERIFY(!m_window->control("ADCDisplay")->grab().isNull());
}

void tst_Readback::channelChoice_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("mask");
    QTest::addColumn<double>("volts"); // A and C hold codes of their own, H nothing

    QTest::newRow("A") << 0 << 1 << 1.25;
    QTest::newRow("H, parked") << 7 << 128 << 0.0;
}

void tst_Readback::channelChoice()
{
    QFETCH(int, channel);
    QFETCH(int, mask);
    QFETCH(double, volts);

    QCOMPARE(m_window->putCode(0, 0x4000), 0);
    QCOMPARE(m_window->putCode(2, 0xC000), 0);
    QVERIFY(m_window->click("Option_MUX_2"));
    QCOMPARE(m_window->display(), 3.75);
    m_window->forgetRequests();

    auto *button = m_window->control<QRadioButton>(QStringLiteral("Option_MUX_%1").arg(channel));
    QVERIFY(button);
    if (channel < 4)
        QVERIFY(m_window->click(button->objectName()));
    else
        button->click();

    QVERIFY(button->isChecked());
    QCOMPARE(m_window->requestCodes(), QList<int>({selectMux, readAdc}));
    QCOMPARE(m_window->requests()[0].number(QStringLiteral("value")).value_or(-1), mask);
    QCOMPARE(m_window->display(), volts);
}

void tst_Readback::samplesOfAnAction_data()
{
    QTest::addColumn<bool>("fromVdd");      // the focus in the Vdd box first
    QTest::addColumn<QString>("action");    // the control clicked, or "Tab"
    QTest::addColumn<bool>("fail");         // every request fails and brings its own box
    QTest::addColumn<bool>("autoSampling"); // each box held open across a tick
    QTest::addColumn<QList<int>>("requests");
    QTest::addColumn<double>("volts"); // what the board reads at the end

    const QList<int> oneRead {readAdc};
    const QList<int> oldChannelFirst {readAdc, selectMux, readAdc};
    QTest::newRow("leaving Vdd by Tab") << true << "Tab" << false << false << oneRead << 1.25;
    QTest::newRow("leaving Vdd for a code box")
            << true << "hexText" << false << false << oneRead << 1.25;
    QTest::newRow("Sample from Vdd: two samples")
            << true << "sampleCommand" << false << false << QList<int> {readAdc, readAdc} << 1.25;
    QTest::newRow("channel C from Vdd: the old channel first")
            << true << "Option_MUX_2" << false << false << oldChannelFirst << 3.75;
    QTest::newRow("failing Sample") << false << "sampleCommand" << true << false << oneRead << 1.25;
    QTest::newRow("failing channel C")
            << false << "Option_MUX_2" << true << false << QList<int> {selectMux, readAdc} << 1.25;
    QTest::newRow("failing channel C from Vdd")
            << true << "Option_MUX_2" << true << false << oldChannelFirst << 1.25;
    // No tick samples while the box is open, so no box is stacked on it.
    QTest::newRow("failing Sample while auto sampling")
            << false << "sampleCommand" << true << true << oneRead << 1.25;
}

void tst_Readback::samplesOfAnAction()
{
    QFETCH(bool, fromVdd);
    QFETCH(QString, action);
    QFETCH(bool, fail);
    QFETCH(bool, autoSampling);
    QFETCH(QList<int>, requests);
    QFETCH(double, volts);

    QCOMPARE(m_window->putCode(0, 0x4000), 0);
    QCOMPARE(m_window->putCode(2, 0xC000), 0);
    QVERIFY(m_window->click("sampleCommand"));
    QCOMPARE(m_window->display(), 1.25);
    if (fromVdd)
        QVERIFY(m_window->click("adcVddText"));
    if (autoSampling) {
        QVERIFY(m_window->click("autoSampleCheck"));
        m_window->boxes().setHoldTime(1300);
    }
    m_window->forgetRequests();
    QCOMPARE(m_window->board().setFailRequests(fail), 0);

    if (action == u"Tab")
        QTest::keyClick(m_window->control("adcVddText"), Qt::Key_Tab);
    else
        QVERIFY(m_window->click(action));

    QVERIFY(!m_window->control("adcVddText")->hasFocus());
    QCOMPARE(m_window->requestCodes(), requests);
    for (const BoardTrace::Record &request : m_window->requests())
        QCOMPARE(request.status != 0, fail);
    const QList<SeenMessageBox> boxes = m_window->takeBoxes();
    QCOMPARE(boxes.size(), fail ? requests.size() : 0);
    for (const SeenMessageBox &box : boxes)
        QCOMPARE(box.text, QStringLiteral("error"));
    QCOMPARE(m_window->boxes().mostOpenAtOnce(), fail ? 1 : 0);
    // A failed read brings nothing back.
    QCOMPARE(m_window->display(), fail ? 0.0 : volts);

    // Nothing stuck: the next sample, by the timer or by a click, reads again.
    QCOMPARE(m_window->board().setFailRequests(false), 0);
    if (autoSampling)
        QTRY_COMPARE_WITH_TIMEOUT(reads(), 2, 1500);
    else
        QVERIFY(m_window->click("sampleCommand"));
    QCOMPARE(m_window->display(), volts);
}

// In real time, about two seconds.
void tst_Readback::autoSampling()
{
    auto *timer = m_window->control<QTimer>("sampleTimer");
    QVERIFY(timer && !timer->isActive());

    QVERIFY(m_window->click("autoSampleCheck"));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 1000);
    QVERIFY(!timer->isSingleShot());
    // A new output and a new Vdd, the focus still in the box: the next tick reads both.
    QCOMPARE(m_window->putCode(0, 0x8000), 0);
    QVERIFY(m_window->type("adcVddText", QStringLiteral("2")));
    QTest::qWait(int(900 - clock.elapsed()));
    QCOMPARE(reads(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(reads(), 1, 1000);
    QCOMPARE(m_window->display(), 1.0);

    // Clearing the box leaves the Vdd box: that one sample, then no more ticks.
    QVERIFY(m_window->click("autoSampleCheck"));
    QVERIFY(!timer->isActive());
    QCOMPARE(reads(), 2);
    QTest::qWait(1200);
    QCOMPARE(reads(), 2);
}

QTEST_MAIN(tst_Readback)
#include "tst_readback.moc"
