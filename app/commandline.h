#pragma once

#include "programidentity.h"

#include <QStringList>

#include <optional>
#include <span>
#include <string>

// A window program's own options, read in two steps around the making of the application:
// --version and --help before it, so that they need no display and never touch the board; the
// arguments left once Qt has taken its own (-platform, -style, ...) after it.
namespace CommandLine {

// The exit status for an argument that neither the program nor Qt takes.
inline constexpr int unknownArgumentStatus = 2;

// The text to print for -v/--version or -h/--help anywhere among `arguments` (argv, the
// program's own name first), or nothing.
std::optional<std::string> informationRequested(std::span<char *const> arguments,
                                                const ProgramIdentity &program);

// What to say about the first argument after the program's name, or nothing when there is none.
std::optional<std::string> leftOverArgument(const QStringList &arguments);

} // namespace CommandLine
