#include "transferanalysis.h"

#include <QTest>

using namespace TransferAnalysis;

// A reference of 65536 V makes one ideal LSB one volt: every figure below is worked out by hand.
class tst_TransferAnalysis : public QObject
{
    Q_OBJECT

private slots:
    void figures_data()
    {
        // code:volts, exact (two samples that agree), or code:volts~deviation/samples
        QTest::addColumn<QString>("points");
        QTest::addColumn<bool>("endpoint");
        QTest::addColumn<double>("resolution"); // one ADC step, in volts; 0 for a meter
        // figure=value, or figure=value@code; "none" when no figures come out
        QTest::addColumn<QString>("expected");
        QTest::addColumn<double>("accuracyPercent"); // a meter's stated accuracy
        QTest::addColumn<double>("accuracyVolts");

        const auto row = [](const char *name, const char *points, bool endpoint, double resolution,
                            const char *expected, double percent = 0, double volts = 0) {
            QTest::newRow(name) << points << endpoint << resolution << expected << percent << volts;
        };
        row("device LSB: a -5 % gain is not in DNL", "0:10 1:10.95 2:11.9 3:12.85", true, 0,
            "lsb=0.95 gain=-5 dnlmax=0 dnlmin=0 inlmax=0 dnlsteps=3 mono=yes");
        // End-point slope 4/3: INL at 1 is 11 - 11.333 = -1/3 V = -0.25 of the device's LSB.
        row("INL and DNL in the end-point line's LSB", "0:10 1:11 2:13 3:14", true, 0,
            "lsb=1.3333333 inlmax=0.25@2 inlmin=-0.25@1 dnlmax=0.5@2 dnlmin=-0.25@1 mono=yes");
        // Best fit of 0,1,3,4 (+10): slope 1.4, through the means (1.5, 12): INL -0.1/1.4 at 0.
        row("INL in the best-fit line's LSB, DNL still in the average step", "0:10 1:11 2:13 3:14",
            false, 0, "lsb=1.4 bfoffset=9.9 inlmin=-0.2142857@1 dnlmax=0.5@2");
        row("offsets of both lines at code 0, the sweep starting above it",
            "100:110 200:210 300:310", true, 0, "offset=10 bfoffset=10 gain=0");
        row("a best-fit line of its own", "0:10 100:111 200:210", true, 0,
            "offset=10 bfoffset=10.3333333 bfgain=0 gain=0");
        row("steps of 256 codes: step error, no DNL", "0:10 256:264.5 512:522", true, 0,
            "stepmin=-1.5@256 stepmax=1.5@512 dnlsteps=0 widesteps=2 mono=not");
        // The average step is (200 - 10) / 512: a fall of 66 V is 177.85 of it.
        row("a fall across a wide step", "0:10 256:266 512:200", true, 0,
            "mono=no fall=512 fallfrom=256 falllsb=177.8526316");
        row("the first fall, not the last", "0:10 1:11 2:10.5 3:12 4:11.5 5:13", true, 0,
            "mono=no fall=2 fallfrom=1 falllsb=0.8333333");
        row("a rise of nothing is monotonic", "0:10 1:11 2:11 3:13", true, 0,
            "mono=yes dnlmin=-1@2");
        // The noise pooled over 4 points: 12 degrees, t at 0.001 / 3 one-sided 4.55; the rise's
        // standard error 0.354: a guard band of 1.61, and of 0.161 for a tenth of the spread.
        row("a fall within the noise", "0:10~0.5/4 1:11~0.5/4 2:10~0.5/4 3:13~0.5/4", true, 0,
            "mono=not");
        row("a fall beyond the noise", "0:10~0.05/4 1:11~0.05/4 2:10~0.05/4 3:13~0.05/4", true, 0,
            "mono=no fall=2");
        // 60 degrees, t 3.59. Guard 3.59 × 0.1 × √2 / √16 = 0.127 with the standard errors;
        // 0.508 with the samples' spread, and the fall of 0.45 within it.
        row("the means' standard errors, not the samples' spread",
            "0:10~0.1/16 1:11~0.1/16 2:10.55~0.1/16 3:13~0.1/16", true, 0, "mono=no fall=2");
        // Pooled: √(3 × 1² / 12) = 0.5 for every point, not the average deviation 0.25.
        row("the noise pooled over the points", "0:10~0/4 1:11~0/4 2:10.2~1/4 3:13~0/4", true, 0,
            "mono=not noise=0.5");
        // 101 codes, 16 samples each: 1000 degrees. The t for 0.001 over the 100 steps compared
        // is 4.30, a guard band of 0.152; uncorrected, 3.10 and 0.110, short of the fall.
        static const QByteArray many = [] {
            QStringList points;
            for (int code = 0; code <= 100; ++code)
                points << QStringLiteral("%1:%2~0.1/16")
                                  .arg(code)
                                  .arg(code == 50 ? 58.87 : code + 10);
            return points.join(u' ').toLatin1();
        }();
        row("a fall within the noise of 100 steps", many.constData(), true, 0, "mono=not");
        row("a fall within one ADC step", "0:20 1:21 2:20.5 3:23", true, 1, "mono=not");
        row("a fall beyond one ADC step", "0:20 1:21 2:19.5 3:23", true, 1, "mono=no fall=2");
        row("clipped at 0 V, left out", "0:0 10:15 20:25 30:35", true, 0,
            "rails=1 offset=5 gain=0 inlmax=0 inlmin=0");
        row("clipped at the reference, left out", "65000:65005 65100:65105 65535:65536", true, 0,
            "rails=1 offset=5 gain=0");
        row("all clipped", "0:0 1:0 2:0", true, 0, "none");
        row("a flat line: the ideal LSB stands in", "16:20 17:20 18:20", false, 16,
            "lsb=1 inlmax=0 inlbound=18.6666667 mono=not");
        // Through a 16 V step: each end of the end-point line off by 8, a point by 8 besides.
        row("the resolution's bounds, end-point", "100:100 200:200 300:300", true, 16,
            "inlbound=16 stepbound=16 offsetbound=16 gainbound=8");
        // Best fit of 100, 200, 300 at code 100: weights 5/6, 1/3, -1/6, so 8 × (1 + 4/3); at
        // code 0: 4/3, 1/3, -2/3, so 8 × 7/3.
        row("the resolution's bounds, best fit", "100:100 200:200 300:300", false, 16,
            "inlbound=18.6666667 bfoffsetbound=18.6666667");
        // One sample a point: residuals ±0.5 off the neighbours' line, each of variance 1.5 σ²,
        // so σ² = 0.25 / 1.5; three residuals, one degree.
        row("one sample a point: the noise from the neighbours",
            "0:10~0/1 1:11.5~0/1 2:12~0/1 3:13.5~0/1 4:14~0/1", true, 0, "noise=0.4082483");
        // Residuals 0.55 and -1.1: σ 0.71, a guard band of several volts, past the 0.1 fall.
        row("one sample a point: a fall within the noise the neighbours show",
            "0:10~0/1 1:11~0/1 2:10.9~0/1 3:13~0/1", true, 0, "mono=not");
        // A single fall hides in a step of 256 codes unless it beats the 255 others' rise.
        row("a fall visible across a wide step only beyond its other codes' rise",
            "0:10 256:266 512:522", true, 0, "mono=not visible=255");
        // Code by code through a 16 V step: the guard band is 16, and the two readings may
        // take as much again off a fall.
        row("a fall visible code by code only beyond two readings' resolution",
            "0:20 1:21 2:22 3:23", true, 16, "mono=not visible=32");
        // End-point line through 10 V and 110 V: each reading off by 1 % + 0.5 V at most; at
        // code 0 the first alone, 0.6 V; the slope (0.6 + 1.6) / 100 of the 1 V LSB.
        row("a meter's stated accuracy in offset and gain, not in INL", "0:10 50:60 100:110", true,
            0, "offsetbound=0.6 gainbound=2.2 inlbound=0", 1, 0.5);
    }

