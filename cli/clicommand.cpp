#include "clicommand.h"

#include "codeconversion.h"
#include "commandchoices.h"
#include "commandtable.h"
#include "optionwords.h"
#include "sweepsettings.h"

#include <QCommandLineParser>
#include <QLocale>
#include <QRegularExpression>

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

namespace {

using namespace OptionWords;

constexpr int highestCommand = 7; // the commands on screen; 8 is never offered
const QStringList addressNames = {"A", "B", "C", "D", "ALL"};
constexpr int addressIndexes[] = {0, 1, 2, 3, 8}; // members of the window's address list
const QStringList channelNames = {"A", "B", "C", "D"};

const QCommandLineOption waitOption = valued("wait", "SECONDS");
const QCommandLineOption boardOption = valued("board", "PORT");
const QCommandLineOption attachOption(QStringLiteral("attach"));
const QCommandLineOption serverOption = valued("server", "HOST[:PORT]");
const QCommandLineOption databaseOption = valued("database", "FILE");
// The short forms as the window programs take them.
const QCommandLineOption helpOption(QStringList {"help", "h"});
const QCommandLineOption versionOption(QStringList {"version", "v"});

ParsedStep writeStep(const QCommandLineParser &parser)
{
    const QString write = QStringLiteral("write");
    const int command
            = int(wholeNumber("--command", required(parser, write, "command"), highestCommand));
    const int address = addressIndexes[nameIndex("--address", required(parser, write, "address"),
                                                 addressNames)];
    const bool byCode = parser.isSet("code");
    if (byCode == parser.isSet("volts"))
        refuse(byCode ? "write takes --code or --volts, not both"
                      : "write needs --code or --volts");
    if (parser.isSet("vref") && byCode)
        refuse("--vref goes with --volts only");
    const bool calibrated = parser.isSet("calibrated");
    if (calibrated && byCode)
        refuse("--calibrated goes with --volts: a code is written as it is");
    if (calibrated && parser.isSet("vref"))
        refuse("--calibrated takes the reference of the calibration: no --vref");

    std::int32_t code = 0;
    if (byCode) {
        code = std::int32_t(wholeNumber("--code", parser.value("code"), highestCode));
    } else {
        // The window offers a voltage only with the commands that show its code entry.
        if (!CommandTable::commands[std::size_t(command)].showsDataFrame)
            refuse(QStringLiteral("command %1 takes no voltage: give its data bits with --code")
                           .arg(command));
        const QString volts = parser.value("volts");
        if (calibrated) {
            const double level = realNumber("--volts", volts);
            if (level < 0)
                refuse(QStringLiteral("--volts %1 is below 0").arg(volts));
            return CalibratedWrite {command, address, level, volts};
        }
        const QString vref = parser.isSet("vref") ? parser.value("vref") : QStringLiteral("5");
        // Refused rather than clamped as the window's boxes do: a script gets what it asked for.
        const double reference = realNumber("--vref", vref);
        if (!(reference > 0))
            refuse(QStringLiteral("--vref %1 is not above 0").arg(vref));
        const double level = realNumber("--volts", volts);
        if (level < 0 || level > reference)
            refuse(QStringLiteral("--volts %1 is out of range 0 to %2").arg(volts, vref));
        const std::optional<VoltageEntryResult> entry = convertVoltageEntry(volts, vref);
        if (!entry)
            refuse(QStringLiteral("--vref \"%1\" is not a number").arg(vref));
        code = entry->code;
    }
    return SendWord {commandWordFor(command, address, code)};
}

ParsedStep wordStep(const QCommandLineParser &parser)
{
    if (parser.positionalArguments().isEmpty())
        refuse("word needs WORD");
    // The request carries bits 0 to 30 only.
    return SendWord {std::int32_t(
            wholeNumber("WORD", parser.positionalArguments().constFirst(), highestInt))};
}

// "--channel A,C", "--channel ALL" or "--channel A --channel C": each channel once, in the
// order given.
std::vector<int> readChannels(const QCommandLineParser &parser)
{
    return channelList(parser, "read");
}

ParsedStep readStep(const QCommandLineParser &parser)
{
    ReadSamples read {};
    read.channels = readChannels(parser);
    read.calibrated = parser.isSet("calibrated");
    if (read.calibrated && parser.isSet("vdd"))
        refuse("--calibrated reads through the calibration's readback line: no --vdd");
    read.vdd = parser.isSet("vdd") ? realNumber("--vdd", parser.value("vdd")) : 5.0;
    if (!(read.vdd > 0))
        refuse(QStringLiteral("--vdd %1 is not above 0").arg(parser.value("vdd")));
    read.count = parser.isSet("count")
            ? int(wholeNumber("--count", parser.value("count"), highestInt, "0 reads until Ctrl-C"))
            : 1;
    read.intervalMs = parser.isSet("interval-ms")
            ? int(wholeNumber("--interval-ms", parser.value("interval-ms"), highestInt))
            : 1000;
    read.csv = parser.isSet("csv");
    if (parser.isSet("timestamps")) {
        read.isoTime
                = nameIndex("--timestamps", parser.value("timestamps"), {"RELATIVE", "ISO"}) == 1;
        if (!read.csv)
            refuse("--timestamps goes with --csv");
    }
    return read;
}

ParsedStep pinsStep(const QCommandLineParser &parser)
{
    DrivePins pins;
    if (parser.isSet("clr"))
        pins.clrHigh = wholeNumber("--clr", parser.value("clr"), 1) == 1;
    if (parser.isSet("ldac"))
        pins.ldacHigh = wholeNumber("--ldac", parser.value("ldac"), 1) == 1;
    if (!pins.clrHigh && !pins.ldacHigh)
        refuse("pins needs --clr or --ldac");
    return pins;
}

// One of the commands that act on the board, its options read into `parser` beside `extra`.
ParsedStep step(QCommandLineParser &parser, const QString &command, const QStringList &words,
                const QList<QCommandLineOption> &extra)
{
    // "write --help" asks for the usage, not for the options write needs.
    const auto asksForHelp = [&] {
        return !extra.isEmpty() && parser.isSet(helpOption);
    };
    if (command == u"write") {
        readWords(parser, command, words,
                  extra
                          + QList {valued("command", "N"), valued("address", "A|B|C|D|ALL"),
                                   valued("code", "CODE"), valued("volts", "V"),
                                   valued("vref", "VREF"), QCommandLineOption("calibrated")});
        return asksForHelp() ? ParsedStep {} : writeStep(parser);
    }
    if (command == u"word") {
        readWords(parser, command, words, extra, 1);
        return asksForHelp() ? ParsedStep {} : wordStep(parser);
    }
    if (command == u"read") {
        readWords(parser, command, words,
                  extra
                          + QList {valued("channel", "A|B|C|D|ALL"), valued("vdd", "VDD"),
                                   valued("count", "N"), valued("interval-ms", "MS"),
                                   QCommandLineOption("csv"), valued("timestamps", "relative|iso"),
                                   QCommandLineOption("calibrated")},
                  0, {QStringLiteral("channel")});
        return asksForHelp() ? ParsedStep {} : readStep(parser);
    }
    if (command == u"pins") {
        readWords(parser, command, words,
                  extra + QList {valued("clr", "0|1"), valued("ldac", "0|1")});
        return asksForHelp() ? ParsedStep {} : pinsStep(parser);
    }
    refuse(QStringLiteral("unknown command \"%1\"").arg(command));
}

// "1-2.3": a bus, then a port on each hub; the library says whether a board is there.
QString boardPort(const QCommandLineParser &parser)
{
    static const QRegularExpression path(QStringLiteral("^(sim|[1-9][0-9]{0,2}-[1-9][0-9]{0,2}"
                                                        "(\\.[1-9][0-9]{0,2}){0,6})$"));
    const QString port = parser.value(boardOption);
    if (parser.isSet(boardOption) && !path.match(port).hasMatch())
        refuse(QStringLiteral("--board \"%1\" is not a port as list prints it (as 1-2.3)")
                       .arg(port));
    return port;
}

// An option taken before the command or after it, once.
const QCommandLineParser &givenIn(const QCommandLineParser &first, const QCommandLineParser &second,
                                  const QCommandLineOption &option)
{
    if (first.isSet(option) && second.isSet(option))
        refuse(QStringLiteral("--%1 is given more than once").arg(option.names().constFirst()));
    return first.isSet(option) ? first : second;
}

int waitSeconds(const QCommandLineParser &first, const QCommandLineParser &second)
{
    const QCommandLineParser &given = givenIn(first, second, waitOption);
    return given.isSet(waitOption) ? int(wholeNumber("--wait", given.value(waitOption), highestInt))
                                   : 0;
}

QString database(const QCommandLineParser &first, const QCommandLineParser &second)
{
    const QCommandLineParser &given = givenIn(first, second, databaseOption);
    if (given.isSet(databaseOption) && given.value(databaseOption).isEmpty())
        refuse("--database: the file name is empty");
    return given.value(databaseOption);
}

// The commands with options of their own, each read by its own file: a new one is a row here.
struct WholeCommand
{
    const char *name;
    Invocation::Kind kind;
    QList<QCommandLineOption> (*options)();
    void (*read)(const QCommandLineParser &parser, Invocation &invocation);
    bool board; // it brings a board up, so --wait goes with it
};

const WholeCommand wholeCommands[] = {
        {"sweep", Invocation::Kind::Sweep, sweepOptions,
         [](const QCommandLineParser &parser, Invocation &invocation) {
             invocation.sweep = sweepSettings(parser);
         },
         true},
        {"calibrate", Invocation::Kind::Calibrate, calibrateOptions,
         [](const QCommandLineParser &parser, Invocation &invocation) {
             invocation.calibrate = calibrateSettings(parser);
         },
         true},
        {"history", Invocation::Kind::History, historyOptions,
         [](const QCommandLineParser &parser, Invocation &invocation) {
             invocation.history = historySettings(parser);
         },
         false},
};

} // namespace

