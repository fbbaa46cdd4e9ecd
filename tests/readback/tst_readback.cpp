#include "digitcell.h"
#include "mainform.h"
#include "messageboxanswerer.h"
#include "textbox.h"
#include "windowonboard.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

constexpr int selectMux = 0xCC;
constexpr int readAdc = 0xBB;

// A number of a traced request; -1 when it has none.
int field(const BoardTrace::Record &request, const char *name)
{
    return int(request.number(QString::fromLatin1(name)).value_or(-1));
}

} // namespace

// The readback panel as a user drives it: Vdd, the channel buttons, "Sample" and "Auto Sample",
// checked against what reached the simulated board and what the display shows.
class tst_Readback : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void sampleVolts_data();
    void sampleVolts();
    void channelChoice_data();
    void channelChoice();
    void leavingTheVddBox_data();
    void leavingTheVddBox();
    void autoSamplingOncePerSecond();
    void failedRequests_data();
    void failedRequests();
    void heldErrorBoxStacksNoMoreDuringAutoSampling_data();
    void heldErrorBoxStacksNoMoreDuringAutoSampling();

private:
    void bringUp(BoardLibraryForm form);
    [[nodiscard]] bool typeVdd(const QString &text) const;
    int reads() const { return int(m_window->requestCodes().count(readAdc)); }
    double display() const { return m_window->control<DigitCell>("ADCDisplay")->value(); }
    template<class T = QWidget> T *control(const char *name) const
    {
        return m_window->control<T>(QString::fromLatin1(name));
    }

    QTemporaryDir m_scratch;
    std::unique_ptr<WindowOnBoard> m_window;
    // Answers and records any box a test does not expect; a test that expects boxes drops it
    // and answers them itself.
    std::unique_ptr<MessageBoxAnswerer> m_unexpectedBoxes;
};

