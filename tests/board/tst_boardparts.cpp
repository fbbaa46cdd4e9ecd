#include "boardconfig.h"
#include "intelheximage.h"
#include "simulateddac.h"

#include <QTemporaryDir>
#include <QTest>

#include <map>

// The simulated board's firmware image reader and its DAC.
using Error = IntelHexImage::Error;
using Volts = QList<double>;
Q_DECLARE_METATYPE(IntelHexImage::Error)

class TestBoardParts : public QObject
{
    Q_OBJECT

private slots:
    void hexImage_data();
    void hexImage();
    void dacOutputs_data();
    void dacOutputs();
    void configuration_data();
    void configuration();
};

void TestBoardParts::configuration_data()
{
    QTest::addColumn<QByteArray>("file");       // null: no file there
    QTest::addColumn<QStringList>("variables"); // NAME=value, over the file
    QTest::addColumn<QString>("read");          // loader firmware milliseconds port attach
    QTest::addColumn<QString>("problem");       // a part of it; empty: none
    const QString defaults = "6666:4400 6666:4410 5000  0";
    const auto row = [](const char *name, const QByteArray &file, const QStringList &variables,
                        const QString &read, const QString &problem = {}) {
        QTest::newRow(name) << file << variables << read << problem;
    };
    row("no file: the defaults", {}, {}, defaults);
    row("comments and blanks only", "# loader-id = 1234:5678\n\n  \n", {}, defaults);
    row("every setting",
        "loader-id = 04b4:8613 # bare\nfirmware-id=04B4:1004\n"
        "come-back-seconds = 12.5\n",
        {}, "04b4:8613 04b4:1004 12500  0");
    row("variables over the file", "firmware-id = 1111:2222\n",
        {"TX4410_FIRMWARE_ID=3333:4444", "TX4410_BOARD_PORT=1-2.3", "TX4410_ATTACH=1",
         "TX4410_COME_BACK_SECONDS=0.1"},
        "6666:4400 3333:4444 100 1-2.3 1");
    row("unknown setting", "loader-id = 04b4:8613\nfirmware = 1:2\n", {}, defaults,
        "board.conf line 2: unknown setting \"firmware\"");
    row("no equals sign", "\n\nloader-id 04b4:8613\n", {}, defaults, "line 3: \"loader-id");
    row("set twice", "loader-id = 04b4:8613\nloader-id = 04b4:8613\n", {}, defaults,
        "line 2: loader-id is set a second time");
    row("identity of three digits", "firmware-id = 666:4410\n", {}, defaults,
        "line 1: firmware-id \"666:4410\" is not VENDOR:PRODUCT");
    row("identity with no product", "firmware-id = 6666\n", {}, defaults, "\"6666\" is not");
    row("no seconds", "come-back-seconds = soon\n", {}, defaults, "\"soon\" is not a number");
    row("comma decimal", "come-back-seconds = 2,5\n", {}, defaults, "\"2,5\" is not a number");
    row("wait beyond ten minutes", "come-back-seconds = 601\n", {}, defaults, "0.1 to 600");
    row("control characters shown escaped", "loader-id = \x1b[31m\n", {}, defaults,
        "\"\\x1b[31m\" is not");
    row("bad variable", {}, {"TX4410_LOADER_ID=6666-4400"}, defaults,
        "TX4410_LOADER_ID \"6666-4400\" is not");
    row("port of no bus", {}, {"TX4410_BOARD_PORT=2"}, defaults, "\"2\" is not a port path");
    row("port zero", {}, {"TX4410_BOARD_PORT=1-0"}, defaults, "\"1-0\" is not a port path");
    row("attach yes", {}, {"TX4410_ATTACH=yes"}, defaults, "TX4410_ATTACH \"yes\" is not 0 or 1");
    row("named file missing", {}, {"TX4410_BOARD_CONFIG=/no/such.conf"}, defaults,
        "/no/such.conf: cannot be read");
}

