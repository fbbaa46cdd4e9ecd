#include "support/boardtrace.h"
#include "traceline.h"

#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <limits>

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
    void boardListDropsTrailingZeros();
    void tracedBufferBytes_data();
    void tracedBufferBytes();
    void parsesBack();
    void pathRoundTrip_data();
    void pathRoundTrip();
    void malformedLines_data();
    void malformedLines();
    void appendsOneLinePerCall();
};

void TestTraceLine::format_data()
{
    QTest::addColumn<QString>("built");
    QTest::addColumn<QString>("expected");

    const std::array<std::uint8_t, 2> reply {0x0F, 0xA0};
    const std::int32_t handle = 0x44100001;
    const std::int32_t found = 1;

    QTest::newRow("request")
            << lineOf(TraceLine("Vendor_Request")
                              .hex("handle", handle)
                              .hex("request", 0xBB)
                              .hex("value", 0)
                              .hex("index", 0)
                              .decimal("direction", 1)
                              .decimal("length", 2)
                              .bytes("buffer", reply.data(), reply.size())
                              .status(0))
            << "Vendor_Request handle=0x44100001 request=0xbb value=0x0 index=0x0 direction=1 "
               "length=2 buffer=[0f a0] status=0";
    QTest::newRow("negative numbers") << lineOf(
            TraceLine("VendorIORequest").hex("request", -1).decimal("length", -2).status(-6))
                                      << "VendorIORequest request=-0x1 length=-2 status=-6";
    QTest::newRow("most negative") << lineOf(
            TraceLine("X").hex("value", std::numeric_limits<std::int32_t>::min()).status(0))
                                   << "X value=-0x80000000 status=0";
    QTest::newRow("pointers") << lineOf(
            TraceLine("Connect").hexAt("handle", &handle).decimalAt("found", &found).status(0))
                              << "Connect handle=0x44100001 found=1 status=0";
    QTest::newRow("null pointers")
            << lineOf(TraceLine("Connect")
                              .hexAt("handle", nullptr)
                              .decimalAt("found", nullptr)
                              .bytes("buffer", nullptr, 2)
                              .path("path", nullptr, 10)
                              .status(3))
            << "Connect handle=null found=null buffer=null path=null status=3";
    QTest::newRow("path") << lineOf(
            TraceLine("LoadFirmWare").path("path", "C:\\Eval\\TX4413.hex", 100).status(0))
                          << R"(LoadFirmWare path="C:\\Eval\\TX4413.hex" status=0)";
    QTest::newRow("path with quote, space and control byte")
            << lineOf(TraceLine("LoadFirmWare").path("path", "a \"b\"\t\xC3\xA9", 100).status(0))
            << R"(LoadFirmWare path="a \"b\"\x09\xc3\xa9" status=0)";
    QTest::newRow("overlong path")
            << lineOf(TraceLine("LoadFirmWare").path("path", "abcdef", 5).status(-4))
            << "LoadFirmWare path=overlong status=-4";
    QTest::newRow("path at the limit")
            << lineOf(TraceLine("LoadFirmWare").path("path", "abcde", 5).status(0))
            << R"(LoadFirmWare path="abcde" status=0)";
}

void TestTraceLine::format()
{
    QFETCH(QString, built);
    QFETCH(QString, expected);
    QCOMPARE(built, expected);
}

