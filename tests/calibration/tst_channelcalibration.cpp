#include "channelcalibration.h"

#include <QTest>

#include <cmath>

using namespace Calibration;

namespace {

// "code:volts", with "~deviation/samples" and "@adc" after it as measured.
std::vector<Measured> pointsFrom(const QString &text)
{
    std::vector<Measured> points;
    for (const QString &word : text.split(u' ', Qt::SkipEmptyParts)) {
        Measured point;
        QString rest = word;
        if (rest.contains(u'@')) {
            point.adcCode = rest.section(u'@', 1).toDouble();
            rest = rest.section(u'@', 0, 0);
        }
        if (rest.contains(u'~')) {
            point.deviation = rest.section(u'~', 1).section(u'/', 0, 0).toDouble();
            point.samples = rest.section(u'/', 1).toInt();
            rest = rest.section(u'~', 0, 0);
        }
        point.code = rest.section(u':', 0, 0).toInt();
        point.volts = rest.section(u':', 1).toDouble();
        points.push_back(point);
    }
    return points;
}

} // namespace

// A reference of 65536 V makes one ideal LSB one volt, and a Vdd of 4096 V one ADC step one
// volt: every figure below is worked out by hand.
class tst_ChannelCalibration : public QObject
{
    Q_OBJECT

private slots:
    void fitted_data()
    {
        QTest::addColumn<QString>("points");
        // The meter: "resolution accuracy% accuracyV".
        QTest::addColumn<QString>("meter");
        // figure=value (1e-6), out@CODE=volts, code@VOLTS=code or none, total@VOLTS=volts;
        // or refused:words the reason holds.
        QTest::addColumn<QString>("expected");

        const auto row = [](const char *name, const char *points, const char *meter,
                            const char *expected) {
            QTest::newRow(name) << points << meter << expected;
        };
        row("a line: nothing to correct", "0:10 1000:1010 2000:2010 3000:3010", "0 0 0",
            "offset=10 slope=1 gain=0 corr@1000=0 interp=0 lowest=0 highest=3000 "
            "out@1500=1510 code@2010.4=2000 code@2010.6=2001");
        row("halfway between two codes: the lower", "0:10 1000:1010 2000:2010", "0 0 0",
            "code@2010.5=2000 code@10.5=0");
        row("beyond the outputs by more than half an LSB: unreachable",
            "0:10 1000:1010 2000:2010 3000:3010", "0 0 0",
            "code@9.5=0 code@9.4=none code@3010.5=3000 code@3010.6=none");
        // Slope 1.01 through (0, 20): 10121 is 1/1.01 code above 10000.
        row("offset and gain error", "0:20 10000:10120 20000:20220", "0 0 0",
            "offset=20 slope=1.01 gain=1 code@10120=10000 code@10121=10001 code@20220=20000");
        // Best fit through (0,10) (1000,1012) (2000,2010): slope 1, offset 10.6667; corrections
        // -0.6667, +1.3333, -0.6667. Code 500 is halfway between 10 and 1012: 511.
        row("a bow: the correction interpolated between points", "0:10 1000:1012 2000:2010",
            "0 0 0",
            "offset=10.6666667 slope=1 corr@0=-0.6666667 corr@1000=1.3333333 "
            "corr@2000=-0.6666667 out@500=511 out@1500=1511 out@1000=1012 code@511=500 "
            "code@1511=1500");
        // The middle point's neighbours predict -0.6667: it is 2 above.
        row("the residual of a point predicted from its neighbours",
            "0:10~0/2 1000:1012~0/2 2000:2010~0/2", "0 0 0",
            "resid@1000=2 interp=2 noise=0 total@1000=2");
        // 0 V is a rail (within half an LSB): the line 1000 to 3000 is code - 10, clear of the
        // rail (0.5) from code 11.
        row("clipped at 0 V: known from where the output leaves the rail",
            "0:0 1000:990 2000:1990 3000:2990", "0 0 0",
            "offset=-10 slope=1 lowest=11 highest=3000 out@11=1 code@5=15 code@0.5=11 "
            "code@0.4=none");
        // The reference, 65536, is a rail: clear of it (65535.5) up to code 65525.
        row("clipped at the reference", "63000:63010 64000:64010 65000:65010 65535:65536", "0 0 0",
            "lowest=63000 highest=65525 code@65535=65525 code@65536=none");
        // Noise 0.2 over 4 samples: two standard errors 0.2; half a count 0.005; 0.1 % of 1000
        // and 0.05: 1.05.
        row("the uncertainty's parts", "0:10~0.2/4 1000:1010~0.2/4 2000:2010~0.2/4",
            "0.01 0.1 0.05",
            "noise=0.2 resolution=0.005 interp=0 accuracy@1000=1.05 total@1000=1.255 "
            "total@0=0.255");
        row("too few points off the rails", "0:0 1:0 2:0 3:5", "0 0 0",
            "refused:1 of the 4 points measured are off the rails");
        // Two points make a line but leave nothing to check it by.
        row("two points off the rails, one at each", "0:0 1000:1000 2000:2000 65535:65536", "0 0 0",
            "refused:2 of the 4 points measured are off the rails");
        row("a meter on another output: flat", "0:2500 1000:2500 2000:2500", "0 0 0",
            "refused:do not follow the codes");
        row("a gain error beyond 10 %", "0:1 1000:1120 2000:2240", "0 0 0",
            "refused:do not follow the codes");
        row("an offset beyond a tenth of the reference", "0:7000 1000:8000 2000:9000", "0 0 0",
            "refused:do not follow the codes");
        // The ADC reads two steps high: volts = code - 2.
        row("the readback's line", "0:10@12 1000:1010@1012 2000:2010@2012", "0 0 0",
            "rbmeasured=1 rboffset=-2 rbslope=1 rbresid=0");
        // 1009 instead of 1010 at ADC 1012: the line through the ends is off by 2/3 there.
        row("the readback's largest residual", "0:10@12 1000:1009@1012 2000:2010@2012", "0 0 0",
            "rbmeasured=1 rbresid=0.6666667");
        row("an ADC code at its end is left out of the readback's line",
            "0:10@12 1000:1010@1012 2000:2010@2012 3000:3010@4095", "0 0 0",
            "rbmeasured=1 rboffset=-2 rbslope=1");
        row("a readback at half the gain does not follow", "0:10@6 1000:1010@506 2000:2010@1006",
            "0 0 0", "refused:readback does not follow");
        row("no readback read", "0:10 1000:1010 2000:2010", "0 0 0", "rbmeasured=0");
    }
    void fitted()
    {
        QFETCH(QString, points);
        QFETCH(QString, meter);
        QFETCH(QString, expected);
        const std::vector<Measured> measured = pointsFrom(points);
        Conditions conditions;
        conditions.vref = 65536;
        conditions.vdd = 4096;
        const QStringList stated = meter.split(u' ');
        conditions.path.resolutionVolts = stated[0].toDouble();
        conditions.path.accuracyPercent = stated[1].toDouble();
        conditions.path.accuracyVolts = stated[2].toDouble();
        conditions.path.lowRail = 0;
        conditions.path.highRail = conditions.vref;
        const std::variant<Channel, std::string> result = fit(measured, conditions);
        if (expected.startsWith("refused:")) {
            QVERIFY(std::holds_alternative<std::string>(result));
            QVERIFY2(
                    QString::fromStdString(std::get<std::string>(result)).contains(expected.mid(8)),
                    std::get<std::string>(result).c_str());
            return;
        }
        QVERIFY2(std::holds_alternative<Channel>(result),
                 std::holds_alternative<std::string>(result) ? std::get<std::string>(result).c_str()
                                                             : "");
        const Channel &channel = std::get<Channel>(result);
        const auto tableAt = [&](int code) -> const TablePoint * {
            for (const TablePoint &point : channel.table) {
                if (point.code == code)
                    return &point;
            }
            return nullptr;
        };
        for (const QString &item : expected.split(u' ', Qt::SkipEmptyParts)) {
            const QString key = item.section(u'=', 0, 0);
            const QString want = item.section(u'=', 1);
            const QString name = key.section(u'@', 0, 0);
            const double at = key.section(u'@', 1).toDouble();
            if (name == u"code") {
                const std::optional<std::int32_t> code = codeFor(channel, at);
                QCOMPARE(code ? QString::number(*code) : QStringLiteral("none"), want);
                continue;
            }
            double value = qQNaN();
            if (name == u"offset")
                value = channel.line.offset;
            else if (name == u"slope")
                value = channel.line.slope;
            else if (name == u"gain")
                value = channel.gainErrorPercent();
            else if (name == u"corr" && tableAt(int(at)))
                value = tableAt(int(at))->correction;
            else if (name == u"resid" && tableAt(int(at)))
                value = tableAt(int(at))->residual;
            else if (name == u"interp")
                value = channel.uncertainty.interpolation;
            else if (name == u"noise")
                value = channel.uncertainty.noise;
            else if (name == u"resolution")
                value = channel.uncertainty.resolution;
            else if (name == u"accuracy")
                value = channel.uncertainty.accuracyAt(at);
            else if (name == u"total")
                value = channel.uncertainty.total(at);
            else if (name == u"lowest")
                value = channel.lowestCode;
            else if (name == u"highest")
                value = channel.highestCode;
            else if (name == u"out")
                value = outputAt(channel, std::int32_t(at));
            else if (name == u"rbmeasured")
                value = channel.readback.measured;
            else if (name == u"rboffset")
                value = channel.readback.offset;
            else if (name == u"rbslope")
                value = channel.readback.slope;
            else if (name == u"rbresid")
                value = channel.readback.residual;
            else
                QFAIL(qPrintable("no such figure: " + key));
            QVERIFY2(std::fabs(value - want.toDouble()) <= 1e-6 * std::max(1.0, std::fabs(value)),
                     qPrintable(QStringLiteral("%1: %2, not %3")
                                        .arg(key)
                                        .arg(value, 0, 'g', 12)
                                        .arg(want)));
        }
    }

