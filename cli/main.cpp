#include "cliprogram.h"
#include "cliversion.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tx4410-cli"));
    QCoreApplication::setApplicationVersion(QLatin1String(cliVersion));

    QTextStream out(stdout);
    QTextStream err(stderr);
    return runCli(QCoreApplication::arguments().mid(1), out, err);
}
