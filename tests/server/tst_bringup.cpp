// When the server, its board gone, brings a board up: only when one is there, and not again on
// the bus it just failed on until the bus changes or the wait after the failure is over.
#include "serverboard.h"

#include <QTest>

class BringUp : public QObject
{
    Q_OBJECT

private slots:
    void worthIt_data();
    void worthIt();
};

using Bus = std::optional<QStringList>;

void BringUp::worthIt_data()
{
    QTest::addColumn<Bus>("bus");
    QTest::addColumn<Bus>("failedOn");
    QTest::addColumn<bool>("waitOver");
    QTest::addColumn<bool>("worth");

    const QStringList one {QStringLiteral("1-2 1.7 0")};
    const QStringList moved {QStringLiteral("1-2 1.8 0")};
    QTest::newRow("the library cannot tell") << Bus() << Bus() << false << true;
    QTest::newRow("no board on the bus") << Bus(QStringList()) << Bus() << true << false;
    QTest::newRow("a board, nothing failed") << Bus(one) << Bus() << false << true;
    QTest::newRow("the bus it failed on") << Bus(one) << Bus(one) << false << false;
    QTest::newRow("the bus it failed on, the wait over") << Bus(one) << Bus(one) << true << true;
    QTest::newRow("the board came back elsewhere") << Bus(moved) << Bus(one) << false << true;
}

void BringUp::worthIt()
{
    QFETCH(Bus, bus);
    QFETCH(Bus, failedOn);
    QFETCH(bool, waitOver);
    QFETCH(bool, worth);
    QCOMPARE(ServerBoard::worthBringingUp(bus, failedOn, waitOver), worth);
}

QTEST_GUILESS_MAIN(BringUp)
#include "tst_bringup.moc"
