// Boards in a umockdev testbed for a program that runs under it, for tests in Python: run under
// umockdev-wrapper as `bedhost PORT... -- PROGRAM ARGUMENT...`, with a bare board at 1-1 and at
// each PORT. It passes the program's standard error on, and takes lines on standard input:
// "plug PORT", "unplug PORT", "log" (the transfers since the last, each board's behind its port,
// then "end"), "hold" (a board let run stays off the bus) and "release", "slow MS" (it is
// off the bus that long), "run PROGRAM ARGUMENT..."
// (its output, then "end"), "stop" (SIGTERM to the program, then "exit STATUS" once it ends).
#include "usbtestbed.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <cstdio>

#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    // The testbed's GLib sources run on its own thread alone: this loop is Qt's own, not GLib's
    // default context (the program it runs keeps GLib's, which its DNS-SD needs).
    qputenv("QT_NO_GLIB", "1");
    const QCoreApplication application(argc, argv);
    qunsetenv("QT_NO_GLIB");
    QStringList arguments = QCoreApplication::arguments().mid(1);
    const qsizetype split = arguments.indexOf(QStringLiteral("--"));
    if (split < 0 || split + 1 >= arguments.size()) {
        std::fputs("usage: bedhost PORT... -- PROGRAM ARGUMENT...\n", stderr);
        return 2;
    }
    UsbTestbed &bed = UsbTestbed::instance();
    for (const QString &port : arguments.first(split))
        bed.plug(port.toLatin1(), "6666:4400");
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.setStandardOutputFile(QProcess::nullDevice());
    // The program goes with the bed, however the bed ends.
    program.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    program.start(arguments[split + 1], arguments.mid(split + 2));
    QTextStream out(stdout);
    QObject::connect(&program, &QProcess::finished, [&](int status, QProcess::ExitStatus how) {
        out << "exit " << (how == QProcess::NormalExit ? status : -1) << Qt::endl;
        QCoreApplication::exit(0);
    });
    QSocketNotifier input(0, QSocketNotifier::Read);
    QByteArray pending; // read with read(2): a stdio buffer would hide lines from the notifier
    const auto command = [&](const QByteArray &line) {
        const QList<QByteArray> words = line.trimmed().split(' ');
        if (words[0] == "plug" && words.size() == 2)
            bed.plug(words[1], "6666:4400");
        else if (words[0] == "unplug" && words.size() == 2)
            bed.unplug(words[1]);
        else if (words[0] == "log")
            out << (bed.takeLog() << QStringLiteral("end")).join(u'\n') << Qt::endl;
        else if (words[0] == "slow" && words.size() == 2)
            bed.setBackAfter(words[1].toInt());
        else if (words[0] == "hold" || words[0] == "release")
            bed.setRun(UsbTestbed::Fault::None, words[0] == "release");
        else if (words[0] == "run" && words.size() > 1) {
            QProcess run;
            QStringList arguments;
            for (const QByteArray &word : words.mid(2))
                arguments << QString::fromLocal8Bit(word);
            run.setProcessChannelMode(QProcess::MergedChannels);
            run.start(QString::fromLocal8Bit(words[1]), arguments);
            run.waitForFinished(30000);
            out << run.readAll() << "end" << Qt::endl;
        } else if (words[0] == "stop")
            program.terminate();
    };
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char bytes[4096];
        const ssize_t got = ::read(0, bytes, sizeof bytes);
        if (got <= 0) {
            input.setEnabled(false);
            program.terminate();
            return;
        }
        pending.append(bytes, got);
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1))
            command(pending.left(end));
    });
    return QCoreApplication::exec();
}
