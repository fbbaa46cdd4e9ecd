#include "digitcell.h"
#include "mainform.h"
#include "mainformlayout.h"
#include "messageboxanswerer.h"
#include "support/boardtrace.h"
#include "support/simulatedboardcontrol.h"
#include "textbox.h"
#include "usbstuff.h"

#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr int lit = 255;
constexpr int dim = 160;

// What the sequence must overwrite, or must leave, is seeded with marks of the test's own before
// load(): a mark that survives shows a step that did not run, a lost one a step that ran too far.
constexpr double seededDigit = 1;
constexpr double seededReading = 7.5;

QString libraryPathOf(BoardLibraryForm form)
{
    return form == BoardLibraryForm::FourFunction ? QStringLiteral(TX4410_USB4_LIBRARY)
                                                  : QStringLiteral(TX4410_BOARDPORT_LIBRARY);
}

QString programTitleOf(BoardLibraryForm form)
{
    return form == BoardLibraryForm::FourFunction ? QStringLiteral("TX4410(version2)")
                                                  : QStringLiteral("TX4410");
}

bool isVendorRequest(const BoardTrace::Record &record)
{
    return record.function == u"Vendor_Request" || record.function == u"VendorIORequest";
}

bool isBringUpSuccess(const BoardTrace::Record &record)
{
    return (record.function == u"Download_Firmware" && record.status == 0)
            || (record.function == u"LoadFirmWare" && record.status >= 0);
}

// Counts the times a widget is shown.
class ShowCounter final : public QObject
{
public:
    explicit ShowCounter(QWidget *widget) { widget->installEventFilter(this); }
    int shows = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            ++shows;
        return false;
    }
};

} // namespace

// The state the window is in when the user first sees it, and the requests that put the board
// there, on the simulated board behind either library.
class tst_InitialState : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void requestsAfterBringUp_data();
    void requestsAfterBringUp();
    void editorAndReadbackAtStart_data();
    void editorAndReadbackAtStart();
    void failingBoardStillStarts_data();
    void failingBoardStillStarts();

private:
    void seed(const MainForm &form) const;
    // The records after the last successful bring-up attempt.
    QList<BoardTrace::Record> afterBringUp() const;

    QTemporaryDir m_scratch;
    QString m_traceFile;
};

void tst_InitialState::initTestCase()
{
    QVERIFY(m_scratch.isValid());
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.4"));
}

void tst_InitialState::init()
{
    m_traceFile = m_scratch.filePath(QStringLiteral("trace-%1-%2")
                                             .arg(QTest::currentTestFunction())
                                             .arg(QTest::currentDataTag()));
    QFile::remove(m_traceFile);
    qputenv("TX4410_BOARD_TRACE", QFile::encodeName(m_traceFile));
    for (BoardLibraryForm form : {BoardLibraryForm::FourFunction, BoardLibraryForm::BoardPort})
        QCOMPARE(SimulatedBoardControl(libraryPathOf(form)).reset(), 0);
}

void tst_InitialState::cleanup()
{
    qunsetenv("TX4410_BOARD_TRACE");
    qunsetenv("TX4410_SIM_FAIL_REQUESTS");
    for (BoardLibraryForm form : {BoardLibraryForm::FourFunction, BoardLibraryForm::BoardPort})
        SimulatedBoardControl(libraryPathOf(form)).reset();
}

void tst_InitialState::seed(const MainForm &form) const
{
    const MainFormControls &c = form.controls();
    for (DigitCell *cell : c.BitsDisplay)
        cell->setValue(seededDigit);
    c.ADCDisplay->setValue(seededReading);
}

QList<BoardTrace::Record> tst_InitialState::afterBringUp() const
{
    const QList<BoardTrace::Record> records = BoardTrace::read(m_traceFile).records();
    qsizetype last = -1;
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (isBringUpSuccess(records[i]))
            last = i;
    }
    return last < 0 ? QList<BoardTrace::Record>() : records.mid(last + 1);
}

