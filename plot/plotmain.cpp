// tx4410-plot CSV|- FILE.png|FILE.svg
#include "sweepplot.h"
#include "wholefile.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstring>

namespace {

const char usage[]
        = "Usage: tx4410-plot [--residuals] CSV|- FILE.png|FILE.svg\n"
          "Draws the picture of a sweep from the CSV that tx4410-cli sweep --csv wrote (- for\n"
          "standard input): the error against the ideal, the INL with its resolution band, and\n"
          "the DNL and step errors with the carries measured code by code, on one code axis.\n"
          "No display is needed. tx4410-cli sweep --plot runs it.\n"
          "  --residuals    the residuals of a calibration certificate's CSV, each channel's\n"
          "                 against code (tx4410-cli history --export --plot runs it)\n"
          "  -h, --help     this text\n"
          "  -v, --version  the version\n"
          "Exit status: 0 drawn, 1 the CSV cannot be read or the picture cannot be written,\n"
          "2 usage error.\n";

// Qt's notes about the offscreen platform are no business of the user's: only failures show.
void criticalOnly(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "tx4410-plot: %s\n", qPrintable(message.simplified()));
}

int refuse(const char *message, const char *what)
{
    std::fprintf(stderr, "tx4410-plot: %s%s\n(see tx4410-plot --help)\n", message, what);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    // Before Qt starts: the program's own words need no platform.
    if (argc == 2 && (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help"))) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (argc == 2 && (!std::strcmp(argv[1], "-v") || !std::strcmp(argv[1], "--version"))) {
        std::puts("tx4410-plot " TX4410_PLOT_VERSION);
        return 0;
    }
    const bool residuals = argc == 4 && !std::strcmp(argv[1], "--residuals");
    if (residuals) {
        --argc;
        ++argv;
    }
    if (argc != 3)
        return refuse("takes a CSV and a picture file", "");
    const QString file = QFile::decodeName(argv[2]);
    const QString suffix = QFileInfo(file).suffix().toLower();
    if (suffix != u"png" && suffix != u"svg")
        return refuse("cannot write this kind of picture, only .png and .svg: ", argv[2]);
    // It never shows a window: no display needed, none used.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(criticalOnly);
    QApplication application(argc, argv);
    const QString source = QFile::decodeName(argv[1]);
    QFile input;
    const bool opened = source == u"-"
            ? input.open(stdin, QIODevice::ReadOnly)
            : (input.setFileName(source), input.open(QIODevice::ReadOnly));
    QString problem = opened ? QString() : source + ": " + input.errorString();
    const QByteArray text = opened ? input.readAll() : QByteArray();
    std::optional<QByteArray> picture;
    if (opened && residuals) {
        picture = drawResiduals(text, suffix == u"svg", problem);
    } else if (opened) {
        const std::optional<SweepTable> table = readSweepTable(text, problem);
        picture = table ? drawSweep(*table, suffix == u"svg", problem) : std::nullopt;
    }
    if (picture) {
        if (const QString error = Sweep::writeWhole(file, *picture); !error.isEmpty())
            problem = QStringLiteral("cannot write %1: %2").arg(file, error);
    }
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(problem.simplified()));
        return 1;
    }
    return 0;
}
