// tx4410_icon_writer <file.png>: the programs' icon as the window shows it, for the desktop
// entries. Run by the build.
#include "artwork.h"

#include <QGuiApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fputs("usage: tx4410_icon_writer <file.png>\n", stderr);
        return 2;
    }
    return windowIconPicture().pixmap(32, 32).save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