void tst_Readback::initTestCase()
{
    QVERIFY(m_scratch.isValid());
    QCoreApplication::setApplicationName(QStringLiteral("TX4410(version2)"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.4"));
}

void tst_Readback::init()
{
    m_unexpectedBoxes = std::make_unique<MessageBoxAnswerer>(QMessageBox::Ok);
    bringUp(BoardLibraryForm::FourFunction);
}

void tst_Readback::cleanup()
{
    m_window.reset();
    if (m_unexpectedBoxes) {
        const QList<SeenMessageBox> seen = m_unexpectedBoxes->seen();
        m_unexpectedBoxes.reset();
        QVERIFY2(seen.isEmpty(), seen.isEmpty() ? "" : qPrintable(seen.first().text));
    }
}

void tst_Readback::bringUp(BoardLibraryForm form)
{
    m_window.reset();
    m_window = std::make_unique<WindowOnBoard>(
            form, m_scratch.filePath(QStringLiteral("trace-%1").arg(QTest::currentTestFunction())));
    QVERIFY(m_window->isReady());
}

// Into the box with the mouse, all of it replaced by typing.
bool tst_Readback::typeVdd(const QString &text) const
{
    auto *box = control<TextBox>("adcVddText");
    if (!box)
        return false;
    QTest::mouseClick(box, Qt::LeftButton);
    if (!QTest::qWaitFor([box] { return box->hasFocus(); }))
        return false;
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
    return box->text() == text;
}

void tst_Readback::sampleVolts_data()
{
    QTest::addColumn<int>("dacCode");
    QTest::addColumn<QString>("vdd");
    QTest::addColumn<double>("volts");

    // The board's ADC reads the DAC code's top 12 bits: 0x8000 is ADC code 2048, 0xFFFF 4095.
    QTest::newRow("mid scale") << 0x8000 << "5" << 2.5;
    QTest::newRow("full scale, 4095 of 4096") << 0xFFFF << "5" << 4.998779296875;
    QTest::newRow("full scale, Vdd 3.3") << 0xFFFF << "3.3" << 3.2991943359375;
    QTest::newRow("zero") << 0 << "5" << 0.0;
    QTest::newRow("one ADC step") << 0x0010 << "5" << 0.001220703125;
    QTest::newRow("empty Vdd") << 0xFFFF << "" << 0.0;
    QTest::newRow("Vdd not a number") << 0xFFFF << "abc" << 0.0;
    QTest::newRow("Vdd with its unit") << 0x8000 << "2.5V" << 1.25;
    QTest::newRow("Vdd ends at a second point") << 0x8000 << "2.5.1" << 1.25;
    QTest::newRow("Vdd in hexadecimal") << 0xFFFF << "&h3" << 2.999267578125;
    QTest::newRow("negative Vdd") << 0x8000 << "-5" << -2.5;
    // Beyond a double: shown as it comes out, never a crash.
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
    QTest::mouseClick(control("sampleCommand"), Qt::LeftButton);
    QCOMPARE(display(), 0.625);

    QCOMPARE(m_window->putCode(0, std::uint16_t(dacCode)), 0);
    QVERIFY(typeVdd(vdd));
    QTest::mouseClick(control("sampleCommand"), Qt::LeftButton);
    QCOMPARE(display(), volts);
    QVERIFY(!control("ADCDisplay")->grab().isNull());
}

void tst_Readback::channelChoice_data()
{
    QTest::addColumn<BoardLibraryForm>("form");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("adcCode"); // what the chosen input reads
    QTest::addColumn<double>("volts");

    // Each of A to D holds a code of its own (below), so a wrong mask reads the wrong one.
    const auto rows = [](const char *library, BoardLibraryForm form) {
        const auto row = [&](const char *name, int channel, int mask, int adcCode, double volts) {
            QTest::addRow("%s: %s", library, name) << form << channel << mask << adcCode << volts;
        };
        row("A", 0, 1, 0x400, 1.25);
        row("B", 1, 2, 0x800, 2.5);
        row("C", 2, 4, 0xC00, 3.75);
        row("D", 3, 8, 0xFFF, 4.998779296875);
        row("E, parked", 4, 16, 0, 0.0);
        row("H, parked", 7, 128, 0, 0.0);
    };
    rows("four-function", BoardLibraryForm::FourFunction);
    rows("BoardPort", BoardLibraryForm::BoardPort);
}

void tst_Readback::channelChoice()
{
    QFETCH(BoardLibraryForm, form);
    QFETCH(int, channel);
    QFETCH(int, mask);
    QFETCH(int, adcCode);
    QFETCH(double, volts);

    if (form != BoardLibraryForm::FourFunction)
        bringUp(form);
    const std::uint16_t codes[] = {0x4000, 0x8000, 0xC000, 0xFFFF};
    for (int dac = 0; dac < 4; ++dac)
        QCOMPARE(m_window->putCode(dac, codes[dac]), 0);
    // From another channel, so that every row is a change.
    QTest::mouseClick(control(channel == 2 ? "Option_MUX_1" : "Option_MUX_2"), Qt::LeftButton);
    m_window->forgetRequests();

    auto *button = m_window->control<QRadioButton>(QStringLiteral("Option_MUX_%1").arg(channel));
    QVERIFY(button);
    if (channel < 4) {
        QVERIFY(button->isVisible());
        QTest::mouseClick(button, Qt::LeftButton);
    } else {
        QVERIFY(button->visibleRegion().isEmpty());
        button->click();
    }

    QVERIFY(button->isChecked());
    const QList<BoardTrace::Record> requests = m_window->requests();
    QCOMPARE(m_window->requestCodes(), QList<int>({selectMux, readAdc}));
    QCOMPARE(field(requests[0], "value"), mask);
    QCOMPARE(field(requests[0], "index"), 0);
    QCOMPARE(requests[0].status, 0);
    QCOMPARE(tracedAdcCode(requests[1]), adcCode);
    QCOMPARE(int(m_window->board().state()->muxMask), mask);
    QCOMPARE(display(), volts);
}

void tst_Readback::leavingTheVddBox_data()
{
    QTest::addColumn<QString>("target"); // what takes the focus; empty: Tab
    QTest::addColumn<QList<int>>("requests");
    QTest::addColumn<QList<int>>("adcCodes"); // of the reads, in order
    QTest::addColumn<double>("volts");

    // Channel A holds ADC code 1024, channel C 3072.
    const QList<int> oneRead {readAdc};
    QTest::newRow("Tab") << QString() << oneRead << QList<int> {1024} << 1.25;
    QTest::newRow("click on a code box") << "hexText" << oneRead << QList<int> {1024} << 1.25;
    QTest::newRow("click on Auto Sample")
            << "autoSampleCheck" << oneRead << QList<int> {1024} << 1.25;
    QTest::newRow("click on Sample: two samples")
            << "sampleCommand" << QList<int> {readAdc, readAdc} << QList<int> {1024, 1024} << 1.25;
    QTest::newRow("click on channel C: the old channel first")
            << "Option_MUX_2" << QList<int> {readAdc, selectMux, readAdc} << QList<int> {1024, 3072}
            << 3.75;
}

void tst_Readback::leavingTheVddBox()
{
    QFETCH(QString, target);
    QFETCH(QList<int>, requests);
    QFETCH(QList<int>, adcCodes);
    QFETCH(double, volts);

    QCOMPARE(m_window->putCode(0, 0x4000), 0);
    QCOMPARE(m_window->putCode(2, 0xC000), 0);
    auto *box = control<TextBox>("adcVddText");
    QTest::mouseClick(box, Qt::LeftButton);
    QTRY_VERIFY(box->hasFocus());
    m_window->forgetRequests();

    // The text stays as it was: leaving alone takes the sample.
    if (target.isEmpty())
        QTest::keyClick(box, Qt::Key_Tab);
    else
        QTest::mouseClick(m_window->control(target), Qt::LeftButton);

    QVERIFY(!box->hasFocus());
    QCOMPARE(box->text(), QStringLiteral("5"));
    QCOMPARE(m_window->requestCodes(), requests);
    QList<int> read;
    for (const BoardTrace::Record &request : m_window->requests()) {
        if (field(request, "request") == selectMux)
            QCOMPARE(field(request, "value"), 4);
        else
            read.append(tracedAdcCode(request));
    }
    QCOMPARE(read, adcCodes);
    QCOMPARE(display(), volts);
}

// In real time, about four seconds: the first timed sample a second after checking the box,
// one a second after it, none once it is cleared.
void tst_Readback::autoSamplingOncePerSecond()
{
    auto *check = control<QCheckBox>("autoSampleCheck");
    auto *timer = m_window->form().findChild<QTimer *>(QStringLiteral("sampleTimer"));
    QVERIFY(check && timer);
    QVERIFY(!timer->isActive());

    QTest::mouseClick(check, Qt::LeftButton);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(check->isChecked());
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 1000);
    QCOMPARE(timer->timerType(), Qt::PreciseTimer);
    QCOMPARE(reads(), 0);

    QTest::qWait(900);
    QCOMPARE(reads(), 0);
    // The next tick reads the new output.
    QCOMPARE(m_window->putCode(0, 0x8000), 0);
    QCOMPARE(display(), 0.0);
    QTRY_COMPARE_WITH_TIMEOUT(reads(), 1, 1000);
    QCOMPARE(display(), 2.5);

    // "Sample" still samples at once.
    QTest::mouseClick(control("sampleCommand"), Qt::LeftButton);
    QCOMPARE(reads(), 2);

    // A new Vdd counts from the next tick, without leaving the box.
    QVERIFY(typeVdd(QStringLiteral("2")));
    QCOMPARE(reads(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(reads(), 3, 1500);
    QCOMPARE(display(), 1.0);
    QVERIFY2(clock.elapsed() >= 1900, qPrintable(QString::number(clock.elapsed())));
    QTest::qWait(int(2500 - clock.elapsed()));
    QCOMPARE(reads(), 3);

    // Clearing the box also leaves the Vdd box: that one sample, then no more ticks.
    QTest::mouseClick(check, Qt::LeftButton);
    QVERIFY(!check->isChecked());
    QVERIFY(!timer->isActive());
    QCOMPARE(reads(), 4);
    QTest::qWait(1200);
    QCOMPARE(reads(), 4);
    QTest::mouseClick(control("sampleCommand"), Qt::LeftButton);
    QCOMPARE(reads(), 5);
}

void tst_Readback::failedRequests_data()
{
    QTest::addColumn<QString>("action");      // the control clicked, or "tab"
    QTest::addColumn<bool>("fromVdd");        // the focus in the Vdd box first
    QTest::addColumn<QList<int>>("requests"); // every one fails and brings its own box

    QTest::newRow("Sample") << "sampleCommand" << false << QList<int> {readAdc};
    QTest::newRow("channel B") << "Option_MUX_1" << false << QList<int> {selectMux, readAdc};
    QTest::newRow("leaving Vdd by Tab") << "tab" << true << QList<int> {readAdc};
    QTest::newRow("Sample, the focus in Vdd")
            << "sampleCommand" << true << QList<int> {readAdc, readAdc};
    QTest::newRow("channel B, the focus in Vdd")
            << "Option_MUX_1" << true << QList<int> {readAdc, selectMux, readAdc};
}

void tst_Readback::failedRequests()
{
    QFETCH(QString, action);
    QFETCH(bool, fromVdd);
    QFETCH(QList<int>, requests);

    QCOMPARE(m_window->putCode(0, 0x8000), 0);
    QCOMPARE(m_window->putCode(1, 0x8000), 0);
    QTest::mouseClick(control("sampleCommand"), Qt::LeftButton);
    QCOMPARE(display(), 2.5);
    if (fromVdd) {
        auto *box = control<TextBox>("adcVddText");
        QTest::mouseClick(box, Qt::LeftButton);
        QTRY_VERIFY(box->hasFocus());
    }
    m_window->forgetRequests();

    QCOMPARE(m_window->board().setFailRequests(true), 0);
    m_unexpectedBoxes.reset();
    MessageBoxAnswerer answerer(QMessageBox::Ok);
    if (action == u"tab")
        QTest::keyClick(control("adcVddText"), Qt::Key_Tab);
    else
        QTest::mouseClick(m_window->control(action), Qt::LeftButton);

    QCOMPARE(m_window->requestCodes(), requests);
    for (const BoardTrace::Record &request : m_window->requests())
        QVERIFY(request.status != 0);
    QCOMPARE(answerer.seen().size(), requests.size());
    for (const SeenMessageBox &box : answerer.seen()) {
        QCOMPARE(box.caption, QStringLiteral("TX4410(version2)"));
        QCOMPARE(box.text, QStringLiteral("error"));
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
        QVERIFY(box.modal);
    }
    QCOMPARE(answerer.mostOpenAtOnce(), 1);
    // The board sent nothing back.
    QCOMPARE(display(), 0.0);

    // Nothing stuck: the next sample reads again.
    QCOMPARE(m_window->board().setFailRequests(false), 0);
    QTest::mouseClick(control("sampleCommand"), Qt::LeftButton);
    QCOMPARE(display(), 2.5);
    QCOMPARE(answerer.seen().size(), requests.size());
}

void tst_Readback::heldErrorBoxStacksNoMoreDuringAutoSampling_data()
{
    QTest::addColumn<QString>("opener"); // the click whose read fails; empty: the first tick

    QTest::newRow("box of a tick") << QString();
    QTest::newRow("box of a click on Sample") << QStringLiteral("sampleCommand");
}

// In real time, about four seconds a row: the box of the first failed read stays open for
// 2.5 s, across two ticks.
void tst_Readback::heldErrorBoxStacksNoMoreDuringAutoSampling()
{
    QFETCH(QString, opener);

    QCOMPARE(m_window->putCode(0, 0x8000), 0);
    QCOMPARE(m_window->board().setFailRequests(true), 0);
    m_window->forgetRequests();
    const SimulatedBoardControl &board = m_window->board();
    m_unexpectedBoxes.reset();
    MessageBoxAnswerer answerer([&board](const SeenMessageBox &) {
        board.setFailRequests(false);
        return QMessageBox::Ok;
    });
    answerer.setHoldTime(2500);

    auto *check = control<QCheckBox>("autoSampleCheck");
    QTest::mouseClick(check, Qt::LeftButton);
    QVERIFY(check->isChecked());
    if (!opener.isEmpty())
        QTest::mouseClick(m_window->control(opener), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(answerer.seen().size(), 1, 5000);
    // Only the failed read asked the board; the ticks while its box was open did not.
    QList<BoardTrace::Record> requests = m_window->requests();
    QCOMPARE(m_window->requestCodes(), QList<int> {readAdc});
    QVERIFY(requests[0].status != 0);
    QCOMPARE(answerer.mostOpenAtOnce(), 1);
    QCOMPARE(answerer.seen().first().text, QStringLiteral("error"));

    // Auto sampling carries on, now with the board answering.
    QVERIFY(check->isChecked());
    QTRY_COMPARE_WITH_TIMEOUT(reads(), 2, 1500);
    requests = m_window->requests();
    QCOMPARE(requests.last().status, 0);
    QCOMPARE(display(), 2.5);
    QCOMPARE(answerer.seen().size(), 1);
    QCOMPARE(answerer.mostOpenAtOnce(), 1);
}

QTEST_MAIN(tst_Readback)
#include "tst_readback.moc"
