#include "hardwarepins.h"

#include "tx4418.h"

#include <QCheckBox>
#include <QLabel>

namespace {

// The label is set before the request goes out, so it shows the new level even when the board
// does not answer.
bool showLevel(const QCheckBox *box, QLabel *label)
{
    const bool high = !box->isChecked();
    label->setText(high ? QStringLiteral("HI") : QStringLiteral("LOW"));
    return high;
}

} // namespace

HardwarePins::HardwarePins(const Controls &controls, TX4418 &device)
    : m_controls(controls)
    , m_device(device)
{ }

void HardwarePins::CLRCheckClick()
{
    m_device.SetClrPin(showLevel(m_controls.CLRCheck, m_controls.CLRStateLabel));
}

void HardwarePins::LDACCheckClick()
{
    m_device.SetLdacPin(showLevel(m_controls.LDACCheck, m_controls.LDACStateLabel));
}
