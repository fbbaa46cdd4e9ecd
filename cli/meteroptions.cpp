#include "meteroptions.h"

#include "optionwords.h"
#include "sessiondevice.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <cmath>

using namespace OptionWords;

QList<QCommandLineOption> meterOptions()
{
    return {valued("meter", "HOST[:PORT]"), valued("meter-query", "TEXT"),
            valued("meter-timeout", "SECONDS"), valued("meter-resolution", "VOLTS"),
            valued("meter-accuracy", "PERCENT%+VOLTS")};
}

bool readAccuracy(const QString &text, double &percent, double &volts)
{
    static const QRegularExpression form(QStringLiteral(
            "^\\s*([0-9]*\\.?[0-9]+(?:[eE][-+]?[0-9]+)?)\\s*%\\s*(?:\\+\\s*([0-9]*\\.?[0-9]+(?:["
            "eE][-+]?[0-9]+)?)\\s*(?:V)?)?\\s*$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    percent = match.captured(1).toDouble();
    volts = match.captured(2).isEmpty() ? 0 : match.captured(2).toDouble();
    return std::isfinite(percent) && std::isfinite(volts) && percent < 100 && volts < 1000;
}

std::optional<Sweep::Meter> meterSettings(const QCommandLineParser &parser)
{
    if (!parser.isSet("meter")) {
        for (const QString name :
             {"meter-query", "meter-timeout", "meter-resolution", "meter-accuracy"}) {
            if (parser.isSet(name))
                refuse(QStringLiteral("--%1 goes with --meter").arg(name));
        }
        return std::nullopt;
    }
    const auto real = [&](const char *name, double fallback) {
        return parser.isSet(name) ? realNumber(QStringLiteral("--") + name, parser.value(name))
                                  : fallback;
    };
    Sweep::Meter meter;
    const QString address = parser.value("meter");
    if (!ServerDevice::parseAddress(address, meter.host, meter.port))
        refuse(QStringLiteral("--meter \"%1\" is not HOST[:PORT]").arg(address));
    if (parser.isSet("meter-query"))
        meter.query = parser.value("meter-query");
    if (meter.query.trimmed().isEmpty() || meter.query.contains(u'\n'))
        refuse("--meter-query must be one line of text");
    const double timeout = real("meter-timeout", 5);
    if (!(timeout > 0))
        refuse(QStringLiteral("--meter-timeout %1 is not above 0")
                       .arg(parser.value("meter-timeout")));
    if (timeout > 3600)
        refuse("--meter-timeout is above 3600 seconds");
    meter.timeoutMs = int(std::ceil(timeout * 1000));
    meter.resolutionVolts = real("meter-resolution", 0);
    if (!(meter.resolutionVolts >= 0 && meter.resolutionVolts <= 1))
        refuse(QStringLiteral("--meter-resolution %1 is out of range 0 to 1 V")
                       .arg(parser.value("meter-resolution")));
    if (parser.isSet("meter-accuracy")
        && !readAccuracy(parser.value("meter-accuracy"), meter.accuracyPercent,
                         meter.accuracyVolts))
        refuse(QStringLiteral("--meter-accuracy \"%1\" is not PERCENT%+VOLTS, as 0.0035%+5e-6")
                       .arg(parser.value("meter-accuracy")));
    return meter;
}
