#include "commandeditor.h"

#include "bitdisplay.h"
#include "commandtable.h"
#include "textbox.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QRadioButton>

namespace {

template<typename Array> bool isMember(const Array &array, int index)
{
    return index >= 0 && static_cast<std::size_t>(index) < array.size();
}

int stateOf(const QCheckBox *box)
{
    return box->isChecked() ? 1 : 0;
}

} // namespace

CommandEditor::CommandEditor(const Controls &controls, BitDisplay &bits)
    : m_controls(controls)
    , m_bits(bits)
{ }

// Selecting a control from here runs no click handler of its own: every cell those handlers
// would write lies in cells 0 to 19, which the last step clears anyway.
void CommandEditor::ResetEditor()
{
    m_controls.hexText->writeText(QStringLiteral("0"));
    m_controls.voltageText->writeText(QStringLiteral("0"));
    m_controls.powerDownOption[0]->setChecked(true);
    for (QCheckBox *box : m_controls.powerDownCheck)
        box->setChecked(false);
    m_controls.clearCodeOption[0]->setChecked(true);
    for (QCheckBox *box : m_controls.LDACOverwriteCheck)
        box->setChecked(false);
    m_controls.refOption[0]->setChecked(true);
    m_bits.ShowBits(0, CommandTable::resetEditorCells);
}

void CommandEditor::chooseCommand(int index)
{
    if (!isMember(CommandTable::commands, index))
        return;
    const CommandTable::Command &command = CommandTable::commands[index];

    ResetEditor();
    m_controls.ResetOption[0]->setChecked(true);
    m_bits.ShowBits(index, commandCells);
    for (QGroupBox *panel : m_controls.dataBitsFrame)
        panel->hide();
    m_controls.dataBitsFrame[index]->show();
    m_controls.dataFrame->setVisible(command.showsDataFrame);
    m_controls.addressBitsFrame->setVisible(command.showsAddressBitsFrame);
    m_bits.ShowFieldMask(command.fieldMask);
}

// A code typed before the address choice is lost: the editor returns to its defaults first.
void CommandEditor::chooseAddress(int index)
{
    if (!isMember(CommandTable::addressCodes, index))
        return;
    ResetEditor();
    m_bits.ShowBits(CommandTable::addressCodes[index], addressCells);
}

void CommandEditor::powerDownOptionClick(int index)
{
    if (isMember(m_controls.powerDownOption, index))
        m_bits.ShowBits(index, CommandTable::powerDownOptionCells);
}

void CommandEditor::powerDownCheckClick(int index)
{
    if (isMember(m_controls.powerDownCheck, index)) {
        m_bits.ShowBits(stateOf(m_controls.powerDownCheck[index]),
                        CommandTable::powerDownCheckCells(index));
    }
}

void CommandEditor::ResetOptionClick(int index)
{
    if (isMember(m_controls.ResetOption, index))
        m_bits.ShowBits(index, CommandTable::ResetOptionCells);
}

void CommandEditor::clearCodeOptionClick(int index)
{
    if (isMember(m_controls.clearCodeOption, index))
        m_bits.ShowBits(index, CommandTable::clearCodeOptionCells);
}

void CommandEditor::LDACOverwriteCheckClick(int index)
{
    if (isMember(m_controls.LDACOverwriteCheck, index)) {
        m_bits.ShowBits(stateOf(m_controls.LDACOverwriteCheck[index]),
                        CommandTable::LDACOverwriteCheckCells(index));
    }
}

void CommandEditor::refOptionClick(int index)
{
    if (isMember(m_controls.refOption, index))
        m_bits.ShowBits(index, CommandTable::refOptionCells);
}
