#include "libusbroundtrip.h"

#include "benchbuild.h"
#include "benchreport.h"
#include "boardfaces.h"
#include "boardlibrarylocation.h"
#include "boardprotocol.h"
#include "monotonicclock.h"
#include "requestencoding.h"
#include "samples.h"
#include "support/usbtestbed.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <dlfcn.h>
#include <libusb.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr double microframeUs = 125;
// Well below a microframe: a tenth of it.
constexpr double oursLimitUs = microframeUs / 10;
constexpr int warmUpRequests = 200;
constexpr int requestsPerLogCheck = 1000;
constexpr int childTimeoutMs = 300000;
constexpr char requestLinePrefix[] = "libusb.request ";
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
        throw std::runtime_error("no board in the testbed (is the child under umockdev-wrapper?)");
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

std::vector<std::pair<std::int64_t, std::int64_t>> measureInChild(int requests)
{
    if (requests < 1)
        throw std::runtime_error("the libusb child needs a number of requests");
    // The USB board, not the simulated one the rest of the bench runs on.
    qunsetenv("TX4410_BOARD");
    UsbTestbed &testbed = UsbTestbed::instance();
    const TestbedBoard board = bringUp();
    testbed.takeLog(); // the load's transfers

    for (int i = 0; i < warmUpRequests; ++i)
        timedRequest(board);
    checkTestbedSaw(testbed, warmUpRequests);
    std::vector<std::pair<std::int64_t, std::int64_t>> times;
    times.reserve(std::size_t(requests));
    while (int(times.size()) < requests) {
        const int batch = std::min(requestsPerLogCheck, requests - int(times.size()));
        for (int i = 0; i < batch; ++i)
            times.push_back(timedRequest(board));
        checkTestbedSaw(testbed, batch);
    }
    return times;
}

std::runtime_error childFailure(const QString &what)
{
    return std::runtime_error(("the libusb child " + what).toStdString());
}

// The error lines a failed child wrote, or all it wrote when it wrote none.
QString failureIn(const QString &errors)
{
    QStringList said;
    for (const QString &line : errors.split(u'\n')) {
        if (line.startsWith(u"error: "))
            said.append(line.mid(7).remove(QStringLiteral("could not measure: ")));
    }
    return said.isEmpty() ? errors.trimmed() : said.join(QStringLiteral("; "));
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

LibusbRoundTrip::LibusbRoundTrip(int requests)
    : m_requests(requests)
{ }

void LibusbRoundTrip::run(BenchReport &report) const
{
    QProcess child;
    child.setProgram(QString::fromUtf8(umockdevWrapperPath));
    child.setArguments({QCoreApplication::applicationFilePath(),
                        QStringLiteral("--libusb-child=%1").arg(m_requests)});
    child.start();
    if (!child.waitForStarted(childTimeoutMs))
        throw childFailure(QStringLiteral("did not start: ") + child.errorString());
    if (!child.waitForFinished(childTimeoutMs)) {
        child.kill();
        child.waitForFinished();
        throw childFailure(QStringLiteral("did not finish"));
    }
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        throw childFailure(QStringLiteral("failed: ")
                           + failureIn(QString::fromUtf8(child.readAllStandardError())));

    Samples wholeUs;
    Samples insideUs;
    Samples oursUs;
    for (const QString &line : out.split(u'\n')) {
        if (!line.startsWith(QLatin1String(requestLinePrefix)))
            continue;
        const QStringList fields
                = line.mid(qsizetype(std::size(requestLinePrefix) - 1)).split(u' ');
        bool wholeRead = false;
        bool insideRead = false;
        const std::int64_t wholeNs = fields.value(0).toLongLong(&wholeRead);
        const std::int64_t insideNs = fields.value(1).toLongLong(&insideRead);
        if (fields.size() != 2 || !wholeRead || !insideRead || insideNs < 0 || insideNs > wholeNs)
            throw childFailure(QStringLiteral("wrote a line it should not: ") + line);
        wholeUs.add(double(wholeNs) / 1e3);
        insideUs.add(double(insideNs) / 1e3);
        oursUs.add(double(wholeNs - insideNs) / 1e3);
    }
    if (int(oursUs.size()) != m_requests)
        throw childFailure(
                QStringLiteral("wrote %1 requests of %2").arg(oursUs.size()).arg(m_requests));

    report.comment(QStringLiteral("libusb: Vendor_Request to a board in a umockdev testbed; "
                                  "inside libusb includes the emulated kernel; ours is each "
                                  "request's time outside libusb"));
    report.count(QStringLiteral("libusb.requests"), m_requests);
    report.figure(QStringLiteral("libusb.roundtrip.median_us"), wholeUs.median(), 2);
    report.figure(QStringLiteral("libusb.roundtrip.p10_us"), wholeUs.percentile(0.1), 2);
    report.figure(QStringLiteral("libusb.roundtrip.p90_us"), wholeUs.percentile(0.9), 2);
    report.figure(QStringLiteral("libusb.inside.median_us"), insideUs.median(), 2);
    report.figure(QStringLiteral("libusb.ours.median_us"), oursUs.median(), 3);
    report.figure(QStringLiteral("libusb.ours.p10_us"), oursUs.percentile(0.1), 3);
    report.figure(QStringLiteral("libusb.ours.p90_us"), oursUs.percentile(0.9), 3);
    report.figure(QStringLiteral("libusb.ours.share_of_microframe"), oursUs.median() / microframeUs,
                  4);
    report.target(QStringLiteral("libusb.ours.median_us"), oursUs.median(),
                  BenchReport::Bound::Below, oursLimitUs, 3);
}

void runLibusbChild(int requests)
{
    try {
        for (const auto &[wholeNs, insideNs] : measureInChild(requests))
            std::printf("%s%lld %lld\n", requestLinePrefix, static_cast<long long>(wholeNs),
                        static_cast<long long>(insideNs));
        std::fflush(stdout);
        // The testbed's thread runs to the end: end here rather than unwind under it.
        std::_Exit(EXIT_SUCCESS);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "error: could not measure: %s\n", error.what());
        std::fflush(stderr);
        std::_Exit(EXIT_FAILURE);
    }
}
