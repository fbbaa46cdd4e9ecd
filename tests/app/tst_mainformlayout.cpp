#include "digitcell.h"
#include "mainformlayout.h"
#include "textbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const QColor windowBlue(0, 0, 192);
const QColor yellow(255, 255, 0);
const QColor darkGrey(64, 64, 64);

// Where a user can see a control at start.
enum class Place {
    Seen,    // its centre is on screen and belongs to it
    Covered, // in place, but behind another control
    Parked,  // wholly outside its container's area: never seen
    InPanel, // in an option panel that is hidden at start: seen once that panel shows
    Drawn,   // a figure, not a control one can point at
};

const char *placeName(Place place)
{
    switch (place) {
    case Place::Seen:
        return "seen";
    case Place::Covered:
        return "covered";
    case Place::Parked:
        return "parked";
    case Place::InPanel:
        return "in a panel";
    case Place::Drawn:
        return "drawn";
    }
    return "?";
}

struct Expected
{
    const char *name;
    const char *kind; // the Qt class the control is, or derives from
    const char *container;
    QRect geometry; // pixels
    QString caption;
    bool hidden = false;
    int checked = -1; // option buttons and check boxes: 1 selected or ticked, 0 clear
    Place place = Place::Seen;
};

QString nameOf(const char *array, int index)
{
    return QStringLiteral("%1_%2").arg(QLatin1String(array)).arg(index);
}

