#include "mainformlayout.h"

#include "artwork.h"
#include "checkbox.h"
#include "digitcell.h"
#include "drawnshape.h"
#include "framebox.h"
#include "optionbutton.h"
#include "textbox.h"

#include <QApplication>
#include <QButtonGroup>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <array>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

enum class Kind {
    Window,
    Timer,
    Frame,
    OptionButton,
    CheckBox,
    TextBox,
    Label,
    CommandButton,
    NumLED,
    Image,
    Shape,
    Line
};

enum Flag : unsigned {
    Hidden = 1U << 0,     // starts invisible
    Selected = 1U << 1,   // the option button selected at start
    Borderless = 1U << 2, // a frame that shows neither border nor caption
    RightAligned = 1U << 3,
    Centred = 1U << 4,
    GroupLabel = 1U << 5, // dark grey, with a border, text centred, regular weight
    TitleFont = 1U << 6,
    FullRed = 1U << 7, // a digit cell whose segments start at full red instead of dark red
};

struct Row
{
    std::string_view name;
    int index; // the member's index in its control array; -1 for a single control
    Kind kind;
    std::string_view container; // the container's object name
    std::string_view caption;   // caption or text; for an image, the picture's name
    // Twips, from the container's top-left corner. A line: its start, and its extent to the end.
    int left, top, width, height;
    unsigned flags = 0;
    int setting = 0; // text box: typing limit, 0 for none; digit cell: digits; timer: ms
};

