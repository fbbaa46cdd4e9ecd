#include "digitcell.h"
#include "mainformlayout.h"
#include "textbox.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

const QColor windowBlue(0, 0, 192);
const QColor yellow(255, 255, 0);
const QColor darkGrey(64, 64, 64);

// Where a user finds a control at start.
enum Place {
    Seen,    // a click on it reaches it
    Covered, // shown, but addressBitsFrame lies over it
    Parked,  // outside its container's area: never seen
    InPanel, // in an option panel hidden at start: seen once that panel shows
    Drawn,   // a figure that takes no clicks
};

struct Control
{
    const char *name;
    const char *kind; // the Qt class it is or derives from
    const char *container;
    QRect geometry; // pixels
    const char *caption;
    Place place = Seen;
    int checked = -1; // option buttons and check boxes: 1 selected or ticked, 0 clear
    bool hidden = false;
};

// Every control of the window in its start state.
// clang-format off
const Control table[] = {
    {"addressBitsFrame", "QGroupBox", "MainForm", {224, 216, 185, 129}, "Address Bits"},
    {"Frame_ADC", "QGroupBox", "MainForm", {416, 8, 265, 105}, "ADC"},
    {"Frame1", "QGroupBox", "MainForm", {8, 120, 673, 377}, "DAC"},
    {"Label5", "QLabel", "MainForm", {16, 56, 337, 17}, "Dual, 16 Bit corvaDAC with 5ppm/\u00B0C On-Chip Reference"},
    {"Image1", "QLabel", "MainForm", {285, 16, 108, 35}, ""},
    {"Image2", "QLabel", "MainForm", {12, 80, 381, 30}, ""},
    {"titleLabel", "QLabel", "MainForm", {16, 12, 113, 41}, "TX4410"},
    {"addressBitsOption_0", "QRadioButton", "addressBitsFrame", {16, 24, 81, 17}, "DAC A", Seen, 1},
    {"addressBitsOption_1", "QRadioButton", "addressBitsFrame", {16, 40, 81, 17}, "DAC B", Seen, 0},
    {"addressBitsOption_2", "QRadioButton", "addressBitsFrame", {16, 56, 81, 17}, "DAC C", Seen, 0},
    {"addressBitsOption_3", "QRadioButton", "addressBitsFrame", {16, 72, 81, 17}, "DAC D", Seen, 0},
    {"addressBitsOption_4", "QRadioButton", "addressBitsFrame", {192, 120, 81, 17}, "DAC E", Parked, 0, true},
    {"addressBitsOption_5", "QRadioButton", "addressBitsFrame", {192, 136, 81, 17}, "DAC F", Parked, 0, true},
    {"addressBitsOption_6", "QRadioButton", "addressBitsFrame", {192, 152, 81, 17}, "DAC G", Parked, 0, true},
    {"addressBitsOption_7", "QRadioButton", "addressBitsFrame", {192, 168, 81, 17}, "DAC H", Parked, 0, true},
    {"addressBitsOption_8", "QRadioButton", "addressBitsFrame", {16, 96, 81, 17}, "All DACs", Seen, 0},
    {"adcVddText", "QLineEdit", "Frame_ADC", {38, 78, 41, 19}, "5"},
    {"Frame3", "QGroupBox", "Frame_ADC", {160, 8, 97, 81}, "DAC Output"},
    {"sampleCommand", "QPushButton", "Frame_ADC", {8, 54, 145, 17}, "Sample"},
    {"autoSampleCheck", "QCheckBox", "Frame_ADC", {92, 74, 65, 25}, "Auto Sample", Seen, 0},
    {"ADCDisplay", "DigitCell", "Frame_ADC", {8, 16, 121, 33}, ""},
    {"vLabel", "QLabel", "Frame_ADC", {136, 16, 17, 33}, "V"},
    {"adcVddLabel", "QLabel", "Frame_ADC", {8, 80, 33, 17}, "Vdd:"},
    {"Option_MUX_0", "QRadioButton", "Frame3", {8, 32, 33, 13}, "A", Seen, 1},
    {"Option_MUX_1", "QRadioButton", "Frame3", {48, 32, 33, 13}, "B", Seen, 0},
    {"Option_MUX_2", "QRadioButton", "Frame3", {8, 48, 33, 13}, "C", Seen, 0},
    {"Option_MUX_3", "QRadioButton", "Frame3", {48, 48, 33, 13}, "D", Seen, 0},
    {"Option_MUX_4", "QRadioButton", "Frame3", {48, 108, 33, 13}, "E", Parked, 0},
    {"Option_MUX_5", "QRadioButton", "Frame3", {48, 124, 33, 13}, "F", Parked, 0},
    {"Option_MUX_6", "QRadioButton", "Frame3", {48, 140, 33, 13}, "G", Parked, 0},
    {"Option_MUX_7", "QRadioButton", "Frame3", {48, 156, 33, 13}, "H", Parked, 0},
    {"dataFrame", "QGroupBox", "Frame1", {424, 112, 209, 177}, "Frame2"},
    {"noAddressBitsFrame", "QGroupBox", "Frame1", {216, 96, 185, 129}, "Address Bits", Covered},
    {"dataBitsFrame_0", "QGroupBox", "Frame1", {416, 96, 241, 225}, "Data Bits"},
    {"dataBitsFrame_1", "QGroupBox", "Frame1", {416, 96, 241, 225}, "Update DAC Register", InPanel, -1, true},
    {"dataBitsFrame_2", "QGroupBox", "Frame1", {416, 96, 241, 225}, "Data Bits", InPanel, -1, true},
    {"dataBitsFrame_3", "QGroupBox", "Frame1", {416, 96, 241, 225}, "Data Bits", InPanel, -1, true},
    {"dataBitsFrame_4", "QGroupBox", "Frame1", {416, 96, 241, 225}, "Power Down/Up Register", InPanel, -1, true},
    {"dataBitsFrame_5", "QGroupBox", "Frame1", {416, 96, 241, 225}, "Reset", InPanel, -1, true},
    {"dataBitsFrame_6", "QGroupBox", "Frame1", {416, 96, 241, 225}, "LDAC Register Setup", InPanel, -1, true},
    {"dataBitsFrame_7", "QGroupBox", "Frame1", {416, 96, 241, 225}, "REF Setup Register", InPanel, -1, true},
    {"dataBitsFrame_8", "QGroupBox", "Frame1", {416, 96, 241, 225}, "CLR Code Register", InPanel, -1, true},
    {"writeToPartCommand", "QPushButton", "Frame1", {552, 328, 105, 33}, "Write to Part"},
    {"hardwarePinsFrame", "QGroupBox", "Frame1", {1176, 696, 185, 89}, "Hardware Pins", Parked},
    {"cmdBitsFrame", "QGroupBox", "Frame1", {8, 96, 193, 265}, "Command Bits"},
    {"BitsDisplay_0", "DigitCell", "Frame1", {568, 456, 19, 33}, "", Parked},
    {"BitsDisplay_1", "DigitCell", "Frame1", {552, 456, 19, 33}, "", Parked},
    {"BitsDisplay_2", "DigitCell", "Frame1", {536, 456, 19, 33}, "", Parked},
    {"BitsDisplay_3", "DigitCell", "Frame1", {520, 456, 19, 33}, "", Parked},
    {"BitsDisplay_4", "DigitCell", "Frame1", {462, 16, 19, 33}, ""},
    {"BitsDisplay_5", "DigitCell", "Frame1", {444, 16, 19, 33}, ""},
    {"BitsDisplay_6", "DigitCell", "Frame1", {426, 16, 19, 33}, ""},
    {"BitsDisplay_7", "DigitCell", "Frame1", {408, 16, 19, 33}, ""},
    {"BitsDisplay_8", "DigitCell", "Frame1", {382, 16, 19, 33}, ""},
    {"BitsDisplay_9", "DigitCell", "Frame1", {364, 16, 19, 33}, ""},
    {"BitsDisplay_10", "DigitCell", "Frame1", {346, 16, 19, 33}, ""},
    {"BitsDisplay_11", "DigitCell", "Frame1", {328, 16, 19, 33}, ""},
    {"BitsDisplay_12", "DigitCell", "Frame1", {302, 16, 19, 33}, ""},
    {"BitsDisplay_13", "DigitCell", "Frame1", {284, 16, 19, 33}, ""},
    {"BitsDisplay_14", "DigitCell", "Frame1", {266, 16, 19, 33}, ""},
    {"BitsDisplay_15", "DigitCell", "Frame1", {248, 16, 19, 33}, ""},
    {"BitsDisplay_16", "DigitCell", "Frame1", {222, 16, 19, 33}, ""},
    {"BitsDisplay_17", "DigitCell", "Frame1", {204, 16, 19, 33}, ""},
    {"BitsDisplay_18", "DigitCell", "Frame1", {186, 16, 19, 33}, ""},
    {"BitsDisplay_19", "DigitCell", "Frame1", {168, 16, 19, 33}, ""},
    {"BitsDisplay_20", "DigitCell", "Frame1", {142, 16, 19, 33}, ""},
    {"BitsDisplay_21", "DigitCell", "Frame1", {124, 16, 19, 33}, ""},
    {"BitsDisplay_22", "DigitCell", "Frame1", {106, 16, 19, 33}, ""},
    {"BitsDisplay_23", "DigitCell", "Frame1", {128, 480, 19, 33}, "", Parked},
    {"BitsDisplay_24", "DigitCell", "Frame1", {80, 16, 19, 33}, ""},
    {"BitsDisplay_25", "DigitCell", "Frame1", {64, 16, 19, 33}, ""},
    {"BitsDisplay_26", "DigitCell", "Frame1", {48, 16, 19, 33}, ""},
    {"BitsDisplay_27", "DigitCell", "Frame1", {72, 480, 19, 33}, "", Parked},
    {"BitsDisplay_28", "DigitCell", "Frame1", {24, 16, 19, 33}, ""},
    {"BitsDisplay_29", "DigitCell", "Frame1", {8, 16, 19, 33}, ""},
    {"BitsDisplay_30", "DigitCell", "Frame1", {48, 480, 19, 33}, "", Parked},
    {"BitsDisplay_31", "DigitCell", "Frame1", {32, 480, 19, 33}, "", Parked},
    {"Label1_0", "QLabel", "Frame1", {8, 48, 35, 33}, ""},
    {"Label1_1", "QLabel", "Frame1", {48, 48, 51, 33}, "Command Bits"},
    {"Label1_2", "QLabel", "Frame1", {104, 48, 59, 33}, "Address Bits"},
    {"Label1_3", "QLabel", "Frame1", {168, 48, 315, 33}, "Data Bits"},
    {"Shape1", "QWidget", "Frame1", {8, 16, 473, 49}, "", Drawn},
    {"cmdBitsOption_0", "QRadioButton", "cmdBitsFrame", {8, 16, 177, 13}, "Write to Input Register n", Seen, 1},
    {"cmdBitsOption_1", "QRadioButton", "cmdBitsFrame", {8, 40, 169, 13}, "Update DAC Register n", Seen, 0},
    {"cmdBitsOption_2", "QRadioButton", "cmdBitsFrame", {8, 64, 177, 25}, "Write to Input Register n, Update All", Seen, 0},
    {"cmdBitsOption_3", "QRadioButton", "cmdBitsFrame", {8, 96, 177, 25}, "Write to and Update DAC channel n", Seen, 0},
    {"cmdBitsOption_4", "QRadioButton", "cmdBitsFrame", {8, 128, 137, 25}, "Power Down DAC (Power-up)", Seen, 0},
    {"cmdBitsOption_5", "QRadioButton", "cmdBitsFrame", {8, 160, 145, 13}, "Reset", Seen, 0},
    {"cmdBitsOption_6", "QRadioButton", "cmdBitsFrame", {8, 184, 153, 25}, "LDAC Register Setup", Seen, 0},
    {"cmdBitsOption_7", "QRadioButton", "cmdBitsFrame", {8, 224, 169, 13}, "REF Setup Register", Seen, 0},
    {"cmdBitsOption_8", "QRadioButton", "cmdBitsFrame", {16, 368, 153, 13}, "CLR Code Register", Parked, 0},
    {"noAddressBitsLabel", "QLabel", "noAddressBitsFrame", {16, 24, 153, 89}, "Address bits not used for this command", Covered},
    {"updateDACRegLabel", "QLabel", "dataBitsFrame_1", {16, 24, 209, 65}, "Software LDAC for DAC registor n", InPanel},
    {"powerDownOption_0", "QRadioButton", "dataBitsFrame_4", {24, 24, 153, 17}, "Normal Operation", InPanel, 0},
    {"powerDownOption_1", "QRadioButton", "dataBitsFrame_4", {24, 40, 153, 17}, "1k Ohm to Ground", InPanel, 0},
    {"powerDownOption_2", "QRadioButton", "dataBitsFrame_4", {24, 56, 153, 17}, "100k Ohm to Ground", InPanel, 0},
    {"powerDownOption_3", "QRadioButton", "dataBitsFrame_4", {24, 72, 153, 17}, "Three State", InPanel, 0},
    {"powerDownLabel", "QLabel", "dataBitsFrame_4", {24, 104, 193, 25}, "Check box(s) of DAC(s) to power down.", InPanel},
    {"powerDownCheck_0", "QCheckBox", "dataBitsFrame_4", {24, 136, 73, 17}, "DAC A", InPanel, 0},
    {"powerDownCheck_1", "QCheckBox", "dataBitsFrame_4", {24, 152, 73, 17}, "DAC B", InPanel, 0},
    {"powerDownCheck_2", "QCheckBox", "dataBitsFrame_4", {96, 136, 73, 17}, "DAC C", InPanel, 0},
    {"powerDownCheck_3", "QCheckBox", "dataBitsFrame_4", {96, 152, 73, 17}, "DAC D", InPanel, 0},
    {"powerDownCheck_4", "QCheckBox", "dataBitsFrame_4", {312, 256, 73, 17}, "DAC E", Parked, 0},
    {"powerDownCheck_5", "QCheckBox", "dataBitsFrame_4", {312, 272, 73, 17}, "DAC F", Parked, 0},
    {"powerDownCheck_6", "QCheckBox", "dataBitsFrame_4", {312, 288, 73, 17}, "DAC G", Parked, 0},
    {"powerDownCheck_7", "QCheckBox", "dataBitsFrame_4", {312, 304, 73, 17}, "DAC H", Parked, 0},
    {"ResetOption_0", "QRadioButton", "dataBitsFrame_5", {40, 24, 137, 33}, "Reset DAC and Input Registers Only", InPanel, 1},
    {"ResetOption_1", "QRadioButton", "dataBitsFrame_5", {40, 64, 137, 17}, "Reset All Registers", InPanel, 0},
    {"Label3", "QLabel", "dataBitsFrame_5", {16, 112, 209, 57}, "Click Write to Part to reset", InPanel},
    {"clearCodeOption_0", "QRadioButton", "dataBitsFrame_5", {40, 320, 97, 17}, "Zero Scale", Parked, 0},
    {"clearCodeOption_1", "QRadioButton", "dataBitsFrame_5", {40, 344, 89, 17}, "Mid Scale", Parked, 0},
    {"clearCodeOption_2", "QRadioButton", "dataBitsFrame_5", {40, 368, 89, 17}, "Full Scale", Parked, 0},
    {"clearCodeOption_3", "QRadioButton", "dataBitsFrame_5", {40, 392, 113, 17}, "No Operation", Parked, 0},
    {"Label2", "QLabel", "dataBitsFrame_6", {24, 24, 193, 41}, "Checking a box below causes that DAC channel to be updated regardless of the LDAC pin", InPanel},
    {"LDACOverwriteCheck_0", "QCheckBox", "dataBitsFrame_6", {24, 80, 65, 17}, "DAC A", InPanel, 0},
    {"LDACOverwriteCheck_1", "QCheckBox", "dataBitsFrame_6", {24, 96, 65, 17}, "DAC B", InPanel, 0},
    {"LDACOverwriteCheck_2", "QCheckBox", "dataBitsFrame_6", {104, 80, 65, 17}, "DAC C", InPanel, 0},
    {"LDACOverwriteCheck_3", "QCheckBox", "dataBitsFrame_6", {104, 96, 65, 17}, "DAC D", InPanel, 0},
    {"LDACOverwriteCheck_4", "QCheckBox", "dataBitsFrame_6", {328, 248, 65, 17}, "DAC E", Parked, 0},
    {"LDACOverwriteCheck_5", "QCheckBox", "dataBitsFrame_6", {328, 264, 65, 17}, "DAC F", Parked, 0},
    {"LDACOverwriteCheck_6", "QCheckBox", "dataBitsFrame_6", {328, 280, 65, 17}, "DAC G", Parked, 0},
    {"LDACOverwriteCheck_7", "QCheckBox", "dataBitsFrame_6", {328, 296, 65, 17}, "DAC H", Parked, 0},
    {"refOption_0", "QRadioButton", "dataBitsFrame_7", {24, 24, 209, 25}, "Internal reference OFF (default) (use external reference) ", InPanel, 1},
    {"refOption_1", "QRadioButton", "dataBitsFrame_7", {24, 56, 193, 25}, "Internal reference ON", InPanel, 0},
    {"VrefText", "QLineEdit", "dataFrame", {120, 144, 57, 19}, "5"},
    {"voltageText", "QLineEdit", "dataFrame", {104, 56, 89, 19}, ""},
    {"hexText", "QLineEdit", "dataFrame", {104, 0, 89, 19}, ""},
    {"Label10", "QLabel", "dataFrame", {16, 128, 201, 17}, "Above voltage value calculated"},
    {"Label9", "QLabel", "dataFrame", {16, 144, 105, 17}, "based on Vref of"},
    {"voltageLabel", "QLabel", "dataFrame", {16, 56, 81, 17}, "Voltage:"},
    {"hexLabel", "QLabel", "dataFrame", {24, 0, 73, 17}, "Hex Value:"},
    {"Label4", "QLabel", "dataFrame", {184, 144, 9, 17}, "V"},
    {"CLRCheck", "QCheckBox", "hardwarePinsFrame", {16, 60, 57, 13}, "CLR", Parked, 0},
    {"LDACCheck", "QCheckBox", "hardwarePinsFrame", {16, 32, 61, 13}, "LDAC", Parked, 0},
    {"CLRStateLabel", "QLabel", "hardwarePinsFrame", {104, 60, 29, 13}, "HI", Parked},
    {"LDACStateLabel", "QLabel", "hardwarePinsFrame", {104, 32, 29, 13}, "HI", Parked},
    {"Line2", "QWidget", "hardwarePinsFrame", {36, 58, 25, 1}, "", Parked},
    {"Line1", "QWidget", "hardwarePinsFrame", {34, 30, 35, 1}, "", Parked},
};
// clang-format on