void TestTraceLine::boardListDropsTrailingZeros()
{
    std::array<std::uint8_t, 128> list {};
    QCOMPARE(lineOf(TraceLine("S").boardList("boardList", list.data(), list.size())),
             "S boardList=[00]");
    list[0] = 1;
    list[1] = 2;
    QCOMPARE(lineOf(TraceLine("S").boardList("boardList", list.data(), list.size())),
             "S boardList=[01 02]");
    list[127] = 9;
    const QString all = lineOf(TraceLine("S").boardList("boardList", list.data(), list.size()));
    QCOMPARE(all.count(u' '), 1 + 127);
    QVERIFY(all.endsWith(u" 00 09]"));
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

void TestTraceLine::parsesBack()
{
    const std::array<std::uint8_t, 2> reply {0x01, 0x23};
    const TraceLine line = TraceLine("Vendor_Request")
                                   .hex("handle", 0x44100001)
                                   .hex("request", 0xBB)
                                   .hex("value", -2)
                                   .decimal("direction", 1)
                                   .bytes("buffer", reply.data(), reply.size())
                                   .path("path", "/tmp/a b.hex", 100)
                                   .hexAt("found", nullptr)
                                   .status(-6);
    const std::optional<BoardTrace::Record> record = BoardTrace::parseLine(lineOf(line));
    QVERIFY(record);
    QCOMPARE(record->function, "Vendor_Request");
    QCOMPARE(record->status, -6);
    QStringList names;
    for (const auto &[name, value] : record->arguments)
        names.append(name);
    QCOMPARE(names,
             QStringList({"handle", "request", "value", "direction", "buffer", "path", "found"}));
    QCOMPARE(record->number("handle"), 0x44100001);
    QCOMPARE(record->number("request"), 0xBB);
    QCOMPARE(record->number("value"), -2);
    QCOMPARE(record->number("direction"), 1);
    QCOMPARE(record->bytes("buffer"), QByteArray("\x01\x23", 2));
    QCOMPARE(record->path("path"), QByteArray("/tmp/a b.hex"));
    QVERIFY(record->isNull("found"));
    QVERIFY(!record->has("status"));
    QVERIFY(!record->number("missing"));
}

void TestTraceLine::pathRoundTrip_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("plain") << QByteArray("/opt/tx4410/bin/TX4413.hex");
    QTest::newRow("backslashes") << QByteArray("C:\\Eval\\TX4413.hex");
    QTest::newRow("quotes and spaces") << QByteArray("/a \"quoted\" dir/x.hex");
    QTest::newRow("control and high bytes") << QByteArray("/\x01\x7f\xff/\\x41");
    QTest::newRow("empty") << QByteArray("");
}

void TestTraceLine::pathRoundTrip()
{
    QFETCH(QByteArray, path);
    const TraceLine line = TraceLine("LoadFirmWare").path("path", path.constData(), 4096).status(0);
    const std::optional<BoardTrace::Record> record = BoardTrace::parseLine(lineOf(line));
    QVERIFY(record);
    QCOMPARE(record->path("path"), path);
    QCOMPARE(record->status, 0);
}

void TestTraceLine::malformedLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("no arguments") << "Connect";
    QTest::newRow("no status") << "Connect handle=0x1";
    QTest::newRow("status not last") << "Connect status=0 handle=0x1";
    QTest::newRow("status not a number") << "Connect status=ok";
    QTest::newRow("unterminated quote") << "LoadFirmWare path=\"abc status=0";
    QTest::newRow("unterminated list") << "Vendor_Request buffer=[00 status=0";
    QTest::newRow("two spaces") << "Connect  status=0";
    QTest::newRow("empty value") << "Connect handle= status=0";
}

void TestTraceLine::malformedLines()
{
    QFETCH(QString, line);
    QVERIFY(!BoardTrace::parseLine(line));
}

void TestTraceLine::appendsOneLinePerCall()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray file = dir.filePath("trace.log").toLocal8Bit();
    TraceLine::appendTo(file.constData(), TraceLine("Connect").hex("vendorId", 1).status(0).text());
    TraceLine::appendTo(file.constData(), TraceLine("Connect").hex("vendorId", 2).status(1).text());

    const BoardTrace trace = BoardTrace::read(QString::fromLocal8Bit(file));
    QVERIFY(trace.malformedLines().isEmpty());
    QCOMPARE(trace.records().size(), 2);
    QCOMPARE(trace.records()[0].number("vendorId"), 1);
    QCOMPARE(trace.records()[1].status, 1);
    QCOMPARE(trace.calls("Connect").size(), 2);
    QVERIFY(trace.calls("Vendor_Request").isEmpty());

    // A file that cannot be written is passed over.
    TraceLine::appendTo(dir.filePath("missing/trace.log").toLocal8Bit().constData(),
                        "Connect status=0");
    QVERIFY(BoardTrace::read(dir.filePath("missing/trace.log")).records().isEmpty());
}

QTEST_APPLESS_MAIN(TestTraceLine)
#include "tst_traceline.moc"
