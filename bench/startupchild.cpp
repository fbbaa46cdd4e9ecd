#include "startupchild.h"

#include "controlcensus.h"
#include "mainform.h"
#include "modalwatchdog.h"
#include "monotonicclock.h"
#include "programidentity.h"
#include "usbstuff.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QRegularExpression>
#include <QTimer>
#include <QWindow>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

namespace {

constexpr int giveUpAfterMs = 20000;

long peakResidentKib()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss; // KiB on Linux
}

// Watches a top-level widget for its first show and for the first expose or update of its
// native window that paints it; reports the moment just after that paint.
class FirstPaintProbe final : public QObject
{
public:
    FirstPaintProbe(QWidget &window, std::function<void(std::int64_t, std::int64_t)> painted)
        : m_window(window)
        , m_painted(std::move(painted))
    {
        m_window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == &m_window) {
            if (event->type() == QEvent::Show && m_shownAt == 0) {
                m_shownAt = monotonicNanoseconds();
                // The native window exists once the widget is being shown.
                if (QWindow *native = m_window.windowHandle())
                    native->installEventFilter(this);
            } else if (event->type() == QEvent::Paint) {
                ++m_paints;
            }
            return false;
        }
        if (event->type() == QEvent::Expose || event->type() == QEvent::UpdateRequest) {
            const int before = m_paints;
            // The window's own handling paints and flushes; run it here to know when it ended.
            watched->event(event);
            if (m_paints > before)
                m_painted(m_shownAt, monotonicNanoseconds());
            return true;
        }
        return false;
    }

private:
    QWidget &m_window;
    std::function<void(std::int64_t, std::int64_t)> m_painted;
    std::int64_t m_shownAt = 0;
    int m_paints = 0;
};

[[noreturn]] void reportAndEnd(const StartupRun &run, StartupWindow window)
{
    std::fputs(run.toLine(window).toUtf8().append('\n').constData(), stdout);
    std::fflush(stdout);
    // Nothing after the first paint is measured: skip the teardown.
    std::_Exit(EXIT_SUCCESS);
}

int fail(const char *why)
{
    std::fprintf(stderr, "error: start-up child: %s\n", why);
    return 2;
}

// A reference window: a plain widget of the program window's size, empty, with one line of
// text, or filled with as many plain controls.
std::unique_ptr<QWidget> plainWindow(StartupWindow window)
{
    auto plain = std::make_unique<QWidget>();
    plain->setFixedSize(programWindowSize);
    if (window == StartupWindow::Label)
        new QLabel(QStringLiteral("TX4410 Evaluation Software"), plain.get());
    else if (window == StartupWindow::Controls)
        programControls.fillPlainly(*plain);
    return plain;
}

// What no longer holds of what the plain windows copy from the program's window; empty when
// all does.
QString unlikeThePlainWindows(const QWidget &program)
{
    if (program.size() != programWindowSize)
        return QStringLiteral("the window is no longer the size the plain windows copy");
    if (const ControlCensus census = ControlCensus::of(program); census != programControls) {
        return QStringLiteral("the window now holds %1; the plain-controls window copies %2")
                .arg(census.toString(), programControls.toString());
    }
    return {};
}

} // namespace

QString startupWindowName(StartupWindow window)
{
    switch (window) {
    case StartupWindow::Program:
        return QStringLiteral("program");
    case StartupWindow::Bare:
        return QStringLiteral("bare");
    case StartupWindow::Label:
        return QStringLiteral("label");
    case StartupWindow::Controls:
        return QStringLiteral("controls");
    }
    return {};
}

std::optional<StartupWindow> startupWindowNamed(const QString &name)
{
    for (const StartupWindow window : startupWindows) {
        if (startupWindowName(window) == name)
            return window;
    }
    return std::nullopt;
}

QString StartupRun::toLine(StartupWindow window) const
{
    return QStringLiteral("startup-child window=%1 main_ns=%2 application_ns=%3 layout_ns=%4 "
                          "load_ns=%5 shown_ns=%6 painted_ns=%7 peak_kib=%8")
            .arg(startupWindowName(window))
            .arg(mainNs)
            .arg(applicationNs)
            .arg(layoutNs)
            .arg(loadNs)
            .arg(shownNs)
            .arg(paintedNs)
            .arg(peakKib);
}

std::optional<StartupRun> StartupRun::fromLine(const QString &line)
{
    static const QRegularExpression pattern(QStringLiteral(
            "^startup-child window=\\w+ main_ns=(\\d+) application_ns=(\\d+) layout_ns=(\\d+) "
            "load_ns=(\\d+) shown_ns=(\\d+) painted_ns=(\\d+) peak_kib=(\\d+)$"));
    const QRegularExpressionMatch match = pattern.match(line.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const auto at = [&](int group) {
        return match.captured(group).toLongLong();
    };
    StartupRun run;
    run.mainNs = at(1);
    run.applicationNs = at(2);
    run.layoutNs = at(3);
    run.loadNs = at(4);
    run.shownNs = at(5);
    run.paintedNs = at(6);
    run.peakKib = long(at(7));
    return run;
}

int runStartupChild(int &argc, char **argv, StartupWindow window, std::int64_t spawnedAt,
                    std::int64_t mainAt)
{
    const auto sinceSpawned = [spawnedAt] {
        return monotonicNanoseconds() - spawnedAt;
    };
    StartupRun run;
    run.mainNs = mainAt - spawnedAt;

    QApplication application(argc, argv);
    ModalWatchdog watchdog;
    QTimer::singleShot(giveUpAfterMs, [] { std::_Exit(fail("the window was never painted")); });
    if (window == StartupWindow::Program) {
        // As the program's main() does.
        QCoreApplication::setApplicationName(QString::fromUtf8(thisProgram.title));
        QCoreApplication::setApplicationVersion(QString::fromUtf8(thisProgram.version));
    }
    run.applicationNs = sinceSpawned();

    std::unique_ptr<USBStuff> usb;
    std::unique_ptr<QWidget> shown;
    if (window == StartupWindow::Program) {
        usb = makeUSBStuff(thisProgram.boardLibrary);
        auto form = std::make_unique<MainForm>(*usb);
        run.layoutNs = sinceSpawned();
        if (form->load() != MainForm::LoadResult::Ready)
            return fail("start-up did not bring the board up");
        run.loadNs = sinceSpawned();
        shown = std::move(form);
    } else {
        shown = plainWindow(window);
        run.layoutNs = run.loadNs = sinceSpawned();
    }

    FirstPaintProbe probe(*shown, [&](std::int64_t shownAt, std::int64_t paintedAt) {
        run.shownNs = shownAt - spawnedAt;
        run.paintedNs = paintedAt - spawnedAt;
        run.peakKib = peakResidentKib();
        // Checked after the last moment measured, so that the check costs the run nothing.
        if (window == StartupWindow::Program) {
            if (const QString change = unlikeThePlainWindows(*shown); !change.isEmpty())
                std::_Exit(fail(change.toUtf8().constData()));
        }
        reportAndEnd(run, window);
    });
    shown->show();
    application.exec();
    return fail("the event loop ended before the first paint");
}
