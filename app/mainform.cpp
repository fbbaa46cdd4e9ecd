#include "mainform.h"

#include "boardlibrary.h"
#include "commandtable.h"
#include "textbox.h"
#include "usbstuff.h"
#include "writetopart.h"

#include <QCoreApplication>
#include <QHash>
#include <QMessageBox>
#include <QMetaMethod>
#include <QVersionNumber>

#include <stdexcept>

namespace {

// The events the window handles, and nothing else: sender (a control, or an array's button
// group by the array's name), its signal, and the handler. Wired by signature so that each
// wire can be checked from outside by the same names.
struct Wire
{
    const char *sender;
    const char *signal;
    const char *handler;
};

constexpr Wire wiring[] = {
        {"cmdBitsOption", "idClicked(int)", "cmdBitsOptionClick(int)"},
        {"addressBitsOption", "idClicked(int)", "addressBitsOptionClick(int)"},
        {"clearCodeOption", "idClicked(int)", "clearCodeOptionClick(int)"},
        {"powerDownOption", "idClicked(int)", "powerDownOptionClick(int)"},
        {"refOption", "idClicked(int)", "refOptionClick(int)"},
        {"ResetOption", "idClicked(int)", "ResetOptionClick(int)"},
        {"LDACOverwriteCheck", "idClicked(int)", "LDACOverwriteCheckClick(int)"},
        {"powerDownCheck", "idClicked(int)", "powerDownCheckClick(int)"},
        {"hexText", "keyReleased()", "hexTextKeyUp()"},
        {"voltageText", "keyReleased()", "voltageTextKeyUp()"},
        {"VrefText", "textChanged(QString)", "VrefTextChange()"},
        {"writeToPartCommand", "clicked()", "writeToPartCommandClick()"},
        {"sampleCommand", "clicked()", "sampleCommandClick()"},
        {"autoSampleCheck", "clicked()", "autoSampleCheckClick()"},
        {"Option_MUX", "idClicked(int)", "Option_MUXClick(int)"},
        {"adcVddText", "focusMovedAway()", "adcVddTextLostFocus()"},
        {"sampleTimer", "timeout()", "sampleTimerTimer()"},
        {"CLRCheck", "clicked()", "CLRCheckClick()"},
        {"LDACCheck", "clicked()", "LDACCheckClick()"},
};

QMetaMethod methodOf(const QObject &object, const char *signature, bool signal)
{
    const QMetaObject *meta = object.metaObject();
    const int index = signal ? meta->indexOfSignal(signature) : meta->indexOfSlot(signature);
    if (index < 0)
        throw std::logic_error(std::string(object.metaObject()->className()) + " has no "
                               + signature);
    return meta->method(index);
}

CommandEditor::Controls editorControls(const MainFormControls &c)
{
    return {c.dataBitsFrame,   c.dataFrame,          c.addressBitsFrame, c.hexText,
            c.voltageText,     c.powerDownOption,    c.powerDownCheck,   c.ResetOption,
            c.clearCodeOption, c.LDACOverwriteCheck, c.refOption};
}

} // namespace

MainForm::MainForm(USBStuff &usb, QWidget *parent)
    : QWidget(parent)
    , m_usb(usb)
    , m_controls(buildMainFormLayout(*this))
    , m_errorBox(this)
    , m_device(usb, m_errorBox)
    , m_bits(m_controls.BitsDisplay)
    , m_editor(editorControls(m_controls), m_bits)
    , m_codeEntry(m_controls.hexText, m_controls.voltageText, m_controls.VrefText, m_bits)
    , m_readback({m_controls.adcVddText, m_controls.ADCDisplay, m_controls.autoSampleCheck,
                  m_controls.sampleTimer},
                 m_device)
    , m_pins({m_controls.CLRCheck, m_controls.CLRStateLabel, m_controls.LDACCheck,
              m_controls.LDACStateLabel},
             m_device)
{
    connectEvents();
}

MainForm::~MainForm() = default;

