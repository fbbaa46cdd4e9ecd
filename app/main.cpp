#include "commandline.h"
#include "mainform.h"
#include "programidentity.h"
#include "usbstuff.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    if (const auto information
        = CommandLine::informationRequested({argv, argv + argc}, thisProgram)) {
        std::fputs(information->c_str(), stdout);
        return EXIT_SUCCESS;
    }

    QApplication application(argc, argv); // takes Qt's own options out of argv
    if (const auto complaint = CommandLine::leftOverArgument(QCoreApplication::arguments())) {
        std::fputs(complaint->c_str(), stderr);
        return CommandLine::unknownArgumentStatus;
    }
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
