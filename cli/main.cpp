#include "cliprogram.h"
#include "cliversion.h"

#include <QCoreApplication>

#include <cstdio>

#include <fcntl.h>

int main(int argc, char *argv[])
{
    // A standard stream closed by the caller keeps its number, opened on /dev/null the other
    // way round: every read or write there fails as on a closed one, and no file opened later
    // (the board trace, Qt's own) is taken for it.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1)
            ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    }
    const QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tx4410-cli"));
    QCoreApplication::setApplicationVersion(QLatin1String(cliVersion));

    QTextStream out(stdout);
    QTextStream err(stderr);
    return runCli(QCoreApplication::arguments().mid(1), out, err);
}
