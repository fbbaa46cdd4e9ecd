#include "mainform.h"
#include "messageboxanswerer.h"
#include "support/boardtrace.h"
#include "support/simulatedboardcontrol.h"
#include "usbstufffourfunction.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString retryCaption = QStringLiteral("Failed to initalise Evaluation board");
const QString retryText = QStringLiteral(
        "Failed to initalise Evaluation board.\nInsure that the TX4418 Evaluation board is "
        "conected to a USB port and click Retry");

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

QString libraryPathOf(BoardLibraryForm form)
{
    return form == BoardLibraryForm::FourFunction ? QStringLiteral(TX4410_USB4_LIBRARY)
                                                  : QStringLiteral(TX4410_BOARDPORT_LIBRARY);
}

} // namespace

// Start-up as the user meets it: the title, the bring-up and its Retry/Cancel box, driven
// through the simulated board behind the library each program binds.
class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void titleFromVersion_data();
    void titleFromVersion();
    void retryUntilBoardAppears_data();
    void retryUntilBoardAppears();
    void cancelEndsWithoutWindow_data();
    void cancelEndsWithoutWindow();
    void missingLibraryEndsWithReason();
    void folderPathTooLong();
    void loadFromDeepFolder();

private:
    BoardTrace trace() const { return BoardTrace::read(m_traceFile); }

    QTemporaryDir m_scratch;
    QString m_traceFile;
};

