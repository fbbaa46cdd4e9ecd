#include "support/boardtrace.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString binDir = QStringLiteral(TX4410_BIN_DIR);

// Starts a program on the simulated board, waits until `ready` holds or it ends, then stops it.
class RunningProgram final
{
public:
    RunningProgram(const QString &program, const QProcessEnvironment &environment)
    {
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(program, {});
    }
    ~RunningProgram()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    bool waitFor(const std::function<bool()> &ready)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 20000) {
            if (ready())
                return true;
            if (m_process.state() == QProcess::NotRunning)
                return ready();
            m_process.waitForFinished(50);
        }
        return false;
    }
    bool running() const { return m_process.state() == QProcess::Running; }
    QByteArray output() { return m_process.readAll(); }

private:
    QProcess m_process;
};

QProcessEnvironment simulatedBoard(const QString &traceFile)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TX4410_BOARD"), QStringLiteral("sim"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("TX4410_BOARD_TRACE"), traceFile);
    environment.remove(QStringLiteral("LD_LIBRARY_PATH"));
    return environment;
}

bool traceHasSuccessful(const QString &traceFile, const QString &function)
{
    for (const BoardTrace::Record &record : BoardTrace::read(traceFile).calls(function)) {
        if (record.status == 0)
            return true;
    }
    return false;
}

QStringList neededLibraries(const QString &program)
{
    QProcess readelf;
    readelf.start(QStringLiteral(TX4410_READELF), {QStringLiteral("-d"), program});
    readelf.waitForFinished();
    QStringList needed;
    for (const QByteArray &line : readelf.readAllStandardOutput().split('\n')) {
        if (line.contains("(NEEDED)"))
            needed.append(QString::fromUtf8(line.mid(line.indexOf('[') + 1)).chopped(1));
    }
    return needed;
}

} // namespace

// The two programs as built: what they bind, by which name, and where from.
class tst_Programs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void programsLinkNoBoardLibrary_data();
    void programsLinkNoBoardLibrary();
    void programComesUpOnSimulatedBoard_data();
    void programComesUpOnSimulatedBoard();
    void libraryPathOfTheUserWins();

private:
    QTemporaryDir m_scratch;
};

void tst_Programs::initTestCase()
{
    QVERIFY(m_scratch.isValid());
}

void tst_Programs::programsLinkNoBoardLibrary_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("TX4410") << "TX4410";
    QTest::newRow("TX4410-version2") << "TX4410-version2";
}

void tst_Programs::programsLinkNoBoardLibrary()
{
    QFETCH(QString, program);

    const QStringList needed = neededLibraries(binDir + QLatin1Char('/') + program);
    QVERIFY2(needed.contains(QStringLiteral("libQt6Widgets.so.6")), qPrintable(needed.join(' ')));
    for (const QString &library : needed) {
        QVERIFY2(!library.contains(QStringLiteral("BoardPort"))
                         && !library.contains(QStringLiteral("KVN_CYUSB")),
                 qPrintable(library));
    }
}

void tst_Programs::programComesUpOnSimulatedBoard_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("loadFunction");

    QTest::newRow("TX4410") << "TX4410"
                            << "LoadFirmWare";
    QTest::newRow("TX4410-version2") << "TX4410-version2"
                                     << "Download_Firmware";
}

void tst_Programs::programComesUpOnSimulatedBoard()
{
    QFETCH(QString, program);
    QFETCH(QString, loadFunction);

    const QString traceFile = m_scratch.filePath(program + QStringLiteral(".trace"));
    RunningProgram running(binDir + QLatin1Char('/') + program, simulatedBoard(traceFile));
    QVERIFY2(running.waitFor([&] { return traceHasSuccessful(traceFile, loadFunction); }),
             running.output().constData());
    QVERIFY2(running.running(), running.output().constData());

    const BoardTrace::Record load = BoardTrace::read(traceFile).calls(loadFunction).first();
    QCOMPARE(load.path(QStringLiteral("path")),
             QDir(binDir).filePath(QStringLiteral("TX4413.hex")).toLocal8Bit());
}

void tst_Programs::libraryPathOfTheUserWins()
{
    const QString traceFile = m_scratch.filePath(QStringLiteral("real.trace"));
    const QString fakeLog = m_scratch.filePath(QStringLiteral("fake.log"));
    QProcessEnvironment environment = simulatedBoard(traceFile);
    environment.insert(QStringLiteral("LD_LIBRARY_PATH"), QStringLiteral(TX4410_FAKES_DIR));
    environment.insert(QStringLiteral("TX4410_FAKE_LOG"), fakeLog);

    RunningProgram running(binDir + QStringLiteral("/TX4410"), environment);
    QVERIFY2(running.waitFor([&] { return QFile::exists(fakeLog); }), running.output().constData());
    QFile log(fakeLog);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readLine().startsWith("LoadFirmWare path="));
    QVERIFY(!QFile::exists(traceFile));
}

QTEST_GUILESS_MAIN(tst_Programs)
#include "tst_programs.moc"
