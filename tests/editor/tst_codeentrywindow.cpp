#include "editorwindow.h"
#include "messageboxanswerer.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString hexBox = QStringLiteral("hexText");
const QString voltageBox = QStringLiteral("voltageText");
const QString vrefBox = QStringLiteral("VrefText");

// Data cells 19 down to 4, grouped by four for reading.
QString cells(const char *grouped)
{
    return QString::fromLatin1(grouped).remove(QLatin1Char(' '));
}

const QString allZero = cells("0000 0000 0000 0000");
const QString allOne = cells("1111 1111 1111 1111");

bool showsNoNonNumber(const QString &text)
{
    static const QRegularExpression nonNumber(QStringLiteral("inf|nan"),
                                              QRegularExpression::CaseInsensitiveOption);
    return !text.contains(nonNumber);
}

} // namespace

// The data code typed into the window's code boxes as hexadecimal or as a voltage against the
// reference: what the data cells, the other box and the sent word then hold.
class TestCodeEntryWindow final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void hexTyped_data();
    void hexTyped();
    void voltageTyped_data();
    void voltageTyped();
    void againstAReference_data();
    void againstAReference();
    void referenceChangeKeepsTheCode_data();
    void referenceChangeKeepsTheCode();
    void anyKeyReleaseRecomputes_data();
    void anyKeyReleaseRecomputes();
    void voltageWrittenReadsBackAsTheSameCode_data();
    void voltageWrittenReadsBackAsTheSameCode();
    void referenceNotANumberChangesNothing_data();
    void referenceNotANumberChangesNothing();
    void extremeInputs_data();
    void extremeInputs();
    void hugeReferenceWritesEveryDigit_data();
    void hugeReferenceWritesEveryDigit();
    void commaLocale_data();
    void commaLocale();

private:
    // The word "Write to Part" sends now.
    qint64 wordSent();

    std::unique_ptr<EditorWindow> m_window;
};

void TestCodeEntryWindow::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("TX4410(version2)"));
}

void TestCodeEntryWindow::init()
{
    m_window = std::make_unique<EditorWindow>();
    QVERIFY(m_window->open());
}

void TestCodeEntryWindow::cleanup()
{
    m_window.reset();
    QLocale::setDefault(QLocale::system());
}

qint64 TestCodeEntryWindow::wordSent()
{
    const qsizetype before = m_window->sentWords().size();
    if (!m_window->perform({"Write to Part"}))
        return -1;
    const QList<qint64> words = m_window->sentWords();
    return words.size() == before + 1 ? words.last() : -1;
}

void TestCodeEntryWindow::hexTyped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown"); // what the box holds after typing
    QTest::addColumn<QString>("dataCells");
    QTest::addColumn<QString>("voltage");
    QTest::addColumn<int>("code");

    QTest::newRow("8000") << "8000"
                          << "8000" << cells("1000 0000 0000 0000") << "2.50000000000000" << 0x8000;
    QTest::newRow("FFFF") << "FFFF"
                          << "FFFF" << allOne << "4.99992370605469" << 0xFFFF;
    QTest::newRow("7fff stays lower case")
            << "7fff"
            << "7fff" << cells("0111 1111 1111 1111") << "2.49992370605469" << 0x7FFF;
    QTest::newRow("1") << "1"
                       << "1" << cells("0000 0000 0000 0001") << "0.00007629394531" << 1;
    QTest::newRow("empty") << ""
                           << "" << allZero << "0.00000000000000" << 0;
    QTest::newRow("G1") << "G1"
                        << "G1" << allZero << "0.00000000000000" << 0;
    QTest::newRow("12G4 reads as far as it is hex")
            << "12G4"
            << "12G4" << cells("0000 0000 0001 0010") << "0.00137329101563" << 0x12;
    QTest::newRow("00ff stays 00ff")
            << "00ff"
            << "00ff" << cells("0000 0000 1111 1111") << "0.01945495605469" << 0xFF;
    QTest::newRow("a fifth digit is refused")
            << "1FFFF"
            << "1FFF" << cells("0001 1111 1111 1111") << "0.62492370605469" << 0x1FFF;
}

void TestCodeEntryWindow::hexTyped()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QString, dataCells);
    QFETCH(QString, voltage);
    QFETCH(int, code);

    QVERIFY(m_window->perform({"hexText=" + typed}));
    QCOMPARE(m_window->text(hexBox), shown);
    QCOMPARE(m_window->dataDigits(), dataCells);
    QCOMPARE(m_window->text(voltageBox), voltage);
    QCOMPARE(wordSent(), code);
}