QString captionOf(const QWidget *control)
{
    return control->property(qobject_cast<const QGroupBox *>(control) ? "title" : "text")
            .toString();
}

// Printed in the window's text colour, not its blue.
int inkIn(QWidget *widget)
{
    const QImage image = widget->grab().toImage();
    int count = 0;
    for (int y = 1; y < image.height() - 1; ++y) {
        for (int x = 1; x < image.width() - 1; ++x) {
            const QColor pixel = image.pixelColor(x, y);
            count += pixel.blue() < std::min(pixel.red(), pixel.green()) - 40;
        }
    }
    return count;
}

} // namespace

class TestMainFormLayout final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void window();
    void controls_data();
    void controls();
    void namedMembers();

private:
    template<class T = QWidget> T *control(const QString &name) const
    {
        return m_form->findChild<T *>(name);
    }
    void checkCaptionReadsInFull(QWidget *widget);

    std::unique_ptr<QWidget> m_form = std::make_unique<QWidget>();
    MainFormControls m_controls;
};

void TestMainFormLayout::initTestCase()
{
    m_controls = buildMainFormLayout(*m_form);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void TestMainFormLayout::window()
{
    QCOMPARE(m_form->objectName(), QStringLiteral("MainForm"));
    QCOMPARE(m_form->windowTitle(), QStringLiteral("TX4410 Evaluation Software"));
    QCOMPARE(m_form->minimumSize(), QSize(688, 504));
    QCOMPARE(m_form->maximumSize(), QSize(688, 504));
    QVERIFY(m_form->windowIcon().availableSizes().contains(QSize(32, 32)));

    // Every control of the table is made, and no other.
    QSet<QString> expected, made;
    for (const Control &row : table)
        expected.insert(QLatin1String(row.name));
    for (const QWidget *widget : m_form->findChildren<QWidget *>()) {
        if (!widget->objectName().isEmpty() && !widget->objectName().startsWith(u"qt_"))
            made.insert(widget->objectName());
    }
    QCOMPARE(made, expected);
    QCOMPARE(expected.size(), 138);

    const QFont font = m_form->font();
    QCOMPARE(QFontInfo(font).family(), QStringLiteral("Liberation Sans"));
    QVERIFY(font.pixelSize() == 11 && font.bold());
    for (const char *name : {"cmdBitsOption_0", "hexText", "writeToPartCommand", "Label5"})
        QCOMPARE(control(QLatin1String(name))->font(), font);
    for (QLabel *groupLabel : m_controls.Label1)
        QVERIFY(groupLabel->font().pixelSize() == 11 && !groupLabel->font().bold());
    const QFont title = m_controls.titleLabel->font();
    QCOMPARE(QFontInfo(title).family(), QStringLiteral("Liberation Sans Narrow"));
    QVERIFY(title.pixelSize() == 37 && !title.bold());

    const QImage drawn = m_form->grab().toImage();
    const auto pixel = [&](const char *name, QPoint point) {
        return drawn.pixelColor(control(QLatin1String(name))->mapTo(m_form.get(), point));
    };
    QCOMPARE(drawn.pixelColor(3, 115), windowBlue);
    QCOMPARE(pixel("cmdBitsFrame", {0, 100}), yellow); // frame border
    QCOMPARE(pixel("Label1_3", {10, 4}), darkGrey);
    QCOMPARE(pixel("Label1_3", {0, 10}), yellow); // group label border
    QCOMPARE(pixel("hexText", {60, 9}), QApplication::palette().color(QPalette::Base));

    QCOMPARE(m_controls.Image1->pixmap().size(), QSize(108, 35));
    QVERIFY(!m_controls.Image1->pixmap().toImage().isGrayscale());
    QCOMPARE(m_controls.Image2->pixmap().size(), QSize(381, 30));
    QVERIFY(m_controls.ADCDisplay->digitCount() == 6
            && m_controls.ADCDisplay->segmentColor() == 255);
    for (const DigitCell *cell : m_controls.BitsDisplay)
        QVERIFY(cell->digitCount() == 1 && cell->segmentColor() == 160 && cell->value() == 0);
    QCOMPARE(control<QTimer>(QStringLiteral("sampleTimer"))->timerType(), Qt::PreciseTimer);
}

void TestMainFormLayout::controls_data()
{
    QTest::addColumn<int>("row");
    for (int row = 0; row < int(std::size(table)); ++row)
        QTest::newRow(table[row].name) << row;
}

void TestMainFormLayout::controls()
{
    QFETCH(int, row);
    const Control &c = table[row];
    const QString name = QLatin1String(c.name);
    const QByteArray kind(c.kind);

    QWidget *widget = control(name);
    QVERIFY(widget);
    QVERIFY2(widget->inherits(c.kind), widget->metaObject()->className());
    QCOMPARE(widget->parentWidget()->objectName(), QLatin1String(c.container));
    QCOMPARE(widget->geometry(), c.geometry);
    QCOMPARE(captionOf(widget), QString::fromUtf8(c.caption));
    QCOMPARE(widget->isHidden(), c.hidden);
    QVERIFY(widget->isEnabled());
    if (kind == "QLineEdit") {
        // A program's write is never cut: the limit binds the user only.
        const QHash<QString, int> limits {{"hexText", 4}, {"voltageText", 8}, {"adcVddText", 5}};
        auto *box = qobject_cast<TextBox *>(widget);
        QVERIFY(box && box->typingLimit() == limits.value(name) && box->maxLength() == 32767);
    }
    if (c.checked >= 0) {
        auto *button = qobject_cast<QAbstractButton *>(widget);
        QCOMPARE(int(button->isChecked()), c.checked);
        // An array's member is in its array's group with its index for id: what its handler
        // receives. Option buttons of an array exclude each other.
        if (const qsizetype cut = name.lastIndexOf(u'_'); cut > 0) {
            auto *group = m_form->findChild<QButtonGroup *>(name.left(cut));
            QVERIFY(group);
            QCOMPARE(group->id(button), name.mid(cut + 1).toInt());
            QCOMPARE(group->exclusive(), kind == "QRadioButton");
            const auto member = [&](const Control &o) {
                return QLatin1String(o.name).startsWith(name.left(cut + 1));
            };
            QCOMPARE(group->buttons().size(), std::ranges::count_if(table, member));
        }
    }

    const QPalette &colours = widget->palette();
    if (kind == "QLineEdit" || kind == "QPushButton") {
        // The system's colours, not the window's blue.
        QCOMPARE(widget->palette(), QApplication::palette());
    } else if (kind != "DigitCell" && kind != "QWidget" && !name.startsWith(u"Image")) {
        QVERIFY(widget->autoFillBackground());
        QCOMPARE(colours.color(widget->backgroundRole()),
                 name.startsWith(u"Label1_") ? darkGrey : windowBlue);
        QCOMPARE(colours.color(widget->foregroundRole()), yellow);
    }

    // Whether a click at the centre, or just inside a corner, reaches the control.
    const auto hitAt = [&](QPoint point) {
        return m_form->childAt(widget->mapTo(m_form.get(), point));
    };
    const auto reached = [&] {
        const QRect in = widget->rect().adjusted(2, 2, -2, -2);
        for (const QPoint point : {in.center(), in.topLeft(), in.bottomRight()}) {
            if (QWidget *hit = hitAt(point); hit == widget || widget->isAncestorOf(hit))
                return true;
        }
        return false;
    };
    const auto unseen = [&] {
        return !reached() && widget->visibleRegion().isEmpty();
    };
    QWidget *panel = name.startsWith(u"dataBitsFrame_") ? widget : nullptr;
    if (QByteArray(c.container).startsWith("dataBitsFrame_"))
        panel = control(QLatin1String(c.container));
    QWidget *over = m_controls.addressBitsFrame;

    if (c.place != Parked)
        QCOMPARE(widget->isVisible(), c.place != InPanel);
    if (c.place == Seen)
        QVERIFY(reached());
    if (c.place == Covered) {
        QWidget *hit = hitAt(widget->rect().center());
        QVERIFY(hit == over || over->isAncestorOf(hit));
    }
    if (c.place == Drawn)
        QVERIFY(widget->testAttribute(Qt::WA_TransparentForMouseEvents));
    if (c.place == Parked)
        QVERIFY(unseen());
    if (c.place == InPanel)
        QVERIFY(panel && !reached());
    if (panel) {
        // As choosing the panel's command does: the panel shows, the code entry goes.
        panel->show();
        m_controls.dataFrame->hide();
        if (c.place == Parked)
            QVERIFY(unseen());
        if (c.place == InPanel)
            QVERIFY(widget->isVisible() && reached());
        panel->setHidden(panel != m_controls.dataBitsFrame[0]);
        m_controls.dataFrame->show();
    }
    if (*c.caption && c.place != Drawn && name != u"dataFrame")
        checkCaptionReadsInFull(widget);
}

void TestMainFormLayout::checkCaptionReadsInFull(QWidget *widget)
{
    const QString caption = captionOf(widget).trimmed();
    const QFontMetrics metrics(widget->font());
    const QStyle *style = widget->style();
    int lineWidth = widget->width();
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        lineWidth = label->contentsRect().width();
    } else if (qobject_cast<QRadioButton *>(widget)) {
        lineWidth -= style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, widget)
                + style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, widget);
    } else if (qobject_cast<QCheckBox *>(widget)) {
        lineWidth -= style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, widget)
                + style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, widget);
    } else {
        // Frames and buttons: one line, clear of the corners or the bevel.
        QVERIFY(metrics.height() <= widget->height());
        QVERIFY2(metrics.horizontalAdvance(caption) <= widget->width() - 12, qPrintable(caption));
        return;
    }
    // Lines break between words only: no word may be wider than a line.
    for (const QString &word : caption.split(u' ', Qt::SkipEmptyParts))
        QVERIFY2(metrics.horizontalAdvance(word) <= lineWidth, qPrintable(word));
    // No line is cut off at the bottom: given more height, no more of the caption shows.
    const QSize size = widget->size();
    const int shown = inkIn(widget);
    widget->resize(size.width(), size.height() + 40);
    const int whole = inkIn(widget);
    widget->resize(size);
    QVERIFY(shown > 0);
    QCOMPARE(shown, whole);
}

// What the handlers reach through the struct is the array member of that name and index.
void TestMainFormLayout::namedMembers()
{
    const MainFormControls &c = m_controls;
    const auto same = [this](const auto &members, const char *array) {
        for (std::size_t i = 0; i < members.size(); ++i)
            QCOMPARE(static_cast<QObject *>(members[i]),
                     control(QStringLiteral("%1_%2").arg(QLatin1String(array)).arg(i)));
    };
    same(c.BitsDisplay, "BitsDisplay");
    same(c.cmdBitsOption, "cmdBitsOption");
    same(c.addressBitsOption, "addressBitsOption");
    same(c.dataBitsFrame, "dataBitsFrame");
    same(c.Option_MUX, "Option_MUX");
    same(c.powerDownOption, "powerDownOption");
    same(c.powerDownCheck, "powerDownCheck");
    same(c.ResetOption, "ResetOption");
    same(c.clearCodeOption, "clearCodeOption");
    same(c.LDACOverwriteCheck, "LDACOverwriteCheck");
    same(c.refOption, "refOption");
}

QTEST_MAIN(TestMainFormLayout)
#include "tst_mainformlayout.moc"
