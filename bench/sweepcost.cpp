// The sweep's own cost per point: its measuring loop (no settling, one sample, the board's
// readback) against the same requests called directly on the board library in a loop, both in
// the same run on the simulated board; and the whole command, results written, per point.
#include "benchstatistics.h"
#include "boardlibrarylocation.h"
#include "cliprogram.h"
#include "commandchoices.h"
#include "monotonicclock.h"
#include "requestencoding.h"
#include "scenarios.h"
#include "sessiondevice.h"
#include "sweepplan.h"
#include "sweeprunner.h"
#include "usbstufffourfunction.h"

#include <QBuffer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <dlfcn.h>

#include <array>
#include <memory>
#include <stdexcept>

namespace {

using VendorRequestFunction
        = std::int16_t (*)(std::int32_t, std::uint8_t, std::int32_t, std::int32_t, std::uint8_t,
                           std::int16_t, std::uint8_t *);

constexpr int channelA = 0;
constexpr int writeAndUpdate = 3;

std::vector<std::int32_t> sweptCodes(int points)
{
    std::vector<std::int32_t> codes;
    for (int i = 0; i < points; ++i)
        codes.push_back(std::int32_t(std::int64_t(i) * 65535 / (points - 1)));
    return codes;
}

// The program's board, and the library's own request function beside it.
struct SweptBoard
{
    SweptBoard()
        : usb(fourFunctionLibraryPath)
    {
        void *library = dlopen(fourFunctionLibraryPath, RTLD_NOW | RTLD_NOLOAD);
        vendorRequest = reinterpret_cast<VendorRequestFunction>(
                library ? dlsym(library, "Vendor_Request") : nullptr);
        if (!vendorRequest)
            throw std::runtime_error("the board library has no Vendor_Request");
    }
    // Brought up afresh: the whole command measured in between brings the board up itself.
    void bringUp()
    {
        if (!usb.isBoardUp(usb.InitialiseBoard()))
            throw std::runtime_error("the simulated board was not found");
    }

    USBStuffFourFunction usb;
    VendorRequestFunction vendorRequest = nullptr;
};

// The program's device as the sweep library drives it.
class DeviceTarget final : public Sweep::Target
{
public:
    explicit DeviceTarget(SessionDevice &device)
        : m_device(device)
    { }
    bool sendWord(std::int32_t word) override
    {
        m_device.sendWord(word);
        return !m_device.failure();
    }
    bool selectReadback(int channel) override
    {
        m_device.selectChannel(channel);
        return !m_device.failure();
    }
    std::optional<std::int32_t> readAdc() override { return m_device.readAdc(); }
    QString failure() const override { return {}; }

private:
    SessionDevice &m_device;
};

// Seconds per point of the sweep's loop, stepped by an event loop as the programs step it.
double throughSweep(SweptBoard &board, const std::vector<std::int32_t> &codes)
{
    LocalDevice device(board.usb);
    DeviceTarget target(device);
    Sweep::Plan plan;
    plan.channel = channelA;
    plan.codes = codes;
    plan.settleMs = 0;
    plan.samples = 1;
    Sweep::ReadbackSource adc(target, channelA, 5.0);
    Sweep::Runner runner(target, adc, plan);
    QEventLoop loop;
    Sweep::Runner::Outcome outcome = Sweep::Runner::Outcome::Cancelled;
    QObject::connect(&runner, &Sweep::Runner::finished, &loop, [&](Sweep::Runner::Outcome how) {
        outcome = how;
        loop.quit();
    });
    const std::int64_t start = monotonicNanoseconds();
    runner.start();
    loop.exec();
    const std::int64_t took = monotonicNanoseconds() - start;
    if (outcome != Sweep::Runner::Outcome::Done || runner.points().size() != codes.size())
        throw std::runtime_error("the sweep did not measure every point");
    return double(took) / 1e9 / double(codes.size());
}

// Seconds per point of the same requests, called directly: the mux once, then per point the
// word of command 3 and one ADC reading.
double directly(SweptBoard &board, const std::vector<std::int32_t> &codes)
{
    int failed = 0;
    const auto request = [&](const VendorRequestFields &fields, std::uint8_t *buffer) {
        failed += board.vendorRequest(board.usb.boardHandle(), fields.code, fields.value,
                                      fields.index, fields.direction, fields.length, buffer)
                != 0;
    };
    const std::int64_t start = monotonicNanoseconds();
    std::array<std::uint8_t, 1> select {};
    request(RequestEncoding::selectMuxChannel(1), select.data());
    for (const std::int32_t code : codes) {
        std::array<std::uint8_t, 1> word {};
        request(RequestEncoding::commandWord(commandWordFor(writeAndUpdate, channelA, code)),
                word.data());
        std::array<std::uint8_t, 2> reading {};
        request(RequestEncoding::readAdc(), reading.data());
        benchmark::DoNotOptimize(reading);
    }
    const std::int64_t took = monotonicNanoseconds() - start;
    if (failed != 0)
        throw std::runtime_error("the board did not accept every request");
    return double(took) / 1e9 / double(codes.size());
}

// Seconds of tx4410-cli sweep run whole in this process: bring-up, loop, analysis, CSV and
// summary.
double wholeSweep(const QStringList &arguments)
{
    QBuffer output;
    QBuffer errors;
    output.open(QIODevice::WriteOnly);
    errors.open(QIODevice::WriteOnly);
    QTextStream out(&output);
    QTextStream err(&errors);
    const std::int64_t start = monotonicNanoseconds();
    const int status = runCli(
            QStringList {"sweep", "--channel", "A", "--settle-ms", "0"} + arguments, out, err);
    const std::int64_t took = monotonicNanoseconds() - start;
    if (status != ExitStatus::done)
        throw std::runtime_error("the sweep command failed: " + errors.data().toStdString());
    return double(took) / 1e9;
}

// Seconds per point of the whole command over `points` points, one sample each.
double wholeCommand(int points, const QString &csv)
{
    return wholeSweep({"--samples", "1", "--points", QString::number(points), "--carries", "none",
                       "--csv", csv})
            / points;
}

} // namespace

