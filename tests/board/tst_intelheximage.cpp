#include "intelheximage.h"

#include <QTemporaryDir>
#include <QTest>

using Error = IntelHexImage::Error;
Q_DECLARE_METATYPE(IntelHexImage::Error)

namespace {

const QByteArray end = ":00000001FF\n";
const QByteArray data = ":03000000020100FA\n";

} // namespace

class TestIntelHexImage : public QObject
{
    Q_OBJECT

private slots:
    void shippedImageAccepted();
    void parse_data();
    void parse();
    void files_data();
    void files();
    void dataRecordsKept();

private:
    QTemporaryDir m_dir;
};

void TestIntelHexImage::shippedImageAccepted()
{
    const IntelHexImage image = IntelHexImage::load(TX4410_FIRMWARE_SOURCE);
    QCOMPARE(image.error(), Error::None);
    QVERIFY(image.isValid());
    QCOMPARE(image.byteCount(), 3u + 16 + 16 + 16);
}

void TestIntelHexImage::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Error>("error");
    QTest::addColumn<int>("line");

    QTest::newRow("data and end") << data + end << Error::None << 0;
    QTest::newRow("CR LF line ends")
            << QByteArray(":03000000020100FA\r\n:00000001FF\r\n") << Error::None << 0;
    QTest::newRow("lower-case digits") << QByteArray(":02001000aabb89\n") + end << Error::None << 0;
    QTest::newRow("no newline after end") << data + ":00000001FF" << Error::None << 0;
    QTest::newRow("last bytes of RAM")
            << ":103FF000000102030405060708090A0B0C0D0E0F49\n" + end << Error::None << 0;
    QTest::newRow("segment and start records")
            << ":020000040000FA\n:0400000500000000F7\n:0400000300000000F9\n" + data + end
            << Error::None << 0;

    QTest::newRow("empty") << QByteArray() << Error::Empty << 0;
    QTest::newRow("blank lines only") << QByteArray("\n\r\n\n") << Error::Empty << 0;
    QTest::newRow("missing end of file") << data << Error::MissingEndOfFile << 0;
    QTest::newRow("record after end of file") << end + data << Error::RecordAfterEndOfFile << 2;
    QTest::newRow("bad checksum") << QByteArray(":03000000020100FB\n") + end << Error::BadChecksum
                                  << 1;
    QTest::newRow("bad end of file checksum") << data + ":00000001FE\n" << Error::BadChecksum << 2;
    QTest::newRow("count one too many")
            << QByteArray(":04000000020100FA\n") + end << Error::WrongByteCount << 1;
    QTest::newRow("count one too few")
            << QByteArray(":02000000020100FA\n") + end << Error::WrongByteCount << 1;
    QTest::newRow("short record") << QByteArray(":000000\n") + end << Error::ShortRecord << 1;
    QTest::newRow("odd digit count")
            << QByteArray(":03000000020100FA0\n") + end << Error::OddDigitCount << 1;
    QTest::newRow("junk character")
            << QByteArray(":0300000002G100FA\n") + end << Error::BadCharacter << 1;
    QTest::newRow("trailing space")
            << QByteArray(":03000000020100FA \n") + end << Error::BadCharacter << 1;
    QTest::newRow("no start code")
            << QByteArray("03000000020100FA\n") + end << Error::MissingStartCode << 1;
    QTest::newRow("text line") << data + "firmware\n" + end << Error::MissingStartCode << 2;
    QTest::newRow("unknown record type") << ":00000006FA\n" + end << Error::UnknownRecordType << 1;
    QTest::newRow("end of file with data") << data + ":0100000100FE\n"
                                           << Error::BadRecordLength << 2;
    QTest::newRow("data past the end of RAM")
            << ":103FF800000102030405060708090A0B0C0D0E0F41\n" + end << Error::DataOutsideRam << 1;
    QTest::newRow("data just beyond RAM") << ":0140000001BE\n" + end << Error::DataOutsideRam << 1;
    QTest::newRow("data above a linear base")
            << ":020000040001F9\n" + data + end << Error::DataOutsideRam << 2;
    QTest::newRow("data above a segment base")
            << ":020000020400F8\n" + data + end << Error::DataOutsideRam << 2;
}

void TestIntelHexImage::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(Error, error);
    QFETCH(int, line);

    const IntelHexImage image
            = IntelHexImage::parse(std::string_view(text.constData(), text.size()));
    QCOMPARE(image.error(), error);
    QCOMPARE(image.errorLine(), line);
    QCOMPARE(image.isValid(), error == Error::None);
}

void TestIntelHexImage::files_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<Error>("error");

    QVERIFY(m_dir.isValid());
    const auto write = [this](const QString &name, const QByteArray &contents) {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    };

    QTest::newRow("copied image") << write("good.hex", data + end) << Error::None;
    QTest::newRow("empty file") << write("empty.hex", {}) << Error::Empty;
    QTest::newRow("missing file") << m_dir.filePath("missing.hex") << Error::Unreadable;
    QTest::newRow("directory") << m_dir.path() << Error::Unreadable;
    QTest::newRow("too large") << write("large.hex",
                                        QByteArray(IntelHexImage::maxFileBytes + 1, '\n'))
                               << Error::TooLarge;
    QTest::newRow("bad checksum") << write("bad.hex", ":03000000020100FB\n" + end)
                                  << Error::BadChecksum;
}

void TestIntelHexImage::files()
{
    QFETCH(QString, path);
    QFETCH(Error, error);
    QCOMPARE(IntelHexImage::load(path.toStdString()).error(), error);
}

void TestIntelHexImage::dataRecordsKept()
{
    const QByteArray text = ":020000020100FB\n:02001000AABB89\n" + end;
    const IntelHexImage image
            = IntelHexImage::parse(std::string_view(text.constData(), text.size()));
    QVERIFY(image.isValid());
    QCOMPARE(image.segments().size(), 1u);
    QCOMPARE(image.segments()[0].address, 0x1010u);
    QCOMPARE(image.segments()[0].bytes, (std::vector<std::uint8_t> {0xAA, 0xBB}));
}

QTEST_APPLESS_MAIN(TestIntelHexImage)
#include "tst_intelheximage.moc"
