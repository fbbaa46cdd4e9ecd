#include "digitcell.h"
#include "mainform.h"
#include "mainformlayout.h"
#include "messageboxanswerer.h"
#include "support/boardtrace.h"
#include "support/simulatedboardcontrol.h"
#include "textbox.h"
#include "usbstuff.h"

#include <QFile>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int lit = 255;
constexpr int dim = 160;

// Marks of the test's own, set before load(): a mark that survives shows a step that did not
// run, a lost one a step that ran too far.
constexpr double seededDigit = 1;
constexpr double seededReading = 7.5;

QString libraryPathOf(BoardLibraryForm form)
{
    return form == BoardLibraryForm::FourFunction ? QStringLiteral(TX4410_USB4_LIBRARY)
                                                  : QStringLiteral(TX4410_BOARDPORT_LIBRARY);
}

// The vendor requests after the last successful bring-up attempt.
QList<BoardTrace::Record> requestsAfterBringUp(const QString &traceFile)
{
    const BoardTrace trace = BoardTrace::read(traceFile);
    QList<BoardTrace::Record> requests;
    for (const BoardTrace::Record &record : trace.records()) {
        if ((record.function == u"Download_Firmware" && record.status == 0)
            || (record.function == u"LoadFirmWare" && record.status >= 0))
            requests.clear();
        else if (record.function.endsWith(u"Request"))
            requests.append(record);
    }
    return requests;
}

} // namespace

// The window as the user first sees it, and the requests that put the board there.
class tst_InitialState : public QObject
{
    Q_OBJECT

private slots:
    void windowAtStart_data();
    void windowAtStart();

private:
    QTemporaryDir m_scratch;
};

void tst_InitialState::windowAtStart_data()
{
    QTest::addColumn<BoardLibraryForm>("form");
    QTest::addColumn<int>("absentAttempts"); // bring-up attempts answered with Retry
    QTest::addColumn<bool>("fail");          // every request fails and brings its own box

    QTest::newRow("four-function") << BoardLibraryForm::FourFunction << 0 << false;
    QTest::newRow("BoardPort, after two retries") << BoardLibraryForm::BoardPort << 2 << false;
    QTest::newRow("failing board") << BoardLibraryForm::FourFunction << 0 << true;
}

void tst_InitialState::windowAtStart()
{
    QFETCH(BoardLibraryForm, form);
    QFETCH(int, absentAttempts);
    QFETCH(bool, fail);

    const QString traceFile = m_scratch.filePath(QTest::currentDataTag());
    qputenv("TX4410_BOARD_TRACE", QFile::encodeName(traceFile));
    const SimulatedBoardControl board(libraryPathOf(form));
    QCOMPARE(board.reset(), 0);
    QCOMPARE(board.setAbsentAttempts(absentAttempts), 0);
    QCOMPARE(board.setFailRequests(fail), 0);
    const std::unique_ptr<USBStuff> usb = makeUSBStuff(form);
    MainForm window(*usb);
    const MainFormControls &c = window.controls();
    for (DigitCell *cell : c.BitsDisplay)
        cell->setValue(seededDigit);
    c.ADCDisplay->setValue(seededReading);
    int errorBoxes = 0;
    bool shownDuringBoxes = false;
    MessageBoxAnswerer answerer([&](const SeenMessageBox &box) {
        shownDuringBoxes = shownDuringBoxes || window.isVisible();
        if (box.buttons.testFlag(QMessageBox::Retry))
            return QMessageBox::Retry;
        errorBoxes += box.text == u"error";
        return QMessageBox::Ok;
    });
    QCOMPARE(window.load(), MainForm::LoadResult::Ready);
    QCOMPARE(answerer.seen().size(), absentAttempts + (fail ? 2 : 0));
    QCOMPARE(errorBoxes, fail ? 2 : 0);
    QCOMPARE(answerer.mostOpenAtOnce(), answerer.seen().isEmpty() ? 0 : 1);
    QVERIFY(!shownDuringBoxes);
    QVERIFY(!window.isVisible());

    // Exactly the choice of channel A and one read: no code, no pin request.
    const QList<BoardTrace::Record> requests = requestsAfterBringUp(traceFile);
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].number(QStringLiteral("request")).value_or(-1), 0xCC);
    QCOMPARE(requests[0].number(QStringLiteral("value")).value_or(-1), 1);
    QCOMPARE(requests[1].number(QStringLiteral("request")).value_or(-1), 0xBB);
    for (const BoardTrace::Record &request : requests)
        QCOMPARE(request.status != 0, fail);

    for (int cell = 0; cell < 32; ++cell) {
        QCOMPARE(c.BitsDisplay[cell]->segmentColor(), cell >= 4 && cell <= 27 ? lit : dim);
        // The option and data cells cleared; the command, address and unused cells untouched.
        QCOMPARE(c.BitsDisplay[cell]->value(), cell <= 19 ? 0.0 : seededDigit);
    }
    QCOMPARE(c.hexText->text(), QStringLiteral("0"));
    QCOMPARE(c.voltageText->text(), QStringLiteral("0"));
    QCOMPARE(c.adcVddText->text(), QStringLiteral("5"));
    for (int channel = 0; channel < 8; ++channel)
        QCOMPARE(c.Option_MUX[channel]->isChecked(), channel == 0);
    // The sample of the reset board's channel A; a failed read brings nothing back.
    QCOMPARE(c.ADCDisplay->value(), 0.0);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
}

QTEST_MAIN(tst_InitialState)
#include "tst_initialstate.moc"
