// TX4410-bench-server: what tx4410-server costs on loopback. It starts the real server on the
// simulated board and, as the floor, a bare TCP echo in a child process of its own; then
//   server/roundtrip: one `MEAS1:CODE?` line to the server and its answer back, each repetition
//     beside one round trip of the same bytes through the echo (the counter echo_us), so that
//     both meet the machine in the same state;
//   server/vxi11: the same query as a VXI-11 client asks it, device_write with END and then
//     device_read, two RPC calls on the link's connection, each repetition beside one round
//     trip of the line through the socket (the counter socket_us);
//   server/pipelined: 8 clients at once, each a thread that writes its queries without waiting
//     and reads the answers as they come; queries a second over all of them, and how many
//     answers were missing, extra or not the one due (each query names one of four channels set
//     to four different levels, so an answer out of order is one for the wrong channel).
#include "benchstatistics.h"
#include "monotonicclock.h"

#include <QCoreApplication>
#include <QProcess>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int warmUps = 200;
constexpr int clients = 8;
const std::string query = "MEAS1:CODE?\n";

pid_t echoChild = -1;

struct Settings
{
    int roundTrips = 20000;
    int queriesPerClient = 50000;
    int pipelinedRuns = 5;
} settings;

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot connect to port " + std::to_string(port));
    return fd;
}

// The floor: a child that echoes every byte of one connection at a time, and nothing else.
int startEcho()
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener, 4) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("the echo cannot listen");
    echoChild = ::fork();
    if (echoChild == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        while (true) {
            const int fd = ::accept(listener, nullptr, nullptr);
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::array<char, 65536> bytes;
            ssize_t got = 0;
            while ((got = ::read(fd, bytes.data(), bytes.size())) > 0) {
                if (::write(fd, bytes.data(), std::size_t(got)) != got)
                    break;
            }
            ::close(fd);
        }
    }
    ::close(listener);
    return ntohs(address.sin_port);
}

// Reads up to and with the next LF.
std::string readLine(int fd)
{
    std::string line;
    char byte = 0;
    while (::read(fd, &byte, 1) == 1) {
        line += byte;
        if (byte == '\n')
            return line;
    }
    throw std::runtime_error("the connection closed before a whole line came back");
}

std::int64_t roundTrip(int fd, const std::string &line)
{
    const std::int64_t sent = monotonicNanoseconds();
    if (::write(fd, line.data(), line.size()) != ssize_t(line.size()))
        throw std::runtime_error("a line could not be sent");
    readLine(fd);
    return monotonicNanoseconds() - sent;
}

// A VXI-11 client's calls, as RPC records on its core channel connection.
class Vxi11Link
{
public:
    explicit Vxi11Link(int port)
        : m_fd(connectTo(port))
    {
        std::string device = word(0) + word(0) + word(0) + opaque("inst0"); // no lock
        const std::string reply = call(10, device);
        if (number(reply, 0) != 0)
            throw std::runtime_error("VXI-11 create_link failed");
        m_link = number(reply, 1);
    }

    // device_write of the line with END, then device_read of its answer.
    void query(const std::string &line)
    {
        if (number(call(11, word(m_link) + word(1000) + word(0) + word(8) + opaque(line)), 0) != 0)
            throw std::runtime_error("VXI-11 device_write failed");
        const std::string read
                = call(12, word(m_link) + word(1024) + word(1000) + word(0) + word(0) + word(0));
        if (number(read, 0) != 0 || (number(read, 1) & 4) == 0 || read.size() <= 12
            || read[12 + std::size_t(number(read, 2)) - 1] != '\n')
            throw std::runtime_error("VXI-11 device_read did not end with a whole answer");
    }

private:
    static std::string word(std::uint32_t value)
    {
        const std::uint32_t big = htonl(value);
        return std::string(reinterpret_cast<const char *>(&big), 4);
    }
    static std::string opaque(const std::string &bytes)
    {
        return word(std::uint32_t(bytes.size())) + bytes
                + std::string((4 - bytes.size() % 4) % 4, '\0');
    }
    // The n-th 32-bit unit of the results.
    static std::uint32_t number(const std::string &results, std::size_t n)
    {
        std::uint32_t big = 0;
        std::memcpy(&big, results.data() + 4 * n, 4);
        return ntohl(big);
    }
    void exactly(char *into, std::size_t count)
    {
        for (std::size_t got = 0; got < count;) {
            const ssize_t read = ::read(m_fd, into + got, count - got);
            if (read <= 0)
                throw std::runtime_error("the VXI-11 connection closed");
            got += std::size_t(read);
        }
    }
    // One call (program DEVICE_CORE, version 1) and the results of its reply.
    std::string call(std::uint32_t procedure, const std::string &arguments)
    {
        const std::string message = word(++m_xid) + word(0) + word(2) + word(0x0607AF) + word(1)
                + word(procedure) + word(0) + word(0) + word(0) + word(0) + arguments;
        const std::string record = word(0x80000000u | std::uint32_t(message.size())) + message;
        if (::write(m_fd, record.data(), record.size()) != ssize_t(record.size()))
            throw std::runtime_error("a VXI-11 call could not be sent");
        std::string reply;
        for (bool last = false; !last;) {
            char header[4];
            exactly(header, 4);
            const std::uint32_t mark = number(std::string(header, 4), 0);
            last = (mark & 0x80000000u) != 0;
            const std::size_t at = reply.size();
            reply.resize(at + (mark & 0x7FFFFFFFu));
            exactly(reply.data() + at, mark & 0x7FFFFFFFu);
        }
        // xid, reply, accepted, verifier (flavour, empty body), success: then the results.
        if (reply.size() < 24 || number(reply, 0) != m_xid || number(reply, 5) != 0)
            throw std::runtime_error("a VXI-11 call was not answered with success");
        return reply.substr(24);
    }

