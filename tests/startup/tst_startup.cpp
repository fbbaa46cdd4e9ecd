#include "usbstufffourfunction.h"
#include "windowonboard.h"

#include <QProcess>
#include <QTest>

Q_DECLARE_METATYPE(BoardLibraryForm)

// Start-up through either library on the simulated board: title, bring-up, the window it leaves.
class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName("TX4410(version2)");
        QCoreApplication::setApplicationVersion("2.00.012");
    }

    void bringUp_data()
    {
        QTest::addColumn<BoardLibraryForm>("form");
        QTest::addColumn<bool>("fail"); // every request fails and brings its own box
        QTest::addColumn<QMessageBox::StandardButton>("answer"); // to the third box
        const auto four = BoardLibraryForm::FourFunction, port = BoardLibraryForm::BoardPort;
        QTest::newRow("four-function") << four << false << QMessageBox::Retry;
        QTest::newRow("BoardPort") << port << false << QMessageBox::Retry;
        QTest::newRow("failing board") << four << true << QMessageBox::Retry;
        QTest::newRow("Cancel") << four << false << QMessageBox::Cancel;
        QTest::newRow("BoardPort, box closed") << port << false << QMessageBox::NoButton;
    }

    // Plugged in during the third box; then just channel A and one read; the window shows after.
    void bringUp()
    {
        QFETCH(BoardLibraryForm, form);
        QFETCH(bool, fail);
        QFETCH(QMessageBox::StandardButton, answer);
        WindowOnBoard window(form);
        QVERIFY(window.board.setAbsentAttempts(3) == 0 && window.board.setFailRequests(fail) == 0);
        // Marks of the test's own: one that survives shows a step that did not run.
        for (DigitCell *cell : window.c().BitsDisplay)
            cell->setValue(1);
        window.c().ADCDisplay->setValue(7.5);
        bool shown = false;
        window.boxes.answer = [&](const QString &box) {
            shown = shown || window.form().isVisible();
            if (box.contains(u"error"))
                return QMessageBox::Ok;
            return window.boxes.seen.size() < 3 ? QMessageBox::Retry : answer;
        };
        const bool ready = answer == QMessageBox::Retry;
        QCOMPARE(window.form().load() == MainForm::LoadResult::Ready, ready);
        QVERIFY(!shown && !window.form().isVisible());
        QCOMPARE(window.form().windowTitle(), "TX4410 Evaluation Software v2.0.12");
        const QString retry
                = "Failed to initalise Evaluation board: Failed to initalise Evaluation "
                  "board.\nInsure that the TX4418 Evaluation board is conected to a USB "
                  "port and click Retry | no board found under the configured USB identities. "
                  "Fix: connect the board to a USB port; 'tx4410-cli list' shows what is on the "
                  "bus [status 1, NoBoard] [icon 2, Retry Cancel, default Retry, modal]";
        const QString error = "TX4410(version2): error [icon 0, OK, default none, modal]";
        QCOMPARE(window.takeBoxes(), QStringList(3, retry) + QStringList(fail ? 2 : 0, error));
        QCOMPARE(window.boxes.mostOpenAtOnce, 1);
        QCOMPARE(window.requests(), !ready ? "" : fail ? "cc 1 failed, bb failed" : "cc 1, bb");
        if (!ready)
            return;
        const MainFormControls &c = window.c();
        for (int cell = 0; cell < 32; ++cell) {
            QCOMPARE(c.BitsDisplay[cell]->segmentColor(), cell >= 4 && cell <= 27 ? 255 : 160);
            // The option and data cells cleared; the command, address and unused cells untouched.
            QCOMPARE(c.BitsDisplay[cell]->value(), cell <= 19 ? 0.0 : 1.0);
        }
        QCOMPARE(c.hexText->text() + c.voltageText->text() + c.adcVddText->text(), "005");
        QCOMPARE(c.ADCDisplay->value(), 0.0); // the reset board's channel A, or a failed read
    }

    void missingLibrary_data()
    {
        QTest::addColumn<QByteArray>("library");
        QTest::addColumn<QString>("reason");
        QTest::newRow("none") << QByteArray("/no/lib.so")
                              << "\"/no/lib.so\": /no/lib.so: cannot open";
        QTest::newRow("no Search_For_Boards")
                << QByteArray(TX4410_BOARDPORT_LIBRARY) << "has no function \"Search_For_Boards\"";
    }

    // A box with the program's title names the library and why; the window never shows.
    void missingLibrary()
    {
        QFETCH(QByteArray, library);
        QFETCH(QString, reason);
        USBStuffFourFunction usb(library);
        MainForm window(usb);
        MessageBoxAnswerer answerer;
        QCOMPARE(window.load(), MainForm::LoadResult::Failed);
        QCOMPARE(answerer.seen.size(), 1);
        QVERIFY2(answerer.seen[0].startsWith("TX4410(version2): ")
                         && answerer.seen[0].contains(reason),
                 qPrintable(answerer.seen[0]));
    }

    // A folder too long for the path buffer: a copy of this test runs from one.
    void folderPathTooLong()
    {
        if (USBStuff::firmwarePath().toLocal8Bit().size() <= 512) {
            const QTemporaryDir scratch;
            const QString deep = scratch.path() + ('/' + QString(200, u'd')).repeated(3);
            QVERIFY(QDir().mkpath(deep));
            QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), deep + "/copy"));
            QProcess copy;
            copy.start(deep + "/copy", {"folderPathTooLong"});
            QVERIFY(copy.waitForFinished(60000));
            QVERIFY2(copy.exitCode() == 0, copy.readAll());
            return;
        }
        WindowOnBoard window;
        QCOMPARE(window.form().load(), MainForm::LoadResult::Failed);
        QVERIFY(window.takeBoxes().value(0).contains("folder path is too long"));
        QVERIFY(window.calls().isEmpty());
    }
};

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
