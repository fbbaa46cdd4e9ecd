#include "windowonboard.h"

#include <QTest>

// The editor driven with mouse and keys, in a decimal-comma notation; what Write to Part sends.
class TestEditorWindow final : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowOnBoard> m_window;

    const MainFormControls &c() const { return m_window->c(); }
    // Cells last down to first: 0, 1, or ? for anything else; the lit ones as a mask.
    QString cells(int first, int last) const
    {
        QString digits;
        for (int i = last; i >= first; --i)
            digits += QString::number(c().BitsDisplay[i]->value()).left(1).replace("-", "?");
        return digits;
    }
    // Lit and dim as drawn: segments pure red 255 or 160 (the colour packs blue highest).
    QString lit() const
    {
        quint32 lit = 0, dim = 0;
        for (int i = 0; i < 32; ++i) {
            const QImage drawn = c().BitsDisplay[i]->grab().toImage();
            const QList<QRgb> colours = drawn.convertToFormat(QImage::Format_Indexed8).colorTable();
            lit |= quint32(colours.contains(qRgb(255, 0, 0))) << i;
            dim |= quint32(colours.contains(qRgb(160, 0, 0))) << i;
        }
        return QString::number(lit, 16) + ((lit ^ dim) == ~0U ? "" : " other colours");
    }
    QStringList view() const
    {
        return {cells(0, 31), lit(), c().hexText->text(), c().voltageText->text(),
                c().VrefText->text()};
    }
    // The command words sent since the calls were forgotten, in hexadecimal; samples aside.
    QString words() const
    {
        QStringList words;
        for (const TraceRecord &call : m_window->calls()) {
            if (call.number("request") == 0xDD)
                words << QString::number(*call.number("index") * 65536 + *call.number("value"), 16);
        }
        return words.join(u' ');
    }
    QString writeToPart() const
    {
        m_window->forgetCalls();
        return m_window->perform({"Write to Part"}) ? words() : QString();
    }

