// Reading a command's words: its options, whole and real numbers, names. Each function throws
// UsageError, which the parse that called it returns.
#pragma once

#include "clicommand.h"

#include <QCommandLineParser>

#include <cstdint>
#include <limits>
#include <vector>

namespace OptionWords {

inline constexpr std::uint32_t highestInt = std::numeric_limits<std::int32_t>::max();

[[noreturn]] void refuse(const QString &message);

QCommandLineOption valued(const QString &name, const QString &valueName);

// Decimal digits, or 0x and hex digits, and nothing else; at most `highest`. `note` follows the
// message of a number out of range (a negative one included), as what 0 means.
std::uint32_t wholeNumber(const QString &name, const QString &text, std::uint32_t highest,
                          const QString &note = {});

// A finite number with "." as its point, whatever the user's locale.
double realNumber(const QString &name, const QString &text);

// The index of text in names, any case.
int nameIndex(const QString &name, const QString &text, const QStringList &names);

// Reads the words after the command's name (empty: the program's own options) against the
// options it takes: every option at most once but those named in `repeatable`, positional words
// only where the command takes them.
void readWords(QCommandLineParser &parser, const QString &command, const QStringList &words,
               const QList<QCommandLineOption> &options, qsizetype positionals = 0,
               const QStringList &repeatable = {});

QString required(const QCommandLineParser &parser, const QString &command, const QString &name);

// "--channel A,C", "--channel ALL" or "--channel A --channel C": 0..3, each once, in the order
// given.
std::vector<int> channelList(const QCommandLineParser &parser, const QString &command);

} // namespace OptionWords
