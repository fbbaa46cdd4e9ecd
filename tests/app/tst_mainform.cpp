#include "digitcell.h"
#include "mainform.h"
#include "messageboxanswerer.h"
#include "textbox.h"
#include "usbstuff.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestMainForm final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void constructingTouchesNoBoard();
    void codeBoxesReadOnTheirEvent();
    void leavingTheVddBox_data();
    void leavingTheVddBox();

private:
    const MainFormControls &c() const { return m_form->controls(); }

    std::unique_ptr<USBStuff> m_usb;
    std::unique_ptr<MainForm> m_form;
};

// Into the box with the mouse, all of it selected for typing over.
static void enter(TextBox *box)
{
    QTest::mouseClick(box, Qt::LeftButton);
    QTRY_VERIFY(box->hasFocus());
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
}

void TestMainForm::init()
{
    m_usb = makeUSBStuff(BoardLibraryForm::FourFunction);
    m_form = std::make_unique<MainForm>(*m_usb);
    // The handlers act on the board: bring it up as start-up does. A failure box fails the test.
    MessageBoxAnswerer closer(QMessageBox::NoButton);
    QCOMPARE(m_form->load(), MainForm::LoadResult::Ready);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
}

void TestMainForm::cleanup()
{
    m_form.reset();
    m_usb.reset();
}

void TestMainForm::constructingTouchesNoBoard()
{
    QTemporaryDir dir;
    const QString trace = dir.filePath(QStringLiteral("trace"));
    // Every call that reaches a board library leaves a line there.
    qputenv("TX4410_BOARD_TRACE", QFile::encodeName(trace));
    const std::unique_ptr<USBStuff> usb = makeUSBStuff(BoardLibraryForm::FourFunction);
    const MainForm form(*usb);
    QCOMPARE(usb->boardHandle(), 0);
    QVERIFY(usb->pathBuffer() == (std::array<std::uint8_t, USBStuff::pathBufferSize> {}));
    QVERIFY(!QFile::exists(trace));
    usb->InitialiseBoard(); // and a call would have shown
    qunsetenv("TX4410_BOARD_TRACE");
    QVERIFY(QFile::exists(trace));
}

// The code is read when a key goes up in the box: not when it goes down, nor on auto-repeat.
// A new reference recomputes its voltage as soon as the text changes.
void TestMainForm::codeBoxesReadOnTheirEvent()
{
    TextBox *hex = c().hexText;
    enter(hex);
    QTest::keyClicks(hex, QStringLiteral("800"));
    QCOMPARE(c().voltageText->text(), QStringLiteral("0.15625000000000"));
    QTest::keyPress(hex, Qt::Key_0);
    QCOMPARE(hex->text(), QStringLiteral("8000"));
    QKeyEvent repeated(QEvent::KeyRelease, Qt::Key_0, Qt::NoModifier, QStringLiteral("0"), true);
    QApplication::sendEvent(hex, &repeated);
    QCOMPARE(c().voltageText->text(), QStringLiteral("0.15625000000000"));
    QTest::keyRelease(hex, Qt::Key_0);
    QCOMPARE(c().voltageText->text(), QStringLiteral("2.50000000000000"));

    enter(c().VrefText);
    QTest::keyPress(c().VrefText, Qt::Key_2);
    QCOMPARE(c().VrefText->text(), QStringLiteral("2"));
    QCOMPARE(c().voltageText->text(), QStringLiteral("1.00000000000000"));
    QTest::keyRelease(c().VrefText, Qt::Key_2);
    QCOMPARE(hex->text(), QStringLiteral("8000"));
}

// A sample is taken when the focus moves to another control of the window, and only then.
void TestMainForm::leavingTheVddBox_data()
{
    QTest::addColumn<QString>("how"); // the focus goes away without moving to another control
    QTest::newRow("another window activated") << "window";
    QTest::newRow("context menu") << "menu";
    QTest::newRow("the readback's error box") << "message";
}

void TestMainForm::leavingTheVddBox()
{
    QFETCH(QString, how);

    TextBox *vdd = c().adcVddText;
    enter(vdd);
    // A mark no sample of the board gives: a sample replaces it.
    const double reading = c().ADCDisplay->value();
    const double mark = reading + 1.5;
    c().ADCDisplay->setValue(mark);
    if (how == u"window") {
        QWidget elsewhere;
        elsewhere.show();
        elsewhere.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
    } else if (how == u"menu") {
        QContextMenuEvent event(QContextMenuEvent::Keyboard, {2, 2},
                                vdd->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(vdd, &event);
        QTRY_VERIFY(QApplication::activePopupWidget());
        QApplication::activePopupWidget()->close();
    } else {
        MessageBoxAnswerer answerer(QMessageBox::Ok);
        answerer.setHoldTime(50);
        QMessageBox::warning(m_form.get(), QString(), QStringLiteral("error"));
        QCOMPARE(answerer.seen().size(), 1);
    }
    QCOMPARE(c().ADCDisplay->value(), mark);

    // Back in the box, a move to another control after it still counts.
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    QTRY_VERIFY(vdd->hasFocus());
    QCOMPARE(c().ADCDisplay->value(), mark);
    QTest::keyClick(vdd, Qt::Key_Tab);
    QCOMPARE(c().ADCDisplay->value(), reading);
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
