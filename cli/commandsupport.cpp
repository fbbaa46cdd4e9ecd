#include "commandsupport.h"

#include "boardinventory.h"
#include "boardlibrary.h"
#include "cliprogram.h"
#include "interruption.h"
#include "scpimeter.h"
#include "sessiondevice.h"

#include <QEventLoop>
#include <QSocketNotifier>

#include <cmath>

#include <unistd.h>

namespace {

QString durationText(double seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(std::ceil(seconds));
    return QStringLiteral("%1 min %2 s").arg(int(seconds) / 60).arg(int(seconds) % 60);
}

} // namespace

DeviceTarget::DeviceTarget(SessionDevice &device)
    : m_device(device)
{ }

bool DeviceTarget::sendWord(std::int32_t word)
{
    m_device.sendWord(word);
    return !m_device.failure();
}

bool DeviceTarget::selectReadback(int channel)
{
    m_device.selectChannel(channel);
    return !m_device.failure();
}

std::optional<std::int32_t> DeviceTarget::readAdc()
{
    const std::int32_t code = m_device.readAdc();
    return m_device.failure() ? std::nullopt : std::optional(code);
}

QString DeviceTarget::failure() const
{
    return m_device.failure() ? m_device.failure()->message : QString();
}

void runUntilInterrupted(QEventLoop &loop, const std::function<void()> &interrupted)
{
    QSocketNotifier wake(interruptionDescriptor(), QSocketNotifier::Read);
    QObject::connect(&wake, &QSocketNotifier::activated, &loop, [&] {
        wake.setEnabled(false);
        interrupted();
    });
    if (isInterrupted()) {
        wake.setEnabled(false);
        interrupted();
    }
    loop.exec();
}

ProgressLine::ProgressLine(QTextStream &err, QString what, std::size_t total)
    : m_err(err)
    , m_what(std::move(what))
    , m_total(total)
    , m_shown(::isatty(STDERR_FILENO) == 1)
{ }

ProgressLine::~ProgressLine()
{
    clear();
}

void ProgressLine::update(std::size_t done)
{
    if (!m_shown)
        return;
    const auto now = Clock::now();
    if (done < m_total && now - m_drawn < std::chrono::milliseconds(100))
        return;
    m_drawn = now;
    const double elapsed = std::chrono::duration<double>(now - m_start).count();
    m_err << QStringLiteral("\r%1: %2/%3 points, %4%, %5 left\x1b[K")
                     .arg(m_what)
                     .arg(done)
                     .arg(m_total)
                     .arg(100 * done / m_total)
                     .arg(durationText(elapsed / double(done) * double(m_total - done)));
    m_err.flush();
    m_drawing = true;
}

void ProgressLine::clear()
{
    if (m_drawing)
        m_err << "\r\x1b[K";
    m_err.flush();
    m_drawing = false;
}

int reachMeter(Sweep::ScpiMeter &meter, const std::function<void(const QString &)> &complain)
{
    QEventLoop loop;
    bool reached = false;
    QObject::connect(&meter, &Sweep::Source::prepared, &loop, [&](bool ok) {
        reached = ok;
        loop.quit();
    });
    meter.prepare();
    runUntilInterrupted(loop, [&] {
        meter.cancel();
        loop.quit();
    });
    if (!reached) {
        complain(meter.failure());
        return isInterrupted() ? interruptedStatus() : ExitStatus::meterFailed;
    }
    return ExitStatus::done;
}

QString chosenBoard(USBStuff &usb)
{
    QString board;
    try {
        std::int16_t status = 0;
        board = QString::fromLatin1(readSettings(usb, status).port);
        for (const BoardListEntry &entry : listBoards(usb).boards) {
            if (board.isEmpty() && entry.access == 0)
                board = QString::fromLatin1(entry.port);
        }
    } catch (const BoardLibraryError &) { }
    return board;
}
