#include "support/boardtrace.h"
#include "traceline.h"

#include <QTest>

#include <array>

namespace {

QString lineOf(const TraceLine &line)
{
    return QString::fromStdString(line.text());
}

} // namespace

class TestTraceLine : public QObject
{
    Q_OBJECT

private slots:
    void format_data();
    void format();
    void tracedBufferBytes_data();
    void tracedBufferBytes();
    void parsesBack_data();
    void parsesBack();
    void malformedLines_data();
    void malformedLines();
};

void TestTraceLine::format_data()
{
    QTest::addColumn<QString>("built");
    QTest::addColumn<QString>("expected");

    std::array<std::uint8_t, 128> list {};

    QTest::newRow("negative numbers") << lineOf(
            TraceLine("VendorIORequest").hex("request", -1).decimal("length", -2).status(-6))
                                      << "VendorIORequest request=-0x1 length=-2 status=-6";
    QTest::newRow("null pointers")
            << lineOf(TraceLine("Connect")
                              .hexAt("handle", nullptr)
                              .decimalAt("found", nullptr)
                              .bytes("buffer", nullptr, 2)
                              .path("path", nullptr, 10)
                              .status(3))
            << "Connect handle=null found=null buffer=null path=null status=3";
    QTest::newRow("path with backslash, quote, space and control byte")
            << lineOf(TraceLine("LoadFirmWare")
                              .path("path", "C:\\a \"b\"\t\xC3\xA9", 100)
                              .status(0))
            << R"(LoadFirmWare path="C:\\a \"b\"\x09\xc3\xa9" status=0)";
    QTest::newRow("overlong path")
            << lineOf(TraceLine("LoadFirmWare").path("path", "abcdef", 5).status(-4))
            << "LoadFirmWare path=overlong status=-4";
    QTest::newRow("path at the limit")
            << lineOf(TraceLine("LoadFirmWare").path("path", "abcde", 5).status(0))
            << R"(LoadFirmWare path="abcde" status=0)";
    QTest::newRow("empty board list")
            << lineOf(TraceLine("S").boardList("boardList", list.data(), list.size()))
            << "S boardList=[00]";
    list[0] = 1;
    list[2] = 3;
    QTest::newRow("board list up to its last board")
            << lineOf(TraceLine("S").boardList("boardList", list.data(), list.size()))
            << "S boardList=[01 00 03]";
}

void TestTraceLine::format()
{
    QFETCH(QString, built);
    QFETCH(QString, expected);
    QCOMPARE(built, expected);
}

void TestTraceLine::tracedBufferBytes_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("bytes");

    QTest::newRow("command word") << 0xDD << 0 << 1;
    QTest::newRow("read ADC") << 0xBB << 2 << 2;
    QTest::newRow("read ADC, claimed one") << 0xBB << 1 << 1;
    QTest::newRow("read ADC, claimed many") << 0xBB << 30000 << 2;
    QTest::newRow("pin, claimed two") << 0xE0 << 2 << 1;
    QTest::newRow("unknown, claimed two") << 0xAA << 2 << 1;
    QTest::newRow("negative length") << 0xBB << -5 << 1;
}

void TestTraceLine::tracedBufferBytes()
{
    QFETCH(int, code);
    QFETCH(int, length);
    QFETCH(int, bytes);
    QCOMPARE(::tracedBufferBytes(code, length), std::size_t(bytes));
}

void TestTraceLine::parsesBack_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("plain") << QByteArray("/tmp/a b.hex");
    QTest::newRow("backslashes") << QByteArray("C:\\Eval\\TX4413.hex");
    QTest::newRow("quotes") << QByteArray("/a \"quoted\" dir/x.hex");
    QTest::newRow("control and high bytes") << QByteArray("/\x01\x7f\xff/\\x41");
    QTest::newRow("empty") << QByteArray("");
}

void TestTraceLine::parsesBack()
{
    QFETCH(QByteArray, path);
    const std::array<std::uint8_t, 2> reply {0x01, 0x23};
    const std::optional<BoardTrace::Record> record
            = BoardTrace::parseLine(lineOf(TraceLine("Vendor_Request")
                                                   .hex("handle", 0x44100001)
                                                   .hex("value", -2)
                                                   .decimal("direction", 1)
                                                   .bytes("buffer", reply.data(), reply.size())
                                                   .path("path", path.constData(), 4096)
                                                   .hexAt("found", nullptr)
                                                   .status(-6)));
    QVERIFY(record);
    QCOMPARE(record->function, "Vendor_Request");
    QCOMPARE(record->status, -6);
    QStringList names;
    for (const auto &[name, value] : record->arguments)
        names.append(name);
    QCOMPARE(names, QStringList({"handle", "value", "direction", "buffer", "path", "found"}));
    QCOMPARE(record->number("handle"), 0x44100001);
    QCOMPARE(record->number("value"), -2);
    QCOMPARE(record->number("direction"), 1);
    QCOMPARE(record->bytes("buffer"), QByteArray("\x01\x23", 2));
    QCOMPARE(record->path("path"), path);
    QVERIFY(record->isNull("found"));
    QVERIFY(!record->has("status"));
    QVERIFY(!record->number("missing"));
}

void TestTraceLine::malformedLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("no status") << "Connect handle=0x1";
    QTest::newRow("status not last") << "Connect status=0 handle=0x1";
    QTest::newRow("unterminated quote") << "LoadFirmWare path=\"abc status=0";
    QTest::newRow("unterminated list") << "Vendor_Request buffer=[00 status=0";
    QTest::newRow("empty value") << "Connect handle= status=0";
}

void TestTraceLine::malformedLines()
{
    QFETCH(QString, line);
    QVERIFY(!BoardTrace::parseLine(line));
}

QTEST_APPLESS_MAIN(TestTraceLine)
#include "tst_traceline.moc"
