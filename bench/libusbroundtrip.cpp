// TX4410-bench-libusb: the time our own board code adds around libusb to one vendor request,
// against a USB 2.0 microframe. Run under umockdev-wrapper, it brings up the four-function
// library's USB board on a board in the board library tests' testbed, then reads the ADC through
// Vendor_Request, our UsbBoard and LibusbTransport, and the real libusb. It stands in front of
// libusb_control_transfer, so each request gives its whole time and the time inside libusb, which
// here includes the emulated kernel: the testbed's thread that answers the ioctls. Ours is each
// request's whole time less its time inside libusb, and cannot be negative.
#include "benchstatistics.h"
#include "boardfaces.h"
#include "boardlibrarylocation.h"
#include "boardprotocol.h"
#include "monotonicclock.h"
#include "requestencoding.h"
#include "support/usbtestbed.h"

#include <QTemporaryDir>

#include <dlfcn.h>
#include <libusb.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

constexpr int warmUpRequests = 200;
constexpr int fullRequests = 20000;
constexpr int quickRequests = 2000;
// The libusb the board library is linked with, already loaded by the time a transfer is made.
constexpr char libusbLibrary[] = "libusb-1.0.so.0";
// Ours: the USB board refuses the stand-in image, and three bytes load in one chunk.
constexpr char imageText[] = ":03000000020100FA\n:00000001FF\n";
// The request, and how the testbed logs it and answers it.
constexpr VendorRequestFields readAdc = RequestEncoding::readAdc();
const QString readAdcAsLogged = QStringLiteral("c0 bb 0000 0000 2");
constexpr std::array<std::uint8_t, 2> testbedReading {0x0F, 0xFF};
constexpr std::array<std::uint8_t, 2> untouched {0x5A, 0x5A};

// The time spent inside libusb's own libusb_control_transfer, and its calls, since the start.
std::atomic<std::int64_t> insideLibusbNs = 0;
std::atomic<std::int64_t> libusbTransfers = 0;

using ControlTransferFunction = decltype(&libusb_control_transfer);

ControlTransferFunction libusbControlTransfer()
{
    static const auto function = [] {
        void *library = dlopen(libusbLibrary, RTLD_NOW | RTLD_NOLOAD);
        return library ? reinterpret_cast<ControlTransferFunction>(
                       dlsym(library, "libusb_control_transfer"))
                       : nullptr;
    }();
    return function;
}

template<typename Function> Function boardFunction(void *library, const char *name)
{
    auto *function = reinterpret_cast<Function>(dlsym(library, name));
    if (!function)
        throw std::runtime_error(std::string("the board library has no ") + name);
    return function;
}

QString firmwareFileIn(const QTemporaryDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("image.hex"));
    std::FILE *file = std::fopen(path.toLocal8Bit().constData(), "w");
    if (!file || std::fputs(imageText, file) < 0 || std::fclose(file) != 0)
        throw std::runtime_error("could not write the image for the testbed's board");
    return path;
}

// The four-function library's USB board brought up on the testbed's board, as a program does.
struct TestbedBoard
{
    VendorRequestFunction vendorRequest = nullptr;
    std::int32_t handle = 0;
};