// The window, then each container's controls, front to back; arrays in index order.
constexpr Row layout[] = {
        {"MainForm", -1, Kind::Window, "", "TX4410 Evaluation Software", 0, 0, 10320, 7560},

        {"sampleTimer", -1, Kind::Timer, "MainForm", "", 0, 0, 0, 0, 0, 1000},
        {"addressBitsFrame", -1, Kind::Frame, "MainForm", "Address Bits", 3360, 3240, 2775, 1935},
        {"Frame_ADC", -1, Kind::Frame, "MainForm", "ADC", 6240, 120, 3975, 1575},
        {"Frame1", -1, Kind::Frame, "MainForm", "DAC", 120, 1800, 10095, 5655},
        {"Label5", -1, Kind::Label, "MainForm",
         "Dual, 16 Bit corvaDAC with 5ppm/\u00B0C On-Chip Reference", 240, 840, 5055, 255},
        {"Image1", -1, Kind::Image, "MainForm", "logo", 4275, 240, 1620, 525},
        {"Image2", -1, Kind::Image, "MainForm", "banner", 180, 1200, 5715, 450},
        {"titleLabel", -1, Kind::Label, "MainForm", "TX4410", 240, 180, 1695, 615, TitleFont},

        {"addressBitsOption", 0, Kind::OptionButton, "addressBitsFrame", "DAC A", 240, 360, 1215,
         255, Selected},
        {"addressBitsOption", 1, Kind::OptionButton, "addressBitsFrame", "DAC B", 240, 600, 1215,
         255},
        {"addressBitsOption", 2, Kind::OptionButton, "addressBitsFrame", "DAC C", 240, 840, 1215,
         255},
        {"addressBitsOption", 3, Kind::OptionButton, "addressBitsFrame", "DAC D", 240, 1080, 1215,
         255},
        {"addressBitsOption", 4, Kind::OptionButton, "addressBitsFrame", "DAC E", 2880, 1800, 1215,
         255, Hidden},
        {"addressBitsOption", 5, Kind::OptionButton, "addressBitsFrame", "DAC F", 2880, 2040, 1215,
         255, Hidden},
        {"addressBitsOption", 6, Kind::OptionButton, "addressBitsFrame", "DAC G", 2880, 2280, 1215,
         255, Hidden},
        {"addressBitsOption", 7, Kind::OptionButton, "addressBitsFrame", "DAC H", 2880, 2520, 1215,
         255, Hidden},
        {"addressBitsOption", 8, Kind::OptionButton, "addressBitsFrame", "All DACs", 240, 1440,
         1215, 255},

        {"adcVddText", -1, Kind::TextBox, "Frame_ADC", "5", 570, 1170, 615, 285, 0, 5},
        {"Frame3", -1, Kind::Frame, "Frame_ADC", "DAC Output", 2400, 120, 1455, 1215},
        {"sampleCommand", -1, Kind::CommandButton, "Frame_ADC", "Sample", 120, 810, 2175, 255},
        {"autoSampleCheck", -1, Kind::CheckBox, "Frame_ADC", "Auto Sample", 1380, 1110, 975, 375},
        {"ADCDisplay", -1, Kind::NumLED, "Frame_ADC", "", 120, 240, 1815, 495, FullRed, 6},
        {"vLabel", -1, Kind::Label, "Frame_ADC", "V", 2040, 240, 255, 495},
        {"adcVddLabel", -1, Kind::Label, "Frame_ADC", "Vdd:", 120, 1200, 495, 255},

        {"Option_MUX", 0, Kind::OptionButton, "Frame3", "A", 120, 480, 495, 195, Selected},
        {"Option_MUX", 1, Kind::OptionButton, "Frame3", "B", 720, 480, 495, 195},
        {"Option_MUX", 2, Kind::OptionButton, "Frame3", "C", 120, 720, 495, 195},
        {"Option_MUX", 3, Kind::OptionButton, "Frame3", "D", 720, 720, 495, 195},
        {"Option_MUX", 4, Kind::OptionButton, "Frame3", "E", 720, 1620, 495, 195},
        {"Option_MUX", 5, Kind::OptionButton, "Frame3", "F", 720, 1860, 495, 195},
        {"Option_MUX", 6, Kind::OptionButton, "Frame3", "G", 720, 2100, 495, 195},
        {"Option_MUX", 7, Kind::OptionButton, "Frame3", "H", 720, 2340, 495, 195},

        {"dataFrame", -1, Kind::Frame, "Frame1", "Frame2", 6360, 1680, 3135, 2655, Borderless},
        {"noAddressBitsFrame", -1, Kind::Frame, "Frame1", "Address Bits", 3240, 1440, 2775, 1935},
        {"dataBitsFrame", 8, Kind::Frame, "Frame1", "CLR Code Register", 6240, 1440, 3615, 3375,
         Hidden},
        {"dataBitsFrame", 7, Kind::Frame, "Frame1", "REF Setup Register", 6240, 1440, 3615, 3375,
         Hidden},
        {"dataBitsFrame", 6, Kind::Frame, "Frame1", "LDAC Register Setup", 6240, 1440, 3615, 3375,
         Hidden},
        {"dataBitsFrame", 5, Kind::Frame, "Frame1", "Reset", 6240, 1440, 3615, 3375, Hidden},
        {"dataBitsFrame", 4, Kind::Frame, "Frame1", "Power Down/Up Register", 6240, 1440, 3615,
         3375, Hidden},
        {"dataBitsFrame", 3, Kind::Frame, "Frame1", "Data Bits", 6240, 1440, 3615, 3375, Hidden},
        {"dataBitsFrame", 2, Kind::Frame, "Frame1", "Data Bits", 6240, 1440, 3615, 3375, Hidden},
        {"dataBitsFrame", 1, Kind::Frame, "Frame1", "Update DAC Register", 6240, 1440, 3615, 3375,
         Hidden},
        {"writeToPartCommand", -1, Kind::CommandButton, "Frame1", "Write to Part", 8280, 4920, 1575,
         495},
        {"hardwarePinsFrame", -1, Kind::Frame, "Frame1", "Hardware Pins", 17640, 10440, 2775, 1335},
        {"cmdBitsFrame", -1, Kind::Frame, "Frame1", "Command Bits", 120, 1440, 2895, 3975},
        {"dataBitsFrame", 0, Kind::Frame, "Frame1", "Data Bits", 6240, 1440, 3615, 3375},
        {"BitsDisplay", 0, Kind::NumLED, "Frame1", "", 8520, 6840, 285, 495, 0, 1},
        {"BitsDisplay", 1, Kind::NumLED, "Frame1", "", 8280, 6840, 285, 495, 0, 1},
        {"BitsDisplay", 2, Kind::NumLED, "Frame1", "", 8040, 6840, 285, 495, 0, 1},
        {"BitsDisplay", 3, Kind::NumLED, "Frame1", "", 7800, 6840, 285, 495, 0, 1},
        {"BitsDisplay", 4, Kind::NumLED, "Frame1", "", 6930, 240, 285, 495, 0, 1},
        {"BitsDisplay", 5, Kind::NumLED, "Frame1", "", 6660, 240, 285, 495, 0, 1},
        {"BitsDisplay", 6, Kind::NumLED, "Frame1", "", 6390, 240, 285, 495, 0, 1},
        {"BitsDisplay", 7, Kind::NumLED, "Frame1", "", 6120, 240, 285, 495, 0, 1},
        {"BitsDisplay", 8, Kind::NumLED, "Frame1", "", 5730, 240, 285, 495, 0, 1},
        {"BitsDisplay", 9, Kind::NumLED, "Frame1", "", 5460, 240, 285, 495, 0, 1},
        {"BitsDisplay", 10, Kind::NumLED, "Frame1", "", 5190, 240, 285, 495, 0, 1},
        {"BitsDisplay", 11, Kind::NumLED, "Frame1", "", 4920, 240, 285, 495, 0, 1},
        {"BitsDisplay", 12, Kind::NumLED, "Frame1", "", 4530, 240, 285, 495, 0, 1},
        {"BitsDisplay", 13, Kind::NumLED, "Frame1", "", 4260, 240, 285, 495, 0, 1},
        {"BitsDisplay", 14, Kind::NumLED, "Frame1", "", 3990, 240, 285, 495, 0, 1},
        {"BitsDisplay", 15, Kind::NumLED, "Frame1", "", 3720, 240, 285, 495, 0, 1},
        {"BitsDisplay", 16, Kind::NumLED, "Frame1", "", 3330, 240, 285, 495, 0, 1},
        {"BitsDisplay", 17, Kind::NumLED, "Frame1", "", 3060, 240, 285, 495, 0, 1},
        {"BitsDisplay", 18, Kind::NumLED, "Frame1", "", 2790, 240, 285, 495, 0, 1},
        {"BitsDisplay", 19, Kind::NumLED, "Frame1", "", 2520, 240, 285, 495, 0, 1},
        {"BitsDisplay", 20, Kind::NumLED, "Frame1", "", 2130, 240, 285, 495, 0, 1},
        {"BitsDisplay", 21, Kind::NumLED, "Frame1", "", 1860, 240, 285, 495, 0, 1},
        {"BitsDisplay", 22, Kind::NumLED, "Frame1", "", 1590, 240, 285, 495, 0, 1},
        {"BitsDisplay", 23, Kind::NumLED, "Frame1", "", 1920, 7200, 285, 495, 0, 1},
        {"BitsDisplay", 24, Kind::NumLED, "Frame1", "", 1200, 240, 285, 495, 0, 1},
        {"BitsDisplay", 25, Kind::NumLED, "Frame1", "", 960, 240, 285, 495, 0, 1},
        {"BitsDisplay", 26, Kind::NumLED, "Frame1", "", 720, 240, 285, 495, 0, 1},
        {"BitsDisplay", 27, Kind::NumLED, "Frame1", "", 1080, 7200, 285, 495, 0, 1},
        {"BitsDisplay", 28, Kind::NumLED, "Frame1", "", 360, 240, 285, 495, 0, 1},
        {"BitsDisplay", 29, Kind::NumLED, "Frame1", "", 120, 240, 285, 495, 0, 1},
        {"BitsDisplay", 30, Kind::NumLED, "Frame1", "", 720, 7200, 285, 495, 0, 1},
        {"BitsDisplay", 31, Kind::NumLED, "Frame1", "", 480, 7200, 285, 495, 0, 1},
        {"Label1", 0, Kind::Label, "Frame1", "", 120, 720, 525, 495, GroupLabel},
        {"Label1", 1, Kind::Label, "Frame1", "Command Bits", 720, 720, 765, 495, GroupLabel},
        {"Label1", 2, Kind::Label, "Frame1", "Address Bits", 1560, 720, 885, 495, GroupLabel},
        {"Label1", 3, Kind::Label, "Frame1", "Data Bits", 2520, 720, 4725, 495, GroupLabel},
        {"Shape1", -1, Kind::Shape, "Frame1", "", 120, 240, 7095, 735},

        {"cmdBitsOption", 0, Kind::OptionButton, "cmdBitsFrame", "Write to Input Register n", 120,
         240, 2655, 195, Selected},
        {"cmdBitsOption", 1, Kind::OptionButton, "cmdBitsFrame", "Update DAC Register n", 120, 600,
         2535, 195},
        {"cmdBitsOption", 2, Kind::OptionButton, "cmdBitsFrame",
         "Write to Input Register n, Update All", 120, 960, 2655, 375},
        {"cmdBitsOption", 3, Kind::OptionButton, "cmdBitsFrame",
         "Write to and Update DAC channel n", 120, 1440, 2655, 375},
        {"cmdBitsOption", 4, Kind::OptionButton, "cmdBitsFrame", "Power Down DAC (Power-up)", 120,
         1920, 2055, 375},
        {"cmdBitsOption", 5, Kind::OptionButton, "cmdBitsFrame", "Reset", 120, 2400, 2175, 195},
        {"cmdBitsOption", 6, Kind::OptionButton, "cmdBitsFrame", "LDAC Register Setup", 120, 2760,
         2295, 375},
        {"cmdBitsOption", 7, Kind::OptionButton, "cmdBitsFrame", "REF Setup Register", 120, 3360,
         2535, 195},
        {"cmdBitsOption", 8, Kind::OptionButton, "cmdBitsFrame", "CLR Code Register", 240, 5520,
         2295, 195},

        {"noAddressBitsLabel", -1, Kind::Label, "noAddressBitsFrame",
         "Address bits not used for this command", 240, 360, 2295, 1335},

        {"updateDACRegLabel", -1, Kind::Label, "dataBitsFrame_1",
         "Software LDAC for DAC registor n", 240, 360, 3135, 975},

        {"powerDownOption", 0, Kind::OptionButton, "dataBitsFrame_4", "Normal Operation", 360, 360,
         2295, 255},
        {"powerDownOption", 1, Kind::OptionButton, "dataBitsFrame_4", "1k Ohm to Ground", 360, 600,
         2295, 255},
        {"powerDownOption", 2, Kind::OptionButton, "dataBitsFrame_4", "100k Ohm to Ground", 360,
         840, 2295, 255},
        {"powerDownOption", 3, Kind::OptionButton, "dataBitsFrame_4", "Three State", 360, 1080,
         2295, 255},
        {"powerDownLabel", -1, Kind::Label, "dataBitsFrame_4",
         "Check box(s) of DAC(s) to power down.", 360, 1560, 2895, 375},
        {"powerDownCheck", 0, Kind::CheckBox, "dataBitsFrame_4", "DAC A", 360, 2040, 1095, 255},
        {"powerDownCheck", 1, Kind::CheckBox, "dataBitsFrame_4", "DAC B", 360, 2280, 1095, 255},
        {"powerDownCheck", 2, Kind::CheckBox, "dataBitsFrame_4", "DAC C", 1440, 2040, 1095, 255},
        {"powerDownCheck", 3, Kind::CheckBox, "dataBitsFrame_4", "DAC D", 1440, 2280, 1095, 255},
        {"powerDownCheck", 4, Kind::CheckBox, "dataBitsFrame_4", "DAC E", 4680, 3840, 1095, 255},
        {"powerDownCheck", 5, Kind::CheckBox, "dataBitsFrame_4", "DAC F", 4680, 4080, 1095, 255},
        {"powerDownCheck", 6, Kind::CheckBox, "dataBitsFrame_4", "DAC G", 4680, 4320, 1095, 255},
        {"powerDownCheck", 7, Kind::CheckBox, "dataBitsFrame_4", "DAC H", 4680, 4560, 1095, 255},

        {"ResetOption", 0, Kind::OptionButton, "dataBitsFrame_5",
         "Reset DAC and Input Registers Only", 600, 360, 2055, 495, Selected},
        {"ResetOption", 1, Kind::OptionButton, "dataBitsFrame_5", "Reset All Registers", 600, 960,
         2055, 255},
        {"Label3", -1, Kind::Label, "dataBitsFrame_5", "Click Write to Part to reset", 240, 1680,
         3135, 855, Centred},
        {"clearCodeOption", 0, Kind::OptionButton, "dataBitsFrame_5", "Zero Scale", 600, 4800, 1455,
         255},
        {"clearCodeOption", 1, Kind::OptionButton, "dataBitsFrame_5", "Mid Scale", 600, 5160, 1335,
         255},
        {"clearCodeOption", 2, Kind::OptionButton, "dataBitsFrame_5", "Full Scale", 600, 5520, 1335,
         255},
        {"clearCodeOption", 3, Kind::OptionButton, "dataBitsFrame_5", "No Operation", 600, 5880,
         1695, 255},

        {"Label2", -1, Kind::Label, "dataBitsFrame_6",
         "Checking a box below causes that DAC channel to be updated regardless of the LDAC pin",
         360, 360, 2895, 615},
        {"LDACOverwriteCheck", 0, Kind::CheckBox, "dataBitsFrame_6", "DAC A", 360, 1200, 975, 255},
        {"LDACOverwriteCheck", 1, Kind::CheckBox, "dataBitsFrame_6", "DAC B", 360, 1440, 975, 255},
        {"LDACOverwriteCheck", 2, Kind::CheckBox, "dataBitsFrame_6", "DAC C", 1560, 1200, 975, 255},
        {"LDACOverwriteCheck", 3, Kind::CheckBox, "dataBitsFrame_6", "DAC D", 1560, 1440, 975, 255},
        {"LDACOverwriteCheck", 4, Kind::CheckBox, "dataBitsFrame_6", "DAC E", 4920, 3720, 975, 255},
        {"LDACOverwriteCheck", 5, Kind::CheckBox, "dataBitsFrame_6", "DAC F", 4920, 3960, 975, 255},
        {"LDACOverwriteCheck", 6, Kind::CheckBox, "dataBitsFrame_6", "DAC G", 4920, 4200, 975, 255},
        {"LDACOverwriteCheck", 7, Kind::CheckBox, "dataBitsFrame_6", "DAC H", 4920, 4440, 975, 255},

        {"refOption", 0, Kind::OptionButton, "dataBitsFrame_7",
         "Internal reference OFF (default) (use external reference) ", 360, 360, 3135, 375,
         Selected},
        {"refOption", 1, Kind::OptionButton, "dataBitsFrame_7", "Internal reference ON", 360, 840,
         2895, 375},

        {"VrefText", -1, Kind::TextBox, "dataFrame", "5", 1800, 2160, 855, 285},
        {"voltageText", -1, Kind::TextBox, "dataFrame", "", 1560, 840, 1335, 285, 0, 8},
        {"hexText", -1, Kind::TextBox, "dataFrame", "", 1560, 0, 1335, 285, 0, 4},
        {"Label10", -1, Kind::Label, "dataFrame", "Above voltage value calculated", 240, 1920, 3015,
         255},
        {"Label9", -1, Kind::Label, "dataFrame", "based on Vref of", 240, 2160, 1575, 255},
        {"voltageLabel", -1, Kind::Label, "dataFrame", "Voltage:", 240, 840, 1215, 255,
         RightAligned},
        {"hexLabel", -1, Kind::Label, "dataFrame", "Hex Value:", 360, 0, 1095, 255, RightAligned},
        {"Label4", -1, Kind::Label, "dataFrame", "V", 2760, 2160, 135, 255},

        {"CLRCheck", -1, Kind::CheckBox, "hardwarePinsFrame", "CLR", 240, 900, 855, 195},
        {"LDACCheck", -1, Kind::CheckBox, "hardwarePinsFrame", "LDAC", 240, 480, 915, 195},
        {"CLRStateLabel", -1, Kind::Label, "hardwarePinsFrame", "HI", 1560, 900, 435, 195},
        {"LDACStateLabel", -1, Kind::Label, "hardwarePinsFrame", "HI", 1560, 480, 435, 195},
        {"Line2", -1, Kind::Line, "hardwarePinsFrame", "", 540, 870, 360, 0},
        {"Line1", -1, Kind::Line, "hardwarePinsFrame", "", 510, 450, 510, 0},
};

