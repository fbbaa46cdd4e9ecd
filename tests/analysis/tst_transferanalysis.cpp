#include "transferanalysis.h"

#include <QTest>

using namespace TransferAnalysis;

// A reference of 65536 V makes one LSB one volt: every figure below is worked out by hand.
class tst_TransferAnalysis : public QObject
{
    Q_OBJECT

private slots:
    void figures_data()
    {
        QTest::addColumn<QString>("points"); // code:volts, or code:volts~standard error
        QTest::addColumn<bool>("endpoint");
        QTest::addColumn<QString>("expected"); // figure=value, or figure=value@code

        const auto row
                = [](const char *name, const char *points, bool endpoint, const char *expected) {
                      QTest::newRow(name) << points << endpoint << expected;
                  };
        row("ideal", "0:0 100:100 200:200", false,
            "offset=0 gain=0 inlmax=0@0 inlmin=0@0 dnlmax=0@100 dnlmin=0@100 falls=-1");
        row("offset and gain", "0:5 100:106 200:207", true,
            "offset=5 gain=1 inlmax=0@0 dnlmax=0.01@100 falls=-1");
        row("bow against the end points", "0:0 100:110 200:200", true,
            "offset=0 gain=0 inlmax=10@100 inlmin=0@0 dnlmax=0.1@100 dnlmin=-0.1@200");
        row("bow against the best fit", "0:0 100:110 200:200", false,
            "offset=3.3333333 gain=0 inlmax=6.6666667@100 inlmin=-3.3333333@0");
        row("a fall", "0:0 1:1 2:0.5 3:3", true, "falls=2 dnlmin=-1.5@2");
        row("a fall within its doubt", "0:0 1:1~0.2 2:0.5~0.2 3:3", true, "falls=-1 dnlmin=-1.5@2");
    }

    void figures()
    {
        QFETCH(QString, points);
        QFETCH(bool, endpoint);
        QFETCH(QString, expected);
        std::vector<Point> measured;
        for (const QString &point : points.split(u' '))
            measured.push_back({point.section(u':', 0, 0).toInt(),
                                point.section(u':', 1).section(u'~', 0, 0).toDouble(),
                                point.section(u'~', 1).toDouble()});
        const Figures figures
                = analyse(measured, codeCount, endpoint ? Method::Endpoint : Method::BestFit);
        const QMap<QString, Extreme> extremes = {{"inlmax", figures.inlMax},
                                                 {"inlmin", figures.inlMin},
                                                 {"dnlmax", figures.dnlMax},
                                                 {"dnlmin", figures.dnlMin}};
        for (const QString &check : expected.split(u' ')) {
            const QString key = check.section(u'=', 0, 0);
            const double value = check.section(u'=', 1).section(u'@', 0, 0).toDouble();
            double got = extremes.value(key).lsb;
            if (key == u"offset")
                got = figures.offsetLsb;
            else if (key == u"gain")
                got = figures.gainErrorPercent;
            else if (key == u"falls")
                got = figures.nonMonotonicAt.value_or(-1);
            QVERIFY2(std::fabs(got - value) < 1e-6,
                     qPrintable(QStringLiteral("%1: %2").arg(check).arg(got)));
            if (check.contains(u'@'))
                QCOMPARE(extremes.value(key).code, check.section(u'@', 1).toInt());
        }
    }
};

QTEST_GUILESS_MAIN(tst_TransferAnalysis)
#include "tst_transferanalysis.moc"
