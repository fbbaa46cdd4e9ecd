#include "digitcell.h"
#include "mainformlayout.h"
#include "textbox.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

// The rules of the window's layout, each on controls a mistake would show on.
class TestMainFormLayout final : public QObject
{
    Q_OBJECT

    QWidget m_form;
    const MainFormControls m_c = buildMainFormLayout(m_form);

    // A click at the widget's centre reaches the target or a control inside it.
    bool reaches(const QWidget *widget, const QWidget *target) const
    {
        const QWidget *at = m_form.childAt(widget->mapTo(&m_form, widget->rect().center()));
        return at == target || target->isAncestorOf(at);
    }
private slots:
    void initTestCase()
    {
        m_form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_form));
        QCOMPARE(m_form.objectName() + ' ' + m_form.windowTitle(),
                 "MainForm TX4410 Evaluation Software");
        QVERIFY(m_form.minimumSize() == QSize(688, 504) && m_form.maximumSize() == QSize(688, 504));
        QCOMPARE(QFontInfo(m_c.titleLabel->font()).family(), "Liberation Sans Narrow");
        QVERIFY(m_c.sampleTimer->interval() == 1000 && !m_c.sampleTimer->isActive());
    }

    void oneControlOfEachKind_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind"); // the class it is or derives from
        QTest::addColumn<QString>("container");
        QTest::addColumn<QRect>("twips"); // from the container's corner
        QTest::addColumn<QString>("caption");
        const auto row = [](const char *name, const char *kind, const char *container, QRect twips,
                            const char *caption = "") {
            QTest::newRow(name) << name << kind << container << twips << caption;
        };
        row("Frame_ADC", "QGroupBox", "MainForm", {6240, 120, 3975, 1575}, "ADC");
        row("cmdBitsOption_5", "QRadioButton", "cmdBitsFrame", {120, 2400, 2175, 195}, "Reset");
        row("powerDownCheck_2", "QCheckBox", "dataBitsFrame_4", {1440, 2040, 1095, 255}, "DAC C");
        row("hexText", "TextBox", "dataFrame", {1560, 0, 1335, 285});
        row("Label5", "QLabel", "MainForm", {240, 840, 5055, 255},
            "Dual, 16 Bit corvaDAC with 5ppm/\u00B0C On-Chip Reference");
        row("Label1_1", "QLabel", "Frame1", {720, 720, 765, 495}, "Command Bits");
        row("sampleCommand", "QPushButton", "Frame_ADC", {120, 810, 2175, 255}, "Sample");
        row("BitsDisplay_22", "DigitCell", "Frame1", {1590, 240, 285, 495});
        row("Image1", "QLabel", "MainForm", {4275, 240, 1620, 525});
        row("Shape1", "QWidget", "Frame1", {120, 240, 7095, 735});
        row("Line1", "QWidget", "hardwarePinsFrame", {510, 450, 525, 15}); // both end pixels
    }

    // 15 twips to a pixel from the container's corner, its caption, fonts and colours.
    void oneControlOfEachKind()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QRect, twips);
        QWidget *widget = m_form.findChild<QWidget *>(name);
        QVERIFY(widget && widget->inherits(kind.toLatin1()));
        QTEST(widget->parentWidget()->objectName(), "container");
        QCOMPARE(widget->geometry(), QRect(twips.topLeft() / 15, twips.size() / 15));
        QTEST(widget->property(kind == "QGroupBox" ? "title" : "text").toString(), "caption");
        const bool groupLabel = name.startsWith(u"Label1_");
        QCOMPARE(QFontInfo(widget->font()).family(), "Liberation Sans");
        QVERIFY(widget->font().pixelSize() == 11 && widget->font().bold() != groupLabel);
        const QPalette &colours = widget->palette();
        if (kind == "TextBox" || kind == "QPushButton") {
            QCOMPARE(colours, QApplication::palette());
        } else if (kind != "DigitCell" && kind != "QWidget" && name != "Image1") {
            QVERIFY(widget->autoFillBackground());
            QCOMPARE(colours.window().color(), groupLabel ? QColor(64, 64, 64) : QColor(0, 0, 192));
            QCOMPARE(colours.windowText().color(), QColor(255, 255, 0));
        }
    }

    // Index 0 chosen but power-down modes and clear codes, each member's id its index (what
    // the handler receives); nothing ticked; spares hidden; limits.
    void startState()
    {
        for (const QButtonGroup *group : m_form.findChildren<QButtonGroup *>()) {
            const bool none = group == m_c.powerDownOptionGroup || group == m_c.clearCodeOptionGroup
                    || !group->exclusive();
            QCOMPARE(group->checkedId(), none ? -1 : 0);
            for (QAbstractButton *button : group->buttons())
                QVERIFY(button->objectName().endsWith('_' + QString::number(group->id(button))));
        }
        for (const QCheckBox *box : m_form.findChildren<QCheckBox *>())
            QVERIFY(!box->isChecked());
        const QRegularExpression hidden("^(addressBitsOption_[4-7]|dataBitsFrame_[1-8])$");
        for (const QWidget *widget : m_form.findChildren<QWidget *>(QRegularExpression("^[A-Z]")))
            QCOMPARE(widget->isHidden(), hidden.match(widget->objectName()).hasMatch());
        QVERIFY(m_c.hexText->typingLimit() == 4 && m_c.voltageText->typingLimit() == 8);
        QVERIFY(m_c.adcVddText->typingLimit() == 5 && m_c.VrefText->typingLimit() == 0);
        QCOMPARE(m_c.adcVddText->text() + m_c.VrefText->text() + m_c.hexText->text(), "55");
        QVERIFY(m_c.BitsDisplay[9]->digitCount() == 1 && m_c.BitsDisplay[9]->segmentColor() == 160);
        QVERIFY(m_c.ADCDisplay->digitCount() == 6 && m_c.ADCDisplay->segmentColor() == 255);
    }

    // Parked controls unseen and out of reach, even in a shown panel; the two overlaps in front.
    void clippedAndStacked()
    {
        QVERIFY(reaches(m_c.noAddressBitsFrame, m_c.addressBitsFrame));
        QVERIFY(reaches(m_c.dataBitsFrame[0], m_c.dataFrame));
        m_c.dataBitsFrame[5]->show();
        m_c.dataFrame->hide();
        for (QWidget *parked :
             QList<QWidget *> {m_c.hardwarePinsFrame, m_c.CLRCheck, m_c.Option_MUX[7],
                               m_c.cmdBitsOption[8], m_c.BitsDisplay[31], m_c.clearCodeOption[0]})
            QVERIFY(parked->visibleRegion().isEmpty() && !reaches(parked, parked));
        QVERIFY(reaches(m_c.Label3, m_c.Label3));
        m_c.dataBitsFrame[5]->hide();
        m_c.dataFrame->show();
    }
};

QTEST_MAIN(TestMainFormLayout)
#include "tst_mainformlayout.moc"