// A length the table gives that is no whole number of pixels is a typing slip.
constexpr bool allWholePixels()
{
    for (const Row &row : layout) {
        for (const int length : {row.left, row.top, row.width, row.height}) {
            if (length % twipsPerPixel != 0)
                return false;
        }
    }
    return true;
}
static_assert(allWholePixels());

const QColor background(0, 0, 192);
const QColor textColour(255, 255, 0);
const QColor groupLabelBackground(64, 64, 64);
const QColor shapeOutline(0, 0, 112);

// Sizes in pixels: the layout is fixed in pixels at 96 dpi, whatever the desktop's font dpi.
QFont windowFont()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11); // 8.25 pt
    font.setBold(true);
    return font;
}

QFont titleFont()
{
    QFont font(QStringLiteral("Liberation Sans Narrow"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(37); // 27.75 pt
    font.setBold(false);
    return font;
}

// The system's colours, set role by role so that they do not inherit the window's blue.
QPalette systemColours()
{
    const QPalette system = QApplication::palette();
    QPalette colours = system;
    for (int group = 0; group < QPalette::NColorGroups; ++group) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            if (role == QPalette::NoRole)
                continue;
            const auto colourGroup = QPalette::ColorGroup(group);
            const auto colourRole = QPalette::ColorRole(role);
            colours.setBrush(colourGroup, colourRole, system.brush(colourGroup, colourRole));
        }
    }
    return colours;
}

