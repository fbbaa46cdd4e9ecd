#pragma once

#include <array>

class DigitCell;
class TextBox;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTimer;
class QWidget;

// Every control of the main window by its name; a control array by its indexes. The controls
// are the only store of the window's state: handlers read and write them through this.
struct MainFormControls
{
    // The window itself.
    QTimer *sampleTimer = nullptr;
    QGroupBox *addressBitsFrame = nullptr;
    QGroupBox *Frame_ADC = nullptr;
    QGroupBox *Frame1 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *Image2 = nullptr;
    QLabel *titleLabel = nullptr;

    // addressBitsFrame; 4 to 7 hidden and parked.
    std::array<QRadioButton *, 9> addressBitsOption {};

    // Frame_ADC and its Frame3.
    TextBox *adcVddText = nullptr;
    QGroupBox *Frame3 = nullptr;
    QPushButton *sampleCommand = nullptr;
    QCheckBox *autoSampleCheck = nullptr;
    DigitCell *ADCDisplay = nullptr;
    QLabel *vLabel = nullptr;
    QLabel *adcVddLabel = nullptr;
    std::array<QRadioButton *, 8> Option_MUX {};

    // Frame1.
    QGroupBox *dataFrame = nullptr;
    QGroupBox *noAddressBitsFrame = nullptr;
    std::array<QGroupBox *, 9> dataBitsFrame {};
    QPushButton *writeToPartCommand = nullptr;
    QGroupBox *hardwarePinsFrame = nullptr;
    QGroupBox *cmdBitsFrame = nullptr;
    std::array<DigitCell *, 32> BitsDisplay {};
    std::array<QLabel *, 4> Label1 {};
    QWidget *Shape1 = nullptr;

    std::array<QRadioButton *, 9> cmdBitsOption {};
    QLabel *noAddressBitsLabel = nullptr;

    // The dataBitsFrame panels.
    QLabel *updateDACRegLabel = nullptr;
    std::array<QRadioButton *, 4> powerDownOption {};
    QLabel *powerDownLabel = nullptr;
    std::array<QCheckBox *, 8> powerDownCheck {};
    std::array<QRadioButton *, 2> ResetOption {};
    QLabel *Label3 = nullptr;
    std::array<QRadioButton *, 4> clearCodeOption {};
    QLabel *Label2 = nullptr;
    std::array<QCheckBox *, 8> LDACOverwriteCheck {};
    std::array<QRadioButton *, 2> refOption {};

    // dataFrame, the code entry.
    TextBox *VrefText = nullptr;
    TextBox *voltageText = nullptr;
    TextBox *hexText = nullptr;
    QLabel *Label10 = nullptr;
    QLabel *Label9 = nullptr;
    QLabel *voltageLabel = nullptr;
    QLabel *hexLabel = nullptr;
    QLabel *Label4 = nullptr;

    // hardwarePinsFrame, parked with all it holds.
    QCheckBox *CLRCheck = nullptr;
    QCheckBox *LDACCheck = nullptr;
    QLabel *CLRStateLabel = nullptr;
    QLabel *LDACStateLabel = nullptr;
    QWidget *Line2 = nullptr;
    QWidget *Line1 = nullptr;

    // One group per array of option buttons (exclusive) or check boxes; a member's id is its
    // index, and each group bears its array's name.
    QButtonGroup *cmdBitsOptionGroup = nullptr;
    QButtonGroup *addressBitsOptionGroup = nullptr;
    QButtonGroup *Option_MUXGroup = nullptr;
    QButtonGroup *powerDownOptionGroup = nullptr;
    QButtonGroup *powerDownCheckGroup = nullptr;
    QButtonGroup *ResetOptionGroup = nullptr;
    QButtonGroup *clearCodeOptionGroup = nullptr;
    QButtonGroup *LDACOverwriteCheckGroup = nullptr;
    QButtonGroup *refOptionGroup = nullptr;
};

// The layout's lengths are twips; the window is laid out at 15 twips to a logical pixel.
constexpr int twipsPerPixel = 15;
constexpr int twipsToPixels(int twips)
{
    return twips / twipsPerPixel;
}

// Lays the main window out on `form`: its size, colours, fonts and icon, and every control in
// its place, front to back, in its start state, each named as in the layout ("hexText";
// "cmdBitsOption_3" for a member of an array). Throws std::logic_error if the layout is
// inconsistent.
MainFormControls buildMainFormLayout(QWidget &form);
