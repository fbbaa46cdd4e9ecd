#include "optionwords.h"

#include <QLocale>

#include <algorithm>

#include <charconv>
#include <cmath>
#include <string_view>

namespace OptionWords {

[[noreturn]] void refuse(const QString &message)
{
    throw UsageError {message};
}

QCommandLineOption valued(const QString &name, const QString &valueName)
{
    return QCommandLineOption(name, QString(), valueName);
}

std::uint32_t wholeNumber(const QString &name, const QString &text, std::uint32_t highest,
                          const QString &note)
{
    const QByteArray bytes = text.toLatin1();
    std::string_view digits(bytes.constData(), std::size_t(bytes.size()));
    // "-1" is a whole number, below the range: said as such, not as something unreadable.
    const bool negative = digits.size() > 1 && digits[0] == '-';
    if (negative)
        digits.remove_prefix(1);
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        base = 16;
    }
    std::uint64_t value = 0;
    const auto [end, error]
            = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || end != digits.data() + digits.size()
        || (error != std::errc() && error != std::errc::result_out_of_range))
        refuse(QStringLiteral("%1 \"%2\" is not a whole number").arg(name, text));
    if (negative || error == std::errc::result_out_of_range || value > highest) {
        refuse(QStringLiteral("%1 %2 is out of range 0 to %3%4")
                       .arg(name, text)
                       .arg(highest)
                       .arg(note.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(note)));
    }
    return std::uint32_t(value);
}

double realNumber(const QString &name, const QString &text)
{
    QLocale notation = QLocale::c();
    notation.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = notation.toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        refuse(QStringLiteral("%1 \"%2\" is not a number").arg(name, text));
    return value;
}

int nameIndex(const QString &name, const QString &text, const QStringList &names)
{
    const qsizetype index = names.indexOf(text.toUpper());
    if (index < 0)
        refuse(QStringLiteral("%1 \"%2\" is not one of %3").arg(name, text, names.join('|')));
    return int(index);
}

void readWords(QCommandLineParser &parser, const QString &command, const QStringList &words,
               const QList<QCommandLineOption> &options, qsizetype positionals,
               const QStringList &repeatable)
{
    // Every message already starts with the program's name.
    const QString prefix = command.isEmpty() ? QString() : command + QStringLiteral(": ");
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(options);
    if (!parser.parse(QStringList {command} + words))
        refuse(prefix + parser.errorText());
    for (const QCommandLineOption &option : options) {
        const QString name = option.names().constFirst();
        if (parser.optionNames().count(name) > 1 && !repeatable.contains(name))
            refuse(QStringLiteral("%1--%2 is given more than once").arg(prefix, name));
    }
    if (parser.positionalArguments().size() > positionals) {
        refuse(QStringLiteral("%1unexpected \"%2\"")
                       .arg(prefix, parser.positionalArguments().at(positionals)));
    }
}

QString required(const QCommandLineParser &parser, const QString &command, const QString &name)
{
    if (!parser.isSet(name))
        refuse(QStringLiteral("%1 needs --%2").arg(command, name));
    return parser.value(name);
}

std::vector<int> channelList(const QCommandLineParser &parser, const QString &command)
{
    static const QStringList names = {"A", "B", "C", "D", "ALL"};
    required(parser, command, "channel");
    std::vector<int> channels;
    for (const QString &value : parser.values("channel")) {
        for (const QString &name : value.split(u',')) {
            const int index = nameIndex("--channel", name, names);
            const std::vector<int> named
                    = index == 4 ? std::vector<int> {0, 1, 2, 3} : std::vector<int> {index};
            for (const int channel : named) {
                if (std::ranges::find(channels, channel) != channels.end())
                    refuse(QStringLiteral("--channel names %1 twice").arg(names[channel]));
                channels.push_back(channel);
            }
        }
    }
    return channels;
}

} // namespace OptionWords