// The window's controls, grouped by container, each as it stands at start.
QList<Expected> expectedControls()
{
    QList<Expected> rows;
    const auto add = [&rows](Expected row) {
        rows.append(row);
    };

    // The window itself.
    add({"addressBitsFrame", "QGroupBox", "MainForm", {224, 216, 185, 129}, "Address Bits"});
    add({"Frame_ADC", "QGroupBox", "MainForm", {416, 8, 265, 105}, "ADC"});
    add({"Frame1", "QGroupBox", "MainForm", {8, 120, 673, 377}, "DAC"});
    add({"Label5",
         "QLabel",
         "MainForm",
         {16, 56, 337, 17},
         QString::fromUtf8("Dual, 16 Bit corvaDAC with 5ppm/\xC2\xB0"
                           "C On-Chip Reference")});
    add({"Image1", "QLabel", "MainForm", {285, 16, 108, 35}, ""});
    add({"Image2", "QLabel", "MainForm", {12, 80, 381, 30}, ""});
    add({"titleLabel", "QLabel", "MainForm", {16, 12, 113, 41}, "TX4410"});

    // addressBitsFrame.
    const char *dacs[] = {"DAC A", "DAC B", "DAC C", "DAC D", "DAC E", "DAC F", "DAC G", "DAC H"};
    for (int i = 0; i < 4; ++i)
        add({"addressBitsOption",
             "QRadioButton",
             "addressBitsFrame",
             {16, 24 + 16 * i, 81, 17},
             dacs[i],
             false,
             i == 0 ? 1 : 0});
    for (int i = 4; i < 8; ++i)
        add({"addressBitsOption",
             "QRadioButton",
             "addressBitsFrame",
             {192, 120 + 16 * (i - 4), 81, 17},
             dacs[i],
             true,
             0,
             Place::Parked});
    add({"addressBitsOption",
         "QRadioButton",
         "addressBitsFrame",
         {16, 96, 81, 17},
         "All DACs",
         false,
         0});

    // Frame_ADC and Frame3.
    add({"adcVddText", "QLineEdit", "Frame_ADC", {38, 78, 41, 19}, "5"});
    add({"Frame3", "QGroupBox", "Frame_ADC", {160, 8, 97, 81}, "DAC Output"});
    add({"sampleCommand", "QPushButton", "Frame_ADC", {8, 54, 145, 17}, "Sample"});
    add({"autoSampleCheck", "QCheckBox", "Frame_ADC", {92, 74, 65, 25}, "Auto Sample", false, 0});
    add({"ADCDisplay", "DigitCell", "Frame_ADC", {8, 16, 121, 33}, ""});
    add({"vLabel", "QLabel", "Frame_ADC", {136, 16, 17, 33}, "V"});
    add({"adcVddLabel", "QLabel", "Frame_ADC", {8, 80, 33, 17}, "Vdd:"});
    const QRect muxPlaces[]
            = {{8, 32, 33, 13},   {48, 32, 33, 13},  {8, 48, 33, 13},   {48, 48, 33, 13},
               {48, 108, 33, 13}, {48, 124, 33, 13}, {48, 140, 33, 13}, {48, 156, 33, 13}};
    for (int i = 0; i < 8; ++i)
        add({"Option_MUX", "QRadioButton", "Frame3", muxPlaces[i], QString(QChar(u'A' + i)), false,
             i == 0 ? 1 : 0, i < 4 ? Place::Seen : Place::Parked});

    // Frame1.
    add({"dataFrame", "QGroupBox", "Frame1", {424, 112, 209, 177}, "Frame2"});
    add({"noAddressBitsFrame",
         "QGroupBox",
         "Frame1",
         {216, 96, 185, 129},
         "Address Bits",
         false,
         -1,
         Place::Covered});
    const char *panels[] = {"Data Bits",           "Update DAC Register",    "Data Bits",
                            "Data Bits",           "Power Down/Up Register", "Reset",
                            "LDAC Register Setup", "REF Setup Register",     "CLR Code Register"};
    for (int i = 0; i < 9; ++i)
        add({"dataBitsFrame",
             "QGroupBox",
             "Frame1",
             {416, 96, 241, 225},
             panels[i],
             i != 0,
             -1,
             i == 0 ? Place::Seen : Place::InPanel});
    add({"writeToPartCommand", "QPushButton", "Frame1", {552, 328, 105, 33}, "Write to Part"});
    add({"hardwarePinsFrame",
         "QGroupBox",
         "Frame1",
         {1176, 696, 185, 89},
         "Hardware Pins",
         false,
         -1,
         Place::Parked});
    add({"cmdBitsFrame", "QGroupBox", "Frame1", {8, 96, 193, 265}, "Command Bits"});
    // Left edge of each cell, index 0 to 31; the parked ones below the frame.
    const int cellLeft[32]
            = {568, 552, 536, 520, 462, 444, 426, 408, 382, 364, 346, 328, 302, 284, 266, 248,
               222, 204, 186, 168, 142, 124, 106, 128, 80,  64,  48,  72,  24,  8,   48,  32};
    for (int i = 0; i < 32; ++i) {
        const bool parked = i <= 3 || i == 23 || i == 27 || i >= 30;
        const int top = i <= 3 ? 456 : parked ? 480 : 16;
        add({"BitsDisplay",
             "DigitCell",
             "Frame1",
             {cellLeft[i], top, 19, 33},
             "",
             false,
             -1,
             parked ? Place::Parked : Place::Seen});
    }
    add({"Label1", "QLabel", "Frame1", {8, 48, 35, 33}, ""});
    add({"Label1", "QLabel", "Frame1", {48, 48, 51, 33}, "Command Bits"});
    add({"Label1", "QLabel", "Frame1", {104, 48, 59, 33}, "Address Bits"});
    add({"Label1", "QLabel", "Frame1", {168, 48, 315, 33}, "Data Bits"});
    add({"Shape1", "QWidget", "Frame1", {8, 16, 473, 49}, "", false, -1, Place::Drawn});

    // cmdBitsFrame.
    const Expected commands[] = {
            {"", "", "", {8, 16, 177, 13}, "Write to Input Register n"},
            {"", "", "", {8, 40, 169, 13}, "Update DAC Register n"},
            {"", "", "", {8, 64, 177, 25}, "Write to Input Register n, Update All"},
            {"", "", "", {8, 96, 177, 25}, "Write to and Update DAC channel n"},
            {"", "", "", {8, 128, 137, 25}, "Power Down DAC (Power-up)"},
            {"", "", "", {8, 160, 145, 13}, "Reset"},
            {"", "", "", {8, 184, 153, 25}, "LDAC Register Setup"},
            {"", "", "", {8, 224, 169, 13}, "REF Setup Register"},
            {"", "", "", {16, 368, 153, 13}, "CLR Code Register"},
    };
    for (int i = 0; i < 9; ++i)
        add({"cmdBitsOption", "QRadioButton", "cmdBitsFrame", commands[i].geometry,
             commands[i].caption, false, i == 0 ? 1 : 0, i == 8 ? Place::Parked : Place::Seen});

    add({"noAddressBitsLabel",
         "QLabel",
         "noAddressBitsFrame",
         {16, 24, 153, 89},
         "Address bits not used for this command",
         false,
         -1,
         Place::Covered});

    // The option panels.
    add({"updateDACRegLabel",
         "QLabel",
         "dataBitsFrame_1",
         {16, 24, 209, 65},
         "Software LDAC for DAC registor n",
         false,
         -1,
         Place::InPanel});
    const char *modes[]
            = {"Normal Operation", "1k Ohm to Ground", "100k Ohm to Ground", "Three State"};
    for (int i = 0; i < 4; ++i)
        add({"powerDownOption",
             "QRadioButton",
             "dataBitsFrame_4",
             {24, 24 + 16 * i, 153, 17},
             modes[i],
             false,
             0,
             Place::InPanel});
    add({"powerDownLabel",
         "QLabel",
         "dataBitsFrame_4",
         {24, 104, 193, 25},
         "Check box(s) of DAC(s) to power down.",
         false,
         -1,
         Place::InPanel});
    const QPoint powerDownPlaces[] = {{24, 136},  {24, 152},  {96, 136},  {96, 152},
                                      {312, 256}, {312, 272}, {312, 288}, {312, 304}};
    for (int i = 0; i < 8; ++i)
        add({"powerDownCheck",
             "QCheckBox",
             "dataBitsFrame_4",
             {powerDownPlaces[i], QSize(73, 17)},
             dacs[i],
             false,
             0,
             i < 4 ? Place::InPanel : Place::Parked});
    add({"ResetOption",
         "QRadioButton",
         "dataBitsFrame_5",
         {40, 24, 137, 33},
         "Reset DAC and Input Registers Only",
         false,
         1,
         Place::InPanel});
    add({"ResetOption",
         "QRadioButton",
         "dataBitsFrame_5",
         {40, 64, 137, 17},
         "Reset All Registers",
         false,
         0,
         Place::InPanel});
    add({"Label3",
         "QLabel",
         "dataBitsFrame_5",
         {16, 112, 209, 57},
         "Click Write to Part to reset",
         false,
         -1,
         Place::InPanel});
    add({"clearCodeOption",
         "QRadioButton",
         "dataBitsFrame_5",
         {40, 320, 97, 17},
         "Zero Scale",
         false,
         0,
         Place::Parked});
    add({"clearCodeOption",
         "QRadioButton",
         "dataBitsFrame_5",
         {40, 344, 89, 17},
         "Mid Scale",
         false,
         0,
         Place::Parked});
    add({"clearCodeOption",
         "QRadioButton",
         "dataBitsFrame_5",
         {40, 368, 89, 17},
         "Full Scale",
         false,
         0,
         Place::Parked});
    add({"clearCodeOption",
         "QRadioButton",
         "dataBitsFrame_5",
         {40, 392, 113, 17},
         "No Operation",
         false,
         0,
         Place::Parked});
    add({"Label2",
         "QLabel",
         "dataBitsFrame_6",
         {24, 24, 193, 41},
         "Checking a box below causes that DAC channel to be updated regardless of the LDAC pin",
         false,
         -1,
         Place::InPanel});
    const QPoint overwritePlaces[] = {{24, 80},   {24, 96},   {104, 80},  {104, 96},
                                      {328, 248}, {328, 264}, {328, 280}, {328, 296}};
    for (int i = 0; i < 8; ++i)
        add({"LDACOverwriteCheck",
             "QCheckBox",
             "dataBitsFrame_6",
             {overwritePlaces[i], QSize(65, 17)},
             dacs[i],
             false,
             0,
             i < 4 ? Place::InPanel : Place::Parked});
    add({"refOption",
         "QRadioButton",
         "dataBitsFrame_7",
         {24, 24, 209, 25},
         "Internal reference OFF (default) (use external reference) ",
         false,
         1,
         Place::InPanel});
    add({"refOption",
         "QRadioButton",
         "dataBitsFrame_7",
         {24, 56, 193, 25},
         "Internal reference ON",
         false,
         0,
         Place::InPanel});

    // dataFrame.
    add({"VrefText", "QLineEdit", "dataFrame", {120, 144, 57, 19}, "5"});
    add({"voltageText", "QLineEdit", "dataFrame", {104, 56, 89, 19}, ""});
    add({"hexText", "QLineEdit", "dataFrame", {104, 0, 89, 19}, ""});
    add({"Label10", "QLabel", "dataFrame", {16, 128, 201, 17}, "Above voltage value calculated"});
    add({"Label9", "QLabel", "dataFrame", {16, 144, 105, 17}, "based on Vref of"});
    add({"voltageLabel", "QLabel", "dataFrame", {16, 56, 81, 17}, "Voltage:"});
    add({"hexLabel", "QLabel", "dataFrame", {24, 0, 73, 17}, "Hex Value:"});
    add({"Label4", "QLabel", "dataFrame", {184, 144, 9, 17}, "V"});

    // hardwarePinsFrame.
    add({"CLRCheck",
         "QCheckBox",
         "hardwarePinsFrame",
         {16, 60, 57, 13},
         "CLR",
         false,
         0,
         Place::Parked});
    add({"LDACCheck",
         "QCheckBox",
         "hardwarePinsFrame",
         {16, 32, 61, 13},
         "LDAC",
         false,
         0,
         Place::Parked});
    add({"CLRStateLabel",
         "QLabel",
         "hardwarePinsFrame",
         {104, 60, 29, 13},
         "HI",
         false,
         -1,
         Place::Parked});
    add({"LDACStateLabel",
         "QLabel",
         "hardwarePinsFrame",
         {104, 32, 29, 13},
         "HI",
         false,
         -1,
         Place::Parked});
    add({"Line2", "QWidget", "hardwarePinsFrame", {36, 58, 25, 1}, "", false, -1, Place::Parked});
    add({"Line1", "QWidget", "hardwarePinsFrame", {34, 30, 35, 1}, "", false, -1, Place::Parked});
    return rows;
}