    // The code chosen is the nearest of every code the channel covers, wherever the output
    // bends or falls: checked against a search of them all.
    void nearestOfAll_data()
    {
        QTest::addColumn<QString>("points");
        QTest::newRow("a bow") << "0:10 1000:1013 2000:2014 3000:3012 4000:4005";
        // From 1000 to 1001 the output falls 2 LSB: two codes give each voltage near 1010.
        QTest::newRow("a fall between two points") << "0:10 1000:1010 1001:1008 2000:2008";
        QTest::newRow("clipped at 0 V") << "0:0 1000:990 2000:1992 3000:2990";
    }
    void nearestOfAll()
    {
        QFETCH(QString, points);
        Conditions conditions;
        conditions.vref = 65536;
        conditions.path.highRail = conditions.vref;
        const std::variant<Channel, std::string> result = fit(pointsFrom(points), conditions);
        QVERIFY(std::holds_alternative<Channel>(result));
        const Channel &channel = std::get<Channel>(result);
        const double first = outputAt(channel, channel.lowestCode);
        const double last = outputAt(channel, channel.highestCode);
        for (double volts = first; volts <= last; volts += 0.37) {
            std::int32_t best = channel.lowestCode;
            for (std::int32_t code = channel.lowestCode; code <= channel.highestCode; ++code) {
                if (std::fabs(outputAt(channel, code) - volts)
                    < std::fabs(outputAt(channel, best) - volts))
                    best = code;
            }
            const std::optional<std::int32_t> chosen = codeFor(channel, volts);
            QVERIFY2(chosen.has_value(), qPrintable(QString::number(volts)));
            QVERIFY2(std::fabs(outputAt(channel, *chosen) - volts)
                             <= std::fabs(outputAt(channel, best) - volts) + 1e-9,
                     qPrintable(QStringLiteral("%1 V: code %2, not %3")
                                        .arg(volts)
                                        .arg(*chosen)
                                        .arg(best)));
        }
    }
};

QTEST_APPLESS_MAIN(tst_ChannelCalibration)
#include "tst_channelcalibration.moc"
