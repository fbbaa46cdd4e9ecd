// tx4410-plot CSV|- FILE.png|FILE.svg
#include "sweepplot.h"

#include <QApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    // It never shows a window: no display needed, none used.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fputs("Usage: tx4410-plot CSV|- FILE.png|FILE.svg\n", stderr);
        return 2;
    }
    QFile input;
    const bool opened = arguments[1] == u"-"
            ? input.open(stdin, QIODevice::ReadOnly)
            : (input.setFileName(arguments[1]), input.open(QIODevice::ReadOnly));
    QString problem = opened ? QString() : arguments[1] + ": " + input.errorString();
    const std::optional<SweepTable> table
            = opened ? readSweepTable(input.readAll(), problem) : std::nullopt;
    if (!table || !drawSweep(*table, arguments[2], problem)) {
        std::fprintf(stderr, "%s\n", qPrintable(problem));
        return 1;
    }
    return 0;
}
