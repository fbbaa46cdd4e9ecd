#include "requestoverhead.h"

#include "benchreport.h"
#include "benchwindow.h"
#include "errorbox.h"
#include "mainform.h"
#include "requestencoding.h"
#include "samples.h"
#include "tx4418.h"
#include "usbstuff.h"

#include <QElapsedTimer>

#include <array>
#include <stdexcept>

namespace {

constexpr double overheadLimitUs = 2;
constexpr std::int16_t channelA = 1;

using VendorRequestFunction
        = std::int16_t (*)(std::int32_t, std::uint8_t, std::int32_t, std::int32_t, std::uint8_t,
                           std::int16_t, std::uint8_t *);

} // namespace

RequestOverhead::RequestOverhead(BenchWindow &window, int batches, int callsPerBatch)
    : m_window(window)
    , m_batches(batches)
    , m_callsPerBatch(callsPerBatch)
{ }

void RequestOverhead::run(BenchReport &report)
{
    ErrorBox errorBox(&m_window.form());
    TX4418 device(m_window.usb(), errorBox);
    const auto direct
            = reinterpret_cast<VendorRequestFunction>(m_window.libraryFunction("Vendor_Request"));
    const std::int32_t handle = m_window.usb().boardHandle();
    const VendorRequestFields fields = RequestEncoding::selectMuxChannel(channelA);

    // A failing request through the device would open a box (the watchdog ends the run then);
    // the direct calls report their status here.
    int failedDirect = 0;
    const auto throughProgram = [&] {
        for (int i = 0; i < m_callsPerBatch; ++i)
            device.SelectMuxChannel(channelA);
    };
    const auto straight = [&] {
        for (int i = 0; i < m_callsPerBatch; ++i) {
            // A fresh zeroed buffer per call, as the device layer gives every request.
            std::array<std::uint8_t, 1> buffer {};
            if (direct(handle, fields.code, fields.value, fields.index, fields.direction,
                       fields.length, buffer.data())
                != 0)
                ++failedDirect;
        }
    };
    const auto timed = [](const auto &calls) {
        QElapsedTimer timer;
        timer.start();
        calls();
        return timer.nsecsElapsed();
    };

    throughProgram(); // warm-up: binds the function, fills the caches
    straight();
    Samples programUs;
    Samples directUs;
    Samples overheadUs;
    for (int batch = 0; batch < m_batches; ++batch) {
        // Each way goes first every other batch, so that a drift of the machine hits both.
        qint64 programNs = 0;
        qint64 directNs = 0;
        if (batch % 2 == 0) {
            programNs = timed(throughProgram);
            directNs = timed(straight);
        } else {
            directNs = timed(straight);
            programNs = timed(throughProgram);
        }
        programUs.add(double(programNs) / 1e3 / m_callsPerBatch);
        directUs.add(double(directNs) / 1e3 / m_callsPerBatch);
        overheadUs.add(double(programNs - directNs) / 1e3 / m_callsPerBatch);
    }
    if (failedDirect != 0)
        throw std::runtime_error("direct Vendor_Request calls failed");
    if (m_window.boardState().muxMask != channelA)
        throw std::runtime_error("the requests did not select channel A");

    report.count(QStringLiteral("request.batches"), m_batches);
    report.count(QStringLiteral("request.calls_per_batch"), m_callsPerBatch);
    report.figure(QStringLiteral("request.program.median_us"), programUs.median(), 3);
    report.figure(QStringLiteral("request.library.median_us"), directUs.median(), 3);
    report.figure(QStringLiteral("request.overhead.median_us"), overheadUs.median(), 3);
    report.target(QStringLiteral("request.overhead.median_us"), overheadUs.median(),
                  BenchReport::Bound::Below, overheadLimitUs, 3);
}
