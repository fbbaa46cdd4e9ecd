#include "mainform.h"

#include "boardlibrary.h"
#include "usbstuff.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QVersionNumber>

MainForm::MainForm(USBStuff &usb, QWidget *parent)
    : QWidget(parent)
    , m_usb(usb)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("TX4410 Evaluation Software"));
    setFixedSize(688, 504);
}

MainForm::~MainForm() = default;

MainForm::LoadResult MainForm::load()
{
    const QVersionNumber version =
            QVersionNumber::fromString(QCoreApplication::applicationVersion());
    setWindowTitle(QStringLiteral("TX4410 Evaluation Software v%1.%2.%3")
                           .arg(version.majorVersion())
                           .arg(version.minorVersion())
                           .arg(version.microVersion()));
    try {
        m_usb.SetFirmwarePath(USBStuff::firmwarePath());
        while (!m_usb.isBoardUp(m_usb.InitialiseBoard())) {
            if (!askToRetryBringUp())
                return LoadResult::Cancelled;
        }
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
