#include "windowonboard.h"

#include <QTest>

// Readback and pins as a user drives them; A, C and H hold 1.25 V, 3.75 V and nothing.
class tst_Readback : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowOnBoard> m_window;

    double display() const { return m_window->c().ADCDisplay->value(); }
private slots:
    void init()
    {
        m_window = std::make_unique<WindowOnBoard>();
        QVERIFY(m_window->open());
        QVERIFY(m_window->perform({"Write to and Update DAC channel n", "hexText=4000",
                                   "Write to Part", "DAC C", "hexText=C000", "Write to Part"}));
        m_window->forgetCalls();
    }
    void cleanup()
    {
        QVERIFY(m_window->takeBoxes().isEmpty());
        m_window.reset();
    }

    void samples_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("requests");
        QTest::addColumn<double>("volts");
        const auto row = [](const char *steps, const char *requests, double volts) {
            QTest::newRow(steps) << steps << requests << volts;
        };
        row("Option_MUX_7", "cc 80, bb", 0); // parked
        row("adcVddText=3.3|sampleCommand", "bb, bb", 0.825);
        row("adcVddText=|sampleCommand", "bb, bb", 0);
        row("adcVddText=9e999|sampleCommand", "bb, bb", qInf());
        row("Option_MUX_7|adcVddText=9e999|sampleCommand", "cc 80, bb, bb, bb", qQNaN());
        // Leaving Vdd samples: by Tab, and before a channel is chosen the old one.
        row("adcVddText=5|Tab", "bb", 1.25);
        row("adcVddText=5|Option_MUX_2", "bb, cc 4, bb", 3.75);
        row("Write to and Update DAC channel n|All DACs|hexText=FFFF|Write to Part|Option_MUX_3",
            "dd ffff, cc 8, bb", 4.998779296875);
    }

    void samples()
    {
        QFETCH(QString, steps);
        QVERIFY(m_window->perform(steps.split(u'|')));
        QTEST(m_window->requests(), "requests");
        QTEST(display(), "volts");
        QVERIFY(!m_window->c().ADCDisplay->grab().isNull()); // drawn, whatever the value
    }

    void failingBoard_data()
    {
        QTest::addColumn<bool>("autoSampling"); // each box held open across a tick
        QTest::addColumn<QString>("requests");  // from the Vdd box
        QTest::newRow("channel C from Vdd") << false << "bb failed, cc 4 failed, bb failed";
        // No tick samples while a box is open, so no box is stacked on another.
        QTest::newRow("auto sampling") << true << "bb failed, bb failed";
    }

    // One box per failed request, one at a time; a failed read shows 0; nothing stuck after.
    void failingBoard()
    {
        QFETCH(bool, autoSampling);
        if (autoSampling) {
            QVERIFY(m_window->perform({"autoSampleCheck"}));
            m_window->boxes.holdMilliseconds = 1300;
        }
        QVERIFY(m_window->perform({"adcVddText=5"}));
        QCOMPARE(m_window->board.setFailRequests(true), 0);
        QVERIFY(m_window->perform({autoSampling ? "sampleCommand" : "Option_MUX_2"}));
        QTEST(m_window->requests(), "requests");
        QCOMPARE(m_window->takeBoxes().size(), m_window->requests().split(", ").size());
        QCOMPARE(m_window->boxes.mostOpenAtOnce, 1);
        QCOMPARE(display(), 0.0);
        QCOMPARE(m_window->board.setFailRequests(false), 0);
        QVERIFY(autoSampling || m_window->perform({"sampleCommand"}));
        // The failed choice of C left the board on A. Cleared, the box stops the ticks.
        QTRY_COMPARE_WITH_TIMEOUT(display(), 1.25, 1500);
        QVERIFY(!autoSampling || m_window->perform({"autoSampleCheck"}));
        m_window->forgetCalls();
        QTest::qWait(autoSampling ? 1100 : 0);
        QCOMPARE(m_window->requests(), "");
    }

    // Parked, clicked by the program: the level shown, then its own pin driven; a failure keeps it.
    void pins()
    {
        const MainFormControls &c = m_window->c();
        QVERIFY(c.CLRStateLabel->text() == u"HI" && c.LDACStateLabel->text() == u"HI");
        QStringList seen;
        for (const bool fail : {false, true, false, false, true}) {
            QCOMPARE(m_window->board.setFailRequests(fail), 0);
            m_window->forgetCalls();
            QVERIFY(m_window->perform({seen.size() ? "CLRCheck" : "LDACCheck"}));
            seen << m_window->requests() + ' ' + c.CLRStateLabel->text() + ' '
                            + c.LDACStateLabel->text()
                            + QString::number(m_window->takeBoxes().size());
        }
        QCOMPARE(seen,
                 QStringList({"f0 HI LOW0", "e0 failed LOW LOW1", "e1 HI LOW0", "e0 LOW LOW0",
                              "e1 failed HI LOW1"}));
    }
};

QTEST_MAIN(tst_Readback)
#include "tst_readback.moc"
