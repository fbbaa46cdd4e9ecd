#include "codeconversion.h"

#include <QLocale>
#include <QTest>

class TestCodeConversion final : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::system()); }

    void hexEntry_data();
    void hexEntry();
    void voltageEntry_data();
    void voltageEntry();
    void voltageEntryWithReferenceInCommaLocale();
    void writtenVoltageReadsBackAsTheSameCode_data();
    void writtenVoltageReadsBackAsTheSameCode();
};

void TestCodeConversion::hexEntry_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("vref");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("voltage");

    QTest::newRow("8000") << "8000"
                          << "5" << 32768 << "2.50000000000000";
    QTest::newRow("FFFF") << "FFFF"
                          << "5" << 65535 << "4.99992370605469";
    QTest::newRow("7fff, lower case") << "7fff"
                                      << "5" << 32767 << "2.49992370605469";
    QTest::newRow("1") << "1"
                       << "5" << 1 << "0.00007629394531";
    QTest::newRow("empty") << ""
                           << "5" << 0 << "0.00000000000000";
    QTest::newRow("junk first") << "G1"
                                << "5" << 0 << "0.00000000000000";
    QTest::newRow("junk inside") << "12G4"
                                 << "5" << 18 << "0.00137329101563";
    QTest::newRow("leading zeros") << "00ff"
                                   << "5" << 255 << "0.01945495605469";
    QTest::newRow("blank before") << " 8000"
                                  << "5" << 32768 << "2.50000000000000";
    QTest::newRow("reference 2.5") << "8000"
                                   << "2.5" << 32768 << "1.25000000000000";
    QTest::newRow("reference 3.3") << "4D93"
                                   << "3.3" << 19859 << "0.99998016357422";
    QTest::newRow("zero reference") << "8000"
                                    << "0" << 32768 << "0.00000000000000";
    QTest::newRow("empty reference") << "FFFF"
                                     << "" << 65535 << "0.00000000000000";
    QTest::newRow("junk reference") << "8000"
                                    << "abc" << 32768 << "0.00000000000000";
    QTest::newRow("reference read leniently") << "8000"
                                              << " 5 V" << 32768 << "2.50000000000000";
    QTest::newRow("negative reference") << "8000"
                                        << "-5" << 32768 << "-2.50000000000000";
    QTest::newRow("reference beyond a double") << "8000"
                                               << "1e999" << 32768 << "Overflow";
    QTest::newRow("negative reference beyond a double") << "8000"
                                                        << "-1e999" << 32768 << "-Overflow";
    QTest::newRow("code 0 against an infinite reference") << "0"
                                                          << "1e999" << 0 << "0.00000000000000";
    QTest::newRow("five digits limit to the highest code") << "1FFFF"
                                                           << "5" << 65535 << "4.99992370605469";
}

void TestCodeConversion::hexEntry()
{
    QFETCH(QString, hex);
    QFETCH(QString, vref);
    QFETCH(int, code);
    QFETCH(QString, voltage);

    const HexEntryResult result = convertHexEntry(hex, vref);
    QCOMPARE(result.code, code);
    QCOMPARE(result.voltageText, voltage);
}

