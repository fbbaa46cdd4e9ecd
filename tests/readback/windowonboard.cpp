#include "windowonboard.h"

#include "boardfaces.h"
#include "digitcell.h"
#include "textbox.h"

#include <QFile>
#include <QTest>

WindowOnBoard::WindowOnBoard()
    : m_traceFile(m_scratch.filePath(QStringLiteral("trace")))
    , m_board(QStringLiteral(TX4410_USB4_LIBRARY))
{
    qputenv("TX4410_BOARD_TRACE", QFile::encodeName(m_traceFile));
    if (!m_scratch.isValid() || !m_board.isValid() || m_board.reset() != 0)
        return;
    m_usb = makeUSBStuff(BoardLibraryForm::FourFunction);
    m_form = std::make_unique<MainForm>(*m_usb);
    if (m_form->load() != MainForm::LoadResult::Ready)
        return;
    m_form->show();
    // The focus out of the Vdd box, so that no test's first click also leaves it.
    if (!QTest::qWaitForWindowActive(m_form.get()) || !click(QStringLiteral("sampleCommand"))
        || !control(QStringLiteral("sampleCommand"))->hasFocus() || !takeBoxes().isEmpty())
        return;
    forgetRequests();
    m_ready = true;
}

WindowOnBoard::~WindowOnBoard()
{
    m_form.reset();
    m_board.setFailRequests(false);
    qunsetenv("TX4410_BOARD_TRACE");
}

bool WindowOnBoard::click(const QString &name) const
{
    QWidget *target = control(name);
    if (!target || target->visibleRegion().isEmpty()) {
        qWarning("%s cannot be clicked", qPrintable(name));
        return false;
    }
    QTest::mouseClick(target, Qt::LeftButton);
    return true;
}

bool WindowOnBoard::type(const QString &box, const QString &text) const
{
    auto *edit = control<TextBox>(box);
    if (!click(box) || !QTest::qWaitFor([edit] { return edit->hasFocus(); }))
        return false;
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
    return edit->text() == text;
}

double WindowOnBoard::display() const
{
    return control<DigitCell>(QStringLiteral("ADCDisplay"))->value();
}

QList<BoardTrace::Record> WindowOnBoard::requests() const
{
    return BoardTrace::read(m_traceFile).calls(QStringLiteral("Vendor_Request"));
}

QList<int> WindowOnBoard::requestCodes() const
{
    QList<int> codes;
    for (const BoardTrace::Record &record : requests())
        codes.append(int(record.number(QStringLiteral("request")).value_or(-1)));
    return codes;
}

void WindowOnBoard::forgetRequests() const
{
    // The library opens the file afresh at each call.
    QFile::remove(m_traceFile);
}

std::int16_t WindowOnBoard::putCode(int channel, std::uint16_t code) const
{
    const auto request = m_board.function<VendorRequestFunction>(BoardFaces::vendorRequestSymbol);
    std::uint8_t buffer = 0;
    // 0xDD, the command "Write to and Update DAC channel n" (3) in the index.
    return request && m_usb
            ? request(m_usb->boardHandle(), 0xDD, code, 3 << 3 | channel, 0, 0, &buffer)
            : SimulatedBoardControl::unavailable;
}

QList<SeenMessageBox> WindowOnBoard::takeBoxes()
{
    const QList<SeenMessageBox> taken = m_boxes.seen().mid(m_taken);
    m_taken = m_boxes.seen().size();
    return taken;
}
