#pragma once

class QCheckBox;
class QLabel;
class TX4418;

// The CLR and LDAC pins of the part: a checked box drives its pin low, a cleared one high, and
// the label beside it shows the level last driven. Nothing is rolled back when the board fails.
class HardwarePins final
{
public:
    struct Controls
    {
        QCheckBox *CLRCheck;
        QLabel *CLRStateLabel;
        QCheckBox *LDACCheck;
        QLabel *LDACStateLabel;
    };

    HardwarePins(const Controls &controls, TX4418 &device);

    void CLRCheckClick();
    void LDACCheckClick();

private:
    Controls m_controls;
    TX4418 &m_device;
};