void TestCodeConversion::voltageEntry_data()
{
    QTest::addColumn<QString>("voltage");
    QTest::addColumn<QString>("vref");
    QTest::addColumn<bool>("converted");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("hex");

    QTest::newRow("2.5") << "2.5"
                         << "5" << true << 32768 << "8000";
    QTest::newRow("1.25") << "1.25"
                          << "5" << true << 16384 << "4000";
    QTest::newRow("full scale limits") << "5"
                                       << "5" << true << 65535 << "FFFF";
    QTest::newRow("just below full scale") << "4.9999"
                                           << "5" << true << 65535 << "FFFF";
    QTest::newRow("negative") << "-1"
                              << "5" << true << 0 << "0";
    QTest::newRow("junk") << "abc"
                          << "5" << true << 0 << "0";
    QTest::newRow("empty") << ""
                           << "5" << true << 0 << "0";
    QTest::newRow("zero") << "0"
                          << "5" << true << 0 << "0";
    QTest::newRow("what the program wrote") << "2.50000000000000"
                                            << "5" << true << 32768 << "8000";
    QTest::newRow("comma ends the voltage") << "2,5"
                                            << "5" << true << 26214 << "6666";
    QTest::newRow("reference 3.3") << "1"
                                   << "3.3" << true << 19859 << "4D93";
    QTest::newRow("tie goes to even below") << "2.5"
                                            << "65536" << true << 2 << "2";
    QTest::newRow("tie goes to even above") << "3.5"
                                            << "65536" << true << 4 << "4";
    QTest::newRow("reference with blanks") << "1"
                                           << " 5 " << true << 13107 << "3333";
    QTest::newRow("zero reference") << "1"
                                    << "0" << true << 65535 << "FFFF";
    QTest::newRow("zero reference, negative voltage") << "-1"
                                                      << "0" << true << 65535 << "FFFF";
    QTest::newRow("negative zero reference") << "abc"
                                             << "-0" << true << 65535 << "FFFF";
    QTest::newRow("negative reference limits to 0") << "1"
                                                    << "-5" << true << 0 << "0";
    QTest::newRow("negative reference, negative voltage") << "-1"
                                                          << "-5" << true << 0 << "0";
    QTest::newRow("tiny reference") << "1"
                                    << "1e-300" << true << 65535 << "FFFF";
    QTest::newRow("subnormal reference") << "1"
                                         << "1e-320" << true << 65535 << "FFFF";
    QTest::newRow("tiny negative reference") << "1"
                                             << "-1e-300" << true << 0 << "0";
    QTest::newRow("voltage overflows when scaled") << "1e308"
                                                   << "5" << true << 65535 << "FFFF";
    QTest::newRow("voltage beyond a double") << "1e999"
                                             << "5" << true << 65535 << "FFFF";
    QTest::newRow("negative voltage beyond a double") << "-1e999"
                                                      << "5" << true << 0 << "0";
    QTest::newRow("empty reference") << "1"
                                     << "" << false << 0 << "";
    QTest::newRow("junk reference") << "1"
                                    << "abc" << false << 0 << "";
    QTest::newRow("reference with a unit") << "1"
                                           << "5V" << false << 0 << "";
    QTest::newRow("reference beyond a double") << "1"
                                               << "1e400" << false << 0 << "";
    QTest::newRow("infinity word as reference") << "1"
                                                << "inf" << false << 0 << "";
    QTest::newRow("NaN word as reference") << "1"
                                           << "nan" << false << 0 << "";
}

void TestCodeConversion::voltageEntry()
{
    QFETCH(QString, voltage);
    QFETCH(QString, vref);
    QFETCH(bool, converted);
    QFETCH(int, code);
    QFETCH(QString, hex);

    const std::optional<VoltageEntryResult> result = convertVoltageEntry(voltage, vref);
    QCOMPARE(result.has_value(), converted);
    if (!converted)
        return;
    QCOMPARE(result->code, code);
    QCOMPARE(result->hexText, hex);
}

void TestCodeConversion::voltageEntryWithReferenceInCommaLocale()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const std::optional<VoltageEntryResult> result = convertVoltageEntry("1", "2,5");
    QVERIFY(result.has_value());
    QCOMPARE(result->code, 26214);
    QCOMPARE(result->hexText, QStringLiteral("6666"));
}

void TestCodeConversion::writtenVoltageReadsBackAsTheSameCode_data()
{
    QTest::addColumn<QString>("vref");

    QTest::newRow("5 V") << "5";
    QTest::newRow("3.3 V") << "3.3";
    QTest::newRow("2.5 V") << "2.5";
    QTest::newRow("1 mV") << "0.001";
    QTest::newRow("1 kV") << "1000";
}

// A key release in the voltage box right after a code was typed must not change the code.
void TestCodeConversion::writtenVoltageReadsBackAsTheSameCode()
{
    QFETCH(QString, vref);

    for (int code = 0; code <= highestCode; ++code) {
        const QString hex = QString::number(code, 16);
        const HexEntryResult fromHex = convertHexEntry(hex, vref);
        const std::optional<VoltageEntryResult> back
                = convertVoltageEntry(fromHex.voltageText, vref);
        QVERIFY(back.has_value());
        if (back->code != code)
            QFAIL(qPrintable(QStringLiteral("code %1 came back as %2 through %3")
                                     .arg(code)
                                     .arg(back->code)
                                     .arg(fromHex.voltageText)));
    }
}

QTEST_GUILESS_MAIN(TestCodeConversion)
#include "tst_codeconversion.moc"