QString toQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QString objectNameOf(const Row &row)
{
    const QString name = toQString(row.name);
    return row.index < 0 ? name : name + QLatin1Char('_') + QString::number(row.index);
}

QRect pixelGeometry(const Row &row)
{
    const QRect area(twipsToPixels(row.left), twipsToPixels(row.top), twipsToPixels(row.width),
                     twipsToPixels(row.height));
    // A line covers the pixels of both its ends.
    return row.kind == Kind::Line ? area.adjusted(0, 0, 1, 1) : area;
}

QLabel *makeLabel(const Row &row, const QString &caption, QWidget *container)
{
    auto *label = new QLabel(caption, container);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAutoFillBackground(true);
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop;
    if (row.flags & RightAligned)
        alignment = Qt::AlignRight | Qt::AlignTop;
    if (row.flags & Centred)
        alignment = Qt::AlignHCenter | Qt::AlignTop;
    if (row.flags & GroupLabel) {
        alignment = Qt::AlignCenter;
        QPalette colours = label->palette();
        colours.setColor(QPalette::Window, groupLabelBackground);
        label->setPalette(colours);
        label->setFrameStyle(QFrame::Box | QFrame::Plain);
        label->setLineWidth(1);
        QFont regular = label->font();
        regular.setBold(false);
        // A little narrower, so that "Command" fits the 51-pixel label as it was laid out for.
        regular.setStretch(94);
        label->setFont(regular);
    }
    if (row.flags & TitleFont)
        label->setFont(titleFont());
    label->setAlignment(alignment);
    return label;
}

