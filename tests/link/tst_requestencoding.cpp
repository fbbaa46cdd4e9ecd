#include "requestencoding.h"

#include <QTest>

class tst_RequestEncoding : public QObject
{
    Q_OBJECT

private slots:
    void commandWord_data();
    void commandWord();
    void fieldsOfEachRequest_data();
    void fieldsOfEachRequest();
    void adcCode_data();
    void adcCode();
};

void tst_RequestEncoding::commandWord_data()
{
    QTest::addColumn<qint32>("word");
    QTest::addColumn<qint32>("value");
    QTest::addColumn<qint32>("index");

    QTest::newRow("zero") << 0 << 0 << 0;
    QTest::newRow("Write and Update, DAC B, FFFF") << 0x19FFFF << 0xFFFF << 0x19;
    QTest::newRow("split at bit 16") << 0x12345678 << 0x5678 << 0x1234;
    QTest::newRow("bit 31 dropped, not carried") << qint32(0x80000001) << 1 << 0;
    QTest::newRow("minus one") << -1 << 0xFFFF << 0x7FFF;
    QTest::newRow("largest word") << 0x3FFFFF << 0xFFFF << 0x3F;
    QTest::newRow("negative data word") << -65535 << 1 << 0x7FFF;
}

void tst_RequestEncoding::commandWord()
{
    QFETCH(qint32, word);
    QFETCH(qint32, value);
    QFETCH(qint32, index);

    const VendorRequestFields fields = RequestEncoding::commandWord(word);
    QCOMPARE(fields.code, 0xDD);
    QCOMPARE(fields.value, value);
    QCOMPARE(fields.index, index);
    QCOMPARE(fields.direction, 0);
    QCOMPARE(fields.length, 0);
}

void tst_RequestEncoding::fieldsOfEachRequest_data()
{
    QTest::addColumn<VendorRequestFields>("fields");
    QTest::addColumn<int>("code");
    QTest::addColumn<qint32>("value");
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("length");

    QTest::newRow("mux A") << RequestEncoding::selectMuxChannel(1) << 0xCC << 1 << 0 << 0;
    QTest::newRow("mux H") << RequestEncoding::selectMuxChannel(128) << 0xCC << 128 << 0 << 0;
    QTest::newRow("mux widened with sign")
            << RequestEncoding::selectMuxChannel(-32768) << 0xCC << -32768 << 0 << 0;
    QTest::newRow("read ADC") << RequestEncoding::readAdc() << 0xBB << 0 << 1 << 2;
    QTest::newRow("CLR high") << RequestEncoding::clrPin(true) << 0xE1 << 0 << 0 << 0;
    QTest::newRow("CLR low") << RequestEncoding::clrPin(false) << 0xE0 << 0 << 0 << 0;
    QTest::newRow("LDAC high") << RequestEncoding::ldacPin(true) << 0xF1 << 0 << 0 << 0;
    QTest::newRow("LDAC low") << RequestEncoding::ldacPin(false) << 0xF0 << 0 << 0 << 0;
}

void tst_RequestEncoding::fieldsOfEachRequest()
{
    QFETCH(VendorRequestFields, fields);
    QFETCH(int, code);
    QFETCH(qint32, value);
    QFETCH(int, direction);
    QFETCH(int, length);

    QCOMPARE(fields.code, code);
    QCOMPARE(fields.value, value);
    QCOMPARE(fields.index, 0);
    QCOMPARE(fields.direction, direction);
    QCOMPARE(fields.length, length);
}

void tst_RequestEncoding::adcCode_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::addColumn<qint32>("code");

    QTest::newRow("full scale of 12 bits") << 0x0F << 0xFF << 4095;
    QTest::newRow("all ones") << 0xFF << 0xFF << 65535;
    QTest::newRow("first byte is high") << 0x08 << 0x00 << 2048;
    QTest::newRow("second byte is low") << 0x00 << 0x08 << 8;
    QTest::newRow("nothing received") << 0 << 0 << 0;
}

void tst_RequestEncoding::adcCode()
{
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(qint32, code);

    QCOMPARE(RequestEncoding::adcCode(std::uint8_t(first), std::uint8_t(second)), code);
}

QTEST_APPLESS_MAIN(tst_RequestEncoding)
#include "tst_requestencoding.moc"