// Array members carry their index in their name; count them per array in table order.
QList<QPair<QString, Expected>> namedControls()
{
    static const char *arrays[] = {"addressBitsOption",
                                   "Option_MUX",
                                   "dataBitsFrame",
                                   "BitsDisplay",
                                   "Label1",
                                   "cmdBitsOption",
                                   "powerDownOption",
                                   "powerDownCheck",
                                   "ResetOption",
                                   "clearCodeOption",
                                   "LDACOverwriteCheck",
                                   "refOption"};
    QHash<QString, int> next;
    QList<QPair<QString, Expected>> named;
    for (const Expected &row : expectedControls()) {
        const QString base = QLatin1String(row.name);
        bool inArray = false;
        for (const char *array : arrays)
            inArray = inArray || base == QLatin1String(array);
        named.append({inArray ? nameOf(row.name, next[base]++) : base, row});
    }
    return named;
}

QString captionOf(const QObject *control)
{
    if (auto *button = qobject_cast<const QAbstractButton *>(control))
        return button->text();
    if (auto *frame = qobject_cast<const QGroupBox *>(control))
        return frame->title();
    if (auto *label = qobject_cast<const QLabel *>(control))
        return label->text();
    if (auto *box = qobject_cast<const QLineEdit *>(control))
        return box->text();
    return QString();
}

QColor pixelAt(const QImage &image, QPoint point)
{
    return image.pixelColor(point);
}

} // namespace

Q_DECLARE_METATYPE(Place)

class TestMainFormLayout final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void window();
    void sampleTimer();
    void everyControlIsLaidOut();
    void controls_data();
    void controls();
    void frontToBack_data();
    void frontToBack();
    void whereAUserSeesIt_data();
    void whereAUserSeesIt();
    void coveringControls_data();
    void coveringControls();
    void arrays_data();
    void arrays();
    void groupsShareNoSelection();
    void wholeArraysReachParkedMembers();
    void typingLimits_data();
    void typingLimits();
    void colours_data();
    void colours();
    void drawnColours_data();
    void drawnColours();
    void fonts();
    void pictures();
    void captionsReadInFull_data();
    void captionsReadInFull();
    void controlsStructMatchesTheNames();