void TestCodeEntryWindow::voltageTyped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("dataCells");
    QTest::addColumn<QString>("hex");

    QTest::newRow("2.5") << "2.5"
                         << "2.5" << cells("1000 0000 0000 0000") << "8000";
    QTest::newRow("1.25") << "1.25"
                          << "1.25" << cells("0100 0000 0000 0000") << "4000";
    QTest::newRow("5 is limited to FFFF") << "5"
                                          << "5" << allOne << "FFFF";
    QTest::newRow("4.9999 rounds to FFFF") << "4.9999"
                                           << "4.9999" << allOne << "FFFF";
    QTest::newRow("-1 gives 0") << "-1"
                                << "-1" << allZero << "0";
    QTest::newRow("abc gives 0") << "abc"
                                 << "abc" << allZero << "0";
    QTest::newRow("one step, without leading zeros")
            << "0.000076"
            << "0.000076" << cells("0000 0000 0000 0001") << "1";
    QTest::newRow(".5") << ".5"
                        << ".5" << cells("0001 1001 1001 1010") << "199A";
    QTest::newRow("5V reads 5") << "5V"
                                << "5V" << allOne << "FFFF";
    QTest::newRow("a comma ends the number") << "1,5"
                                             << "1,5" << cells("0011 0011 0011 0011") << "3333";
    QTest::newRow("a ninth character is refused")
            << "2.5000001"
            << "2.500000" << cells("1000 0000 0000 0000") << "8000";
}

void TestCodeEntryWindow::voltageTyped()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QString, dataCells);
    QFETCH(QString, hex);

    QVERIFY(m_window->perform({"voltageText=" + typed}));
    QCOMPARE(m_window->text(voltageBox), shown);
    QCOMPARE(m_window->dataDigits(), dataCells);
    QCOMPARE(m_window->text(hexBox), hex);
    QCOMPARE(wordSent(), hex.toLongLong(nullptr, 16));
}

void TestCodeEntryWindow::againstAReference_data()
{
    QTest::addColumn<QString>("vref");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("hex");     // hexText afterwards
    QTest::addColumn<QString>("voltage"); // voltageText afterwards

    QTest::newRow("3.3 V, 1 V gives 4D93") << "3.3" << voltageBox << "1"
                                           << "4D93"
                                           << "1";
    QTest::newRow("3.3 V, 4D93") << "3.3" << hexBox << "4D93"
                                 << "4D93"
                                 << "0.99998016357422";
    QTest::newRow("65536 V, 2.5 ties to 2") << "65536" << voltageBox << "2.5"
                                            << "2"
                                            << "2.5";
    QTest::newRow("65536 V, 3.5 ties to 4") << "65536" << voltageBox << "3.5"
                                            << "4"
                                            << "3.5";
    QTest::newRow("65536 V, 0.5 ties to 0") << "65536" << voltageBox << "0.5"
                                            << "0"
                                            << "0.5";
    QTest::newRow("0 V, any voltage gives FFFF") << "0" << voltageBox << "1"
                                                 << "FFFF"
                                                 << "1";
    QTest::newRow("0 V, even a negative one") << "0" << voltageBox << "-1"
                                              << "FFFF"
                                              << "-1";
    QTest::newRow("0 V, a code gives 0 V") << "0" << hexBox << "8000"
                                           << "8000"
                                           << "0.00000000000000";
    QTest::newRow("empty, a code gives 0 V") << "" << hexBox << "FFFF"
                                             << "FFFF"
                                             << "0.00000000000000";
    QTest::newRow("-5 V, a code gives a negative voltage") << "-5" << hexBox << "8000"
                                                           << "8000"
                                                           << "-2.50000000000000";
    QTest::newRow("-5 V, a voltage gives 0") << "-5" << voltageBox << "1"
                                             << "0"
                                             << "1";
    QTest::newRow("-0.001 V, a voltage gives 0") << "-0.001" << voltageBox << "5"
                                                 << "0"
                                                 << "5";
}

void TestCodeEntryWindow::againstAReference()
{
    QFETCH(QString, vref);
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(QString, hex);
    QFETCH(QString, voltage);

    MessageBoxAnswerer answerer(QMessageBox::Ok);
    QVERIFY(m_window->perform({"VrefText=" + vref, box + '=' + typed}));
    QCOMPARE(m_window->text(vrefBox), vref);
    QCOMPARE(m_window->text(hexBox), hex);
    QCOMPARE(m_window->text(voltageBox), voltage);
    // The code stays a plain 16-bit code whatever the reference: a negative one would spill
    // into the command and address fields.
    const qint64 code = QString(hex).toLongLong(nullptr, 16);
    QCOMPARE(m_window->dataDigits(), QStringLiteral("%1").arg(code, 16, 2, QLatin1Char('0')));
    QCOMPARE(wordSent(), code);
    QVERIFY(answerer.seen().isEmpty());
}