void registerSweepCost(const Amounts &amounts)
{
    auto board = std::make_shared<std::unique_ptr<SweptBoard>>();
    const auto codes = std::make_shared<std::vector<std::int32_t>>(sweptCodes(amounts.sweepPoints));
    repeatedWithSpread(
            benchmark::RegisterBenchmark(
                    "sweep/point",
                    [board, codes](benchmark::State &state) {
                        int repetition = 0;
                        for (auto _ : state) {
                            try {
                                if (!*board)
                                    *board = std::make_unique<SweptBoard>();
                                (*board)->bringUp();
                                if (++repetition
                                    == 1) { // warm-up: binds the functions, fills the caches
                                    throughSweep(**board, *codes);
                                    directly(**board, *codes);
                                }
                                // Each way goes first every other repetition, so that a drift hits
                                // both alike.
                                double sweep = 0;
                                double direct = 0;
                                if (repetition % 2 == 0) {
                                    sweep = throughSweep(**board, *codes);
                                    direct = directly(**board, *codes);
                                } else {
                                    direct = directly(**board, *codes);
                                    sweep = throughSweep(**board, *codes);
                                }
                                state.SetIterationTime(sweep);
                                state.counters["direct_us"] = direct * 1e6;
                                state.counters["ratio_to_direct"] = sweep / direct;
                            } catch (const std::exception &error) {
                                couldNotMeasure(state, error.what());
                                break;
                            }
                        }
                    }),
            amounts.sweeps);

    const int points = amounts.sweepPoints;
    repeatedManually(benchmark::RegisterBenchmark(
                             "sweep/wholeCommand",
                             [points](benchmark::State &state) {
                                 const QTemporaryDir scratch;
                                 for (auto _ : state) {
                                     try {
                                         state.SetIterationTime(wholeCommand(
                                                 points, scratch.filePath("sweep.csv")));
                                     } catch (const std::exception &error) {
                                         couldNotMeasure(state, error.what());
                                         break;
                                     }
                                 }
                             }),
                     std::max(5, amounts.sweeps / 10));

    // The default grid with the carries measured code by code (asked for: through the readback
    // they are not by default), against the grid alone (257 points, no carries), both whole
    // with their CSV, each first every other time.
    repeatedWithSpread(
            benchmark::RegisterBenchmark(
                    "sweep/defaultWithCarries",
                    [](benchmark::State &state) {
                        const QTemporaryDir scratch;
                        const QString csv = scratch.filePath("sweep.csv");
                        const QStringList before
                                = {"--points", "257", "--carries", "none", "--csv", csv};
                        int repetition = 0;
                        for (auto _ : state) {
                            try {
                                if (++repetition == 1) {
                                    wholeSweep({"--carries", "major", "--csv", csv});
                                    wholeSweep(before);
                                }
                                double carries = 0;
                                double today = 0;
                                if (repetition % 2 == 0) {
                                    carries = wholeSweep({"--carries", "major", "--csv", csv});
                                    today = wholeSweep(before);
                                } else {
                                    today = wholeSweep(before);
                                    carries = wholeSweep({"--carries", "major", "--csv", csv});
                                }
                                state.SetIterationTime(carries);
                                state.counters["before_us"] = today * 1e6;
                                state.counters["ratio_to_before"] = carries / today;
                            } catch (const std::exception &error) {
                                couldNotMeasure(state, error.what());
                                break;
                            }
                        }
                    }),
            std::max(11, amounts.sweeps / 4));
}
