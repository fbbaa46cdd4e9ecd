#include "commandline.h"

#include <filesystem>
#include <string_view>

namespace CommandLine {

namespace {

// The name the program was started by, for its messages.
std::string programName(const std::string &firstArgument)
{
    return firstArgument.empty() ? std::string("TX4410")
                                 : std::filesystem::path(firstArgument).filename().string();
}

std::string helpText(const std::string &name, const ProgramIdentity &program)
{
    std::string text = "Usage: " + name + " [-v | --version] [-h | --help] [Qt's options]\n"
            + program.title + " " + program.version
            + ", the bench program for the TX4410 evaluation board.\n";
    text += R"(
Options:
  -v, --version  print the program's name and version, then exit
  -h, --help     print this text, then exit
Qt's own options work as in any Qt program, e.g. -platform offscreen, -style fusion, -reverse.
Any other argument is refused: the program says so and exits with status 2 before it touches
the board.

Environment:
  TX4410_BOARD=sim              the simulated board; unset or anything else: the board on USB
  TX4410_SIM_ABSENT_ATTEMPTS=N  the simulated board is absent for the first N bring-up attempts
                                (always, or a negative number: it never appears)
  TX4410_SIM_FAIL_REQUESTS=1    every request to the simulated board fails once it is up
  TX4410_BOARD_TRACE=FILE       append one line per board library call to FILE
  TX4410_BOARD_PORT=PORT        take the board at this USB port (as tx4410-cli list prints it)
  TX4410_BOARD_CONFIG=FILE      read this board configuration instead of board.conf
  TX4410_LOADER_ID=VVVV:PPPP    the board's USB identity while only its loader runs
  TX4410_FIRMWARE_ID=VVVV:PPPP  its identity once the firmware runs
  TX4410_COME_BACK_SECONDS=S    how long a load waits for the board to come back
)";
    if (program.boardLibrary == BoardLibraryForm::BoardPort)
        text += "  LD_LIBRARY_PATH               searched for libBoardPort.so first\n";
    text += "  QT_QPA_PLATFORM, QT_SCALE_FACTOR, QT_STYLE_OVERRIDE and the rest of Qt's own\n";
    return text;
}

} // namespace

std::optional<std::string> informationRequested(std::span<char *const> arguments,
                                                const ProgramIdentity &program)
{
    for (const char *argument : arguments.subspan(arguments.empty() ? 0 : 1)) {
        const std::string_view option = argument ? argument : "";
        if (option == "-v" || option == "--version")
            return std::string(program.title) + " " + program.version + "\n";
        if (option == "-h" || option == "--help")
            return helpText(programName(arguments.front() ? arguments.front() : ""), program);
    }
    return std::nullopt;
}

std::optional<std::string> leftOverArgument(const QStringList &arguments)
{
    if (arguments.size() < 2)
        return std::nullopt;
    const std::string name = programName(arguments.front().toStdString());
    return name + ": unknown argument \"" + arguments.at(1).toStdString() + "\"\nTry \"" + name
            + " --help\".\n";
}

} // namespace CommandLine