private:
    template<class T = QWidget> T *control(const QString &name) const
    {
        return m_form->findChild<T *>(name);
    }

    std::unique_ptr<QWidget> m_form;
    MainFormControls m_controls;
};

void TestMainFormLayout::initTestCase()
{
    m_form = std::make_unique<QWidget>();
    m_controls = buildMainFormLayout(*m_form);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void TestMainFormLayout::cleanupTestCase()
{
    m_form.reset();
}

void TestMainFormLayout::window()
{
    QCOMPARE(m_form->objectName(), QStringLiteral("MainForm"));
    QCOMPARE(m_form->windowTitle(), QStringLiteral("TX4410 Evaluation Software"));
    QCOMPARE(m_form->size(), QSize(688, 504));
    QCOMPARE(m_form->minimumSize(), QSize(688, 504));
    QCOMPARE(m_form->maximumSize(), QSize(688, 504));
    QVERIFY(m_form->windowIcon().availableSizes().contains(QSize(32, 32)));
    QCOMPARE(m_form->palette().color(QPalette::Window), windowBlue);
}

void TestMainFormLayout::sampleTimer()
{
    auto *timer = m_form->findChild<QTimer *>(QStringLiteral("sampleTimer"));
    QVERIFY(timer);
    QCOMPARE(timer->parent(), m_form.get());
    QCOMPARE(timer->interval(), 1000);
    QCOMPARE(timer->timerType(), Qt::PreciseTimer);
    QVERIFY(!timer->isActive());
    QVERIFY(!timer->isSingleShot());
    QCOMPARE(m_controls.sampleTimer, timer);
}

void TestMainFormLayout::everyControlIsLaidOut()
{
    // Nothing beyond the table: every named widget of the window is one of its controls.
    QSet<QString> expected;
    for (const auto &[name, row] : namedControls())
        expected.insert(name);
    QSet<QString> made;
    for (const QWidget *widget : m_form->findChildren<QWidget *>()) {
        if (!widget->objectName().isEmpty() && !widget->objectName().startsWith(u"qt_"))
            made.insert(widget->objectName());
    }
    QCOMPARE(made, expected);
    QCOMPARE(expected.size(), 138);
}

void TestMainFormLayout::controls_data()
{
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<int>("checked");

    for (const auto &[name, row] : namedControls()) {
        QTest::newRow(qPrintable(QStringLiteral("%1/%2").arg(QLatin1String(row.container), name)))
                << QByteArray(row.kind) << QString::fromLatin1(row.container) << row.geometry
                << row.caption << row.hidden << row.checked;
    }
}

void TestMainFormLayout::controls()
{
    QFETCH(QByteArray, kind);
    QFETCH(QString, container);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    QFETCH(bool, hidden);
    QFETCH(int, checked);

    const QString name = QString::fromUtf8(QTest::currentDataTag()).section(u'/', 1);
    QWidget *widget = control(name);
    QVERIFY2(widget, qPrintable(name));
    QVERIFY2(widget->inherits(kind.constData()), widget->metaObject()->className());
    QCOMPARE(widget->parentWidget()->objectName(), container);
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(captionOf(widget), caption);
    QCOMPARE(widget->isHidden(), hidden);
    QVERIFY(widget->isEnabled());
    if (qobject_cast<QRadioButton *>(widget) || qobject_cast<QCheckBox *>(widget)) {
        auto *button = static_cast<QAbstractButton *>(widget);
        QCOMPARE(int(button->isChecked()), checked);
    } else {
        QCOMPARE(checked, -1);
    }
}

void TestMainFormLayout::frontToBack_data()
{
    QTest::addColumn<QString>("container");
    QTest::addColumn<QStringList>("order");

    QTest::newRow("window") << QStringLiteral("MainForm")
                            << QStringList {"addressBitsFrame", "Frame_ADC", "Frame1",    "Label5",
                                            "Image1",           "Image2",    "titleLabel"};
    QTest::newRow("Frame_ADC") << QStringLiteral(
            "Frame_ADC") << QStringList {"adcVddText", "Frame3", "sampleCommand", "autoSampleCheck",
                                         "ADCDisplay", "vLabel", "adcVddLabel"};
    QStringList frame1 {"dataFrame", "noAddressBitsFrame"};
    for (int i = 8; i >= 1; --i)
        frame1 << nameOf("dataBitsFrame", i);
    frame1 << "writeToPartCommand"
           << "hardwarePinsFrame"
           << "cmdBitsFrame" << nameOf("dataBitsFrame", 0);
    for (int i = 0; i < 32; ++i)
        frame1 << nameOf("BitsDisplay", i);
    for (int i = 0; i < 4; ++i)
        frame1 << nameOf("Label1", i);
    frame1 << "Shape1";
    QTest::newRow("Frame1") << QStringLiteral("Frame1") << frame1;
}

void TestMainFormLayout::frontToBack()
{
    QFETCH(QString, container);
    QFETCH(QStringList, order);

    QWidget *parent = container == u"MainForm" ? m_form.get() : control(container);
    QVERIFY(parent);
    // Qt paints siblings in the order of the child list: the last one is in front.
    QStringList stacked;
    for (const QObject *child : parent->children()) {
        if (child->isWidgetType())
            stacked.prepend(child->objectName());
    }
    QCOMPARE(stacked, order);
}

void TestMainFormLayout::whereAUserSeesIt_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Place>("place");
    QTest::addColumn<QString>("panel");

    for (const auto &[name, row] : namedControls()) {
        QString panel;
        if (QByteArray(row.container).startsWith("dataBitsFrame_"))
            panel = QString::fromLatin1(row.container);
        else if (name.startsWith(u"dataBitsFrame_"))
            panel = name;
        QTest::newRow(qPrintable(name + u' ' + QLatin1String(placeName(row.place))))
                << name << row.place << panel;
    }
}

