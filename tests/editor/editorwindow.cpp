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

#include <cmath>

namespace {

constexpr int litColour = 255;
constexpr int dimColour = 160;
constexpr qint64 commandWordRequest = 0xDD;

bool canBeSeen(const QWidget *widget)
{
    return widget->isVisible() && !widget->visibleRegion().isEmpty();
}

QPoint centreOfVisiblePart(const QWidget *widget)
{
    return widget->visibleRegion().boundingRect().center();
}

// Opens the box's context menu as a right click does and clicks the entry whose caption starts
// with `entry` (captions carry "&" and shortcuts).
bool chooseFromContextMenu(TextBox *box, const QString &entry)
{
    const QPoint at = box->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, box->mapToGlobal(at));
    QApplication::sendEvent(box, &event);
    // The menu deletes itself once closed.
    QPointer<QMenu> menu;
    if (!QTest::qWaitFor([&] {
            menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            return !menu.isNull();
        })) {
        qWarning("no context menu on %s", qPrintable(box->objectName()));
        return false;
    }
    for (QAction *action : menu->actions()) {
        if (action->text().remove(QLatin1Char('&')).startsWith(entry) && action->isEnabled()) {
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
            return QTest::qWaitFor([&menu] { return menu.isNull() || !menu->isVisible(); });
        }
    }
    qWarning("no enabled entry %s in the context menu", qPrintable(entry));
    menu->close();
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

TextBox *EditorWindow::box(const QString &name) const
{
    return control<TextBox>(name);
}

DigitCell *EditorWindow::cell(int index) const
{
    return control<DigitCell>(QStringLiteral("BitsDisplay_%1").arg(index));
}

QString EditorWindow::text(const QString &name) const
{
    const TextBox *found = box(name);
    return found ? found->text() : QStringLiteral("<no %1>").arg(name);
}

bool EditorWindow::perform(const QStringList &steps)
{
    for (const QString &step : steps) {
        const qsizetype equals = step.indexOf(QLatin1Char('='));
        const QString name = step.left(equals);
        if (equals > 0 && (name == u"hexText" || name == u"voltageText" || name == u"VrefText")) {
            if (!typeInto(name, step.mid(equals + 1)))
                return false;
            continue;
        }
        QAbstractButton *button = buttonFor(step);
        if (!button) {
            qWarning("cannot do step \"%s\"", qPrintable(step));
            return false;
        }
        clickButton(button);
    }
    return true;
}

QAbstractButton *EditorWindow::buttonFor(const QString &step) const
{
    if (auto *named = m_form->findChild<QAbstractButton *>(step))
        return named;
    QAbstractButton *found = nullptr;
    for (QAbstractButton *button : m_form->findChildren<QAbstractButton *>()) {
        if (button->text() != step || !canBeSeen(button))
            continue;
        if (found) {
            qWarning("more than one button \"%s\" can be seen", qPrintable(step));
            return nullptr;
        }
        found = button;
    }
    if (!found)
        qWarning("no button \"%s\" can be seen", qPrintable(step));
    return found;
}

void EditorWindow::clickButton(QAbstractButton *button)
{
    if (canBeSeen(button)) {
        QTest::mouseClick(button, Qt::LeftButton, {}, centreOfVisiblePart(button));
    } else {
        // Hidden or outside its frame: no mouse reaches it.
        button->click();
    }
}

bool EditorWindow::typeInto(const QString &name, const QString &text)
{
    TextBox *target = box(name);
    if (!target || !canBeSeen(target))
        return false;
    QTest::mouseClick(target, Qt::LeftButton, {}, target->rect().center());
    if (!QTest::qWaitFor([target] { return target->hasFocus(); }))
        return false;
    QTest::keyClick(target, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        QTest::keyClick(target, Qt::Key_Backspace);
    else
        QTest::keyClicks(target, text);
    return true;
}

bool EditorWindow::pressKey(const QString &name, Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    TextBox *target = box(name);
    if (!target || !canBeSeen(target))
        return false;
    QTest::mouseClick(target, Qt::LeftButton, {}, target->rect().center());
    if (!QTest::qWaitFor([target] { return target->hasFocus(); }))
        return false;
    QTest::keyClick(target, key, modifiers);
    return true;
}

bool EditorWindow::pasteWithMouse(const QString &name, const QString &text)
{
    TextBox *target = box(name);
    if (!target || !canBeSeen(target))
        return false;
    QGuiApplication::clipboard()->setText(text);
    if (!target->text().isEmpty() && !chooseFromContextMenu(target, QStringLiteral("Select All")))
        return false;
    return chooseFromContextMenu(target, QStringLiteral("Paste"));
}

QString EditorWindow::digits(int first, int last) const
{
    QString result;
    for (int index = last; index >= first; --index) {
        const DigitCell *digitCell = cell(index);
        const double value = digitCell ? digitCell->value() : std::nan("");
        result += value == 0  ? QLatin1Char('0')
                : value == 1  ? QLatin1Char('1')
                : value == -1 ? QLatin1Char('-')
                              : QLatin1Char('?');
    }
    return result;
}

qint64 EditorWindow::litCells() const
{
    qint64 lit = 0;
    for (int index = 0; index < 32; ++index) {
        const DigitCell *digitCell = cell(index);
        if (!digitCell)
            return -1;
        if (digitCell->segmentColor() == litColour)
            lit |= qint64(1) << index;
        else if (digitCell->segmentColor() != dimColour)
            return -1;
    }
    return lit;
}

QWidget *EditorWindow::topmostAtCentreOf(const QString &name) const
{
    const QWidget *widget = control(name);
    if (!widget)
        return nullptr;
    return m_form->childAt(widget->mapTo(m_form.get(), widget->rect().center()));
}

QList<BoardTrace::Record> EditorWindow::callsSinceOpen() const
{
    return BoardTrace::read(m_traceFile).records().mid(m_recordsAtOpen);
}

QList<qint64> EditorWindow::sentWords() const
{
    QList<qint64> words;
    for (const BoardTrace::Record &record : callsSinceOpen()) {
        if (record.function != u"Vendor_Request"
            || record.number(QStringLiteral("request")) != commandWordRequest)
            continue;
        words.append(record.number(QStringLiteral("index")).value_or(-1) * 65536
                     + record.number(QStringLiteral("value")).value_or(-1));
    }
    return words;
}
