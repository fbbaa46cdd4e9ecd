#include "usbstuff.h"

#include "boardlibrarylocation.h"
#include "boardqueries.h"
#include "statusreason.h"
#include "usbstuffboardport.h"
#include "usbstufffourfunction.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>

USBStuff::~USBStuff() = default;

QString USBStuff::firmwarePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/TX4413.hex");
}

void USBStuff::SetFirmwarePath(const QString &path)
{
    const QByteArray bytes = QFile::encodeName(path);
    if (static_cast<std::size_t>(bytes.size()) > maxPathBytes) {
        throw FirmwarePathTooLong("firmware path of " + std::to_string(bytes.size())
                                  + " bytes, at most " + std::to_string(maxPathBytes));
    }
    const auto terminator = std::copy(bytes.cbegin(), bytes.cend(), m_pathBuffer.begin());
    *terminator = 0;
}

bool USBStuff::bringUp(const std::function<bool()> &retry)
{
    SetFirmwarePath(firmwarePath());
    while (!isBoardUp(m_lastStatus = InitialiseBoard())) {
        if (!retry())
            return false;
    }
    return true;
}

QString USBStuff::bringUpFailure()
{
    if (isBoardUp(m_lastStatus))
        return {};
    return statusReason(lastBringUpStatus(), statusDetail());
}

QString USBStuff::statusDetail()
{
    auto *detail
            = reinterpret_cast<BoardStatusDetailFunction>(resolveOptional("Board_StatusDetail"));
    std::array<char, 2048> text {};
    if (detail == nullptr || detail(text.data(), std::int32_t(text.size())) != 0)
        return {};
    return QString::fromLocal8Bit(text.data());
}

void *USBStuff::resolveOptional(const char *symbol)
{
    try {
        return library().resolve(symbol);
    } catch (const BoardLibraryError &) {
        return nullptr;
    }
}

std::unique_ptr<USBStuff> makeUSBStuff(BoardLibraryForm form)
{
    switch (form) {
    case BoardLibraryForm::FourFunction:
        return std::make_unique<USBStuffFourFunction>(fourFunctionLibraryPath);
    case BoardLibraryForm::BoardPort:
        return std::make_unique<USBStuffBoardPort>(boardPortLibraryName);
    }
    return nullptr;
}