void TestMainFormLayout::whereAUserSeesIt()
{
    QFETCH(QString, name);
    QFETCH(Place, place);
    QFETCH(QString, panel);

    QWidget *widget = control(name);
    QVERIFY(widget);
    QWidget *panelFrame = panel.isEmpty() ? nullptr : control(panel);
    QWidget *dataFrame = control(QStringLiteral("dataFrame"));

    // Whether a click at the control's centre, or just inside one of its corners, would reach
    // the control.
    const auto owns = [&] {
        const QRect inside = widget->rect().adjusted(2, 2, -2, -2);
        for (const QPoint point : {inside.center(), inside.topLeft(), inside.bottomRight()}) {
            QWidget *hit = m_form->childAt(widget->mapTo(m_form.get(), point));
            if (hit && (hit == widget || widget->isAncestorOf(hit)))
                return true;
        }
        return false;
    };

    switch (place) {
    case Place::Seen:
        QVERIFY(widget->isVisible());
        QVERIFY(!widget->visibleRegion().isEmpty());
        QVERIFY(owns());
        break;
    case Place::Covered:
        QVERIFY(widget->isVisible());
        QVERIFY(!owns());
        break;
    case Place::Parked:
        // Exists and keeps its state, but is clipped away by its containers.
        QVERIFY(!widget->isVisible() || widget->visibleRegion().isEmpty());
        QVERIFY(!owns());
        if (panelFrame) {
            panelFrame->show();
            dataFrame->hide();
            QVERIFY(!widget->isVisible() || widget->visibleRegion().isEmpty());
            QVERIFY(!owns());
        }
        break;
    case Place::InPanel:
        QVERIFY(panelFrame);
        QVERIFY(!widget->isVisible());
        QVERIFY(!owns());
        // As choosing that panel's command shows it: the panel shows, the code entry goes.
        panelFrame->show();
        dataFrame->hide();
        QVERIFY(widget->isVisible());
        QVERIFY(owns());
        break;
    case Place::Drawn:
        QVERIFY(widget->isVisible());
        QVERIFY(widget->testAttribute(Qt::WA_TransparentForMouseEvents));
        break;
    }
    if (panelFrame && panel != u"dataBitsFrame_0")
        panelFrame->hide();
    dataFrame->show();
}

void TestMainFormLayout::coveringControls_data()
{
    QTest::addColumn<QString>("front");
    QTest::addColumn<QString>("behind");

    QTest::newRow("addressBitsFrame hides noAddressBitsFrame")
            << QStringLiteral("addressBitsFrame") << QStringLiteral("noAddressBitsFrame");
    QTest::newRow("dataFrame in front of panel 0")
            << QStringLiteral("dataFrame") << QStringLiteral("dataBitsFrame_0");
}

void TestMainFormLayout::coveringControls()
{
    QFETCH(QString, front);
    QFETCH(QString, behind);

    QWidget *frontWidget = control(front);
    QWidget *behindWidget = control(behind);
    const QRect frontArea(frontWidget->mapTo(m_form.get(), QPoint()), frontWidget->size());
    const QRect behindArea(behindWidget->mapTo(m_form.get(), QPoint()), behindWidget->size());
    QVERIFY(behindWidget->isVisible());

    // Where both lie, a click reaches the front one.
    const QRect both = frontArea.intersected(behindArea);
    QVERIFY(!both.isEmpty());
    for (const QPoint point : {both.topLeft(), both.center(), both.bottomRight()}) {
        QWidget *hit = m_form->childAt(point);
        QVERIFY(hit == frontWidget || frontWidget->isAncestorOf(hit));
    }
    // And on screen the front one is what shows.
    const QImage shown = m_form->grab().toImage();
    frontWidget->hide();
    const QImage uncovered = m_form->grab().toImage();
    frontWidget->show();
    QVERIFY(shown.copy(both) != uncovered.copy(both));
    QCOMPARE(shown.copy(frontArea), frontWidget->grab().toImage().convertToFormat(shown.format()));
}

void TestMainFormLayout::arrays_data()
{
    QTest::addColumn<QString>("array");
    QTest::addColumn<int>("members");
    QTest::addColumn<bool>("exclusive");
    QTest::addColumn<int>("selected");

    QTest::newRow("cmdBitsOption") << QStringLiteral("cmdBitsOption") << 9 << true << 0;
    QTest::newRow("addressBitsOption") << QStringLiteral("addressBitsOption") << 9 << true << 0;
    QTest::newRow("Option_MUX") << QStringLiteral("Option_MUX") << 8 << true << 0;
    QTest::newRow("refOption") << QStringLiteral("refOption") << 2 << true << 0;
    QTest::newRow("ResetOption") << QStringLiteral("ResetOption") << 2 << true << 0;
    QTest::newRow("clearCodeOption") << QStringLiteral("clearCodeOption") << 4 << true << -1;
    QTest::newRow("powerDownOption") << QStringLiteral("powerDownOption") << 4 << true << -1;
    QTest::newRow("powerDownCheck") << QStringLiteral("powerDownCheck") << 8 << false << -1;
    QTest::newRow("LDACOverwriteCheck") << QStringLiteral("LDACOverwriteCheck") << 8 << false << -1;
}

