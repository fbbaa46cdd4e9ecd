#include "boardconfig.h"

#include <dlfcn.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <system_error>

namespace {

constexpr double maxComeBackSeconds = 600;

// Thrown only inside this file, caught in read().
struct Problem
{
    std::string text;
};

std::string trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t\r") - first + 1));
}

// Printable as it stands; anything else escaped, so that a message never carries raw controls.
std::string shown(std::string_view text)
{
    std::string out;
    for (const char c : text.substr(0, 80)) {
        if (c >= 0x20 && c < 0x7F) {
            out += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
            out += escaped;
        }
    }
    return '"' + out + (text.size() > 80 ? "...\"" : "\"");
}

std::optional<unsigned> hexWord(std::string_view text)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.size() != 4 || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

UsbIdentity identity(const std::string &where, std::string_view text)
{
    const auto colon = text.find(':');
    const auto vendor = hexWord(text.substr(0, colon));
    const auto product
            = colon == std::string_view::npos ? std::nullopt : hexWord(text.substr(colon + 1));
    if (!vendor || !product)
        throw Problem {where + shown(text)
                       + " is not VENDOR:PRODUCT in four hexadecimal digits each (as 6666:4410)"};
    return {static_cast<std::uint16_t>(*vendor), static_cast<std::uint16_t>(*product)};
}

std::chrono::milliseconds seconds(const std::string &where, std::string_view text)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value,
                                              std::chars_format::fixed);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()
        || !(value >= 0.1 && value <= maxComeBackSeconds))
        throw Problem {where + shown(text) + " is not a number of seconds from 0.1 to 600"};
    return std::chrono::milliseconds(std::lround(value * 1000));
}

// "1-2.3": the bus, then the port on each hub down to the board; "sim" for the simulated one.
std::string port(const std::string &where, std::string_view text)
{
    bool valid = text == "sim";
    if (!valid && !text.empty()) {
        std::size_t numbers = 0;
        valid = true;
        for (std::size_t at = 0; valid && at <= text.size(); ++numbers) {
            const std::size_t stop = text.find(numbers == 0 ? '-' : '.', at);
            const std::string_view part = text.substr(at, stop - at);
            unsigned value = 0;
            const auto [end, error]
                    = std::from_chars(part.data(), part.data() + part.size(), value);
            valid = !part.empty() && error == std::errc() && end == part.data() + part.size()
                    && value >= 1 && value <= 255 && (numbers > 0 || stop != std::string::npos);
            at = stop == std::string_view::npos ? text.size() + 1 : stop + 1;
        }
        valid = valid && numbers >= 2 && numbers <= 8;
    }
    if (!valid)
        throw Problem {where + shown(text) + " is not a port path as 'tx4410-cli list' prints it"
                       + " (as 1-2.3)"};
    return std::string(text);
}

bool flag(const std::string &where, std::string_view text)
{
    if (text != "0" && text != "1")
        throw Problem {where + shown(text) + " is not 0 or 1"};
    return text == "1";
}

void readFile(const std::string &given, bool mustExist, BoardConfig &config)
{
    // Named where it really is: the package's link beside the library points into /etc.
    std::error_code unresolved;
    const std::filesystem::path real = std::filesystem::weakly_canonical(given, unresolved);
    const std::string path = unresolved ? given : real.string();
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (!mustExist && errno == ENOENT)
            return;
        throw Problem {path + ": cannot be read: " + std::generic_category().message(errno)};
    }
    std::string text(BoardConfigFile::maxBytes + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad())
        throw Problem {path + ": cannot be read"};
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > BoardConfigFile::maxBytes)
        throw Problem {path + ": larger than 64 KiB, no configuration file"};
    config.file = path;

    std::set<std::string> seen;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const std::string content = trimmed(std::string_view(line).substr(0, line.find('#')));
        if (content.empty())
            continue;
        const std::string at = path + " line " + std::to_string(number) + ": ";
        const auto equals = content.find('=');
        if (equals == std::string::npos)
            throw Problem {at + shown(content) + " is not 'setting = value'"};
        const std::string key = trimmed(std::string_view(content).substr(0, equals));
        const std::string value = trimmed(std::string_view(content).substr(equals + 1));
        if (!seen.insert(key).second)
            throw Problem {at + key + " is set a second time"};
        const std::string where = at + key + ' ';
        if (key == "loader-id")
            config.loader = identity(where, value);
        else if (key == "firmware-id")
            config.firmware = identity(where, value);
        else if (key == "come-back-seconds")
            config.comeBack = seconds(where, value);
        else
            throw Problem {at + "unknown setting " + shown(key)
                           + " (loader-id, firmware-id, come-back-seconds)"};
    }
}

} // namespace

namespace BoardConfigFile {

std::string besideLibrary()
{
    Dl_info info {};
    if (dladdr(reinterpret_cast<void *>(&besideLibrary), &info) == 0 || info.dli_fname == nullptr)
        return name;
    const std::string library = info.dli_fname;
    const auto slash = library.rfind('/');
    return (slash == std::string::npos ? std::string(".") : library.substr(0, slash)) + '/' + name;
}

BoardConfigReading read(const std::string &path, const Environment &environment)
{
    BoardConfigReading reading;
    BoardConfig &config = reading.config;
    try {
        const char *named = environment("TX4410_BOARD_CONFIG");
        if (named != nullptr && *named != '\0')
            readFile(named, true, config);
        else
            readFile(path, false, config);
        const auto variable = [&](const char *name, auto apply) {
            if (const char *value = environment(name))
                apply(std::string(name) + ' ', std::string_view(value));
        };
        variable("TX4410_LOADER_ID", [&](const std::string &where, auto text) {
            config.loader = identity(where, text);
        });
        variable("TX4410_FIRMWARE_ID", [&](const std::string &where, auto text) {
            config.firmware = identity(where, text);
        });
        variable("TX4410_COME_BACK_SECONDS", [&](const std::string &where, auto text) {
            config.comeBack = seconds(where, text);
        });
        variable("TX4410_BOARD_PORT", [&](const std::string &where, auto text) {
            config.port = text.empty() ? std::string() : port(where, text);
        });
        variable("TX4410_ATTACH",
                 [&](const std::string &where, auto text) { config.attach = flag(where, text); });
    } catch (const Problem &problem) {
        reading.problem = problem.text;
    }
    return reading;
}

} // namespace BoardConfigFile
