#include "codeconversion.h"
#include "numberreading.h"
#include "rounding.h"
#include "textforms.h"

#include <QLocale>
#include <QTest>

namespace {

// What one of the number functions gives for a text (and a reference, or a locale), as text.
QString result(const QString &function, const QString &text, const QString &second)
{
    const auto number = [](double v) {
        return QString::number(v, 'g', QLocale::FloatingPointShortest);
    };
    if (function == u"start")
        return number(ParseNumberStart(text));
    if (function == u"whole") {
        QLocale::setDefault(QLocale(second));
        const std::optional<double> whole = ParseWholeNumber(text);
        return whole ? number(*whole) : QStringLiteral("none");
    }
    if (function == u"round") // then limited to the type
        return number(roundHalfEven(text.toDouble())) + ' ' + number(roundToInt32(text.toDouble()))
                + ' ' + number(roundToInt16(text.toDouble()));
    if (function == u"volts")
        return voltageText(text.toDouble());
    if (function == u"typed hex")
        return hexText(convertHexEntry(text, second).code) + ' '
                + convertHexEntry(text, second).voltageText;
    const std::optional<VoltageEntryResult> entry = convertVoltageEntry(text, second);
    return entry ? entry->hexText : QStringLiteral("none");
}

} // namespace

// Reading, rounding and writing the code boxes' numbers, in a notation with a decimal comma.
class TestNumbers final : public QObject
{
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void cleanup() { QLocale::setDefault(QLocale::system()); }

    void numbers_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("second"); // the reference, or the locale
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *function, const QString &text, const char *second,
                            const char *expected) {
            QTest::addRow("%s %s %s", function, qPrintable(text.left(30)), second)
                    << function << text << second << expected;
        };
        row("start", "&Hff", "", "255");
        row("start", "&h8000", "", "-32768"); // four digits: 16 bits
        row("start", "&h0FFFF", "", "65535"); // five: 32 bits
        row("start", " & h 1 2G4", "", "18");
        row("start", "&hG1", "", "0");
        row("start", "1.2.3", "", "1.2");
        row("start", "1,5", "", "1");
        row("start", "2.5E-3", "", "0.0025");
        row("start", "1.8e308", "", "inf");
        row("start", "1e-99999999999999999999999", "", "0");
        row("start", "1" + QString(400, u'0') + "e-400", "", "1");
        row("whole", "  1e3 ", "C", "1000");
        row("whole", "5V", "C", "none");
        row("whole", "1e400", "C", "none");
        row("whole", "2.50000000000000", "de_DE", "2.5"); // what the program writes
        row("round", "-2.5", "", "-2 -2 -2");
        row("round", "0.49999999999999994", "", "0 0 0");
        row("round", "nan", "", "nan 0 0");
        row("volts", "-0", "", "0.00000000000000");
        row("volts", "-0.000152587890625", "", "-0.00015258789063"); // a tie, away from zero
        row("volts", "12345.678", "", "12345.67799999999988");       // the exact binary value
        row("volts", "1e20", "", "100000000000000000000.00000000000000");
        row("volts", "inf", "", "Overflow");
        row("volts", "nan", "", "Overflow");
        row("typed hex", "8000", "5", "8000 2.50000000000000");
        row("typed hex", "1FFFF", "5", "FFFF 4.99992370605469"); // pasted past the limit
        row("typed hex", "80000000", "5", "0 0.00000000000000");
        row("typed hex", "4D93", "3.3", "4D93 0.99998016357422");
        row("typed hex", "8000", "", "8000 0.00000000000000");
        row("typed hex", "8000", "2,5", "8000 1.25000000000000");
        row("typed hex", "8000", "-5", "8000 -2.50000000000000");
        row("typed hex", "8000", "1e999", "8000 Overflow");
        row("typed hex", "0", "1e999", "0 0.00000000000000");
        row("typed voltage", "2.5", "5", "8000");
        row("typed voltage", "5", "5", "FFFF");
        row("typed voltage", "-1", "5", "0");
        row("typed voltage", "1", "3.3", "4D93");
        row("typed voltage", "2.5", "65536", "2");
        row("typed voltage", "3.5", "65536", "4");
        row("typed voltage", "-1", "0", "FFFF");
        row("typed voltage", "1", "2,5", "6666");
        row("typed voltage", "1", "", "none");
        row("typed voltage", "1", "-5", "0");
        row("typed voltage", "1", "-1e-300", "0");
        row("typed voltage", "1e999", "-5", "0");
    }

    void numbers()
    {
        QFETCH(QString, function);
        QFETCH(QString, text);
        QFETCH(QString, second);
        QTEST(result(function, text, second), "expected");
    }

    // Every code typed as hex, then a key going up in the voltage box: the code must not move.
    void writtenVoltageReadsBackAsTheSameCode()
    {
        for (const char *vref : {"5", "3.3", "1e308"}) {
            for (int code = 0; code <= highestCode; ++code) {
                const HexEntryResult fromHex = convertHexEntry(QString::number(code, 16), vref);
                const auto back = convertVoltageEntry(fromHex.voltageText, vref);
                if (fromHex.code != code || !back || back->code != code)
                    QFAIL(qPrintable(QStringLiteral("%1 at %2").arg(fromHex.voltageText, vref)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestNumbers)
#include "tst_numbers.moc"