void TestCodeEntryWindow::referenceChangeKeepsTheCode_data()
{
    QTest::addColumn<QString>("vref");
    QTest::addColumn<QString>("voltage");

    QTest::newRow("2.5") << "2.5"
                         << "1.25000000000000";
    QTest::newRow("2 on the way to 2.5") << "2"
                                         << "1.00000000000000";
    QTest::newRow("2. on the way to 2.5") << "2."
                                          << "1.00000000000000";
    QTest::newRow("3.3") << "3.3"
                         << "1.65000000000000";
    QTest::newRow("0") << "0"
                       << "0.00000000000000";
    QTest::newRow("empty") << ""
                           << "0.00000000000000";
    QTest::newRow("not a number") << "abc"
                                  << "0.00000000000000";
}

// Every character typed into the reference recomputes the voltage from the code in hexText.
void TestCodeEntryWindow::referenceChangeKeepsTheCode()
{
    QFETCH(QString, vref);
    QFETCH(QString, voltage);

    QVERIFY(m_window->perform({"hexText=8000", "VrefText=" + vref}));
    QCOMPARE(m_window->text(voltageBox), voltage);
    QCOMPARE(m_window->text(hexBox), QStringLiteral("8000"));
    QCOMPARE(m_window->dataDigits(), cells("1000 0000 0000 0000"));
    QCOMPARE(wordSent(), 0x8000);
}

void TestCodeEntryWindow::anyKeyReleaseRecomputes_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("dataCells"); // after the key
    QTest::addColumn<QString>("other");     // the other box after the key

    QTest::newRow("hexText, Shift")
            << hexBox << "FFFF" << int(Qt::Key_Shift) << allOne << "4.99992370605469";
    QTest::newRow("hexText, Right arrow")
            << hexBox << "FFFF" << int(Qt::Key_Right) << allOne << "4.99992370605469";
    QTest::newRow("hexText, Home") << hexBox << "1" << int(Qt::Key_Home)
                                   << cells("0000 0000 0000 0001") << "0.00007629394531";
    QTest::newRow("hexText, Control")
            << hexBox << "G1" << int(Qt::Key_Control) << allZero << "0.00000000000000";
    QTest::newRow("voltageText, Left arrow")
            << voltageBox << "1.25" << int(Qt::Key_Left) << cells("0100 0000 0000 0000") << "4000";
    QTest::newRow("voltageText, Shift")
            << voltageBox << "5" << int(Qt::Key_Shift) << allOne << "FFFF";
}

// A paste with the mouse is no key release: the cells keep the code typed before until a key
// goes up in the box.
void TestCodeEntryWindow::anyKeyReleaseRecomputes()
{
    QFETCH(QString, box);
    QFETCH(QString, pasted);
    QFETCH(int, key);
    QFETCH(QString, dataCells);
    QFETCH(QString, other);

    const QString otherBox = box == hexBox ? voltageBox : hexBox;
    QVERIFY(m_window->perform({"hexText=8000"}));
    const QString otherBefore = m_window->text(otherBox);

    QVERIFY(m_window->pasteWithMouse(box, pasted));
    QCOMPARE(m_window->text(box), pasted);
    QCOMPARE(m_window->dataDigits(), cells("1000 0000 0000 0000"));
    QCOMPARE(m_window->text(otherBox), otherBefore);

    QVERIFY(m_window->pressKey(box, Qt::Key(key)));
    QCOMPARE(m_window->text(box), pasted);
    QCOMPARE(m_window->dataDigits(), dataCells);
    QCOMPARE(m_window->text(otherBox), other);
}