QWidget *makeWidget(const Row &row, const QString &caption, QWidget *container,
                    const QPalette &system)
{
    switch (row.kind) {
    case Kind::Frame:
        return new FrameBox(
                caption, (row.flags & Borderless) ? FrameBox::Border::None : FrameBox::Border::Line,
                container);
    case Kind::OptionButton:
        return new OptionButton(caption, container);
    case Kind::CheckBox:
        return new CheckBox(caption, container);
    case Kind::TextBox: {
        auto *box = new TextBox(container);
        box->setPalette(system);
        box->setTypingLimit(row.setting);
        box->writeText(caption);
        return box;
    }
    case Kind::Label:
        return makeLabel(row, caption, container);
    case Kind::CommandButton: {
        auto *button = new QPushButton(caption, container);
        button->setPalette(system);
        return button;
    }
    case Kind::NumLED: {
        auto *cell = new DigitCell(row.setting, container);
        cell->setSegmentColor((row.flags & FullRed) ? 255 : 160);
        return cell;
    }
    case Kind::Image: {
        const QPixmap picture = layoutPicture(toQString(row.caption));
        if (picture.isNull())
            throw std::logic_error("no picture named " + std::string(row.caption));
        auto *image = new QLabel(container);
        image->setPixmap(picture);
        image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return image;
    }
    case Kind::Shape: {
        // A quiet outline around the bit display, darker than the window.
        auto *shape = new DrawnShape(DrawnShape::Figure::Rectangle, container);
        QPalette colours = shape->palette();
        colours.setColor(QPalette::WindowText, shapeOutline);
        shape->setPalette(colours);
        return shape;
    }
    case Kind::Line:
        return new DrawnShape(DrawnShape::Figure::Line, container);
    case Kind::Window:
    case Kind::Timer:
        break;
    }
    throw std::logic_error("not a widget: " + std::string(row.name));
}

