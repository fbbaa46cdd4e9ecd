#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// The install as a user gets it: staged into a folder of its own and started by its links in
// bin/ with no library path and no display; what it maps and loads must be the staged files.
class tst_Install : public QObject
{
    Q_OBJECT

    QTemporaryDir m_scratch;
    QString stage(const QString &path) const { return m_scratch.filePath("stage/" + path); }
    QString trace() const { return m_scratch.filePath(QTest::currentDataTag()); } // one a row
    static QString contents(const QString &file)
    {
        QFile opened(file);
        return opened.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(opened.readAll())
                                                : QString();
    }

    // "<program> <arguments...>", on the simulated board.
    void start(QProcess &process, const QString &command)
    {
        QStringList arguments = command.split(u' ');
        const QString program = arguments.takeFirst();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"LD_LIBRARY_PATH", "QT_QPA_PLATFORM", "DISPLAY"})
            environment.remove(name);
        environment.insert("TX4410_BOARD_TRACE", trace());
        environment.insert("TX4410_BOARD", "sim");
        process.setProcessEnvironment(environment);
        process.start(stage("bin/" + program), arguments);
    }

private slots:
    void initTestCase()
    {
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(TX4410_CMAKE, {"--install", TX4410_BUILD_DIR, "--prefix", stage("")});
        QVERIFY(install.waitForFinished(120000));
        QVERIFY2(install.exitCode() == 0, install.readAll().constData());
    }

    void programBindsTheInstalledFiles_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("library");
        QTest::newRow("by name") << "TX4410"
                                 << "libBoardPort.so";
        QTest::newRow("by path") << "TX4410-version2"
                                 << "libKVN_CYUSB_USB4.so";
    }
    // Up past its first sample, on the board library and the firmware of the program folder;
    // its desktop entry starts it.
    void programBindsTheInstalledFiles()
    {
        QFETCH(QString, program);
        QFETCH(QString, library);
        QProcess running;
        start(running, program + " -platform offscreen");
        QTRY_VERIFY_WITH_TIMEOUT(contents(trace()).contains("request=0xbb") || !running.processId(),
                                 20000);
        QVERIFY2(!running.waitForFinished(300), running.readAll().constData());
        const QString mapped = contents(QStringLiteral("/proc/%1/maps").arg(running.processId()));
        QVERIFY(mapped.contains(library)
                && mapped.count(library) == mapped.count(stage(TX4410_PROGRAM_DIR "/") + library));
        QVERIFY(contents(trace()).contains("path=\""
                                           + stage(TX4410_PROGRAM_DIR "/TX4413.hex\" status=0")));
        QVERIFY(contents(stage("share/applications/" + program.toLower() + ".desktop"))
                        .contains("\nExec=" + program + "\nIcon=tx4410\n"));
        running.kill();
        running.waitForFinished();
    }

    void answersWithoutWindowOrBoard_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("printed");
        QTest::newRow("version") << "TX4410 --version" << 0 << "^TX4410 1.0.0\n$";
        QTest::newRow("-v") << "TX4410-version2 -v" << 0 << "^TX4410\\(version2\\) 1.0.4\n$";
        QTest::newRow("help") << "TX4410-version2 --help" << 0
                              << "(?s)--version.*TX4410_BOARD=.*TX4410_SIM_ABSENT_ATTEMPTS=.*"
                                 "TX4410_SIM_FAIL_REQUESTS=.*TX4410_BOARD_TRACE=.*QT_QPA_PLATFORM";
        QTest::newRow("unknown, after Qt's own")
                << "TX4410 -platform offscreen --frob" << 2 << "unknown argument \"--frob\"";
    }
    void answersWithoutWindowOrBoard()
    {
        QFETCH(QString, command);
        QFETCH(int, status);
        QFETCH(QString, printed);
        QProcess run;
        start(run, command);
        QVERIFY(run.waitForFinished(20000));
        QCOMPARE(run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1, status);
        const QString text = status == 0 ? run.readAllStandardOutput() : run.readAllStandardError();
        QVERIFY2(text.contains(QRegularExpression(printed)), qPrintable(text));
        QVERIFY(!QFile::exists(trace()));
    }
};

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_install.moc"
