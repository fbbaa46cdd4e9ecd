#pragma once

#include "bitdisplay.h"
#include "codeentry.h"
#include "commandeditor.h"
#include "errorbox.h"
#include "hardwarepins.h"
#include "mainformlayout.h"
#include "readback.h"
#include "tx4418.h"

#include <QWidget>

class USBStuff;

// The program's one window. load() is its start-up step, run once before it is first shown.
class MainForm final : public QWidget
{
    Q_OBJECT

public:
    enum class LoadResult { Ready, Cancelled, Failed };

    explicit MainForm(USBStuff &usb, QWidget *parent = nullptr);
    ~MainForm() override;

    // Titles the window, brings the board up (offering Retry until it is up or the user gives
    // up) and puts the editor and the readback into their starting state: the editor at its
    // defaults, the default command's fields lit, channel A selected and sampled.
    LoadResult load();

    const MainFormControls &controls() const { return m_controls; }

private slots:
    // The window's events, one handler each; an array's handler receives the member's index.
    void cmdBitsOptionClick(int index);
    void addressBitsOptionClick(int index);
    void clearCodeOptionClick(int index);
    void powerDownOptionClick(int index);
    void refOptionClick(int index);
    void ResetOptionClick(int index);
    void LDACOverwriteCheckClick(int index);
    void powerDownCheckClick(int index);
    void hexTextKeyUp();
    void voltageTextKeyUp();
    void VrefTextChange();
    void writeToPartCommandClick();
    void sampleCommandClick();
    void autoSampleCheckClick();
    void Option_MUXClick(int index);
    void adcVddTextLostFocus();
    void sampleTimerTimer();
    void CLRCheckClick();
    void LDACCheckClick();

private:
    void connectEvents();
    bool askToRetryBringUp();
    void showStartupFailure(const QString &reason);

    USBStuff &m_usb;
    MainFormControls m_controls;
    ErrorBox m_errorBox;
    TX4418 m_device;
    BitDisplay m_bits;
    CommandEditor m_editor;
    CodeEntry m_codeEntry;
    Readback m_readback;
    HardwarePins m_pins;
};