void layOutWindow(QWidget &form, const Row &row)
{
    form.setObjectName(toQString(row.name));
    form.setWindowTitle(toQString(row.caption));
    form.setFixedSize(pixelGeometry(row).size());
    QPalette colours = form.palette();
    colours.setColor(QPalette::Window, background);
    colours.setColor(QPalette::WindowText, textColour);
    form.setPalette(colours);
    form.setFont(windowFont());
    form.setWindowIcon(windowIconPicture());
}

constexpr std::size_t rowCount = std::size(layout);

// The table's names are resolved by the compiler: a missing or doubled name, or a container that
// is missing, no frame or made after what it holds, fails the build, and the builder looks
// nothing up by name at start-up.
constexpr bool named(const Row &row, std::string_view name, int index)
{
    return row.name == name && row.index == index;
}

// The row of the control of that object name ("Frame1", "dataBitsFrame_4"); rowCount for none.
constexpr std::size_t rowNamed(std::string_view objectName)
{
    for (std::size_t i = 0; i < rowCount; ++i) {
        const Row &row = layout[i];
        if (row.index < 0 && objectName == row.name)
            return i;
        if (row.index >= 0 && objectName.size() > row.name.size() + 1
            && objectName.substr(0, row.name.size()) == row.name
            && objectName[row.name.size()] == '_') {
            int index = 0;
            for (const char digit : objectName.substr(row.name.size() + 1))
                index = digit >= '0' && digit <= '9' ? index * 10 + (digit - '0') : -1000;
            if (index == row.index)
                return i;
        }
    }
    return rowCount;
}

// Each row's container, the row of the window for the window itself.
constexpr std::array<std::size_t, rowCount> containerRows = [] {
    std::array<std::size_t, rowCount> rows {};
    for (std::size_t i = 1; i < rowCount; ++i)
        rows[i] = rowNamed(layout[i].container);
    return rows;
}();

// Each row's first row of the same name: an array's group is kept by it.
constexpr std::array<std::size_t, rowCount> firstRows = [] {
    std::array<std::size_t, rowCount> rows {};
    for (std::size_t i = 0; i < rowCount; ++i) {
        rows[i] = i;
        for (std::size_t j = i; j-- > 0;) {
            if (layout[j].name == layout[i].name)
                rows[i] = j;
        }
    }
    return rows;
}();

constexpr bool consistent()
{
    if (layout[0].kind != Kind::Window)
        return false;
    for (std::size_t i = 1; i < rowCount; ++i) {
        // A container is made before what it holds.
        const std::size_t container = containerRows[i];
        if (container >= i
            || (layout[container].kind != Kind::Window && layout[container].kind != Kind::Frame))
            return false;
        for (std::size_t j = 0; j < i; ++j) {
            if (named(layout[j], layout[i].name, layout[i].index))
                return false;
        }
    }
    return true;
}
static_assert(consistent(), "a row's container is missing or made after it, or a name is doubled");