    int m_fd;
    std::uint32_t m_xid = 0;
    std::uint32_t m_link = 0;
};

struct Servers
{
    QProcess server;
    int serverPort = 0;
    int echoPort = 0;
    int serverFd = -1;
    int echoFd = -1;
    std::unique_ptr<Vxi11Link> vxi11;
    std::string vxi11Off; // why there is no VXI-11, when there is none
};

Servers &servers()
{
    static std::unique_ptr<Servers> started;
    if (!started) {
        auto made = std::make_unique<Servers>();
        Servers &s = *made;
        s.echoPort = startEcho();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TX4410_BOARD"), QStringLiteral("sim"));
        for (const char *knob : {"TX4410_BOARD_TRACE", "TX4410_SIM_ABSENT_ATTEMPTS",
                                 "TX4410_SIM_FAIL_REQUESTS", "TX4410_SIM_UNPLUGGED"})
            environment.remove(QLatin1String(knob));
        s.server.setProcessEnvironment(environment);
        s.server.setReadChannel(QProcess::StandardError);
        s.server.start(QCoreApplication::applicationDirPath() + "/tx4410-server",
                       {"--listen", "127.0.0.1:0", "--max-clients", "16"});
        int vxi11Port = 0;
        while (s.server.waitForReadyRead(10000) || s.server.canReadLine()) {
            const QByteArray line = s.server.readLine();
            if (line.contains("listening on 127.0.0.1:"))
                s.serverPort = line.split(':').at(2).split(',').at(0).toInt();
            if (line.contains("VXI-11 on 127.0.0.1:"))
                vxi11Port = line.split(':').at(2).split(' ').at(0).toInt();
            if (line.contains("VXI-11 off"))
                s.vxi11Off = line.trimmed().toStdString();
            if (s.serverPort != 0 && (vxi11Port != 0 || !s.vxi11Off.empty()))
                break;
        }
        if (s.serverPort == 0)
            throw std::runtime_error("tx4410-server did not start: "
                                     + s.server.readAllStandardError().toStdString());
        s.serverFd = connectTo(s.serverPort);
        s.echoFd = connectTo(s.echoPort);
        if (vxi11Port != 0)
            s.vxi11 = std::make_unique<Vxi11Link>(vxi11Port);
        for (int i = 0; i < warmUps; ++i) {
            roundTrip(s.serverFd, query);
            roundTrip(s.echoFd, query);
            if (s.vxi11)
                s.vxi11->query(query);
        }
        started = std::move(made);
    }
    return *started;
}

void serverRoundTrip(benchmark::State &state)
{
    for (auto _ : state) {
        try {
            Servers &s = servers();
            // In turn first, so that neither always meets the other's after-effects.
            static bool echoFirst = false;
            echoFirst = !echoFirst;
            const std::int64_t echoNs = echoFirst ? roundTrip(s.echoFd, query) : 0;
            state.SetIterationTime(double(roundTrip(s.serverFd, query)) / 1e9);
            state.counters["echo_us"]
                    = double(echoFirst ? echoNs : roundTrip(s.echoFd, query)) / 1e3;
        } catch (const std::exception &error) {
            couldNotMeasure(state, error.what());
            break;
        }
    }
}

void serverVxi11(benchmark::State &state)
{
    for (auto _ : state) {
        try {
            Servers &s = servers();
            if (!s.vxi11)
                throw std::runtime_error("no VXI-11: " + s.vxi11Off);
            static bool socketFirst = false;
            socketFirst = !socketFirst;
            const std::int64_t socketNs = socketFirst ? roundTrip(s.serverFd, query) : 0;
            const std::int64_t sent = monotonicNanoseconds();
            s.vxi11->query(query);
            state.SetIterationTime(double(monotonicNanoseconds() - sent) / 1e9);
            state.counters["socket_us"]
                    = double(socketFirst ? socketNs : roundTrip(s.serverFd, query)) / 1e3;
        } catch (const std::exception &error) {
            couldNotMeasure(state, error.what());
            break;
        }
    }
}

