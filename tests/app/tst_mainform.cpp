#include "digitcell.h"
#include "mainform.h"
#include "messageboxanswerer.h"
#include "textbox.h"
#include "usbstuff.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

class TestMainForm final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void constructingTouchesNoBoard();
    void everyEventHasItsHandler_data();
    void everyEventHasItsHandler();
    void clicksArriveWithTheirIndex_data();
    void clicksArriveWithTheirIndex();
    void singleControlClicks_data();
    void singleControlClicks();
    void keyReleasesInTheCodeBoxes_data();
    void keyReleasesInTheCodeBoxes();
    void referenceChanges();
    void leavingTheVddBox_data();
    void leavingTheVddBox();
    void anErrorBoxIsNoLeaving();
    void controlsAreTheNamedOnes();

private:
    template<class T = QWidget> T *control(const QString &name) const
    {
        T *found = m_form->findChild<T *>(name);
        if (!found)
            qWarning("no control %s", qPrintable(name));
        return found;
    }
    void showPanel(int index) const;

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

void TestMainForm::showPanel(int index) const
{
    // As the command choice does: one panel, and the code entry only for the write commands.
    for (int i = 0; i < 9; ++i)
        control(QStringLiteral("dataBitsFrame_%1").arg(i))->setVisible(i == index);
    control(QStringLiteral("dataFrame"))->setVisible(index == 0);
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
    QCOMPARE(form.windowTitle(), QStringLiteral("TX4410 Evaluation Software"));
}

void TestMainForm::everyEventHasItsHandler_data()
{
    QTest::addColumn<QString>("sender"); // a control, or the button group of an array
    QTest::addColumn<QByteArray>("signal");
    QTest::addColumn<QByteArray>("handler");

    const auto wire = [](const char *sender, const char *signal, const char *handler) {
        QTest::newRow(handler) << QString::fromLatin1(sender) << QByteArray(signal)
                               << QByteArray(handler);
    };
    wire("cmdBitsOption", "idClicked(int)", "cmdBitsOptionClick(int)");
    wire("addressBitsOption", "idClicked(int)", "addressBitsOptionClick(int)");
    wire("clearCodeOption", "idClicked(int)", "clearCodeOptionClick(int)");
    wire("powerDownOption", "idClicked(int)", "powerDownOptionClick(int)");
    wire("refOption", "idClicked(int)", "refOptionClick(int)");
    wire("ResetOption", "idClicked(int)", "ResetOptionClick(int)");
    wire("LDACOverwriteCheck", "idClicked(int)", "LDACOverwriteCheckClick(int)");
    wire("powerDownCheck", "idClicked(int)", "powerDownCheckClick(int)");
    wire("hexText", "keyReleased()", "hexTextKeyUp()");
    wire("voltageText", "keyReleased()", "voltageTextKeyUp()");
    wire("VrefText", "textChanged(QString)", "VrefTextChange()");
    wire("writeToPartCommand", "clicked()", "writeToPartCommandClick()");
    wire("sampleCommand", "clicked()", "sampleCommandClick()");
    wire("autoSampleCheck", "clicked()", "autoSampleCheckClick()");
    wire("Option_MUX", "idClicked(int)", "Option_MUXClick(int)");
    wire("adcVddText", "focusMovedAway()", "adcVddTextLostFocus()");
    wire("sampleTimer", "timeout()", "sampleTimerTimer()");
    wire("CLRCheck", "clicked()", "CLRCheckClick()");
    wire("LDACCheck", "clicked()", "LDACCheckClick()");
}

void TestMainForm::everyEventHasItsHandler()
{
    QFETCH(QString, sender);
    QFETCH(QByteArray, signal);
    QFETCH(QByteArray, handler);

    QObject *source = m_form->findChild<QObject *>(sender);
    QVERIFY(source);
    // Disconnecting succeeds only for a connection that was there, to exactly this handler.
    QVERIFY(QObject::disconnect(source, QByteArray('2' + signal).constData(), m_form.get(),
                                QByteArray('1' + handler).constData()));
    QVERIFY(!QObject::disconnect(source, QByteArray('2' + signal).constData(), m_form.get(),
                                 nullptr));
}

