#include "requestoverhead.h"

#include "benchbuild.h"
#include "benchreport.h"
#include "monotonicclock.h"
#include "requestencoding.h"
#include "requestfailurereporter.h"
#include "samples.h"
#include "tx4418.h"
#include "usbstufffourfunction.h"

#include <dlfcn.h>

#include <array>
#include <stdexcept>
#include <string>

namespace {

constexpr double overheadLimitUs = 2;
constexpr std::int16_t channelA = 1;

using VendorRequestFunction
        = std::int16_t (*)(std::int32_t, std::uint8_t, std::int32_t, std::int32_t, std::uint8_t,
                           std::int16_t, std::uint8_t *);
using TakeFunction = void (*)(std::int64_t *, std::int64_t *);

// One batch, per call: its whole time, the library's time inside it, and the rest.
struct BatchTimes
{
    double wholeUs;
    double libraryUs;
    double outsideUs;
};

// Counts the requests through the device that the board did not accept.
class FailureCount final : public RequestFailureReporter
{
public:
    void requestFailed(const RequestFailure &) override { ++failures; }

    int failures = 0;
};

void *timingFunction(const char *name)
{
    // The transport loaded the library already; this only takes another reference to it.
    void *library = dlopen(timedLibraryPath, RTLD_NOW | RTLD_NOLOAD);
    void *function = library ? dlsym(library, name) : nullptr;
    if (!function)
        throw std::runtime_error(std::string("the timing library has no ") + name);
    return function;
}

} // namespace

RequestOverhead::RequestOverhead(int batches, int callsPerBatch)
    : m_batches(batches)
    , m_callsPerBatch(callsPerBatch)
{ }

void RequestOverhead::run(BenchReport &report)
{
    // Brought up as the program does it, through the timing library to the simulated board.
    USBStuffFourFunction usb(timedLibraryPath);
    if (!usb.isBoardUp(usb.InitialiseBoard()))
        throw std::runtime_error("the board was not found behind the timing library");
    FailureCount failedThroughProgram;
    TX4418 device(usb, failedThroughProgram);
    const auto vendorRequest
            = reinterpret_cast<VendorRequestFunction>(timingFunction("Vendor_Request"));
    const auto take = reinterpret_cast<TakeFunction>(timingFunction("TimedLibrary_Take"));
    const std::int32_t handle = usb.boardHandle();
    const VendorRequestFields fields = RequestEncoding::selectMuxChannel(channelA);

    int failedDirect = 0;
    const auto throughProgram = [&] {
        for (int i = 0; i < m_callsPerBatch; ++i)
            device.SelectMuxChannel(channelA);
    };
    const auto directly = [&] {
        for (int i = 0; i < m_callsPerBatch; ++i) {
            // A fresh zeroed buffer per call, as the device layer gives every request.
            std::array<std::uint8_t, 1> buffer {};
            if (vendorRequest(handle, fields.code, fields.value, fields.index, fields.direction,
                              fields.length, buffer.data())
                != 0)
                ++failedDirect;
        }
    };
    // The library's intervals lie inside the batch's on one monotonic clock: the rest is >= 0.
    const auto timed = [&](const auto &calls) {
        std::int64_t insideNs = 0;
        std::int64_t requests = 0;
        take(&insideNs, &requests);
        const std::int64_t start = monotonicNanoseconds();
        calls();
        const std::int64_t wholeNs = monotonicNanoseconds() - start;
        take(&insideNs, &requests);
        if (requests != m_callsPerBatch)
            throw std::runtime_error("the requests did not all reach the timing library");
        const auto perCallUs = [this](std::int64_t ns) {
            return double(ns) / 1e3 / m_callsPerBatch;
        };
        return BatchTimes {perCallUs(wholeNs), perCallUs(insideNs), perCallUs(wholeNs - insideNs)};
    };

    timed(throughProgram); // warm-up: binds the functions, fills the caches
    timed(directly);
    Samples programUs;
    Samples libraryUs;
    Samples overheadUs;
    Samples measuringUs;
    for (int batch = 0; batch < m_batches; ++batch) {
        // Each way goes first every other batch, so that a drift of the machine hits both.
        BatchTimes programBatch {};
        BatchTimes directBatch {};
        if (batch % 2 == 0) {
            programBatch = timed(throughProgram);
            directBatch = timed(directly);
        } else {
            directBatch = timed(directly);
            programBatch = timed(throughProgram);
        }
        programUs.add(programBatch.wholeUs);
        libraryUs.add(programBatch.libraryUs);
        overheadUs.add(programBatch.outsideUs);
        measuringUs.add(directBatch.outsideUs);
    }
    if (failedThroughProgram.failures != 0 || failedDirect != 0)
        throw std::runtime_error("the board did not accept every request");

    report.count(QStringLiteral("request.batches"), m_batches);
    report.count(QStringLiteral("request.calls_per_batch"), m_callsPerBatch);
    report.figure(QStringLiteral("request.program.median_us"), programUs.median(), 3);
    report.figure(QStringLiteral("request.library.median_us"), libraryUs.median(), 3);
    report.figure(QStringLiteral("request.overhead.median_us"), overheadUs.median(), 3);
    report.figure(QStringLiteral("request.overhead.p10_us"), overheadUs.percentile(0.1), 3);
    report.figure(QStringLiteral("request.overhead.p90_us"), overheadUs.percentile(0.9), 3);
    // The same around direct calls: the share of the overhead that is the measuring's own.
    report.figure(QStringLiteral("request.measuring.median_us"), measuringUs.median(), 3);
    report.target(QStringLiteral("request.overhead.median_us"), overheadUs.median(),
                  BenchReport::Bound::Below, overheadLimitUs, 3);
}