private slots:
    void init()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        m_window = std::make_unique<WindowOnBoard>();
        QVERIFY(m_window->open());
    }
    void cleanup()
    {
        QVERIFY(m_window->takeBoxes().isEmpty());
        m_window.reset();
        QLocale::setDefault(QLocale::system());
    }

    void commandShowsItsPanel_data()
    {
        QTest::addColumn<int>("command");
        // The panel shown, the code entry or it on top, the address choice or none, lit cells.
        QTest::addColumn<QString>("shown");
        const auto row = [](int command, const char *shown) {
            QTest::addRow("%d %s", command, shown) << command << shown;
        };
        row(0, "Data Bits, code address, ffffff0");
        row(1, "Update DAC Register, panel address, ff00000");
        row(2, "Data Bits, code address, ffffff0");
        row(3, "Data Bits, code address, ffffff0");
        row(4, "Power Down/Up Register, panel none, f0003ff");
        row(5, "Reset, panel none, f000010");
        row(6, "LDAC Register Setup, panel none, f0000ff");
        row(7, "REF Setup Register, panel none, f000010");
        row(8, "CLR Code Register, panel none, f000001");
    }

    // After choices everywhere: its panel alone, its fields lit, defaults back, dim address sent.
    void commandShowsItsPanel()
    {
        QFETCH(int, command);
        QVERIFY(m_window->perform({"DAC C", "Power Down DAC (Power-up)", "Three State", "DAC B",
                                   "powerDownCheck_6", "Reset", "Reset All Registers",
                                   "clearCodeOption_3", "LDAC Register Setup", "DAC A",
                                   "REF Setup Register", "Internal reference ON",
                                   command ? "cmdBitsOption_0" : "cmdBitsOption_3", "hexText=FFFF",
                                   QStringLiteral("cmdBitsOption_%1").arg(command)}));
        for (int i = 0; i < 9; ++i)
            QCOMPARE(c().dataBitsFrame[i]->isVisible(), i == command);
        // Cell 31 keeps its dim start colour.
        QTEST(c().dataBitsFrame[command]->title()
                      + (c().dataFrame->isVisible() ? ", code" : ", panel")
                      + (c().addressBitsFrame->isVisible() ? " address, " : " none, ") + lit(),
              "shown");
        QCOMPARE(cells(0, 31),
                 "0000" + QString::number(command, 2).rightJustified(4, u'0') + "0010"
                         + QString(20, u'0'));
        QCOMPARE(c().hexText->text() + c().voltageText->text(), "00");
        for (const QButtonGroup *group : {c().powerDownOptionGroup, c().clearCodeOptionGroup,
                                          c().ResetOptionGroup, c().refOptionGroup})
            QCOMPARE(group->checkedId(), 0);
        for (const QAbstractButton *box :
             c().powerDownCheckGroup->buttons() + c().LDACOverwriteCheckGroup->buttons())
            QVERIFY(!box->isChecked());
        QCOMPARE(writeToPart(), QString::number((command & 7) << 19 | 0x20000, 16));
    }

    void sendsTheWordOfTheChoices_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("sent"); // the code boxes, cells 3 to 0 (not sent), the word
        const auto row = [](const char *steps, const char *sent) {
            QTest::newRow(steps) << steps << sent;
        };
        // The box typed in keeps what it takes, 4 and 8 characters; the other is rewritten.
        row("hexText=00ff", "00ff 0.01945495605469 0000 ff");
        row("hexText=1FFFF", "1FFF 0.62492370605469 0000 1fff");
        row("voltageText=2.5000001", "8000 2.500000 0000 8000");
        row("hexText=8000|VrefText=2,5", "8000 1.25000000000000 0000 8000");
        row("hexText=8000|VrefText=|voltageText=1", "8000 1 0000 8000"); // nothing moves
        row("Write to and Update DAC channel n|DAC B|hexText=FFFF",
            "FFFF 4.99992370605469 0000 19ffff");
        // An address choice loses the code; All DACs is sent as DAC H.
        row("Write to and Update DAC channel n|voltageText=2.5|All DACs", "0 0 0000 1f0000");
        row("Power Down DAC (Power-up)|DAC A|DAC C|1k Ohm to Ground", "0 0 0000 200015");
        row("Power Down DAC (Power-up)|DAC B|DAC B", "0 0 0000 200000");
        row("Power Down DAC (Power-up)|powerDownCheck_5|100k Ohm to Ground", "0 0 0000 200020");
        row("Reset|Reset All Registers", "0 0 0000 280001");
        row("Reset|clearCodeOption_1", "0 0 0001 280000");
        row("cmdBitsOption_8|clearCodeOption_3", "0 0 0011 0");
        row("LDAC Register Setup|DAC A|DAC D|LDACOverwriteCheck_7", "0 0 0000 300089");
        row("REF Setup Register|Internal reference ON", "0 0 0000 380001");
    }

    // Two clicks: the word twice, nothing else reaches the board, nothing in the window changes.
    void sendsTheWordOfTheChoices()
    {
        QFETCH(QString, steps);
        QVERIFY(m_window->perform(steps.split(u'|', Qt::SkipEmptyParts)));
        const QStringList before = view();
        m_window->forgetCalls();
        QVERIFY(m_window->perform({"Write to Part", "Write to Part"}));
        const QString word = words().section(u' ', 0, 0);
        QVERIFY(words() == word + ' ' + word && m_window->calls().size() == 2);
        QTEST(c().hexText->text() + ' ' + c().voltageText->text() + ' ' + cells(0, 3) + ' ' + word,
              "sent");
        QCOMPARE(view(), before);
    }

    // One "error" box, the editor kept; the same word goes once the board takes it.
    void refusedWriteKeepsTheEditor()
    {
        QVERIFY(m_window->perform({"Write to and Update DAC channel n", "DAC B", "hexText=8000"}));
        const QStringList before = view();
        QCOMPARE(m_window->board.setFailRequests(true), 0);
        QCOMPARE(writeToPart(), "198000");
        QVERIFY(m_window->takeBoxes().value(0).endsWith(
                ": error [icon 0, OK, default none, modal]"));
        QCOMPARE(view(), before);
        QCOMPARE(m_window->board.setFailRequests(false), 0);
        QCOMPARE(writeToPart(), "198000");
        QCOMPARE(m_window->calls().value(0).status, 0);
    }
};

QTEST_MAIN(TestEditorWindow)
#include "tst_editorwindow.moc"