// One client's whole exchange: every query written as the socket takes it, every answer read
// and checked against the one due. Returns the answers that were wrong, missing or extra.
long pipelined(int port, const std::array<std::string, 4> &codes, int queries)
{
    const int fd = connectTo(port);
    std::string out;
    for (int k = 0; k < queries; ++k)
        out += "MEAS" + std::to_string(k % 4 + 1) + ":CODE?\n";
    std::size_t written = 0;
    std::string pending;
    long wrong = 0;
    int answered = 0;
    std::array<char, 65536> bytes;
    while (answered < queries) {
        pollfd watch {fd, short(POLLIN | (written < out.size() ? POLLOUT : 0)), 0};
        if (::poll(&watch, 1, 10000) <= 0 || (watch.revents & (POLLERR | POLLHUP)) != 0)
            break; // the rest count as missing
        if (watch.revents & POLLOUT) {
            const ssize_t sent = ::send(fd, out.data() + written,
                                        std::min<std::size_t>(out.size() - written, 65536),
                                        MSG_DONTWAIT | MSG_NOSIGNAL);
            written += sent > 0 ? std::size_t(sent) : 0;
        }
        if (watch.revents & POLLIN) {
            const ssize_t got = ::recv(fd, bytes.data(), bytes.size(), MSG_DONTWAIT);
            if (got == 0)
                break;
            pending.append(bytes.data(), std::size_t(got > 0 ? got : 0));
            std::size_t start = 0;
            for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos;
                 start = end + 1) {
                const bool due = answered < queries
                        && pending.compare(start, end - start, codes[std::size_t(answered % 4)])
                                == 0;
                wrong += due ? 0 : 1;
                ++answered;
            }
            pending.erase(0, start);
        }
    }
    // Anything after the last answer due is one too many.
    pollfd after {fd, POLLIN, 0};
    if (answered == queries && ::poll(&after, 1, 50) > 0
        && ::recv(fd, bytes.data(), bytes.size(), MSG_DONTWAIT) > 0)
        ++wrong;
    ::close(fd);
    return wrong + std::max(0, queries - answered);
}

void serverPipelined(benchmark::State &state)
{
    for (auto _ : state) {
        try {
            Servers &s = servers();
            // Four levels, four different codes: an answer out of order is a wrong one.
            const std::string set = "*RST;:SOUR1:VOLT 0.5;:SOUR2:VOLT 1.5;:SOUR3:VOLT 2.5;"
                                    ":SOUR4:VOLT 3.5;:MEAS1:CODE?;:MEAS2:CODE?;:MEAS3:CODE?;"
                                    ":MEAS4:CODE?\n";
            if (::write(s.serverFd, set.data(), set.size()) != ssize_t(set.size()))
                throw std::runtime_error("the levels could not be set");
            std::array<std::string, 4> codes;
            std::string line = readLine(s.serverFd);
            line.pop_back();
            for (std::string &code : codes) {
                code = line.substr(0, line.find(';'));
                line.erase(0, code.size() + 1);
            }
            std::array<long, clients> wrong {};
            const std::int64_t start = monotonicNanoseconds();
            std::vector<std::thread> threads;
            for (int c = 0; c < clients; ++c)
                threads.emplace_back([&, c] {
                    wrong[std::size_t(c)]
                            = pipelined(s.serverPort, codes, settings.queriesPerClient);
                });
            for (std::thread &thread : threads)
                thread.join();
            const double seconds = double(monotonicNanoseconds() - start) / 1e9;
            state.SetIterationTime(seconds);
            state.counters["queries_per_s"] = clients * settings.queriesPerClient / seconds;
            long misanswered = 0;
            for (const long each : wrong)
                misanswered += each;
            state.counters["misanswered"] = double(misanswered);
        } catch (const std::exception &error) {
            couldNotMeasure(state, error.what());
            break;
        }
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "--quick") == 0) {
        settings = {2000, 5000, 2};
        std::copy(argv + 2, argv + argc + 1, argv + 1);
        --argc;
    }
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    repeatedWithSpread(benchmark::RegisterBenchmark("server/roundtrip", serverRoundTrip),
                       settings.roundTrips);
    repeatedWithSpread(benchmark::RegisterBenchmark("server/vxi11", serverVxi11),
                       settings.roundTrips);
    repeatedManually(benchmark::RegisterBenchmark("server/pipelined", serverPipelined),
                     settings.pipelinedRuns, benchmark::kMillisecond)
            ->ComputeStatistics("max", [](const std::vector<double> &values) {
                return *std::max_element(values.begin(), values.end());
            });
    benchmark::RunSpecifiedBenchmarks();
    bool ended = false;
    try {
        // The server ends as a user ends it, and must end well.
        Servers &s = servers();
        s.server.terminate();
        ended = s.server.waitForFinished(10000) && s.server.exitStatus() == QProcess::NormalExit
                && s.server.exitCode() == 0;
    } catch (const std::exception &) { }
    if (echoChild > 0)
        ::kill(echoChild, SIGTERM);
    if (!ended)
        std::fprintf(stderr, "error: could not measure: tx4410-server did not end with status 0\n");
    return measureFailed || !ended ? 3 : 0; // 2 is a usage error
}
