#include "windowonboard.h"

#include "boardfaces.h"
#include "mainform.h"

#include <QFile>
#include <QPushButton>
#include <QTest>

namespace {

// The serial command "Write to and Update DAC channel n".
constexpr std::int32_t writeAndUpdate = 3;

bool isVendorRequest(const BoardTrace::Record &record)
{
    return record.function == u"Vendor_Request" || record.function == u"VendorIORequest";
}

} // namespace

WindowOnBoard::WindowOnBoard(BoardLibraryForm form, const QString &traceFile)
    : m_libraryForm(form)
    , m_traceFile(traceFile)
    , m_board(libraryPath(form))
{
    qputenv("TX4410_BOARD_TRACE", QFile::encodeName(traceFile));
    if (!m_board.isValid()) {
        qWarning("%s", qPrintable(m_board.errorString()));
        return;
    }
    if (m_board.reset() != 0)
        return;
    m_usb = makeUSBStuff(form);
    m_form = std::make_unique<MainForm>(*m_usb);
    if (m_form->load() != MainForm::LoadResult::Ready)
        return;
    m_form->show();
    if (!QTest::qWaitForWindowActive(m_form.get()))
        return;
    // Start with the focus on "Sample", out of the Vdd box, so that no test's first click
    // also counts as leaving that box.
    auto *sample = control<QPushButton>(QStringLiteral("sampleCommand"));
    if (!sample)
        return;
    QTest::mouseClick(sample, Qt::LeftButton);
    if (!sample->hasFocus())
        return;
    forgetRequests();
    m_ready = true;
}

WindowOnBoard::~WindowOnBoard()
{
    m_form.reset();
    m_usb.reset();
    m_board.setFailRequests(false);
    qunsetenv("TX4410_BOARD_TRACE");
}

QString WindowOnBoard::libraryPath(BoardLibraryForm form)
{
    return form == BoardLibraryForm::FourFunction ? QStringLiteral(TX4410_USB4_LIBRARY)
                                                  : QStringLiteral(TX4410_BOARDPORT_LIBRARY);
}

QWidget *WindowOnBoard::control(const QString &name) const
{
    auto *found = m_form ? m_form->findChild<QWidget *>(name) : nullptr;
    if (!found)
        qWarning("no control %s", qPrintable(name));
    return found;
}

QList<BoardTrace::Record> WindowOnBoard::requests() const
{
    const BoardTrace trace = BoardTrace::read(m_traceFile);
    QList<BoardTrace::Record> requests;
    for (const BoardTrace::Record &record : trace.records()) {
        if (isVendorRequest(record))
            requests.append(record);
    }
    return requests;
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
    if (!m_usb)
        return SimulatedBoardControl::unavailable;
    const std::int32_t index = writeAndUpdate << 3 | channel;
    if (m_libraryForm == BoardLibraryForm::FourFunction) {
        const auto request
                = m_board.function<VendorRequestFunction>(BoardFaces::vendorRequestSymbol);
        std::uint8_t buffer = 0;
        return request ? request(m_usb->boardHandle(), 0xDD, code, index, 0, 0, &buffer)
                       : SimulatedBoardControl::unavailable;
    }
    const auto request
            = m_board.function<VendorIORequestFunction>(BoardFaces::vendorIORequestSymbol);
    char buffer = 0;
    return request ? request(0xDD, code, index, 0, 0, &buffer) : SimulatedBoardControl::unavailable;
}

int tracedAdcCode(const BoardTrace::Record &request)
{
    const std::optional<QByteArray> bytes = request.bytes(QStringLiteral("buffer"));
    if (!bytes || bytes->size() != 2)
        return -1;
    return std::uint8_t(bytes->at(0)) * 256 + std::uint8_t(bytes->at(1));
}
