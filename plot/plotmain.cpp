// tx4410-plot CSV|- FILE.png|FILE.svg
#include "sweepplot.h"

#include <QApplication>
#include <QFile>

#include <cstdio>

namespace {

// Qt's notes about the offscreen platform are no business of the user's: only failures show.
void criticalOnly(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char *argv[])
{
    // It never shows a window: no display needed, none used.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(criticalOnly);
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
