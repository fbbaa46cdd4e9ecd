#include "codeentry.h"

#include "bitdisplay.h"
#include "codeconversion.h"
#include "textbox.h"

CodeEntry::CodeEntry(TextBox *hexText, TextBox *voltageText, const QLineEdit *VrefText,
                     BitDisplay &bits)
    : m_hexText(hexText)
    , m_voltageText(voltageText)
    , m_VrefText(VrefText)
    , m_bits(bits)
{ }

void CodeEntry::UpdateFromHex()
{
    const HexEntryResult entry = convertHexEntry(m_hexText->text(), m_VrefText->text());
    m_bits.ShowBits(entry.code, dataCells);
    m_voltageText->writeText(entry.voltageText);
}

void CodeEntry::UpdateFromVoltage()
{
    const std::optional<VoltageEntryResult> entry
            = convertVoltageEntry(m_voltageText->text(), m_VrefText->text());
    if (!entry)
        return;
    m_bits.ShowBits(entry->code, dataCells);
    m_hexText->writeText(entry->hexText);
}