    void figures()
    {
        QFETCH(QString, points);
        QFETCH(bool, endpoint);
        QFETCH(double, resolution);
        QFETCH(QString, expected);
        QFETCH(double, accuracyPercent);
        QFETCH(double, accuracyVolts);
        std::vector<Point> measured;
        for (const QString &point : points.split(u' ')) {
            const QString spread = point.section(u'~', 1);
            measured.push_back({point.section(u':', 0, 0).toInt(),
                                point.section(u':', 1).section(u'~', 0, 0).toDouble(),
                                spread.section(u'/', 0, 0).toDouble(),
                                spread.isEmpty() ? 2 : spread.section(u'/', 1).toInt()});
        }
        const std::optional<Figures> figures
                = analyse(measured, codeCount, endpoint ? Method::Endpoint : Method::BestFit,
                          {resolution, 0, codeCount, accuracyPercent, accuracyVolts});
        QCOMPARE(figures.has_value(), expected != u"none");
        if (!figures)
            return;
        const QMap<QString, Extreme> extremes
                = {{"inlmax", figures->inlMax},   {"inlmin", figures->inlMin},
                   {"dnlmax", figures->dnlMax},   {"dnlmin", figures->dnlMin},
                   {"stepmax", figures->stepMax}, {"stepmin", figures->stepMin}};
        const QMap<QString, double> values = {
                {"offset", figures->endpoint.offsetVolts},
                {"bfoffset", figures->bestFit.offsetVolts},
                {"gain", figures->endpoint.gainErrorPercent},
                {"bfgain", figures->bestFit.gainErrorPercent},
                {"offsetbound", figures->endpoint.offsetBoundVolts},
                {"bfoffsetbound", figures->bestFit.offsetBoundVolts},
                {"gainbound", figures->endpoint.gainBoundPercent},
                {"lsb", figures->lsb},
                {"inlbound", figures->inlBoundLsb},
                {"stepbound", figures->stepBoundLsb},
                {"rails", figures->railPoints},
                {"dnlsteps", figures->dnlSteps},
                {"widesteps", figures->wideSteps},
                {"fall", figures->fallCode},
                {"fallfrom", figures->fallFrom},
                {"falllsb", figures->fallLsb},
                {"noise", figures->noiseVolts},
                {"visible", figures->visibleFallLsb},
        };
        for (const QString &check : expected.split(u' ')) {
            const QString key = check.section(u'=', 0, 0);
            const QString text = check.section(u'=', 1).section(u'@', 0, 0);
            if (key == u"mono") {
                const QStringList verdicts = {"yes", "no", "not"};
                QCOMPARE(verdicts.value(int(figures->monotonic)), text);
                continue;
            }
            QVERIFY2(values.contains(key) || extremes.contains(key), qPrintable(key));
            const double got = values.value(key, extremes.value(key).lsb);
            QVERIFY2(std::fabs(got - text.toDouble()) < 1e-6,
                     qPrintable(QStringLiteral("%1: %2").arg(check).arg(got, 0, 'g', 10)));
            if (check.contains(u'@'))
                QCOMPARE(extremes.value(key).code, check.section(u'@', 1).toInt());
        }
    }