consteval std::size_t rowOf(std::string_view name, int index = -1)
{
    for (std::size_t i = 0; i < rowCount; ++i) {
        if (named(layout[i], name, index))
            return i;
    }
    throw "no control of that name in the layout";
}

// The rows of an array's members in index order; exactly N of them.
template<std::size_t N> consteval std::array<std::size_t, N> rowsOf(std::string_view name)
{
    std::array<std::size_t, N> rows {};
    for (std::size_t index = 0; index < N; ++index)
        rows[index] = rowOf(name, int(index));
    for (const Row &row : layout) {
        if (row.name == name && row.index >= int(N))
            throw "more members of the array than expected";
    }
    return rows;
}

// What the builder has made, by row; each array's button group by the row of its member 0.
struct Made
{
    std::array<QObject *, rowCount> objects {};
    std::array<QButtonGroup *, rowCount> groups {};

    template<class T> T *one(std::size_t row) const
    {
        T *object = qobject_cast<T *>(objects[row]);
        if (!object)
            throw std::logic_error("no control " + std::string(layout[row].name)
                                   + " of the expected kind");
        return object;
    }

    template<class T, std::size_t N>
    std::array<T *, N> array(const std::array<std::size_t, N> &rows) const
    {
        std::array<T *, N> members {};
        for (std::size_t index = 0; index < N; ++index)
            members[index] = one<T>(rows[index]);
        return members;
    }

    QButtonGroup *group(std::size_t row) const
    {
        if (!groups[firstRows[row]])
            throw std::logic_error("no group " + std::string(layout[row].name));
        return groups[firstRows[row]];
    }
};

void makeControl(std::size_t i, QWidget &form, Made &made, const QPalette &system)
{
    const Row &row = layout[i];
    const QString name = objectNameOf(row);
    auto *container = static_cast<QWidget *>(made.objects[containerRows[i]]);
    if (row.kind == Kind::Timer) {
        auto *timer = new QTimer(container);
        timer->setObjectName(name);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setInterval(row.setting);
        made.objects[i] = timer;
        return;
    }
    QWidget *widget = makeWidget(row, toQString(row.caption), container, system);
    widget->setObjectName(name);
    widget->setGeometry(pixelGeometry(row));
    // Made front to back: each new control goes behind those before it.
    widget->lower();
    if (row.flags & Hidden)
        widget->hide();
    if (row.index >= 0 && (row.kind == Kind::OptionButton || row.kind == Kind::CheckBox)) {
        auto *button = static_cast<QAbstractButton *>(widget);
        QButtonGroup *&group = made.groups[firstRows[i]];
        if (!group) {
            group = new QButtonGroup(&form);
            group->setObjectName(toQString(row.name));
            group->setExclusive(row.kind == Kind::OptionButton);
        }
        group->addButton(button, row.index);
        button->setChecked(row.flags & Selected);
    }
    made.objects[i] = widget;
}

// Whether any of the widget shows through its containers, up to the window.
bool liesInSight(const QWidget &widget)
{
    QRect area = widget.rect();
    for (const QWidget *w = &widget; !w->isWindow(); w = w->parentWidget())
        area = area.translated(w->pos()).intersected(w->parentWidget()->rect());
    return !area.isEmpty();
}