void tst_Startup::initTestCase()
{
    QVERIFY(m_scratch.isValid());
    QCoreApplication::setApplicationName(QStringLiteral("TX4410(version2)"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.4"));
}

void tst_Startup::init()
{
    m_traceFile
            = m_scratch.filePath(QStringLiteral("trace-%1.txt").arg(QTest::currentTestFunction()));
    QFile::remove(m_traceFile);
    qputenv("TX4410_BOARD_TRACE", m_traceFile.toLocal8Bit());
    for (BoardLibraryForm form : {BoardLibraryForm::FourFunction, BoardLibraryForm::BoardPort})
        QCOMPARE(SimulatedBoardControl(libraryPathOf(form)).reset(), 0);
}

void tst_Startup::cleanup()
{
    qunsetenv("TX4410_BOARD_TRACE");
}

void tst_Startup::titleFromVersion_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("title");

    QTest::newRow("version2") << "1.0.4"
                              << "TX4410 Evaluation Software v1.0.4";
    QTest::newRow("no leading zeros") << "1.00.0004"
                                      << "TX4410 Evaluation Software v1.0.4";
    QTest::newRow("two-digit numbers") << "2.10.12"
                                       << "TX4410 Evaluation Software v2.10.12";
}

void tst_Startup::titleFromVersion()
{
    QFETCH(QString, version);
    QFETCH(QString, title);

    QCoreApplication::setApplicationVersion(version);
    const std::unique_ptr<USBStuff> usb = makeUSBStuff(BoardLibraryForm::FourFunction);
    MainForm form(*usb);
    QCOMPARE(form.windowTitle(), QStringLiteral("TX4410 Evaluation Software"));
    QCOMPARE(form.load(), MainForm::LoadResult::Ready);
    QCOMPARE(form.windowTitle(), title);
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.4"));
}

void tst_Startup::retryUntilBoardAppears_data()
{
    QTest::addColumn<BoardLibraryForm>("form");
    QTest::addColumn<int>("absentAttempts"); // the board is plugged in while this box is open
    QTest::addColumn<QString>("loadFunction");

    QTest::newRow("four-function, up at once")
            << BoardLibraryForm::FourFunction << 0 << "Download_Firmware";
    QTest::newRow("four-function, three retries")
            << BoardLibraryForm::FourFunction << 3 << "Download_Firmware";
    QTest::newRow("BoardPort, up at once") << BoardLibraryForm::BoardPort << 0 << "LoadFirmWare";
    QTest::newRow("BoardPort, three retries") << BoardLibraryForm::BoardPort << 3 << "LoadFirmWare";
}

void tst_Startup::retryUntilBoardAppears()
{
    QFETCH(BoardLibraryForm, form);
    QFETCH(int, absentAttempts);
    QFETCH(QString, loadFunction);

    QCOMPARE(SimulatedBoardControl(libraryPathOf(form)).setAbsentAttempts(absentAttempts), 0);
    const std::unique_ptr<USBStuff> usb = makeUSBStuff(form);
    MainForm window(*usb);
    ShowCounter shown(&window);
    MessageBoxAnswerer answerer(QMessageBox::Retry);

    QCOMPARE(window.load(), MainForm::LoadResult::Ready);
    QCOMPARE(answerer.seen().size(), absentAttempts);
    for (const SeenMessageBox &box : answerer.seen()) {
        QCOMPARE(box.caption, retryCaption);
        QCOMPARE(box.text, retryText);
        QCOMPARE(box.buttons, QMessageBox::Retry | QMessageBox::Cancel);
        QCOMPARE(box.defaultButton, QMessageBox::Retry);
        QCOMPARE(box.icon, QMessageBox::Warning);
        QVERIFY(box.modal);
    }
    QCOMPARE(shown.shows, 0);

    const BoardTrace calls = trace();
    const QList<BoardTrace::Record> loads = calls.calls(loadFunction);
    QCOMPARE(loads.size(), absentAttempts + 1);
    for (const BoardTrace::Record &load : loads) {
        QCOMPARE(load.status == 0, &load == &loads.last());
        QCOMPARE(load.path(QStringLiteral("path")), USBStuff::firmwarePath().toLocal8Bit());
    }
    // Nothing is asked of a board that is not up.
    for (const BoardTrace::Record &record : calls.records()) {
        if (record.function == loadFunction && record.status == 0)
            break;
        QVERIFY2(!record.function.contains(QStringLiteral("Request")), qPrintable(record.function));
    }
}

void tst_Startup::cancelEndsWithoutWindow_data()
{
    QTest::addColumn<BoardLibraryForm>("form");
    QTest::addColumn<QMessageBox::StandardButton>("answer");

    QTest::newRow("four-function, Cancel") << BoardLibraryForm::FourFunction << QMessageBox::Cancel;
    QTest::newRow("four-function, box closed")
            << BoardLibraryForm::FourFunction << QMessageBox::NoButton;
    QTest::newRow("BoardPort, Cancel") << BoardLibraryForm::BoardPort << QMessageBox::Cancel;
}

void tst_Startup::cancelEndsWithoutWindow()
{
    QFETCH(BoardLibraryForm, form);
    QFETCH(QMessageBox::StandardButton, answer);

    QCOMPARE(SimulatedBoardControl(libraryPathOf(form)).setAbsentAttempts(-1), 0);
    const std::unique_ptr<USBStuff> usb = makeUSBStuff(form);
    MainForm window(*usb);
    ShowCounter shown(&window);
    int boxes = 0;
    MessageBoxAnswerer answerer([&](const SeenMessageBox &) {
        // Retry twice, then give up.
        return ++boxes < 3 ? QMessageBox::Retry : answer;
    });

    QCOMPARE(window.load(), MainForm::LoadResult::Cancelled);
    QCOMPARE(answerer.seen().size(), 3);
    QCOMPARE(shown.shows, 0);
    QVERIFY(!window.isVisible());
    const QList<BoardTrace::Record> records = trace().records();
    for (const BoardTrace::Record &record : records)
        QVERIFY(!record.function.contains(QStringLiteral("Request")));
}

void tst_Startup::missingLibraryEndsWithReason()
{
    USBStuffFourFunction usb("/nonexistent/libKVN_CYUSB_USB4.so");
    MainForm window(usb);
    ShowCounter shown(&window);
    MessageBoxAnswerer answerer(QMessageBox::Ok);

    QCOMPARE(window.load(), MainForm::LoadResult::Failed);
    QCOMPARE(answerer.seen().size(), 1);
    const SeenMessageBox box = answerer.seen().first();
    QCOMPARE(box.caption, QStringLiteral("TX4410(version2)"));
    QVERIFY2(box.text.contains(QStringLiteral("/nonexistent/libKVN_CYUSB_USB4.so")),
             qPrintable(box.text));
    QVERIFY2(box.text.contains(QStringLiteral("No such file")), qPrintable(box.text));
    QCOMPARE(shown.shows, 0);
}

// The program's folder can only be too long for the path buffer when the program lies there:
// this runs a copy of the test from such a folder.
void tst_Startup::folderPathTooLong()
{
    QString folder = m_scratch.path();
    while (folder.size() < 600)
        folder += QLatin1Char('/') + QString(200, QLatin1Char('d'));
    QVERIFY(QDir().mkpath(folder));
    const QString copy = folder + QStringLiteral("/tst_startup");
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));

    QProcess run;
    run.start(copy, {QStringLiteral("loadFromDeepFolder")});
    QVERIFY(run.waitForFinished(60000));
    const QByteArray output = run.readAll();
    QVERIFY2(run.exitCode() == 0, output.constData());
    QVERIFY2(output.contains("PASS   : tst_Startup::loadFromDeepFolder"), output.constData());
}

void tst_Startup::loadFromDeepFolder()
{
    if (USBStuff::firmwarePath().toLocal8Bit().size() <= qsizetype(USBStuff::maxPathBytes))
        QSKIP("runs from a copy of the test in a deep folder");

    const std::unique_ptr<USBStuff> usb = makeUSBStuff(BoardLibraryForm::FourFunction);
    MainForm window(*usb);
    MessageBoxAnswerer answerer(QMessageBox::Ok);
    QCOMPARE(window.load(), MainForm::LoadResult::Failed);
    QCOMPARE(answerer.seen().size(), 1);
    QVERIFY2(answerer.seen().first().text.contains(QStringLiteral("folder path is too long")),
             qPrintable(answerer.seen().first().text));
    QCOMPARE(trace().records().size(), 0);
}

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
