#pragma once

#include <array>

class BitDisplay;
class QCheckBox;
class QGroupBox;
class QRadioButton;
class TextBox;

// The command choice, the address choice and the option panels. Every choice writes its bits
// straight into the bit display; the controls and the cells are the only state.
class CommandEditor final
{
public:
    struct Controls
    {
        std::array<QGroupBox *, 9> dataBitsFrame;
        QGroupBox *dataFrame;
        QGroupBox *addressBitsFrame;
        TextBox *hexText;
        TextBox *voltageText;
        std::array<QRadioButton *, 4> powerDownOption;
        std::array<QCheckBox *, 8> powerDownCheck;
        std::array<QRadioButton *, 2> ResetOption;
        std::array<QRadioButton *, 4> clearCodeOption;
        std::array<QCheckBox *, 8> LDACOverwriteCheck;
        std::array<QRadioButton *, 2> refOption;
    };

    CommandEditor(const Controls &controls, BitDisplay &bits);

    // Every data choice and the typed code back to their defaults; cells 0 to 19 cleared. The
    // command, the address, the lit fields and the shown panel stay.
    void ResetEditor();

    // Index: the member clicked. An index outside its array changes nothing.
    void chooseCommand(int index);
    void chooseAddress(int index);
    void powerDownOptionClick(int index);
    void powerDownCheckClick(int index);
    void ResetOptionClick(int index);
    void clearCodeOptionClick(int index);
    void LDACOverwriteCheckClick(int index);
    void refOptionClick(int index);

private:
    Controls m_controls;
    BitDisplay &m_bits;
};