// A malformed file or variable is a problem that names where and what, never a silent default.
void TestBoardParts::configuration()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, variables);
    QFETCH(QString, problem);
    const QTemporaryDir dir;
    const QString path = dir.filePath("board.conf");
    QFile written(path);
    QVERIFY(file.isNull() || (written.open(QIODevice::WriteOnly) && written.write(file) >= 0));
    written.close();
    std::map<std::string, std::string> environment;
    for (const QString &variable : variables)
        environment[variable.section('=', 0, 0).toStdString()]
                = variable.section('=', 1).toStdString();
    const BoardConfigReading reading
            = BoardConfigFile::read(path.toStdString(), [&](const char *name) {
                  const auto found = environment.find(name);
                  return found == environment.end() ? nullptr : found->second.c_str();
              });
    QVERIFY2(QString::fromStdString(reading.problem).contains(problem)
                     && problem.isEmpty() == reading.problem.empty(),
             reading.problem.c_str());
    if (!problem.isEmpty())
        return;
    const BoardConfig &config = reading.config;
    const auto id = [](const UsbIdentity &identity) {
        return QString::asprintf("%04x:%04x", identity.vendorId, identity.productId);
    };
    QTEST(QStringLiteral("%1 %2 %3 %4 %5")
                  .arg(id(config.loader), id(config.firmware))
                  .arg(config.comeBack.count())
                  .arg(QString::fromStdString(config.port))
                  .arg(int(config.attach)),
          "read");
    QCOMPARE(QString::fromStdString(config.file), file.isNull() ? QString() : path);
}

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
    row("no data byte: empty data, address, end", ":0000000000\n:020000040000FA\n" + end, Empty, 0);
    row("missing end of file", data, MissingEndOfFile, 0);
    row("record after end of file", end + data, RecordAfterEndOfFile, 2);
    row("bad checksum", ":03000000020100FB\n" + end, BadChecksum, 1);
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

void TestBoardParts::dacOutputs_data()
{
    // Each step is a frame in hexadecimal or a pin level: "CLR low", "LDAC high".
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<Volts>("volts"); // A to D
    const Volts zero(4, 0.0), mid(4, 2.5);
    const auto row = [](const char *name, const QStringList &steps, const Volts &volts) {
        QTest::newRow(name) << steps << volts;
    };
    row("write input A: output unchanged", {"008000"}, zero);
    row("write input A, update B", {"008000", "090000"}, zero);
    row("write input B and update all", {"004000", "118000"}, {1.25, 2.5, 0, 0});
    row("write and update C, full scale", {"1AFFFF"}, {0, 0, 65535 * 5.0 / 65536, 0});
    row("address 4 names no channel", {"1C8000"}, zero);
    row("bits above the command ignored", {"7FD98000"}, {0, 2.5, 0, 0});
    row("1 kOhm on B and D", {"1F8000", "20001A"}, {2.5, 0, 2.5, 0});
    row("normal mode again: DAC register kept", {"1F8000", "20003F", "20000F"}, mid);
    row("reset, registers only: reference stays", {"380001", "280000", "1F8000"}, Volts(4, 1.25));
    row("reset all: reference off", {"380001", "280001", "1F8000"}, mid);
    row("LDAC register B only", {"300002", "078000"}, {0, 2.5, 0, 0});
    row("CLR held low: outputs stay at zero", {"CLR low", "1F8000"}, zero);
    row("CLR held low: inputs still written", {"CLR low", "1F8000", "CLR high", "0F0000"}, mid);
    row("LDAC falling edge copies inputs", {"004000", "02C000", "LDAC low"}, {1.25, 0, 3.75, 0});
    row("LDAC high again", {"LDAC low", "LDAC high", "008000"}, zero);
}

void TestBoardParts::dacOutputs()
{
    QFETCH(QStringList, steps);
    SimulatedDac dac;
    for (const QString &step : steps) {
        if (step.startsWith(u"CLR "))
            dac.setClrPin(step.endsWith(u"high"));
        else if (step.startsWith(u"LDAC "))
            dac.setLdacPin(step.endsWith(u"high"));
        else
            dac.writeFrame(step.toUInt(nullptr, 16));
    }
    Volts volts;
    for (int channel = 0; channel < SimulatedDac::channelCount; ++channel)
        volts.append(dac.outputVolts(channel));
    QTEST(volts, "volts");
}

QTEST_APPLESS_MAIN(TestBoardParts)
#include "tst_boardparts.moc"
