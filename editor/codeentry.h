#pragma once

class BitDisplay;
class QLineEdit;
class TextBox;

// The data code typed as hexadecimal or as a voltage against the reference. The box typed in is
// the source and is never rewritten: the code goes into the data cells and the other box is
// rewritten to match.
class CodeEntry final
{
public:
    CodeEntry(TextBox *hexText, TextBox *voltageText, const QLineEdit *VrefText, BitDisplay &bits);

    // After every key release in hexText and every change of the reference.
    void UpdateFromHex();
    // After every key release in voltageText. A reference that is not a number changes nothing.
    void UpdateFromVoltage();

private:
    TextBox *m_hexText;
    TextBox *m_voltageText;
    const QLineEdit *m_VrefText;
    BitDisplay &m_bits;
};
