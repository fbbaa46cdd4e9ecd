// The commands of tx4410-cli, checked in full before anything reaches the board.
#pragma once

#include "calibratesettings.h"
#include "channelcalibration.h"
#include "historysettings.h"
#include "sweepsettings.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

// One vendor request carrying a command word.
struct SendWord
{
    std::int32_t word;
};

// Takes `count` samples `intervalMs` apart, each a reading of every channel in turn.
struct ReadSamples
{
    std::vector<int> channels; // 0..3, "A" to "D", each once, in the order given
    double vdd;                // the ADC's full scale, in volts
    int count;                 // 0: until Ctrl-C or SIGTERM
    int intervalMs;
    bool csv;
    bool isoTime = false; // a UTC wall-clock column beside time_s
    // Volts through each channel's readback line of its calibration, filled in before it runs.
    bool calibrated = false;
    std::array<Calibration::Readback, 4> lines {};
};

// Drives CLR, then LDAC; a pin without a level is left alone.
struct DrivePins
{
    std::optional<bool> clrHigh;
    std::optional<bool> ldacHigh;
};

// A voltage written through the board's calibration (write --calibrated): the code is known once
// the board and its record are, before the board is brought up.
struct CalibratedWrite
{
    int command = 3;
    int address = 0; // 0..3, or 8 for all four
    double volts = 0;
    QString text; // as given, for messages
};

using BoardStep = std::variant<SendWord, ReadSamples, DrivePins>;
// What a command line or batch line asks for: a board step, or one that needs the records first.
using ParsedStep = std::variant<SendWord, ReadSamples, DrivePins, CalibratedWrite>;

// What was wrong with a command line or a batch line, in one line.
struct UsageError
{
    QString message;
};

// What a whole command line asks for.
struct Invocation
{
    enum class Kind { Help, Version, Step, Batch, Sweep, Calibrate, History, List, Doctor };

    Kind kind = Kind::Help;
    ParsedStep step = SendWord {0}; // Kind::Step
    QString batchFile;              // Kind::Batch; "-" for standard input
    SweepSettings sweep;            // Kind::Sweep
    CalibrateSettings calibrate;    // Kind::Calibrate
    HistorySettings history;        // Kind::History
    QString database;               // --database; empty: TX4410_DATABASE, else the user's
    int waitSeconds = 0;            // bring-up attempts go on once a second until this deadline
    QString boardPort;              // the board chosen by its port; empty: the first that opens
    bool attach = false;            // take a board that runs the firmware without loading it
    QString server;                 // --server HOST[:PORT]; empty: this machine's board
    bool json = false;              // Kind::List and Kind::Doctor
};

// The arguments after the program's name.
std::variant<Invocation, UsageError> parseInvocation(const QStringList &arguments);

// One batch line, split into words: write, word, read or pins, as on the command line.
std::variant<ParsedStep, UsageError> parseBatchLine(const QStringList &words);

// The forms of every command and their options, for --help and after a usage error.
QString usageText();