void TestMainForm::clicksArriveWithTheirIndex_data()
{
    QTest::addColumn<QString>("array");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("panel");   // the option panel to show first; -1: none
    QTest::addColumn<bool>("parked"); // no mouse reaches it: clicked by the program

    QTest::newRow("command 3") << QStringLiteral("cmdBitsOption") << 3 << -1 << false;
    QTest::newRow("command 7") << QStringLiteral("cmdBitsOption") << 7 << -1 << false;
    QTest::newRow("command 8, parked") << QStringLiteral("cmdBitsOption") << 8 << -1 << true;
    QTest::newRow("All DACs") << QStringLiteral("addressBitsOption") << 8 << -1 << false;
    QTest::newRow("DAC B") << QStringLiteral("addressBitsOption") << 1 << -1 << false;
    QTest::newRow("DAC H, hidden") << QStringLiteral("addressBitsOption") << 7 << -1 << true;
    QTest::newRow("readback D") << QStringLiteral("Option_MUX") << 3 << -1 << false;
    QTest::newRow("readback H, parked") << QStringLiteral("Option_MUX") << 7 << -1 << true;
    QTest::newRow("100k Ohm to Ground") << QStringLiteral("powerDownOption") << 2 << 4 << false;
    QTest::newRow("power down DAC C") << QStringLiteral("powerDownCheck") << 2 << 4 << false;
    QTest::newRow("power down DAC F, parked") << QStringLiteral("powerDownCheck") << 5 << 4 << true;
    QTest::newRow("Reset All Registers") << QStringLiteral("ResetOption") << 1 << 5 << false;
    QTest::newRow("No Operation, parked") << QStringLiteral("clearCodeOption") << 3 << 5 << true;
    QTest::newRow("LDAC overwrite DAC D")
            << QStringLiteral("LDACOverwriteCheck") << 3 << 6 << false;
    QTest::newRow("Internal reference ON") << QStringLiteral("refOption") << 1 << 7 << false;
}

void TestMainForm::clicksArriveWithTheirIndex()
{
    QFETCH(QString, array);
    QFETCH(int, index);
    QFETCH(int, panel);
    QFETCH(bool, parked);

    if (panel >= 0)
        showPanel(panel);
    auto *group = m_form->findChild<QButtonGroup *>(array);
    QVERIFY(group);
    auto *button = control<QAbstractButton>(QStringLiteral("%1_%2").arg(array).arg(index));
    QVERIFY(button);
    QSignalSpy clicks(group, &QButtonGroup::idClicked);
    if (parked) {
        button->click();
    } else {
        QVERIFY(button->isVisible());
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(clicks.first().first().toInt(), index);
    QVERIFY(button->isChecked());
}

void TestMainForm::singleControlClicks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("parked");

    QTest::newRow("Sample") << QStringLiteral("sampleCommand") << false;
    QTest::newRow("Write to Part") << QStringLiteral("writeToPartCommand") << false;
    QTest::newRow("Auto Sample") << QStringLiteral("autoSampleCheck") << false;
    QTest::newRow("CLR, parked") << QStringLiteral("CLRCheck") << true;
    QTest::newRow("LDAC, parked") << QStringLiteral("LDACCheck") << true;
}

void TestMainForm::singleControlClicks()
{
    QFETCH(QString, name);
    QFETCH(bool, parked);

    auto *button = control<QAbstractButton>(name);
    QVERIFY(button);
    QSignalSpy clicks(button, &QAbstractButton::clicked);
    if (parked) {
        QVERIFY(button->visibleRegion().isEmpty());
        button->click();
    } else {
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QCOMPARE(clicks.count(), 1);
}

void TestMainForm::keyReleasesInTheCodeBoxes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("releases"); // a held modifier is a key of its own

    QTest::newRow("hexText: a digit")
            << QStringLiteral("hexText") << int(Qt::Key_8) << Qt::KeyboardModifiers() << 1;
    QTest::newRow("hexText: Shift+F") << QStringLiteral("hexText") << int(Qt::Key_F)
                                      << Qt::KeyboardModifiers(Qt::ShiftModifier) << 2;
    QTest::newRow("hexText: an arrow")
            << QStringLiteral("hexText") << int(Qt::Key_Right) << Qt::KeyboardModifiers() << 1;
    QTest::newRow("voltageText: a digit")
            << QStringLiteral("voltageText") << int(Qt::Key_2) << Qt::KeyboardModifiers() << 1;
    QTest::newRow("voltageText: Backspace")
            << QStringLiteral("voltageText") << int(Qt::Key_Backspace) << Qt::KeyboardModifiers()
            << 1;
}