    void firstSampleLag_data()
    {
        // code:mean^first, four samples each, on a line of 1 V a code
        QTest::addColumn<QString>("points");
        QTest::addColumn<double>("fraction");
        QTest::addColumn<bool>("lags");
        // The other three at code + 10, the first at the volts before: first - rest = -1, the
        // step back to the code before.
        QTest::newRow("a meter that answers its last reading")
                << "0:9.75^9 1:10.75^10 2:11.75^11 3:12.75^12" << 1.0 << true;
        QTest::newRow("an honest meter") << "0:10^10 1:11^11 2:12^12 3:13^13" << 0.0 << false;
        // 1 % of the step: real, but below what is worth a word.
        QTest::newRow("a lean too small to matter")
                << "0:9.9975^9.99 1:10.9975^10.99 2:11.9975^11.99 3:12.9975^12.99" << 0.01 << false;
        // The rests ±0.3 off the line in turn, each first 0.3 below its rest: residuals of
        // ±0.6 against the neighbours', σ² = 0.36 × 3 / 1.5; two degrees, t 31.6: a bound of 13.9.
        QTest::newRow("a lean within the noise of the other samples")
                << "0:10.225^10 1:10.625^10.4 2:12.225^12 3:12.625^12.4 4:14.225^14 5:14.625^14.4"
                << 0.3 << false;
    }

    void firstSampleLag()
    {
        QFETCH(QString, points);
        QFETCH(double, fraction);
        std::vector<Point> measured;
        for (const QString &point : points.split(u' '))
            measured.push_back({point.section(u':', 0, 0).toInt(),
                                point.section(u':', 1).section(u'^', 0, 0).toDouble(), 0, 4,
                                point.section(u'^', 1).toDouble()});
        const std::optional<Lag> lag = TransferAnalysis::firstSampleLag(measured, 1, 0);
        QVERIFY(lag.has_value());
        QVERIFY2(std::fabs(lag->fraction - fraction) < 1e-6,
                 qPrintable(QString::number(lag->fraction)));
        QTEST(lag->lags, "lags");
    }

    void tQuantile_data()
    {
        QTest::addColumn<double>("tail");
        QTest::addColumn<int>("degrees");
        QTest::addColumn<double>("expected"); // from published tables
        QTest::newRow("1 degree, 2.5 %") << 0.025 << 1 << 12.7062;
        QTest::newRow("2 degrees, 0.1 %") << 0.001 << 2 << 22.3271;
        QTest::newRow("3 degrees, 2.5 %") << 0.025 << 3 << 3.1824;
        QTest::newRow("10 degrees, 0.5 %") << 0.005 << 10 << 3.1693;
        QTest::newRow("1000 degrees, 5 %") << 0.05 << 1000 << 1.6464;
    }

    void tQuantile()
    {
        QFETCH(double, tail);
        QFETCH(int, degrees);
        QFETCH(double, expected);
        QVERIFY2(std::fabs(TransferAnalysis::tQuantile(tail, degrees) - expected) < 1e-4,
                 qPrintable(QString::number(TransferAnalysis::tQuantile(tail, degrees))));
    }
};

QTEST_GUILESS_MAIN(tst_TransferAnalysis)
#include "tst_transferanalysis.moc"