TestbedBoard bringUp()
{
    void *library = dlopen(fourFunctionLibraryPath, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        throw std::runtime_error(std::string("the board library did not load: ") + dlerror());
    const auto search
            = boardFunction<SearchForBoardsFunction>(library, BoardFaces::searchForBoardsSymbol);
    const auto connect = boardFunction<ConnectFunction>(library, BoardFaces::connectSymbol);
    const auto download
            = boardFunction<DownloadFirmwareFunction>(library, BoardFaces::downloadFirmwareSymbol);
    TestbedBoard board {
            boardFunction<VendorRequestFunction>(library, BoardFaces::vendorRequestSymbol)};

    const QTemporaryDir dir;
    if (!dir.isValid())
        throw std::runtime_error("no temporary folder for the image");
    QByteArray image = firmwareFileIn(dir).toLocal8Bit();
    std::int32_t found = 0;
    std::array<std::uint8_t, 128> list {};
    if (search(BoardProtocol::vendorId, BoardProtocol::productId, &found, list.data()) != 0
        || found < 1)
        throw std::runtime_error("no board in the testbed (is it run under umockdev-wrapper?)");
    if (connect(BoardProtocol::vendorId, BoardProtocol::productId, list[0], &board.handle) != 0)
        throw std::runtime_error("the testbed's board did not connect");
    const std::int16_t loaded
            = download(board.handle, reinterpret_cast<std::uint8_t *>(image.data()));
    if (loaded != 0)
        throw std::runtime_error("the testbed's board did not load, status "
                                 + std::to_string(loaded));
    if (libusbTransfers == 0)
        throw std::runtime_error("libusb's transfers do not pass the bench's timer");
    return board;
}

// One request's whole time and its time inside libusb, in nanoseconds.
std::pair<std::int64_t, std::int64_t> timedRequest(const TestbedBoard &board)
{
    std::array<std::uint8_t, 2> buffer = untouched;
    const std::int64_t insideBefore = insideLibusbNs;
    const std::int64_t transfersBefore = libusbTransfers;
    const std::int64_t start = monotonicNanoseconds();
    const std::int16_t status
            = board.vendorRequest(board.handle, readAdc.code, readAdc.value, readAdc.index,
                                  readAdc.direction, readAdc.length, buffer.data());
    const std::int64_t wholeNs = monotonicNanoseconds() - start;
    if (status != 0 || buffer != testbedReading)
        throw std::runtime_error("the testbed's board did not answer a request, status "
                                 + std::to_string(status));
    if (libusbTransfers != transfersBefore + 1)
        throw std::runtime_error("a request was not one libusb transfer");
    return {wholeNs, insideLibusbNs - insideBefore};
}

// Every request reached the testbed's board as this one transfer.
void checkTestbedSaw(UsbTestbed &testbed, int requests)
{
    const QStringList log = testbed.takeLog();
    if (log.size() != requests || log.count(readAdcAsLogged) != requests)
        throw std::runtime_error("the testbed's board did not see the requests as made");
}

} // namespace

// In front of libusb's own: the bench exports this, so the board library binds it in place of
// libusb's, and it forwards every transfer with the time spent inside added up.
extern "C" int libusb_control_transfer(libusb_device_handle *handle, std::uint8_t requestType,
                                       std::uint8_t request, std::uint16_t value,
                                       std::uint16_t index, unsigned char *data,
                                       std::uint16_t length, unsigned int timeout)
{
    const ControlTransferFunction forward = libusbControlTransfer();
    if (!forward)
        return LIBUSB_ERROR_NOT_SUPPORTED;
    const std::int64_t entered = monotonicNanoseconds();
    const int result = forward(handle, requestType, request, value, index, data, length, timeout);
    insideLibusbNs += monotonicNanoseconds() - entered;
    ++libusbTransfers;
    return result;
}

namespace {

void roundTrip(benchmark::State &state)
{
    static UsbTestbed *testbed = nullptr;
    static TestbedBoard board;
    for (auto _ : state) {
        try {
            if (!testbed) {
                // The USB board, not the simulated one.
                qunsetenv("TX4410_BOARD");
                testbed = &UsbTestbed::instance();
                board = bringUp();
                testbed->takeLog(); // the load's transfers
                for (int i = 0; i < warmUpRequests; ++i)
                    timedRequest(board);
                checkTestbedSaw(*testbed, warmUpRequests);
            }
            const auto [wholeNs, insideNs] = timedRequest(board);
            checkTestbedSaw(*testbed, 1);
            state.SetIterationTime(double(wholeNs) / 1e9);
            state.counters["inside_us"] = double(insideNs) / 1e3;
            state.counters["ours_us"] = double(wholeNs - insideNs) / 1e3;
        } catch (const std::exception &error) {
            couldNotMeasure(state, error.what());
            break;
        }
    }
}

} // namespace

int main(int argc, char *argv[])
{
    int requests = fullRequests;
    if (argc > 1 && std::strcmp(argv[1], "--quick") == 0) {
        requests = quickRequests;
        std::copy(argv + 2, argv + argc + 1, argv + 1);
        --argc;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    repeatedWithSpread(benchmark::RegisterBenchmark("libusb/readAdc", roundTrip), requests);
    benchmark::RunSpecifiedBenchmarks();
    std::fflush(stdout);
    // The testbed's thread runs to the end: end here rather than unwind under it.
    std::_Exit(measureFailed ? 3 : EXIT_SUCCESS); // 2 is a usage error
}