std::variant<Invocation, UsageError> parseInvocation(const QStringList &arguments)
{
    try {
        QCommandLineParser global;
        global.setOptionsAfterPositionalArgumentsMode(
                QCommandLineParser::ParseAsPositionalArguments);
        readWords(global, {}, arguments,
                  {helpOption, versionOption, waitOption, boardOption, attachOption, serverOption,
                   databaseOption},
                  std::numeric_limits<qsizetype>::max());
        Invocation invocation;
        QStringList words = global.positionalArguments();
        if (global.isSet(helpOption) || global.isSet(versionOption)) {
            if (!words.isEmpty())
                refuse(QStringLiteral("unexpected \"%1\"").arg(words.constFirst()));
            if (!global.isSet(helpOption))
                invocation.kind = Invocation::Kind::Version;
            return invocation;
        }
        if (words.isEmpty())
            refuse("no command given");
        const QString command = words.takeFirst();

        QCommandLineParser local;
        invocation.boardPort = boardPort(global);
        invocation.attach = global.isSet(attachOption);
        invocation.server = global.value(serverOption);
        if (global.isSet(serverOption) && (global.isSet(boardOption) || invocation.attach))
            refuse("--board and --attach choose the board of this machine; the server holds its "
                   "own");
        if (global.isSet(serverOption) && (command == u"list" || command == u"doctor"))
            refuse(command + " looks at this machine's USB: it takes no --server");
        if (command == u"list" || command == u"doctor") {
            readWords(local, command, words, {helpOption, QCommandLineOption("json")});
            invocation.kind
                    = command == u"list" ? Invocation::Kind::List : Invocation::Kind::Doctor;
            invocation.json = local.isSet("json");
            return local.isSet(helpOption) ? Invocation {} : invocation;
        }
        const auto whole = std::ranges::find_if(wholeCommands, [&](const WholeCommand &row) {
            return command == QLatin1String(row.name);
        });
        if (whole != std::end(wholeCommands)) {
            QList<QCommandLineOption> options
                    = whole->options() + QList {helpOption, waitOption, databaseOption};
            readWords(local, command, words, options, 0,
                      whole->kind == Invocation::Kind::Calibrate ? QStringList {"channel"}
                                                                 : QStringList {});
            if (local.isSet(helpOption))
                return Invocation {};
            if (global.isSet(serverOption) && whole->kind == Invocation::Kind::Calibrate)
                refuse("calibrate keeps its record on this machine for this machine's board: "
                       "through a server, ask it *CAL? (its --calibration-meter)");
            if (global.isSet(serverOption) && whole->kind == Invocation::Kind::Sweep
                && local.isSet("calibrated"))
                refuse("sweep --calibrated checks this machine's records of this machine's "
                       "board: it takes no --server");
            if (global.isSet(serverOption) && whole->kind == Invocation::Kind::History)
                refuse("history reads this machine's records: it takes no --server");
            if (!whole->board && local.isSet(waitOption))
                refuse(command + " does not bring a board up: it takes no --wait");
            invocation.kind = whole->kind;
            whole->read(local, invocation);
        } else if (command == u"batch") {
            readWords(local, command, words, {waitOption, helpOption, databaseOption}, 1);
            invocation.kind = Invocation::Kind::Batch;
            invocation.batchFile = local.positionalArguments().value(0, QStringLiteral("-"));
            if (invocation.batchFile.isEmpty())
                refuse("batch: the file name is empty (- is standard input)");
        } else {
            invocation.kind = Invocation::Kind::Step;
            invocation.step = step(local, command, words, {waitOption, helpOption, databaseOption});
        }
        if (local.isSet(helpOption))
            return Invocation {};
        invocation.waitSeconds = waitSeconds(global, local);
        invocation.database = database(global, local);
        const auto *write = std::get_if<CalibratedWrite>(&invocation.step);
        const auto *read = std::get_if<ReadSamples>(&invocation.step);
        if (global.isSet(serverOption)
            && (write != nullptr || (read != nullptr && read->calibrated)))
            refuse("--calibrated applies this machine's records to this machine's board: "
                   "through a server, CAL:STAT ON applies the server's");
        return invocation;
    } catch (const UsageError &error) {
        return error;
    }
}

