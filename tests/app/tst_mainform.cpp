#include "digitcell.h"
#include "mainform.h"
#include "messageboxanswerer.h"
#include "textbox.h"
#include "usbstuff.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestMainForm final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void constructingTouchesNoBoard();
    void keyReleaseInTheHexBox();
    void changeInTheReferenceBox();
    void leavingTheVddBox_data();
    void leavingTheVddBox();

private:
    const MainFormControls &c() const { return m_form->controls(); }
    void typeInto(TextBox *box, const QString &text) const;

    QTemporaryDir m_traceDir;
    std::unique_ptr<USBStuff> m_usb;
    std::unique_ptr<MainForm> m_form;
};

void TestMainForm::initTestCase()
{
    QVERIFY(m_traceDir.isValid());
    // Every call that reaches a board library leaves a line here.
    qputenv("TX4410_BOARD_TRACE", QFile::encodeName(m_traceDir.filePath(QStringLiteral("trace"))));
}

void TestMainForm::init()
{
    m_usb = makeUSBStuff(BoardLibraryForm::FourFunction);
    m_form = std::make_unique<MainForm>(*m_usb);
    // The handlers act on the board: bring it up as start-up does.
    QCOMPARE(m_form->load(), MainForm::LoadResult::Ready);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
}

void TestMainForm::cleanup()
{
    m_form.reset();
    m_usb.reset();
}

// Into the box with the mouse, all of it replaced by typing.
void TestMainForm::typeInto(TextBox *box, const QString &text) const
{
    QTest::mouseClick(box, Qt::LeftButton);
    QTRY_VERIFY(box->hasFocus());
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, text);
}

void TestMainForm::constructingTouchesNoBoard()
{
    const QString trace = m_traceDir.filePath(QStringLiteral("construction-trace"));
    qputenv("TX4410_BOARD_TRACE", QFile::encodeName(trace));
    const std::unique_ptr<USBStuff> usb = makeUSBStuff(BoardLibraryForm::FourFunction);
    const MainForm form(*usb);
    qputenv("TX4410_BOARD_TRACE", QFile::encodeName(m_traceDir.filePath(QStringLiteral("trace"))));

    QCOMPARE(usb->boardHandle(), 0);
    for (const std::uint8_t byte : usb->pathBuffer())
        QCOMPARE(byte, std::uint8_t(0));
    QVERIFY(!QFile::exists(trace));
}

// The code is read when a key goes up in the box: not when it goes down, nor on auto-repeat.
void TestMainForm::keyReleaseInTheHexBox()
{
    TextBox *hex = c().hexText;
    typeInto(hex, QStringLiteral("800"));
    QCOMPARE(c().voltageText->text(), QStringLiteral("0.15625000000000"));

    QTest::keyPress(hex, Qt::Key_0);
    QCOMPARE(hex->text(), QStringLiteral("8000"));
    QKeyEvent repeated(QEvent::KeyRelease, Qt::Key_0, Qt::NoModifier, QStringLiteral("0"), true);
    QApplication::sendEvent(hex, &repeated);
    QCOMPARE(c().voltageText->text(), QStringLiteral("0.15625000000000"));
    QTest::keyRelease(hex, Qt::Key_0);
    QCOMPARE(c().voltageText->text(), QStringLiteral("2.50000000000000"));
}

// A new reference recomputes the voltage of the code as soon as the text changes.
void TestMainForm::changeInTheReferenceBox()
{
    typeInto(c().hexText, QStringLiteral("8000"));
    TextBox *vref = c().VrefText;
    QTest::mouseClick(vref, Qt::LeftButton);
    QTRY_VERIFY(vref->hasFocus());
    QTest::keyClick(vref, Qt::Key_A, Qt::ControlModifier);
    QTest::keyPress(vref, Qt::Key_2);
    QCOMPARE(vref->text(), QStringLiteral("2"));
    QCOMPARE(c().voltageText->text(), QStringLiteral("1.00000000000000"));
    QTest::keyRelease(vref, Qt::Key_2);
    QCOMPARE(c().hexText->text(), QStringLiteral("8000"));
}

void TestMainForm::leavingTheVddBox_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("sampled"); // the focus went to another control of the window

    QTest::newRow("Tab") << "tab" << true;
    QTest::newRow("Shift+Tab") << "backtab" << true;
    QTest::newRow("click on a code box") << "click" << true;
    QTest::newRow("another window activated") << "window" << false;
    QTest::newRow("context menu") << "menu" << false;
    QTest::newRow("the readback's error box") << "message" << false;
}

void TestMainForm::leavingTheVddBox()
{
    QFETCH(QString, how);
    QFETCH(bool, sampled);

    TextBox *vdd = c().adcVddText;
    QTest::mouseClick(vdd, Qt::LeftButton);
    QTRY_VERIFY(vdd->hasFocus());
    // A mark no sample of the board gives: a sample replaces it.
    const double reading = c().ADCDisplay->value();
    const double mark = reading + 1.5;
    c().ADCDisplay->setValue(mark);

    QWidget elsewhere;
    if (how == u"tab") {
        QTest::keyClick(vdd, Qt::Key_Tab);
    } else if (how == u"backtab") {
        QTest::keyClick(vdd, Qt::Key_Backtab, Qt::ShiftModifier);
    } else if (how == u"click") {
        QTest::mouseClick(c().hexText, Qt::LeftButton);
        QTRY_VERIFY(c().hexText->hasFocus());
    } else if (how == u"window") {
        elsewhere.show();
        elsewhere.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
        elsewhere.close();
    } else if (how == u"menu") {
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(2, 2),
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
    QCOMPARE(c().ADCDisplay->value(), sampled ? reading : mark);
    if (sampled)
        return;

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
