// TX4410-startup: one start-up of the program's window, or of a reference window of its size,
// ending the process at its first show (or first paint). hyperfine times whole processes of it.
#include "mainform.h"
#include "programidentity.h"
#include "usbstuff.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWindow>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr int statusNotMeasured = 2;
constexpr int giveUpAfterMs = 20000;
constexpr QSize programWindowSize(688, 504);
constexpr int gridColumns = 8;

// How many controls of each plain Qt kind a window holds; the program's own kinds count as the
// Qt kind they are made from, drawn shapes and lines as others.
struct Census
{
    int frames = 0, optionButtons = 0, checkBoxes = 0, textBoxes = 0, commandButtons = 0,
        digitDisplays = 0, labels = 0, others = 0;
    bool operator==(const Census &) const = default;
};

// The program's window, counted; the program's run checks that this still holds.
constexpr Census programControls {17, 38, 19, 4, 2, 33, 22, 3};

// The named widgets: the program names every control it makes.
Census censusOf(const QWidget &window)
{
    Census c;
    for (const QWidget *w : window.findChildren<QWidget *>()) {
        if (w->objectName().isEmpty())
            continue;
        int &kind = qobject_cast<const QGroupBox *>(w)  ? c.frames
                : qobject_cast<const QRadioButton *>(w) ? c.optionButtons
                : qobject_cast<const QCheckBox *>(w)    ? c.checkBoxes
                : qobject_cast<const QLineEdit *>(w)    ? c.textBoxes
                : qobject_cast<const QPushButton *>(w)  ? c.commandButtons
                : qobject_cast<const QLCDNumber *>(w)   ? c.digitDisplays
                : qobject_cast<const QLabel *>(w)       ? c.labels
                                                        : c.others;
        ++kind;
    }
    return c;
}

// As many plain Qt controls as the program's window holds, made as a user writes them by hand:
// one loop per kind into the cells of a grid, every one shown, no fonts, palettes or artwork.
void fillPlainly(QWidget &window, const Census &c)
{
    const int total = c.frames + c.optionButtons + c.checkBoxes + c.textBoxes + c.commandButtons
            + c.digitDisplays + c.labels + c.others;
    const int rows = (total + gridColumns - 1) / gridColumns;
    const QSize cell(window.width() / gridColumns, window.height() / rows);
    int placed = 0;
    const auto place = [&](QWidget *control) {
        control->setGeometry(QRect(
                QPoint(placed % gridColumns * cell.width(), placed / gridColumns * cell.height()),
                cell));
        ++placed;
    };
    for (int i = 0; i < c.frames; ++i)
        place(new QGroupBox(QStringLiteral("Frame %1").arg(i), &window));
    for (int i = 0; i < c.optionButtons; ++i)
        place(new QRadioButton(QStringLiteral("Option %1").arg(i), &window));
    for (int i = 0; i < c.checkBoxes; ++i)
        place(new QCheckBox(QStringLiteral("Check %1").arg(i), &window));
    for (int i = 0; i < c.textBoxes; ++i)
        place(new QLineEdit(QString::number(i), &window));
    for (int i = 0; i < c.commandButtons; ++i)
        place(new QPushButton(QStringLiteral("Button %1").arg(i), &window));
    for (int i = 0; i < c.digitDisplays; ++i)
        place(new QLCDNumber(1, &window));
    for (int i = 0; i < c.labels; ++i)
        place(new QLabel(QStringLiteral("Label %1").arg(i), &window));
    for (int i = 0; i < c.others; ++i) {
        auto *line = new QFrame(&window);
        line->setFrameShape(QFrame::Box);
        place(line);
    }
}

[[noreturn]] void fail(const char *why)
{
    std::fprintf(stderr, "error: could not measure: start-up: %s\n", why);
    std::_Exit(statusNotMeasured);
}

// Ends the process at the window's first show, or just after its first paint has been flushed:
// nothing after that moment is measured, teardown included. With `report`, first prints the
// peak resident size and checks that the program's window still holds what the reference copies.
class EndAtFirstSight final : public QObject
{
public:
    EndAtFirstSight(QWidget &window, bool atPaint, bool report, bool isProgram)
        : m_window(window)
        , m_atPaint(atPaint)
        , m_report(report)
        , m_isProgram(isProgram)
    {
        m_window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == &m_window) {
            if (event->type() == QEvent::Show) {
                if (!m_atPaint)
                    end();
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
                end();
            return true;
        }
        return false;
    }

private:
    void end() const
    {
        if (m_report) {
            if (m_isProgram
                && (m_window.size() != programWindowSize
                    || !(censusOf(m_window) == programControls)))
                fail("the window no longer holds what the reference windows copy");
            rusage usage {};
            getrusage(RUSAGE_SELF, &usage);
            std::printf("peak_kib %ld\n", usage.ru_maxrss);
            std::fflush(stdout);
        }
        std::_Exit(EXIT_SUCCESS);
    }

    QWidget &m_window;
    bool m_atPaint;
    bool m_report;
    bool m_isProgram;
    int m_paints = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    const char *kind = argc > 1 ? argv[1] : "";
    bool atPaint = false;
    bool report = false;
    for (int i = 2; i < argc; ++i) {
        atPaint = atPaint || std::strcmp(argv[i], "--paint") == 0;
        report = report || std::strcmp(argv[i], "--report") == 0;
    }
    const bool isProgram = std::strcmp(kind, "program") == 0;
    if (!isProgram && std::strcmp(kind, "bare") != 0 && std::strcmp(kind, "label") != 0
        && std::strcmp(kind, "controls") != 0) {
        std::fputs("Usage: TX4410-startup program|bare|label|controls [--paint] [--report]\n"
                   "Starts that window and ends at its first show (--paint: its first paint);\n"
                   "--report prints the peak resident size and checks the program's window.\n",
                   stderr);
        return statusNotMeasured;
    }

    QApplication application(argc, argv);
    QTimer::singleShot(giveUpAfterMs, [] { fail("the window was never shown and painted"); });
    std::unique_ptr<USBStuff> usb;
    std::unique_ptr<QWidget> window;
    if (isProgram) {
        // As the program's main() does.
        QCoreApplication::setApplicationName(QString::fromUtf8(thisProgram.title));
        QCoreApplication::setApplicationVersion(QString::fromUtf8(thisProgram.version));
        usb = makeUSBStuff(thisProgram.boardLibrary);
        auto form = std::make_unique<MainForm>(*usb);
        if (form->load() != MainForm::LoadResult::Ready)
            fail("the program did not bring the board up");
        window = std::move(form);
    } else {
        window = std::make_unique<QWidget>();
        window->setFixedSize(programWindowSize);
        if (std::strcmp(kind, "label") == 0)
            new QLabel(QStringLiteral("TX4410 Evaluation Software"), window.get());
        else if (std::strcmp(kind, "controls") == 0)
            fillPlainly(*window, programControls);
    }
    EndAtFirstSight end(*window, atPaint, report, isProgram);
    window->show();
    application.exec();
    fail("the event loop ended before the window was shown");
}
