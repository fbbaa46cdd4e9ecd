#include "windowonboard.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

WindowOnBoard::WindowOnBoard(BoardLibraryForm form)
    : board(form == BoardLibraryForm::FourFunction ? TX4410_USB4_LIBRARY : TX4410_BOARDPORT_LIBRARY)
    , m_usb(makeUSBStuff(form))
    , m_form(std::make_unique<MainForm>(*m_usb))
{
    qputenv("TX4410_BOARD_TRACE", QFile::encodeName(m_traceFile));
    board.reset(); // open() fails where this did
}

bool WindowOnBoard::open()
{
    const bool ready = m_form->load() == MainForm::LoadResult::Ready;
    m_form->show();
    // The focus out of the Vdd box, so that no test's first click also leaves it.
    const bool focused = ready && QTest::qWaitForWindowActive(m_form.get())
            && perform({QStringLiteral("sampleCommand")}) && c().sampleCommand->hasFocus();
    forgetCalls();
    return focused && takeBoxes().isEmpty();
}

bool WindowOnBoard::perform(const QStringList &steps) const
{
    const auto seen = [](const QWidget *w) {
        return w->isVisible() && !w->visibleRegion().isEmpty();
    };
    for (const QString &step : steps) {
        if (step == u"Tab" && QApplication::focusWidget()) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            continue;
        }
        if (auto *box = m_form->findChild<QLineEdit *>(step.section(u'=', 0, 0));
            box && step.contains(u'=')) {
            if (!seen(box))
                return false;
            QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
            if (!QTest::qWaitFor([box] { return box->hasFocus(); }))
                return false;
            QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(box, Qt::Key_Backspace);
            QTest::keyClicks(box, step.section(u'=', 1));
            continue;
        }
        QList<QAbstractButton *> buttons = m_form->findChildren<QAbstractButton *>();
        buttons.removeIf([&](auto *b) { return b->text() != step || !seen(b); });
        auto *button = m_form->findChild<QAbstractButton *>(step);
        if (!button && buttons.size() == 1)
            button = buttons.first();
        if (!button)
            return false;
        if (seen(button))
            QTest::mouseClick(button, Qt::LeftButton, {},
                              button->visibleRegion().boundingRect().center());
        else
            button->click();
    }
    return true;
}

QString WindowOnBoard::requests() const
{
    QStringList requests;
    for (const TraceRecord &call : calls()) {
        const qint64 value = call.number("value").value_or(0);
        if (call.function.endsWith(u"Request"))
            requests << QString::number(call.number("request").value_or(-1), 16)
                            + (value ? ' ' + QString::number(value, 16) : "")
                            + (call.status ? " failed" : "");
    }
    return requests.join(", ");
}

QStringList WindowOnBoard::takeBoxes()
{
    const QStringList taken = boxes.seen.mid(m_taken);
    m_taken = boxes.seen.size();
    return taken;
}
