#pragma once

class DigitCell;
class QCheckBox;
class QTimer;
class TextBox;
class TX4418;

// Samples the chosen DAC output through the board's multiplexer and ADC, on demand or once a
// second while auto sampling, and shows it in volts.
class Readback final
{
public:
    struct Controls
    {
        TextBox *adcVddText;
        DigitCell *ADCDisplay;
        QCheckBox *autoSampleCheck;
        QTimer *sampleTimer;
    };

    Readback(const Controls &controls, TX4418 &device);

    // Reads Vdd from its box before asking the board; an empty or junk Vdd reads 0.
    void TakeSample();
    // Index 0 to 7 ("A" to "H"): selects that input, then samples it.
    void ChooseReadbackChannel(int index);
    // The timer runs exactly while the box is checked; checking takes no sample at once.
    void autoSampleCheckClick();
    // One tick of the timer: a sample, unless an error box of the board is still open, so that
    // a failing board never stacks box upon box.
    void sampleTimerTimer();

private:
    Controls m_controls;
    TX4418 &m_device;
};