void tst_InitialState::requestsAfterBringUp_data()
{
    QTest::addColumn<BoardLibraryForm>("form");
    QTest::addColumn<int>("absentAttempts"); // bring-up attempts answered with Retry

    QTest::newRow("four-function") << BoardLibraryForm::FourFunction << 0;
    QTest::newRow("BoardPort") << BoardLibraryForm::BoardPort << 0;
    QTest::newRow("four-function, after two retries") << BoardLibraryForm::FourFunction << 2;
    QTest::newRow("BoardPort, after two retries") << BoardLibraryForm::BoardPort << 2;
}

void tst_InitialState::requestsAfterBringUp()
{
    QFETCH(BoardLibraryForm, form);
    QFETCH(int, absentAttempts);

    QCoreApplication::setApplicationName(programTitleOf(form));
    QCOMPARE(SimulatedBoardControl(libraryPathOf(form)).setAbsentAttempts(absentAttempts), 0);
    const std::unique_ptr<USBStuff> usb = makeUSBStuff(form);
    MainForm window(*usb);
    ShowCounter shown(&window);
    MessageBoxAnswerer answerer(QMessageBox::Retry);
    QCOMPARE(window.load(), MainForm::LoadResult::Ready);
    QCOMPARE(answerer.seen().size(), absentAttempts);
    QCOMPARE(shown.shows, 0);
    QVERIFY(!window.isVisible());

    const QList<BoardTrace::Record> records = BoardTrace::read(m_traceFile).records();
    QVERIFY(BoardTrace::read(m_traceFile).malformedLines().isEmpty());
    const QList<BoardTrace::Record> after = afterBringUp();
    QVERIFY2(!after.isEmpty(), "no successful bring-up in the trace");
    // Nothing before the board is up, then exactly the channel choice and one read.
    for (const BoardTrace::Record &record : records.first(records.size() - after.size()))
        QVERIFY2(!isVendorRequest(record), qPrintable(record.function));
    QCOMPARE(after.size(), 2);
    for (const BoardTrace::Record &request : after) {
        QVERIFY(isVendorRequest(request));
        QCOMPARE(request.status, 0);
    }
    QCOMPARE(after[0].number(QStringLiteral("request")).value_or(-1), 0xCC);
    QCOMPARE(after[0].number(QStringLiteral("value")).value_or(-1), 1);
    QCOMPARE(after[0].number(QStringLiteral("index")).value_or(-1), 0);
    QCOMPARE(after[1].number(QStringLiteral("request")).value_or(-1), 0xBB);

    const std::optional<SimulatedBoardState> state
            = SimulatedBoardControl(libraryPathOf(form)).state();
    QVERIFY(state);
    QCOMPARE(int(state->muxMask), 1);
    // No pin request: both pins as the board came up.
    QCOMPARE(int(state->clrHigh), 1);
    QCOMPARE(int(state->ldacHigh), 1);

    // Every digit 0: the cleared data and option cells, and the design-time digits elsewhere.
    for (const DigitCell *cell : window.controls().BitsDisplay)
        QCOMPARE(cell->value(), 0.0);
}

void tst_InitialState::editorAndReadbackAtStart_data()
{
    QTest::addColumn<BoardLibraryForm>("form");

    QTest::newRow("four-function") << BoardLibraryForm::FourFunction;
    QTest::newRow("BoardPort") << BoardLibraryForm::BoardPort;
}

