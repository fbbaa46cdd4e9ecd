#include "benchwindow.h"

#include "boardlibrarylocation.h"
#include "mainform.h"
#include "usbstuff.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QTest>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace {

class ModalWatchdog final : public QObject
{
public:
    ModalWatchdog() { startTimer(100); }

protected:
    void timerEvent(QTimerEvent *) override
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        const auto *box = qobject_cast<QMessageBox *>(modal);
        // Start-up offers Retry only when the board did not come up.
        const char *why = box && box->button(QMessageBox::Retry) ? "the board was not found"
                                                                 : "a box opened during the run";
        const QString text = box ? box->windowTitle() + QStringLiteral(": ") + box->text()
                                 : QString::fromLatin1(modal->metaObject()->className());
        std::fprintf(stderr, "error: could not measure: %s (%s)\n", why,
                     text.toLocal8Bit().constData());
        std::_Exit(2);
    }
};

} // namespace

BenchWindow::BenchWindow()
    : m_watchdog(std::make_unique<ModalWatchdog>())
    , m_usb(makeUSBStuff(BoardLibraryForm::FourFunction))
    , m_form(std::make_unique<MainForm>(*m_usb))
{
    if (m_form->load() != MainForm::LoadResult::Ready)
        throw std::runtime_error("the board was not found: start-up did not bring it up");
    m_form->show();
    if (!QTest::qWaitForWindowExposed(m_form.get()))
        throw std::runtime_error("no window: it was never exposed");
    m_form->activateWindow();
    if (!QTest::qWaitForWindowActive(m_form.get()))
        throw std::runtime_error("no window: it never became active");
    paintPending();

    // The program bound the library already; this only takes another reference to it.
    m_library = dlopen(fourFunctionLibraryPath, RTLD_NOW | RTLD_NOLOAD);
    if (!m_library)
        throw std::runtime_error(std::string("the board library is not loaded: ")
                                 + fourFunctionLibraryPath);
    m_readState = reinterpret_cast<SimulatedBoardReadStateFunction>(
            libraryFunction("SimulatedBoard_ReadState"));
}

BenchWindow::~BenchWindow()
{
    if (m_library)
        dlclose(m_library);
}

QWidget *BenchWindow::window() const
{
    return m_form.get();
}

void BenchWindow::paintPending()
{
    QCoreApplication::sendPostedEvents();
    QEvent update(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(m_form.get(), &update);
}

void *BenchWindow::libraryFunction(const char *name) const
{
    void *function = dlsym(m_library, name);
    if (!function)
        throw std::runtime_error(std::string("the board library has no ") + name);
    return function;
}

SimulatedBoardState BenchWindow::boardState() const
{
    SimulatedBoardState state {};
    if (m_readState(&state) != 0)
        throw std::runtime_error("the simulated board does not answer; is TX4410_BOARD=sim?");
    return state;
}
