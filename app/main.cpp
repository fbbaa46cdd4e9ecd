#include "mainform.h"
#include "programidentity.h"
#include "usbstuff.h"

#include <QApplication>

#include <cstdlib>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QCoreApplication::setApplicationName(QString::fromUtf8(thisProgram.title));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(thisProgram.version));

    const std::unique_ptr<USBStuff> usb = makeUSBStuff(thisProgram.boardLibrary);
    MainForm form(*usb);
    switch (form.load()) {
    case MainForm::LoadResult::Cancelled:
        return EXIT_SUCCESS;
    case MainForm::LoadResult::Failed:
        return EXIT_FAILURE;
    case MainForm::LoadResult::Ready:
        break;
    }
    form.show();
    return application.exec();
}
