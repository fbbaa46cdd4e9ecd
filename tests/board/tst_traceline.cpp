#include "support/boardtrace.h"
#include "traceline.h"

#include <QTest>

#include <array>

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
};

void TestTraceLine::format_data()
{
    QTest::addColumn<QString>("built");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const TraceLine &line, const char *expected) {
        QTest::newRow(name) << QString::fromStdString(line.text()) << expected;
    };
    std::array<std::uint8_t, 128> list {};
    row("negative numbers",
        TraceLine("VendorIORequest").hex("request", -1).decimal("length", -2).status(-6),
        "VendorIORequest request=-0x1 length=-2 status=-6");
    row("null pointers",
        TraceLine("Connect")
                .hexAt("handle", nullptr)
                .decimalAt("found", nullptr)
                .bytes("buffer", nullptr, 2)
                .path("path", nullptr, 10)
                .status(3),
        "Connect handle=null found=null buffer=null path=null status=3");
    row("path with backslash, quote, space and control byte",
        TraceLine("LoadFirmWare").path("path", "C:\\a \"b\"\t\xC3\xA9", 100).status(0),
        R"(LoadFirmWare path="C:\\a \"b\"\x09\xc3\xa9" status=0)");
    row("overlong path", TraceLine("LoadFirmWare").path("path", "abcdef", 5).status(-4),
        "LoadFirmWare path=overlong status=-4");
    row("path at the limit", TraceLine("LoadFirmWare").path("path", "abcde", 5).status(0),
        R"(LoadFirmWare path="abcde" status=0)");
    row("empty board list", TraceLine("S").boardList("boardList", list.data(), list.size()),
        "S boardList=[00]");
    list[0] = 1;
    list[2] = 3;
    row("board list up to its last board",
        TraceLine("S").boardList("boardList", list.data(), list.size()), "S boardList=[01 00 03]");
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
    QTest::newRow("backslashes and spaces") << QByteArray("C:\\Eval dir\\TX4413.hex");
    QTest::newRow("quotes") << QByteArray("/a \"quoted\" dir/x.hex");
    QTest::newRow("control and high bytes, escape-like text") << QByteArray("/\x01\x7f\xff/\\x41");
    QTest::newRow("empty") << QByteArray("");
}

// What the other tests read back from a trace: function, numbers, path, status.
void TestTraceLine::parsesBack()
{
    QFETCH(QByteArray, path);
    const std::array<std::uint8_t, 2> reply {0x01, 0x23};
    const std::optional<BoardTrace::Record> record
            = BoardTrace::parseLine(QString::fromStdString(TraceLine("Vendor_Request")
                                                                   .hex("handle", 0x44100001)
                                                                   .hex("value", -2)
                                                                   .decimal("direction", 1)
                                                                   .bytes("buffer", reply.data(), 2)
                                                                   .path("path", path.data(), 4096)
                                                                   .status(-6)
                                                                   .text()));
    QVERIFY(record);
    QCOMPARE(record->function, "Vendor_Request");
    QCOMPARE(record->status, -6);
    QStringList names;
    for (const auto &[name, value] : record->arguments)
        names.append(name);
    QCOMPARE(names, QStringList({"handle", "value", "direction", "buffer", "path"}));
    QCOMPARE(record->number("handle"), 0x44100001);
    QCOMPARE(record->number("value"), -2);
    QCOMPARE(record->number("direction"), 1);
    QCOMPARE(record->path("path"), path);
    QVERIFY(!record->number("missing"));
}

QTEST_APPLESS_MAIN(TestTraceLine)
#include "tst_traceline.moc"
