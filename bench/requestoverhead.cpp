// The time the program's own code adds to one vendor request. A transport of the program's own
// kind binds the timing library, which forwards to the board library and adds up the time spent
// inside it. Batches of SelectMuxChannel go through the device and transport layers; the
// overhead of a batch is its whole time less the library's time inside it, which cannot be
// negative. The same around direct calls of the timing library gives the measuring's own cost,
// which the overhead includes.
#include "benchbuild.h"
#include "benchstatistics.h"
#include "monotonicclock.h"
#include "requestencoding.h"
#include "requestfailurereporter.h"
#include "scenarios.h"
#include "tx4418.h"
#include "usbstufffourfunction.h"

#include <dlfcn.h>

#include <array>
#include <memory>
#include <stdexcept>

namespace {

constexpr std::int16_t channelA = 1;

using VendorRequestFunction
        = std::int16_t (*)(std::int32_t, std::uint8_t, std::int32_t, std::int32_t, std::uint8_t,
                           std::int16_t, std::uint8_t *);
using TakeFunction = void (*)(std::int64_t *, std::int64_t *);

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

// The board brought up as the program does it, through the timing library.
struct TimedBoard
{
    TimedBoard()
        : usb(timedLibraryPath)
        , device(usb, failedThroughProgram)
    {
        if (!usb.isBoardUp(usb.InitialiseBoard()))
            throw std::runtime_error("the board was not found behind the timing library");
        vendorRequest = reinterpret_cast<VendorRequestFunction>(timingFunction("Vendor_Request"));
        take = reinterpret_cast<TakeFunction>(timingFunction("TimedLibrary_Take"));
    }

    USBStuffFourFunction usb;
    FailureCount failedThroughProgram;
    TX4418 device;
    VendorRequestFunction vendorRequest = nullptr;
    TakeFunction take = nullptr;
    int failedDirect = 0;
    int batches = 0;
};

// Per call in one batch: its whole time and the library's time inside it, in seconds.
struct BatchTimes
{
    double whole;
    double library;
};

template<typename Calls> BatchTimes timed(TimedBoard &board, int calls, const Calls &makeCalls)
{
    std::int64_t insideNs = 0;
    std::int64_t requests = 0;
    board.take(&insideNs, &requests);
    const std::int64_t start = monotonicNanoseconds();
    makeCalls();
    const std::int64_t wholeNs = monotonicNanoseconds() - start;
    board.take(&insideNs, &requests);
    if (requests != calls)
        throw std::runtime_error("the requests did not all reach the timing library");
    // The library's intervals lie inside the batch's on one monotonic clock: the rest is >= 0.
    return {double(wholeNs) / 1e9 / calls, double(insideNs) / 1e9 / calls};
}

void measureBatch(benchmark::State &state, TimedBoard &board, int calls)
{
    const VendorRequestFields fields = RequestEncoding::selectMuxChannel(channelA);
    const auto throughProgram = [&] {
        for (int i = 0; i < calls; ++i)
            board.device.SelectMuxChannel(channelA);
    };
    const auto directly = [&] {
        for (int i = 0; i < calls; ++i) {
            // A fresh zeroed buffer per call, as the device layer gives every request.
            std::array<std::uint8_t, 1> buffer {};
            board.failedDirect += board.vendorRequest(board.usb.boardHandle(), fields.code,
                                                      fields.value, fields.index, fields.direction,
                                                      fields.length, buffer.data())
                    != 0;
        }
    };
    if (board.batches++ == 0) { // warm-up: binds the functions, fills the caches
        timed(board, calls, throughProgram);
        timed(board, calls, directly);
    }
    // Each way goes first every other batch, so that a drift of the machine hits both alike.
    BatchTimes program {};
    BatchTimes direct {};
    if (board.batches % 2 == 0) {
        program = timed(board, calls, throughProgram);
        direct = timed(board, calls, directly);
    } else {
        direct = timed(board, calls, directly);
        program = timed(board, calls, throughProgram);
    }
    if (board.failedThroughProgram.failures != 0 || board.failedDirect != 0)
        throw std::runtime_error("the board did not accept every request");
    state.SetIterationTime(program.whole);
    const auto us = [](double seconds) {
        return seconds * 1e6;
    };
    state.counters["library_us"] = us(program.library);
    state.counters["ours_us"] = us(program.whole - program.library);
    state.counters["measuring_us"] = us(direct.whole - direct.library);
}

} // namespace

void registerRequestOverhead(const Amounts &amounts)
{
    auto board = std::make_shared<std::unique_ptr<TimedBoard>>();
    const int calls = amounts.requestsPerBatch;
    repeatedWithSpread(
            benchmark::RegisterBenchmark("request/selectMuxChannel",
                                         [board, calls](benchmark::State &state) {
                                             for (auto _ : state) {
                                                 try {
                                                     if (!*board)
                                                         *board = std::make_unique<TimedBoard>();
                                                     measureBatch(state, **board, calls);
                                                 } catch (const std::exception &error) {
                                                     couldNotMeasure(state, error.what());
                                                     break;
                                                 }
                                             }
                                         }),
            amounts.requestBatches);
}
