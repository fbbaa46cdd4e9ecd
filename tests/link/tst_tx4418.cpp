#include "requestencoding.h"

#include <QTest>

Q_DECLARE_METATYPE(VendorRequestFields)

// The vendor request of each device operation; the window tests see them reach the board.
class tst_TX4418 : public QObject
{
    Q_OBJECT

private slots:
    void requests_data()
    {
        QTest::addColumn<VendorRequestFields>("fields");
        QTest::addColumn<QList<int>>("expected"); // code, value, index, direction, length
        using namespace RequestEncoding;
        QTest::newRow("word 12345678")
                << commandWord(0x12345678) << QList {0xDD, 0x5678, 0x1234, 0, 0};
        QTest::newRow("word with bit 31")
                << commandWord(qint32(0x80000001)) << QList {0xDD, 1, 0, 0, 0};
        QTest::newRow("word -1") << commandWord(-1) << QList {0xDD, 0xFFFF, 0x7FFF, 0, 0};
        QTest::newRow("channel H") << selectMuxChannel(128) << QList {0xCC, 128, 0, 0, 0};
        QTest::newRow("read") << readAdc() << QList {0xBB, 0, 0, 1, 2};
        QTest::newRow("CLR high") << clrPin(true) << QList {0xE1, 0, 0, 0, 0};
        QTest::newRow("CLR low") << clrPin(false) << QList {0xE0, 0, 0, 0, 0};
        QTest::newRow("LDAC high") << ldacPin(true) << QList {0xF1, 0, 0, 0, 0};
        QTest::newRow("LDAC low") << ldacPin(false) << QList {0xF0, 0, 0, 0, 0};
    }

    void requests()
    {
        QFETCH(VendorRequestFields, fields);
        QTEST((QList<int> {fields.code, fields.value, fields.index, fields.direction,
                           fields.length}),
              "expected");
        // The first byte of the ADC's reply is the high one.
        QVERIFY(RequestEncoding::adcCode(0x0F, 0xFF) == 4095
                && RequestEncoding::adcCode(0xFF, 0xFF) == 65535);
    }
};

QTEST_APPLESS_MAIN(tst_TX4418)
#include "tst_tx4418.moc"
