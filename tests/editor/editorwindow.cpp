#include "editorwindow.h"

#include "digitcell.h"
#include "textbox.h"
#include "usbstuff.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFile>
#include <QMenu>
#include <QPointer>
#include <QTest>

namespace {

bool canBeSeen(const QWidget *widget)
{
    return widget->isVisible() && !widget->visibleRegion().isEmpty();
}

// Opens the box's context menu as a right click does and clicks the entry whose caption starts
// with `entry` (captions carry "&" and shortcuts).
bool chooseFromContextMenu(TextBox *box, const QString &entry)
{
    const QPoint at = box->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, box->mapToGlobal(at));
    QApplication::sendEvent(box, &event);
    QPointer<QMenu> menu; // deletes itself once closed
    const auto opened = [&menu] {
        menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        return !menu.isNull();
    };
    for (QAction *action : QTest::qWaitFor(opened) ? menu->actions() : QList<QAction *> {}) {
        if (action->text().remove(QLatin1Char('&')).startsWith(entry) && action->isEnabled()) {
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
            return QTest::qWaitFor([&menu] { return menu.isNull() || !menu->isVisible(); });
        }
    }
    qWarning("no entry %s in the context menu", qPrintable(entry));
    return false;
}

} // namespace

EditorWindow::EditorWindow()
    : m_traceFile(m_scratch.filePath(QStringLiteral("trace.txt")))
    , m_board(QStringLiteral(TX4410_USB4_LIBRARY))
{
    qputenv("TX4410_BOARD_TRACE", QFile::encodeName(m_traceFile));
}

EditorWindow::~EditorWindow()
{
    m_form.reset();
    m_usb.reset();
    qunsetenv("TX4410_BOARD_TRACE");
}

bool EditorWindow::open()
{
    if (!m_scratch.isValid() || !m_board.isValid() || m_board.reset() != 0) {
        qWarning("no simulated board: %s", qPrintable(m_board.errorString()));
        return false;
    }
    m_usb = makeUSBStuff(BoardLibraryForm::FourFunction);
    m_form = std::make_unique<MainForm>(*m_usb);
    if (m_form->load() != MainForm::LoadResult::Ready)
        return false;
    m_form->show();
    if (!QTest::qWaitForWindowActive(m_form.get()))
        return false;
    m_recordsAtOpen = BoardTrace::read(m_traceFile).records().size();
    return true;
}

QString EditorWindow::text(const QString &name) const
{
    const TextBox *found = control<TextBox>(name);
    return found ? found->text() : QStringLiteral("<no %1>").arg(name);
}

bool EditorWindow::perform(const QStringList &steps)
{
    for (const QString &step : steps) {
        const qsizetype equals = step.indexOf(QLatin1Char('='));
        const QString name = step.left(equals);
        if (equals > 0 && (name == u"hexText" || name == u"voltageText" || name == u"VrefText")) {
            TextBox *target = focusedBox(name);
            if (!target)
                return false;
            QTest::keyClick(target, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(target, Qt::Key_Backspace);
            QTest::keyClicks(target, step.mid(equals + 1));
            continue;
        }
        // By name, else by caption: the one button with it that can be seen.
        QAbstractButton *button = m_form->findChild<QAbstractButton *>(step);
        if (!button) {
            QList<QAbstractButton *> seen;
            for (QAbstractButton *candidate : m_form->findChildren<QAbstractButton *>()) {
                if (candidate->text() == step && canBeSeen(candidate))
                    seen.append(candidate);
            }
            button = seen.size() == 1 ? seen.first() : nullptr;
        }
        if (!button) {
            qWarning("cannot do step \"%s\"", qPrintable(step));
            return false;
        }
        if (canBeSeen(button)) {
            QTest::mouseClick(button, Qt::LeftButton, {},
                              button->visibleRegion().boundingRect().center());
        } else {
            button->click(); // hidden or outside its frame: no mouse reaches it
        }
    }
    return true;
}

TextBox *EditorWindow::focusedBox(const QString &name)
{
    TextBox *target = control<TextBox>(name);
    if (!target || !canBeSeen(target))
        return nullptr;
    QTest::mouseClick(target, Qt::LeftButton, {}, target->rect().center());
    return QTest::qWaitFor([target] { return target->hasFocus(); }) ? target : nullptr;
}

bool EditorWindow::pressKey(const QString &name, Qt::Key key)
{
    TextBox *target = focusedBox(name);
    if (target)
        QTest::keyClick(target, key);
    return target;
}

bool EditorWindow::pasteWithMouse(const QString &name, const QString &text)
{
    TextBox *target = control<TextBox>(name);
    if (!target || !canBeSeen(target))
        return false;
    QGuiApplication::clipboard()->setText(text);
    return chooseFromContextMenu(target, QStringLiteral("Select All"))
            && chooseFromContextMenu(target, QStringLiteral("Paste"));
}

qint64 EditorWindow::writeToPart()
{
    const qsizetype before = sentWords().size();
    if (!perform({"Write to Part"}))
        return -1;
    const QList<qint64> words = sentWords();
    return words.size() == before + 1 ? words.last() : -1;
}

QString EditorWindow::digits(int first, int last) const
{
    QString result;
    for (int index = last; index >= first; --index) {
        const auto *cell = control<DigitCell>(QStringLiteral("BitsDisplay_%1").arg(index));
        const double value = cell ? cell->value() : 0.5;
        result += value == 0 ? u'0' : value == 1 ? u'1' : value == -1 ? u'-' : u'?';
    }
    return result;
}

qint64 EditorWindow::litCells() const
{
    qint64 lit = 0;
    for (int index = 0; index < 32; ++index) {
        const auto *cell = control<DigitCell>(QStringLiteral("BitsDisplay_%1").arg(index));
        if (!cell || (cell->segmentColor() != 255 && cell->segmentColor() != 160))
            return -1;
        if (cell->segmentColor() == 255)
            lit |= qint64(1) << index;
    }
    return lit;
}

QWidget *EditorWindow::topmostAtCentreOf(const QString &name) const
{
    const QWidget *widget = control(name);
    return widget ? m_form->childAt(widget->mapTo(m_form.get(), widget->rect().center())) : nullptr;
}

QList<BoardTrace::Record> EditorWindow::callsSinceOpen() const
{
    return BoardTrace::read(m_traceFile).records().mid(m_recordsAtOpen);
}

QList<qint64> EditorWindow::sentWords() const
{
    QList<qint64> words;
    for (const BoardTrace::Record &record : callsSinceOpen()) {
        if (record.function == u"Vendor_Request"
            && record.number(QStringLiteral("request")) == 0xDD) {
            words.append(record.number(QStringLiteral("index")).value_or(-1) * 65536
                         + record.number(QStringLiteral("value")).value_or(-1));
        }
    }
    return words;
}