void TestMainFormLayout::arrays()
{
    QFETCH(QString, array);
    QFETCH(int, members);
    QFETCH(bool, exclusive);
    QFETCH(int, selected);

    auto *group = m_form->findChild<QButtonGroup *>(array);
    QVERIFY(group);
    QCOMPARE(group->exclusive(), exclusive);
    QCOMPARE(group->buttons().size(), members);
    QCOMPARE(group->checkedId(), selected);
    int checkedCount = 0;
    for (int index = 0; index < members; ++index) {
        auto *button = control<QAbstractButton>(nameOf(qPrintable(array), index));
        QVERIFY(button);
        QCOMPARE(group->id(button), index);
        checkedCount += button->isChecked();
    }
    QCOMPARE(checkedCount, selected < 0 ? 0 : 1);
    QVERIFY(!control(nameOf(qPrintable(array), members)));
}

void TestMainFormLayout::groupsShareNoSelection()
{
    // Two arrays in one panel: choosing in one leaves the other's choice alone.
    auto *resetAll = control<QRadioButton>(QStringLiteral("ResetOption_1"));
    auto *midScale = control<QRadioButton>(QStringLiteral("clearCodeOption_1"));
    auto *normal = control<QRadioButton>(QStringLiteral("powerDownOption_0"));
    auto *dacA = control<QCheckBox>(QStringLiteral("powerDownCheck_0"));
    auto *panel5 = control(QStringLiteral("dataBitsFrame_5"));
    auto *panel4 = control(QStringLiteral("dataBitsFrame_4"));
    auto *dataFrame = control(QStringLiteral("dataFrame"));
    dataFrame->hide();
    panel5->show();
    QTest::mouseClick(resetAll, Qt::LeftButton);
    QVERIFY(resetAll->isChecked());
    midScale->click(); // parked: no mouse reaches it
    QVERIFY(midScale->isChecked());
    QVERIFY(resetAll->isChecked());
    QVERIFY(!control<QRadioButton>(QStringLiteral("ResetOption_0"))->isChecked());
    panel5->hide();
    panel4->show();
    QTest::mouseClick(normal, Qt::LeftButton);
    QTest::mouseClick(dacA, Qt::LeftButton);
    QVERIFY(normal->isChecked());
    QVERIFY(dacA->isChecked());
    QTest::mouseClick(dacA, Qt::LeftButton);
    QVERIFY(!dacA->isChecked());
    QVERIFY(normal->isChecked());
    // The window's own selections elsewhere are untouched.
    QVERIFY(control<QRadioButton>(QStringLiteral("cmdBitsOption_0"))->isChecked());
    QVERIFY(control<QRadioButton>(QStringLiteral("addressBitsOption_0"))->isChecked());
    QVERIFY(control<QRadioButton>(QStringLiteral("refOption_0"))->isChecked());

    // Back to the start state for the tests after this one.
    panel4->hide();
    dataFrame->show();
    for (QButtonGroup *group : {m_controls.ResetOptionGroup, m_controls.clearCodeOptionGroup,
                                m_controls.powerDownOptionGroup}) {
        group->setExclusive(false);
        for (QAbstractButton *button : group->buttons())
            button->setChecked(false);
        group->setExclusive(true);
    }
    m_controls.ResetOption[0]->setChecked(true);
}

void TestMainFormLayout::wholeArraysReachParkedMembers()
{
    for (QCheckBox *box : m_controls.powerDownCheck)
        box->setChecked(true);
    for (QCheckBox *box : m_controls.LDACOverwriteCheck)
        box->setChecked(true);
    for (int i = 0; i < 8; ++i) {
        QVERIFY(control<QCheckBox>(nameOf("powerDownCheck", i))->isChecked());
        QVERIFY(control<QCheckBox>(nameOf("LDACOverwriteCheck", i))->isChecked());
    }
    for (QCheckBox *box : m_controls.powerDownCheck)
        box->setChecked(false);
    for (QCheckBox *box : m_controls.LDACOverwriteCheck)
        box->setChecked(false);
    for (int i = 0; i < 32; ++i) {
        DigitCell *cell = m_controls.BitsDisplay[std::size_t(i)];
        QCOMPARE(cell, control<DigitCell>(nameOf("BitsDisplay", i)));
        cell->setValue(i % 2);
        QCOMPARE(control<DigitCell>(nameOf("BitsDisplay", i))->value(), double(i % 2));
        cell->setValue(0);
    }
}

void TestMainFormLayout::typingLimits_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("limit");

    QTest::newRow("hexText") << QStringLiteral("hexText") << 4;
    QTest::newRow("voltageText") << QStringLiteral("voltageText") << 8;
    QTest::newRow("adcVddText") << QStringLiteral("adcVddText") << 5;
    QTest::newRow("VrefText") << QStringLiteral("VrefText") << 0;
}