MainForm::LoadResult MainForm::load()
{
    const QVersionNumber version
            = QVersionNumber::fromString(QCoreApplication::applicationVersion());
    setWindowTitle(QStringLiteral("TX4410 Evaluation Software v%1.%2.%3")
                           .arg(version.majorVersion())
                           .arg(version.minorVersion())
                           .arg(version.microVersion()));
    try {
        if (!m_usb.bringUp([this] { return askToRetryBringUp(); }))
            return LoadResult::Cancelled;
        m_editor.ResetEditor();
        m_bits.ShowFieldMask(CommandTable::startMask);
        m_readback.ChooseReadbackChannel(0);
    } catch (const FirmwarePathTooLong &) {
        showStartupFailure(
                QStringLiteral("The program's folder path is too long for the board library "
                               "(at most %1 bytes with the firmware file name):\n%2")
                        .arg(USBStuff::maxPathBytes)
                        .arg(USBStuff::firmwarePath()));
        return LoadResult::Failed;
    } catch (const BoardLibraryError &error) {
        showStartupFailure(error.message());
        return LoadResult::Failed;
    }
    return LoadResult::Ready;
}

bool MainForm::askToRetryBringUp()
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Failed to initalise Evaluation board"),
                    QStringLiteral("Failed to initalise Evaluation board.\nInsure that the TX4418 "
                                   "Evaluation board is conected to a USB port and click Retry"),
                    QMessageBox::Retry | QMessageBox::Cancel, this);
    // Why, under the text; caption, text, icon and buttons stay as they are.
    box.setInformativeText(m_usb.bringUpFailure());
    box.setDefaultButton(QMessageBox::Retry);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Retry;
}

void MainForm::showStartupFailure(const QString &reason)
{
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), reason,
                    QMessageBox::Ok, this);
    box.exec();
}

void MainForm::connectEvents()
{
    // One walk of the window for all the senders rather than one per wire.
    QHash<QString, QObject *> named;
    for (QObject *object : findChildren<QObject *>())
        named.insert(object->objectName(), object);
    for (const Wire &wire : wiring) {
        QObject *sender = named.value(QLatin1String(wire.sender));
        if (!sender)
            throw std::logic_error(std::string("no control ") + wire.sender);
        if (!connect(sender, methodOf(*sender, wire.signal, true), this,
                     methodOf(*this, wire.handler, false)))
            throw std::logic_error(std::string("cannot wire ") + wire.sender + " to "
                                   + wire.handler);
    }
}

void MainForm::cmdBitsOptionClick(int index)
{
    m_editor.chooseCommand(index);
}

void MainForm::addressBitsOptionClick(int index)
{
    m_editor.chooseAddress(index);
}

void MainForm::clearCodeOptionClick(int index)
{
    m_editor.clearCodeOptionClick(index);
}

void MainForm::powerDownOptionClick(int index)
{
    m_editor.powerDownOptionClick(index);
}

void MainForm::refOptionClick(int index)
{
    m_editor.refOptionClick(index);
}

void MainForm::ResetOptionClick(int index)
{
    m_editor.ResetOptionClick(index);
}

void MainForm::LDACOverwriteCheckClick(int index)
{
    m_editor.LDACOverwriteCheckClick(index);
}

void MainForm::powerDownCheckClick(int index)
{
    m_editor.powerDownCheckClick(index);
}

void MainForm::hexTextKeyUp()
{
    m_codeEntry.UpdateFromHex();
}

void MainForm::voltageTextKeyUp()
{
    m_codeEntry.UpdateFromVoltage();
}

void MainForm::VrefTextChange()
{
    m_codeEntry.UpdateFromHex();
}

void MainForm::writeToPartCommandClick()
{
    writeToPart(m_bits, m_device);
}

void MainForm::sampleCommandClick()
{
    m_readback.TakeSample();
}

void MainForm::autoSampleCheckClick()
{
    m_readback.autoSampleCheckClick();
}

void MainForm::Option_MUXClick(int index)
{
    m_readback.ChooseReadbackChannel(index);
}

void MainForm::adcVddTextLostFocus()
{
    m_readback.TakeSample();
}

void MainForm::sampleTimerTimer()
{
    m_readback.sampleTimerTimer();
}

void MainForm::CLRCheckClick()
{
    m_pins.CLRCheckClick();
}

void MainForm::LDACCheckClick()
{
    m_pins.LDACCheckClick();
}
