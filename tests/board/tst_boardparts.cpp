#include "intelheximage.h"

#include <QTest>

// The firmware image reader of the simulated board.
using Error = IntelHexImage::Error;
Q_DECLARE_METATYPE(IntelHexImage::Error)

class TestBoardParts : public QObject
{
    Q_OBJECT

private slots:
    void hexImage_data();
    void hexImage();
};

void TestBoardParts::hexImage_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Error>("error");
    QTest::addColumn<int>("line");

    using enum Error;
    const QByteArray end = ":00000001FF\n", data = ":03000000020100FA\n";
    const auto row = [](const char *name, const QByteArray &text, Error error, int line) {
        QTest::newRow(name) << text << error << line;
    };
    row("data and end", data + end, None, 0);
    row("CR LF, lower case, no last newline", ":02001000aabb89\r\n:00000001FF", None, 0);
    row("last bytes of RAM", ":103FF000000102030405060708090A0B0C0D0E0F49\n" + end, None, 0);
    row("segment and start records",
        ":020000040000FA\n:0400000500000000F7\n:0400000300000000F9\n" + data + end, None, 0);
    row("empty", "", Empty, 0);
    row("blank lines only", "\n\r\n\n", Empty, 0);
    row("missing end of file", data, MissingEndOfFile, 0);
    row("record after end of file", end + data, RecordAfterEndOfFile, 2);
    row("bad checksum", ":03000000020100FB\n" + end, BadChecksum, 1);
    row("bad end of file checksum", data + ":00000001FE\n", BadChecksum, 2);
    row("count one too many", ":04000000020100FA\n" + end, WrongByteCount, 1);
    row("count one too few", ":02000000020100FA\n" + end, WrongByteCount, 1);
    row("short record", ":000000\n" + end, ShortRecord, 1);
    row("odd digit count", ":03000000020100FA0\n" + end, OddDigitCount, 1);
    row("junk character", ":0300000002G100FA\n" + end, BadCharacter, 1);
    row("trailing space", ":03000000020100FA \n" + end, BadCharacter, 1);
    row("text line", data + "firmware\n" + end, MissingStartCode, 2);
    row("unknown record type", ":00000006FA\n" + end, UnknownRecordType, 1);
    row("end of file with data", data + ":0100000100FE\n", BadRecordLength, 2);
    row("address record of one byte", ":0100000400FB\n" + end, BadRecordLength, 1);
    row("start record of two bytes", ":020000050000F9\n" + end, BadRecordLength, 1);
    row("start code alone", data + ":\n" + end, ShortRecord, 2);
    row("data just beyond RAM", ":0140000001BE\n" + end, DataOutsideRam, 1);
    row("data running past RAM", ":103FF800000102030405060708090A0B0C0D0E0F41\n" + end,
        DataOutsideRam, 1);
    row("data above a linear base", ":020000040001F9\n" + data + end, DataOutsideRam, 2);
    row("data above a segment base", ":020000020400F8\n" + data + end, DataOutsideRam, 2);
}

void TestBoardParts::hexImage()
{
    QFETCH(QByteArray, text);
    QFETCH(Error, error);
    QFETCH(int, line);
    const IntelHexImage image = IntelHexImage::parse(std::string_view(text.data(), text.size()));
    QCOMPARE(image.error(), error);
    QCOMPARE(image.errorLine(), line);
    QCOMPARE(image.isValid(), error == Error::None);
}

QTEST_APPLESS_MAIN(TestBoardParts)
#include "tst_boardparts.moc"