void tst_InitialState::editorAndReadbackAtStart()
{
    QFETCH(BoardLibraryForm, form);

    QCoreApplication::setApplicationName(programTitleOf(form));
    const std::unique_ptr<USBStuff> usb = makeUSBStuff(form);
    MainForm window(*usb);
    const MainFormControls &c = window.controls();
    seed(window);
    MessageBoxAnswerer answerer(QMessageBox::Ok);
    QCOMPARE(window.load(), MainForm::LoadResult::Ready);
    QVERIFY(answerer.seen().isEmpty());
    QVERIFY(!window.isVisible());

    for (int cell = 0; cell < 32; ++cell) {
        const bool isLit = cell >= 4 && cell <= 27;
        QCOMPARE(c.BitsDisplay[cell]->segmentColor(), isLit ? lit : dim);
        // The option and data cells are cleared; the command and address cells and the unused
        // top cells keep what they held.
        QCOMPARE(c.BitsDisplay[cell]->value(), cell <= 19 ? 0.0 : seededDigit);
    }
    QCOMPARE(c.hexText->text(), QStringLiteral("0"));
    QCOMPARE(c.voltageText->text(), QStringLiteral("0"));
    QCOMPARE(c.adcVddText->text(), QStringLiteral("5"));
    for (int channel = 0; channel < 8; ++channel)
        QCOMPARE(c.Option_MUX[channel]->isChecked(), channel == 0);
    QVERIFY(c.cmdBitsOption[0]->isChecked());
    QVERIFY(c.addressBitsOption[0]->isChecked());

    // The reading is the one sample taken, against Vdd 5.
    const QList<BoardTrace::Record> after = afterBringUp();
    QCOMPARE(after.size(), 2);
    const std::optional<QByteArray> reply = after[1].bytes(QStringLiteral("buffer"));
    QVERIFY(reply && reply->size() == 2);
    const int code = std::uint8_t(reply->at(0)) * 256 + std::uint8_t(reply->at(1));
    QCOMPARE(c.ADCDisplay->value(), code / 4096.0 * 5);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
}

void tst_InitialState::failingBoardStillStarts_data()
{
    QTest::addColumn<BoardLibraryForm>("form");
    QTest::addColumn<bool>("byEnvironment"); // the knob read at the library's reset

    QTest::newRow("four-function") << BoardLibraryForm::FourFunction << false;
    QTest::newRow("BoardPort") << BoardLibraryForm::BoardPort << false;
    QTest::newRow("four-function, by the environment") << BoardLibraryForm::FourFunction << true;
    QTest::newRow("BoardPort, by the environment") << BoardLibraryForm::BoardPort << true;
}

void tst_InitialState::failingBoardStillStarts()
{
    QFETCH(BoardLibraryForm, form);
    QFETCH(bool, byEnvironment);

    QCoreApplication::setApplicationName(programTitleOf(form));
    const SimulatedBoardControl board(libraryPathOf(form));
    if (byEnvironment) {
        qputenv("TX4410_SIM_FAIL_REQUESTS", "1");
        QCOMPARE(board.reset(), 0);
    } else {
        QCOMPARE(board.setFailRequests(true), 0);
    }
    const std::unique_ptr<USBStuff> usb = makeUSBStuff(form);
    MainForm window(*usb);
    seed(window);
    ShowCounter shown(&window);
    int shownDuringBoxes = 0;
    MessageBoxAnswerer answerer([&](const SeenMessageBox &) {
        shownDuringBoxes += shown.shows + (window.isVisible() ? 1 : 0);
        return QMessageBox::Ok;
    });

    QCOMPARE(window.load(), MainForm::LoadResult::Ready);
    QCOMPARE(answerer.seen().size(), 2);
    for (const SeenMessageBox &box : answerer.seen()) {
        QCOMPARE(box.caption, programTitleOf(form));
        QCOMPARE(box.text, QStringLiteral("error"));
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
    }
    QCOMPARE(answerer.mostOpenAtOnce(), 1);
    QCOMPARE(shownDuringBoxes, 0);

    // Both requests went out and failed; the read brought nothing back.
    const QList<BoardTrace::Record> after = afterBringUp();
    QCOMPARE(after.size(), 2);
    QCOMPARE(after[0].number(QStringLiteral("request")).value_or(-1), 0xCC);
    QCOMPARE(after[1].number(QStringLiteral("request")).value_or(-1), 0xBB);
    for (const BoardTrace::Record &request : after)
        QVERIFY(request.status != 0);
    QCOMPARE(window.controls().ADCDisplay->value(), 0.0);
    // The editor got to its start state all the same.
    QCOMPARE(window.controls().hexText->text(), QStringLiteral("0"));
    QCOMPARE(window.controls().BitsDisplay[4]->segmentColor(), lit);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(shown.shows, 1);
}

QTEST_MAIN(tst_InitialState)
#include "tst_initialstate.moc"