void TestMainFormLayout::typingLimits()
{
    QFETCH(QString, name);
    QFETCH(int, limit);

    auto *box = control<TextBox>(name);
    QVERIFY(box);
    const QString atStart = box->text();
    const QString typed = QStringLiteral("1234567890123456789");

    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, typed);
    QCOMPARE(box->text(), limit ? typed.left(limit) : typed);

    box->clear();
    QApplication::clipboard()->setText(typed);
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(box->text(), limit ? QString() : typed);

    // The program's own text is never cut.
    const QString written = QStringLiteral("2.50000000000000");
    box->writeText(written);
    QCOMPARE(box->text(), written);
    box->writeText(atStart);
}

void TestMainFormLayout::colours_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("ownColours"); // blue and yellow, opaque
    QTest::addColumn<QColor>("background");

    for (const auto &[name, row] : namedControls()) {
        const QByteArray kind(row.kind);
        if (kind == "QLineEdit" || kind == "QPushButton") {
            QTest::newRow(qPrintable(name)) << name << false << QColor();
        } else if (kind == "QGroupBox" || kind == "QRadioButton" || kind == "QCheckBox"
                   || (kind == "QLabel" && !name.startsWith(u"Image"))) {
            QTest::newRow(qPrintable(name))
                    << name << true << (name.startsWith(u"Label1_") ? darkGrey : windowBlue);
        }
    }
}

void TestMainFormLayout::colours()
{
    QFETCH(QString, name);
    QFETCH(bool, ownColours);
    QFETCH(QColor, background);

    QWidget *widget = control(name);
    const QPalette &colours = widget->palette();
    if (ownColours) {
        QVERIFY(widget->autoFillBackground());
        QCOMPARE(colours.color(widget->backgroundRole()), background);
        QCOMPARE(colours.color(widget->foregroundRole()), yellow);
        return;
    }
    // The system's colours, not the window's blue.
    const QPalette system = QApplication::palette();
    for (const QPalette::ColorRole role :
         {QPalette::Base, QPalette::Text, QPalette::Button, QPalette::ButtonText, QPalette::Window,
          QPalette::WindowText})
        QCOMPARE(colours.color(role), system.color(role));
}

void TestMainFormLayout::drawnColours_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QPoint>("point"); // inside the control
    QTest::addColumn<QColor>("colour");

    QTest::newRow("window") << QStringLiteral("MainForm") << QPoint(3, 115) << windowBlue;
    QTest::newRow("frame inside") << QStringLiteral("cmdBitsFrame") << QPoint(100, 255)
                                  << windowBlue;
    QTest::newRow("frame border") << QStringLiteral("cmdBitsFrame") << QPoint(0, 100) << yellow;
    QTest::newRow("group label") << QStringLiteral("Label1_3") << QPoint(10, 4) << darkGrey;
    QTest::newRow("group label border") << QStringLiteral("Label1_3") << QPoint(0, 10) << yellow;
    QTest::newRow("option button")
            << QStringLiteral("cmdBitsOption_5") << QPoint(140, 6) << windowBlue;
    QTest::newRow("text box") << QStringLiteral("hexText") << QPoint(60, 9)
                              << QApplication::palette().color(QPalette::Base);
    QTest::newRow("digit cell") << QStringLiteral("BitsDisplay_4") << QPoint(1, 1) << windowBlue;
    QTest::newRow("a dim cell's segment")
            << QStringLiteral("BitsDisplay_4") << QPoint(-1, -1) << QColor(160, 0, 0);
    QTest::newRow("the readback's segment")
            << QStringLiteral("ADCDisplay") << QPoint(-1, -1) << QColor(255, 0, 0);
}

void TestMainFormLayout::drawnColours()
{
    QFETCH(QString, name);
    QFETCH(QPoint, point);
    QFETCH(QColor, colour);

    QWidget *widget = name == u"MainForm" ? m_form.get() : control(name);
    const QImage image = m_form->grab().toImage();
    const QPoint origin = widget == m_form.get() ? QPoint() : widget->mapTo(m_form.get(), QPoint());
    if (point != QPoint(-1, -1)) {
        QCOMPARE(pixelAt(image, origin + point), colour);
        return;
    }
    // Somewhere in the control, in that colour.
    bool found = false;
    for (int y = 0; y < widget->height() && !found; ++y) {
        for (int x = 0; x < widget->width() && !found; ++x)
            found = pixelAt(image, origin + QPoint(x, y)) == colour;
    }
    QVERIFY(found);
}

void TestMainFormLayout::fonts()
{
    const QFont window = m_form->font();
    QCOMPARE(window.family(), QStringLiteral("Liberation Sans"));
    QCOMPARE(window.pixelSize(), 11);
    QVERIFY(window.bold());
    QCOMPARE(QFontInfo(window).family(), QStringLiteral("Liberation Sans"));

    for (int i = 0; i < 4; ++i) {
        const QFont groupLabel = control(nameOf("Label1", i))->font();
        QCOMPARE(groupLabel.pixelSize(), 11);
        QVERIFY(!groupLabel.bold());
    }
    const QFont title = control(QStringLiteral("titleLabel"))->font();
    QCOMPARE(title.pixelSize(), 37);
    QVERIFY(!title.bold());
    QCOMPARE(QFontInfo(title).family(), QStringLiteral("Liberation Sans Narrow"));
    for (const char *name : {"cmdBitsOption_0", "hexText", "writeToPartCommand", "Label5"})
        QCOMPARE(control(QLatin1String(name))->font(), window);
}