void TestCodeEntryWindow::voltageWrittenReadsBackAsTheSameCode_data()
{
    QTest::addColumn<QString>("vref");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("hex"); // hexText after the key in voltageText

    QTest::newRow("8000") << "5"
                          << "8000"
                          << "8000";
    QTest::newRow("7fff comes back upper case") << "5"
                                                << "7fff"
                                                << "7FFF";
    QTest::newRow("00ff comes back as FF") << "5"
                                           << "00ff"
                                           << "FF";
    QTest::newRow("1") << "5"
                       << "1"
                       << "1";
    QTest::newRow("FFFF") << "5"
                          << "FFFF"
                          << "FFFF";
    QTest::newRow("0") << "5"
                       << "0"
                       << "0";
    QTest::newRow("4d93 against 3.3 V") << "3.3"
                                        << "4d93"
                                        << "4D93";
    QTest::newRow("ABCD against 1 mV") << "0.001"
                                       << "ABCD"
                                       << "ABCD";
}

void TestCodeEntryWindow::voltageWrittenReadsBackAsTheSameCode()
{
    QFETCH(QString, vref);
    QFETCH(QString, typed);
    QFETCH(QString, hex);

    QVERIFY(m_window->perform({"VrefText=" + vref, "hexText=" + typed}));
    const QString dataCells = m_window->dataDigits();
    const QString voltage = m_window->text(voltageBox);

    QVERIFY(m_window->pressKey(voltageBox, Qt::Key_Right));
    QCOMPARE(m_window->text(voltageBox), voltage);
    QCOMPARE(m_window->text(hexBox), hex);
    QCOMPARE(m_window->dataDigits(), dataCells);
}

void TestCodeEntryWindow::referenceNotANumberChangesNothing_data()
{
    QTest::addColumn<QString>("vref");

    QTest::newRow("letters") << "abc";
    QTest::newRow("empty") << "";
    QTest::newRow("with a unit") << "5V";
    QTest::newRow("two points") << "2.5.1";
    QTest::newRow("two signs") << "--5";
    QTest::newRow("inf") << "inf";
    QTest::newRow("nan") << "nan";
    QTest::newRow("beyond a double") << "1e999";
}

// No reference to convert against: the voltage typed is left as it is, and the code, its cells
// and hexText stay what they were.
void TestCodeEntryWindow::referenceNotANumberChangesNothing()
{
    QFETCH(QString, vref);

    QVERIFY(m_window->perform({"hexText=8000", "VrefText=" + vref}));
    MessageBoxAnswerer answerer(QMessageBox::Ok);
    QVERIFY(m_window->perform({"voltageText=1"}));
    QVERIFY(m_window->pressKey(voltageBox, Qt::Key_Right));
    QCOMPARE(m_window->text(voltageBox), QStringLiteral("1"));
    QCOMPARE(m_window->text(hexBox), QStringLiteral("8000"));
    QCOMPARE(m_window->dataDigits(), cells("1000 0000 0000 0000"));
    QVERIFY(answerer.seen().isEmpty());
    QCOMPARE(wordSent(), 0x8000);
}

void TestCodeEntryWindow::extremeInputs_data()
{
    QTest::addColumn<QString>("vref");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("voltage");

    QTest::newRow("voltage beyond a double") << "5" << voltageBox << "1e999"
                                             << "FFFF"
                                             << "1e999";
    QTest::newRow("negative voltage beyond a double") << "5" << voltageBox << "-1e999"
                                                      << "0"
                                                      << "-1e999";
    QTest::newRow("voltage below the smallest double") << "5" << voltageBox << "1e-999"
                                                       << "0"
                                                       << "1e-999";
    QTest::newRow("voltage times 65536 beyond a double") << "5" << voltageBox << "1e308"
                                                         << "FFFF"
                                                         << "1e308";
    QTest::newRow("reference of 1e-300 V") << "1e-300" << voltageBox << "1"
                                           << "FFFF"
                                           << "1";
    QTest::newRow("reference of -1e-300 V") << "-1e-300" << voltageBox << "1"
                                            << "0"
                                            << "1";
    QTest::newRow("subnormal reference") << "1e-320" << voltageBox << "1"
                                         << "FFFF"
                                         << "1";
    QTest::newRow("a code against 1e-300 V") << "1e-300" << hexBox << "FFFF"
                                             << "FFFF"
                                             << "0.00000000000000";
    QTest::newRow("a code against a reference beyond a double") << "1e999" << hexBox << "8000"
                                                                << "8000"
                                                                << "Overflow";
    QTest::newRow("a code against a negative reference beyond a double")
            << "-1e999" << hexBox << "8000"
            << "8000"
            << "-Overflow";
    QTest::newRow("code 0 against a reference beyond a double") << "1e999" << hexBox << "0"
                                                                << "0"
                                                                << "0.00000000000000";
}