std::variant<ParsedStep, UsageError> parseBatchLine(const QStringList &words)
{
    try {
        if (words.isEmpty())
            refuse("no command given");
        QCommandLineParser parser;
        return step(parser, words.constFirst(), words.mid(1), {});
    } catch (const UsageError &error) {
        return error;
    }
}

QString usageText()
{
    return QStringLiteral(
            "Usage:\n"
            "  tx4410-cli write --command N --address A|B|C|D|ALL (--code CODE | --volts V "
            "[--vref VREF | --calibrated])\n"
            "  tx4410-cli word WORD\n"
            "  tx4410-cli read --channel A|B|C|D|ALL[,...] [--vdd VDD] [--count N] "
            "[--interval-ms MS]\n"
            "             [--csv [--timestamps relative|iso]] [--calibrated]\n"
            "  tx4410-cli pins [--clr 0|1] [--ldac 0|1]\n"
            "  tx4410-cli batch [FILE]\n"
            "  tx4410-cli sweep --channel A|B|C|D [--from CODE] [--to CODE] [--step CODE | "
            "--points "
            "N]\n"
            "             [--carries major|all|none]\n"
            "             [--settle-ms MS] [--samples N] [--vref VREF] [--vdd VDD]\n"
            "             [--meter HOST[:PORT] [--meter-query TEXT] [--meter-timeout SECONDS]\n"
            "              [--meter-resolution VOLTS] [--meter-accuracy PERCENT%+VOLTS]]\n"
            "             [--csv FILE] [--plot FILE.png|FILE.svg] [--method endpoint|best-fit]\n"
            "             [--calibrated] [--store]\n"
            "  tx4410-cli calibrate --channel A|B|C|D|ALL[,...] --meter HOST[:PORT]\n"
            "             [--meter-route TEXT] [--points N] [--samples N] [--settle-ms MS]\n"
            "             [--vref VREF] [--vdd VDD] [--valid-days DAYS] [--name NAME]\n"
            "             [--meter-query TEXT] [--meter-timeout SECONDS]\n"
            "             [--meter-resolution VOLTS] [--meter-accuracy PERCENT%+VOLTS]\n"
            "  tx4410-cli history [--board ID] [--json | --export FILE.csv|FILE.json\n"
            "             [--plot FILE.png|FILE.svg]]\n"
            "  tx4410-cli list | doctor [--json]\n"
            "  tx4410-cli --server HOST[:PORT] write|word|read|pins|batch|sweep ...\n"
            "  tx4410-cli --version (-v) | --help (-h)\n"
            "\n"
            "Each command brings the board up first; --wait SECONDS retries that once a second\n"
            "until SECONDS have passed. Before the command: --board PORT takes the board at that\n"
            "port (as list prints it) and --attach takes a board that runs the firmware as it is,\n"
            "without loading it, so its outputs stay as they were. --server HOST[:PORT] (or\n"
            "TX4410_SERVER; port 5025 by default) runs the command through a tx4410-server\n"
            "that holds the board instead: nothing is brought up, the outputs stay as they\n"
            "are, and --wait retries the connection.\n"
            "  list    prints each board on the bus: port, vendor:product, state, access.\n"
            "  doctor  checks the library, configuration, firmware image, USB device nodes, udev\n"
            "          rules and boards (the simulated board's variables with TX4410_BOARD=sim);\n"
            "          one line each, ok, warn or FAIL with its fix. Exit 1 when one fails.\n"
            "          --json: for list and doctor, one JSON array of objects, one per board or\n"
            "          check, each with its id, status, detail and fix; a bus that cannot be\n"
            "          listed is list's one object, id bus, with its status (exit 1).\n"
            "  write   composes the command word as Write to Part does and sends it; prints it.\n"
            "          N, in the order of the window's command list:\n"
            "            0 Write to Input Register n       4 Power Down DAC (Power-up)\n"
            "            1 Update DAC Register n           5 Reset\n"
            "            2 Write to Input Register n,      6 LDAC Register Setup\n"
            "              Update All                      7 REF Setup Register\n"
            "            3 Write to and Update DAC channel n\n"
            "          CODE: the 16 data bits, 0 to 65535 or 0x0 to 0xFFFF. V: volts against\n"
            "          VREF (default 5), 0 to VREF, for commands 0, 2 and 3 only.\n"
            "  word    sends a word of bits 0 to 30, decimal or 0x hex; prints it.\n"
            "  read    selects the channel and samples it: volts = code / 4096 * VDD (default\n"
            "          5). N samples (default 1; 0: until Ctrl-C or SIGTERM) MS apart (default\n"
            "          1000), each line flushed as it is read; --csv prints\n"
            "          time_s,channel,code,volts, and with --timestamps iso a time_utc column\n"
            "          (ISO 8601, UTC) after time_s. Ctrl-C ends the run with the rows so far.\n"
            "          Several channels (--channel A,C, ALL, or --channel repeated) are read in\n"
            "          turn at each sample: one line of their volts, space-separated in the\n"
            "          order given, or a CSV row for each, sharing the sample's time.\n"
            "  pins    drives CLR and LDAC: 0 low, 1 high.\n"
            "  batch   runs the commands of FILE (or standard input, -), one a line, on one\n"
            "          bring-up; blank lines and # comments are skipped. Every line is checked\n"
            "          before the first is run; with none, the board is not touched. At most\n"
            "          4096 bytes a line and 16 MiB in all. Its reads print one CSV header,\n"
            "          with time_utc in every row when one of them has --timestamps iso.\n"
            "  sweep   writes each code to the channel with command 3, waits MS (default 2) and\n"
            "          averages N samples (default 4) of the board's readback (VDD as for read),\n"
            "          or of a SCPI meter on TCP (port 5025; TEXT default MEAS:VOLT:DC?, answered\n"
            "          within SECONDS, default 5; its resolution, one count in VOLTS, else the\n"
            "          last digit of its answers; its stated accuracy, e.g. 0.0035%+5e-6). "
            "Through\n"
            "          the readback every point at the middle of an ADC step, by default 257;\n"
            "          through a meter 257 points, and code by code around the carries of bits\n"
            "          8 to 15 (--carries all: every bit's; none; the readback measures them only\n"
            "          when asked). Prints offset and gain error, INL, DNL\n"
            "          between adjacent codes, the step error of wider steps and whether it is\n"
            "          monotonic, each with its bound; --csv writes every point as it is "
            "measured,\n"
            "          --plot draws them. Ctrl-C, SIGTERM or SIGHUP ends it at once, with the\n"
            "          figures of what was measured (status 130, 143, 129). --calibrated\n"
            "          checks the channel's calibration against the meter: the largest error\n"
            "          of a calibrated setting beside the plain one, and whether it is within\n"
            "          the stated uncertainty (status 6 when not); --store keeps a sweep\n"
            "          measured whole in the records.\n"
            "  calibrate  measures each channel at N points (default 33) through the meter,\n"
            "          switched to each by TEXT (%n its number, %c its letter: ROUT:CLOS\n"
            "          (@%n)), and the readback beside it; fits gain and offset over the points\n"
            "          off the rails and a correction table for the rest; prints the residual\n"
            "          at every point and the uncertainty of a calibrated setting part by part;\n"
            "          stores it in one transaction, due after DAYS (default 365), once every\n"
            "          channel was measured and its fit holds (status 6 when it does not).\n"
            "          write --volts --calibrated then writes the code whose calibrated output\n"
            "          is nearest V, read --calibrated reads through the readback's calibrated\n"
            "          line; past its due date a calibration still applies, with a warning.\n"
            "  history  lists the stored calibrations and sweeps, every board's or one's (its\n"
            "          port path, serial or name); --export writes a board's calibrations in\n"
            "          force as a certificate (CSV or JSON) with a plot of the residuals.\n"
            "--database FILE (or TX4410_DATABASE; default tx4410/records.sqlite in the\n"
            "user's data folder) holds the records.\n"
            "\n"
            "Exit status: 0 done, 2 usage error, 3 the board was not brought up (the reason and\n"
            "its fix on one line), 4 a request failed, 5 the sweep's meter failed, 1 the board\n"
            "library cannot be used or the output cannot be written, 130 a batch, a sweep or a\n"
            "wait ended by Ctrl-C (143 SIGTERM, 129 SIGHUP), 6 a calibration that does not\n"
            "hold, or a calibrated setting with no calibration stored.\n");
}