void TestMainFormLayout::pictures()
{
    const auto *logo = control<QLabel>(QStringLiteral("Image1"));
    const auto *banner = control<QLabel>(QStringLiteral("Image2"));
    QCOMPARE(logo->pixmap().size(), QSize(108, 35));
    QCOMPARE(banner->pixmap().size(), QSize(381, 30));
    QVERIFY(!logo->pixmap().toImage().isGrayscale());
    QCOMPARE(m_form->windowIcon().pixmap(32, 32).size(), QSize(32, 32));

    const QString degree = control<QLabel>(QStringLiteral("Label5"))->text();
    QCOMPARE(degree.count(QChar(0x00B0)), 1);
    QVERIFY(!degree.contains(QChar(0x00C2)));
}

void TestMainFormLayout::captionsReadInFull_data()
{
    QTest::addColumn<QString>("name");
    for (const auto &[name, row] : namedControls()) {
        if (!row.caption.isEmpty() && row.place != Place::Drawn && name != u"dataFrame")
            QTest::newRow(qPrintable(name)) << name;
    }
}

void TestMainFormLayout::captionsReadInFull()
{
    QFETCH(QString, name);

    QWidget *widget = control(name);
    const QFontMetrics metrics(widget->font());
    const QString caption = captionOf(widget).trimmed();

    // The width a line of the caption has.
    int lineWidth = 0;
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        lineWidth = label->contentsRect().width();
    } else if (qobject_cast<QRadioButton *>(widget) || qobject_cast<QCheckBox *>(widget)) {
        const bool option = qobject_cast<QRadioButton *>(widget);
        QStyle *style = widget->style();
        lineWidth = widget->width()
                - style->pixelMetric(option ? QStyle::PM_ExclusiveIndicatorWidth
                                            : QStyle::PM_IndicatorWidth,
                                     nullptr, widget)
                - style->pixelMetric(option ? QStyle::PM_RadioButtonLabelSpacing
                                            : QStyle::PM_CheckBoxLabelSpacing,
                                     nullptr, widget);
    } else {
        // Frames and buttons: one line, clear of the corners or the bevel.
        QCOMPARE(metrics.boundingRect(caption).height() <= widget->height(), true);
        QVERIFY2(metrics.horizontalAdvance(caption) <= widget->width() - 12, qPrintable(caption));
        return;
    }
    // Lines break between words only: no word may be wider than a line.
    for (const QString &word : caption.split(u' ', Qt::SkipEmptyParts))
        QVERIFY2(metrics.horizontalAdvance(word) <= lineWidth,
                 qPrintable(QStringLiteral("\"%1\" is %2 wide in %3")
                                    .arg(word)
                                    .arg(metrics.horizontalAdvance(word))
                                    .arg(lineWidth)));

    // No line is cut off at the bottom: given more height, the control shows no more of its
    // caption than it does now.
    const auto ink = [widget] {
        const QImage image = widget->grab().toImage();
        int count = 0;
        const QRect inside = image.rect().adjusted(1, 1, -1, -1); // not the border
        for (int y = inside.top(); y <= inside.bottom(); ++y) {
            for (int x = inside.left(); x <= inside.right(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                count += pixel.blue() < std::min(pixel.red(), pixel.green()) - 40;
            }
        }
        return count;
    };
    const QSize size = widget->size();
    const int shown = ink();
    QVERIFY(shown > 0);
    widget->resize(size.width(), size.height() + 40);
    const int whole = ink();
    widget->resize(size);
    QCOMPARE(shown, whole);
}

void TestMainFormLayout::controlsStructMatchesTheNames()
{
    const MainFormControls &c = m_controls;
    QCOMPARE(c.hexText, control<TextBox>(QStringLiteral("hexText")));
    QCOMPARE(c.voltageText, control<TextBox>(QStringLiteral("voltageText")));
    QCOMPARE(c.VrefText, control<TextBox>(QStringLiteral("VrefText")));
    QCOMPARE(c.adcVddText, control<TextBox>(QStringLiteral("adcVddText")));
    QCOMPARE(c.ADCDisplay, control<DigitCell>(QStringLiteral("ADCDisplay")));
    QCOMPARE(c.addressBitsFrame, control<QGroupBox>(QStringLiteral("addressBitsFrame")));
    QCOMPARE(c.dataFrame, control<QGroupBox>(QStringLiteral("dataFrame")));
    QCOMPARE(c.writeToPartCommand, control<QPushButton>(QStringLiteral("writeToPartCommand")));
    QCOMPARE(c.sampleCommand, control<QPushButton>(QStringLiteral("sampleCommand")));
    QCOMPARE(c.CLRStateLabel, control<QLabel>(QStringLiteral("CLRStateLabel")));
    for (int i = 0; i < 9; ++i) {
        QCOMPARE(c.cmdBitsOption[std::size_t(i)],
                 control<QRadioButton>(nameOf("cmdBitsOption", i)));
        QCOMPARE(c.dataBitsFrame[std::size_t(i)], control<QGroupBox>(nameOf("dataBitsFrame", i)));
        QCOMPARE(c.cmdBitsOptionGroup->id(c.cmdBitsOption[std::size_t(i)]), i);
    }
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(c.Option_MUX[std::size_t(i)], control<QRadioButton>(nameOf("Option_MUX", i)));
        QCOMPARE(c.LDACOverwriteCheck[std::size_t(i)],
                 control<QCheckBox>(nameOf("LDACOverwriteCheck", i)));
    }
    QCOMPARE(c.refOptionGroup->objectName(), QStringLiteral("refOption"));
}

QTEST_MAIN(TestMainFormLayout)
#include "tst_mainformlayout.moc"