void TestCodeEntryWindow::extremeInputs()
{
    QFETCH(QString, vref);
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(QString, hex);
    QFETCH(QString, voltage);

    MessageBoxAnswerer answerer(QMessageBox::Ok);
    QVERIFY(m_window->perform({"VrefText=" + vref, box + '=' + typed}));
    QCOMPARE(m_window->text(hexBox), hex);
    QCOMPARE(m_window->text(voltageBox), voltage);
    QVERIFY(showsNoNonNumber(m_window->text(hexBox)));
    QVERIFY(showsNoNonNumber(m_window->text(voltageBox)));
    QVERIFY(m_window->dataDigits().count(QLatin1Char('-')) == 0);
    QCOMPARE(wordSent(), QString(hex).toLongLong(nullptr, 16));
    QVERIFY(answerer.seen().isEmpty());
}

void TestCodeEntryWindow::hugeReferenceWritesEveryDigit_data()
{
    QTest::addColumn<QString>("vref");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("pattern"); // of the voltage written

    QTest::newRow("FFFF against 1e308 V") << "1e308"
                                          << "FFFF"
                                          << "^9\\d{307}\\.0{14}$";
    QTest::newRow("8000 against 1e308 V") << "1e308"
                                          << "8000"
                                          << "^5\\d{307}\\.0{14}$";
    QTest::newRow("1 against 1e308 V") << "1e308"
                                       << "1"
                                       << "^1\\d{303}\\.0{14}$";
    QTest::newRow("FFFF against 1.7e308 V") << "1.7e308"
                                            << "FFFF"
                                            << "^1\\d{308}\\.0{14}$";
}

// Against a huge reference the voltage has hundreds of digits before the point; the text is
// long, but exact enough that a key release in voltageText reads the same code back.
void TestCodeEntryWindow::hugeReferenceWritesEveryDigit()
{
    QFETCH(QString, vref);
    QFETCH(QString, typed);
    QFETCH(QString, pattern);

    QVERIFY(m_window->perform({"VrefText=" + vref, "hexText=" + typed}));
    const QString dataCells = m_window->dataDigits();
    const QString voltage = m_window->text(voltageBox);
    QVERIFY2(QRegularExpression(pattern).match(voltage).hasMatch(), qPrintable(voltage));

    QVERIFY(m_window->pressKey(voltageBox, Qt::Key_End));
    QCOMPARE(m_window->text(voltageBox), voltage);
    QCOMPARE(m_window->text(hexBox), typed);
    QCOMPARE(m_window->dataDigits(), dataCells);
}

void TestCodeEntryWindow::commaLocale_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("voltage");

    QTest::newRow("the voltage is written with a point") << QStringList {"hexText=8000"} << "8000"
                                                         << "2.50000000000000";
    QTest::newRow("a point reference still reads")
            << QStringList {"VrefText=2.5", "voltageText=1"} << "6666"
            << "1";
    QTest::newRow("a comma reference for a typed voltage")
            << QStringList {"VrefText=2,5", "voltageText=1"} << "6666"
            << "1";
    QTest::newRow("a comma reference for a typed code")
            << QStringList {"VrefText=2,5", "hexText=8000"} << "8000"
            << "1.25000000000000";
    QTest::newRow("a comma reference changed under a typed code")
            << QStringList {"hexText=8000", "VrefText=2,5"} << "8000"
            << "1.25000000000000";
    QTest::newRow("a comma reference, voltage then code then voltage")
            << QStringList {"VrefText=2,5", "voltageText=1", "hexText=6666", "voltageText=1"}
            << "6666"
            << "1";
}

// The user's own notation serves for the reference; the program's texts keep the point, so
// that they read back whatever the locale.
void TestCodeEntryWindow::commaLocale()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, hex);
    QFETCH(QString, voltage);

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QVERIFY(m_window->perform(steps));
    QCOMPARE(m_window->text(hexBox), hex);
    QCOMPARE(m_window->text(voltageBox), voltage);
    const qint64 code = QString(hex).toLongLong(nullptr, 16);
    QCOMPARE(wordSent(), code);

    // Keys going up in either box, one after the other, must not move the code.
    for (const QString &box : {hexBox, voltageBox, hexBox, voltageBox}) {
        QVERIFY(m_window->pressKey(box, Qt::Key_Right));
        QCOMPARE(m_window->text(hexBox).toLongLong(nullptr, 16), code);
        QVERIFY(!m_window->text(voltageBox).contains(QLatin1Char(',')));
    }
    QCOMPARE(wordSent(), code);
}

QTEST_MAIN(TestCodeEntryWindow)
#include "tst_codeentrywindow.moc"
