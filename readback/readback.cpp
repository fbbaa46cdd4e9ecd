#include "readback.h"

#include "digitcell.h"
#include "numberreading.h"
#include "readbackchannels.h"
#include "textbox.h"
#include "tx4418.h"

#include <QCheckBox>
#include <QTimer>

Readback::Readback(const Controls &controls, TX4418 &device)
    : m_controls(controls)
    , m_device(device)
{ }

void Readback::TakeSample()
{
    const double vdd = ParseNumberStart(m_controls.adcVddText->text());
    const std::int32_t code = m_device.ReadAdcCode();
    m_controls.ADCDisplay->setValue(ReadbackChannels::sampleVolts(code, vdd));
}

void Readback::ChooseReadbackChannel(int index)
{
    if (index < 0 || index >= ReadbackChannels::count)
        return;
    m_device.SelectMuxChannel(ReadbackChannels::mask(index));
    TakeSample();
}

void Readback::autoSampleCheckClick()
{
    if (m_controls.autoSampleCheck->isChecked())
        m_controls.sampleTimer->start();
    else
        m_controls.sampleTimer->stop();
}

void Readback::sampleTimerTimer()
{
    if (m_device.isReportingFailure())
        return;
    TakeSample();
}