void TestMainForm::keyReleasesInTheCodeBoxes()
{
    QFETCH(QString, name);
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, releases);

    auto *box = control<TextBox>(name);
    QVERIFY(box);
    box->setFocus(Qt::MouseFocusReason);
    QSignalSpy released(box, &TextBox::keyReleased);
    QTest::keyPress(box, Qt::Key(key), modifiers);
    QCOMPARE(released.count(), 0);
    QTest::keyRelease(box, Qt::Key(key), modifiers);
    QCOMPARE(released.count(), releases);
}

void TestMainForm::referenceChanges()
{
    auto *box = control<TextBox>(QStringLiteral("VrefText"));
    QVERIFY(box);
    QSignalSpy changes(box, &QLineEdit::textChanged);
    QTest::keyClick(box, Qt::Key_End);
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, QStringLiteral("2.5"));
    QCOMPARE(changes.count(), 4);
    QCOMPARE(changes.last().first().toString(), QStringLiteral("2.5"));
}

void TestMainForm::leavingTheVddBox_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("target"); // where the focus goes

    QTest::newRow("Tab") << QStringLiteral("tab") << QString();
    QTest::newRow("click on Sample") << QStringLiteral("click") << QStringLiteral("sampleCommand");
    QTest::newRow("click on a channel")
            << QStringLiteral("click") << QStringLiteral("Option_MUX_1");
    QTest::newRow("click on a code box") << QStringLiteral("click") << QStringLiteral("hexText");
}

void TestMainForm::leavingTheVddBox()
{
    QFETCH(QString, how);
    QFETCH(QString, target);

    auto *box = control<TextBox>(QStringLiteral("adcVddText"));
    QVERIFY(box);
    QTest::mouseClick(box, Qt::LeftButton);
    QTRY_VERIFY(box->hasFocus());
    QSignalSpy left(box, &TextBox::focusMovedAway);
    if (how == u"tab")
        QTest::keyClick(box, Qt::Key_Tab);
    else
        QTest::mouseClick(control(target), Qt::LeftButton);
    QTRY_VERIFY(!box->hasFocus());
    if (!target.isEmpty())
        QVERIFY(control(target)->hasFocus());
    QCOMPARE(left.count(), 1);
}

void TestMainForm::anErrorBoxIsNoLeaving()
{
    auto *box = control<TextBox>(QStringLiteral("adcVddText"));
    QVERIFY(box);
    QTest::mouseClick(box, Qt::LeftButton);
    QTRY_VERIFY(box->hasFocus());
    QSignalSpy left(box, &TextBox::focusMovedAway);

    // The readback's failure box, as it opens while the box has the focus.
    MessageBoxAnswerer answerer(QMessageBox::Ok);
    answerer.setHoldTime(50);
    QMessageBox::warning(m_form.get(), QString(), QStringLiteral("error"));
    QCOMPARE(answerer.seen().size(), 1);
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    QTRY_VERIFY(box->hasFocus());
    QCOMPARE(left.count(), 0);

    // A move to another control after it still counts.
    QTest::keyClick(box, Qt::Key_Tab);
    QCOMPARE(left.count(), 1);
}

void TestMainForm::controlsAreTheNamedOnes()
{
    const MainFormControls &c = m_form->controls();
    QCOMPARE(c.hexText, control<TextBox>(QStringLiteral("hexText")));
    QCOMPARE(c.adcVddText, control<TextBox>(QStringLiteral("adcVddText")));
    QCOMPARE(c.sampleTimer, m_form->findChild<QTimer *>(QStringLiteral("sampleTimer")));
    QVERIFY(!c.sampleTimer->isActive());
    QCOMPARE(c.BitsDisplay[17], control<DigitCell>(QStringLiteral("BitsDisplay_17")));
    QCOMPARE(c.addressBitsOptionGroup,
             m_form->findChild<QButtonGroup *>(QStringLiteral("addressBitsOption")));
    QCOMPARE(c.dataBitsFrame[8], control<QGroupBox>(QStringLiteral("dataBitsFrame_8")));
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