MainFormControls collect(const Made &made)
{
    MainFormControls c;
    c.sampleTimer = made.one<QTimer>(rowOf("sampleTimer"));
    c.addressBitsFrame = made.one<QGroupBox>(rowOf("addressBitsFrame"));
    c.Frame_ADC = made.one<QGroupBox>(rowOf("Frame_ADC"));
    c.Frame1 = made.one<QGroupBox>(rowOf("Frame1"));
    c.Label5 = made.one<QLabel>(rowOf("Label5"));
    c.Image1 = made.one<QLabel>(rowOf("Image1"));
    c.Image2 = made.one<QLabel>(rowOf("Image2"));
    c.titleLabel = made.one<QLabel>(rowOf("titleLabel"));

    c.addressBitsOption = made.array<QRadioButton>(rowsOf<9>("addressBitsOption"));

    c.adcVddText = made.one<TextBox>(rowOf("adcVddText"));
    c.Frame3 = made.one<QGroupBox>(rowOf("Frame3"));
    c.sampleCommand = made.one<QPushButton>(rowOf("sampleCommand"));
    c.autoSampleCheck = made.one<QCheckBox>(rowOf("autoSampleCheck"));
    c.ADCDisplay = made.one<DigitCell>(rowOf("ADCDisplay"));
    c.vLabel = made.one<QLabel>(rowOf("vLabel"));
    c.adcVddLabel = made.one<QLabel>(rowOf("adcVddLabel"));
    c.Option_MUX = made.array<QRadioButton>(rowsOf<8>("Option_MUX"));

    c.dataFrame = made.one<QGroupBox>(rowOf("dataFrame"));
    c.noAddressBitsFrame = made.one<QGroupBox>(rowOf("noAddressBitsFrame"));
    c.dataBitsFrame = made.array<QGroupBox>(rowsOf<9>("dataBitsFrame"));
    c.writeToPartCommand = made.one<QPushButton>(rowOf("writeToPartCommand"));
    c.hardwarePinsFrame = made.one<QGroupBox>(rowOf("hardwarePinsFrame"));
    c.cmdBitsFrame = made.one<QGroupBox>(rowOf("cmdBitsFrame"));
    c.BitsDisplay = made.array<DigitCell>(rowsOf<32>("BitsDisplay"));
    c.Label1 = made.array<QLabel>(rowsOf<4>("Label1"));
    c.Shape1 = made.one<QWidget>(rowOf("Shape1"));

    c.cmdBitsOption = made.array<QRadioButton>(rowsOf<9>("cmdBitsOption"));
    c.noAddressBitsLabel = made.one<QLabel>(rowOf("noAddressBitsLabel"));

    c.updateDACRegLabel = made.one<QLabel>(rowOf("updateDACRegLabel"));
    c.powerDownOption = made.array<QRadioButton>(rowsOf<4>("powerDownOption"));
    c.powerDownLabel = made.one<QLabel>(rowOf("powerDownLabel"));
    c.powerDownCheck = made.array<QCheckBox>(rowsOf<8>("powerDownCheck"));
    c.ResetOption = made.array<QRadioButton>(rowsOf<2>("ResetOption"));
    c.Label3 = made.one<QLabel>(rowOf("Label3"));
    c.clearCodeOption = made.array<QRadioButton>(rowsOf<4>("clearCodeOption"));
    c.Label2 = made.one<QLabel>(rowOf("Label2"));
    c.LDACOverwriteCheck = made.array<QCheckBox>(rowsOf<8>("LDACOverwriteCheck"));
    c.refOption = made.array<QRadioButton>(rowsOf<2>("refOption"));

    c.VrefText = made.one<TextBox>(rowOf("VrefText"));
    c.voltageText = made.one<TextBox>(rowOf("voltageText"));
    c.hexText = made.one<TextBox>(rowOf("hexText"));
    c.Label10 = made.one<QLabel>(rowOf("Label10"));
    c.Label9 = made.one<QLabel>(rowOf("Label9"));
    c.voltageLabel = made.one<QLabel>(rowOf("voltageLabel"));
    c.hexLabel = made.one<QLabel>(rowOf("hexLabel"));
    c.Label4 = made.one<QLabel>(rowOf("Label4"));

    c.CLRCheck = made.one<QCheckBox>(rowOf("CLRCheck"));
    c.LDACCheck = made.one<QCheckBox>(rowOf("LDACCheck"));
    c.CLRStateLabel = made.one<QLabel>(rowOf("CLRStateLabel"));
    c.LDACStateLabel = made.one<QLabel>(rowOf("LDACStateLabel"));
    c.Line2 = made.one<QWidget>(rowOf("Line2"));
    c.Line1 = made.one<QWidget>(rowOf("Line1"));

    c.cmdBitsOptionGroup = made.group(rowOf("cmdBitsOption", 0));
    c.addressBitsOptionGroup = made.group(rowOf("addressBitsOption", 0));
    c.Option_MUXGroup = made.group(rowOf("Option_MUX", 0));
    c.powerDownOptionGroup = made.group(rowOf("powerDownOption", 0));
    c.powerDownCheckGroup = made.group(rowOf("powerDownCheck", 0));
    c.ResetOptionGroup = made.group(rowOf("ResetOption", 0));
    c.clearCodeOptionGroup = made.group(rowOf("clearCodeOption", 0));
    c.LDACOverwriteCheckGroup = made.group(rowOf("LDACOverwriteCheck", 0));
    c.refOptionGroup = made.group(rowOf("refOption", 0));
    return c;
}

} // namespace

MainFormControls buildMainFormLayout(QWidget &form)
{
    Made made;
    const QPalette system = systemColours(); // for every control that keeps them
    layOutWindow(form, layout[0]);
    made.objects[0] = &form;
    for (std::size_t row = 1; row < rowCount; ++row)
        makeControl(row, form, made, system);
    // A parked control is never seen, so no key may reach it: it keeps its value and its place
    // in its array, but the focus passes it by.
    for (QWidget *widget : form.findChildren<QWidget *>()) {
        if (!liesInSight(*widget))
            widget->setFocusPolicy(Qt::NoFocus);
    }
    return collect(made);
}
