#include "boardinventory.h"

#include "boardlibrary.h"
#include "boardstatus.h"
#include "usbstuff.h"

#include <QDir>
#include <QFile>

#include <climits>

#include <sys/stat.h>
#include <unistd.h>

namespace {

template<typename Function> Function bound(USBStuff &usb, const char *symbol)
{
    auto *function = reinterpret_cast<Function>(usb.resolveOptional(symbol));
    if (function == nullptr)
        throw BoardLibraryError(QStringLiteral("The board library has no function \"%1\": it is "
                                               "older than this program")
                                        .arg(QLatin1String(symbol)));
    return function;
}

} // namespace

BoardInventory listBoards(USBStuff &usb)
{
    const auto list = bound<BoardListFunction>(usb, "Board_List");
    BoardInventory inventory;
    std::int32_t count = 0;
    // Asked again while more boards turn up than there was room for.
    do {
        inventory.boards.resize(std::size_t(count) + 8);
        inventory.status
                = list(inventory.boards.data(), std::int32_t(inventory.boards.size()), &count);
    } while (count > std::int32_t(inventory.boards.size()));
    inventory.boards.resize(std::size_t(std::max(count, 0)));
    return inventory;
}

BoardSettings readSettings(USBStuff &usb, std::int16_t &status)
{
    BoardSettings settings {};
    status = bound<BoardReadSettingsFunction>(usb, "Board_ReadSettings")(&settings);
    return settings;
}

std::int16_t checkFirmware(USBStuff &usb, const QString &path)
{
    return bound<BoardCheckFirmwareFunction>(usb, "Board_CheckFirmware")(
            QFile::encodeName(path).constData());
}

// The processes that have the board's device node open, found as the kernel lists each
// process's descriptors: "tx4410-server (pid 4242)"; only those this user may look at.
QStringList holdersOf(const BoardListEntry &board)
{
    const QByteArray node = QStringLiteral("/dev/bus/usb/%1/%2")
                                    .arg(board.bus, 3, 10, QLatin1Char('0'))
                                    .arg(board.address, 3, 10, QLatin1Char('0'))
                                    .toLatin1();
    // The node itself, wherever it is (a test bed keeps its own under another folder): the same
    // file, not a path that ends the same, which another bed's node would match too.
    struct stat wanted {};
    if (::stat(node.constData(), &wanted) != 0)
        return {};
    const QString self = QString::number(::getpid());
    QStringList found;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (pid == self || pid.toUInt() == 0)
            continue;
        const QString fds = QStringLiteral("/proc/%1/fd/").arg(pid);
        for (const QString &fd :
             QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            struct stat open {};
            if (::stat(QFile::encodeName(fds + fd).constData(), &open) != 0
                || open.st_dev != wanted.st_dev || open.st_ino != wanted.st_ino)
                continue;
            QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
            const QString name = comm.open(QIODevice::ReadOnly)
                    ? QString::fromLocal8Bit(comm.readAll().trimmed())
                    : QStringLiteral("?");
            found << QStringLiteral("%1 (pid %2)").arg(name, pid);
            break;
        }
    }
    return found;
}

QString identityText(std::uint16_t vendorId, std::uint16_t productId)
{
    return QStringLiteral("%1:%2")
            .arg(vendorId, 4, 16, QLatin1Char('0'))
            .arg(productId, 4, 16, QLatin1Char('0'));
}

QString accessText(const BoardListEntry &board)
{
    if (board.kernelDriver)
        return QStringLiteral("bound to a kernel driver");
    switch (BoardStatus(board.access)) {
    case BoardStatus::Ok:
        return QStringLiteral("ok");
    case BoardStatus::NoAccess:
        return QStringLiteral("no permission");
    case BoardStatus::BoardBusy:
        if (const QStringList holders = holdersOf(board); !holders.isEmpty())
            return QStringLiteral("held by ") + holders.join(QStringLiteral(", "));
        return QStringLiteral("held by another program");
    case BoardStatus::Unconfigured:
        return QStringLiteral("no USB configuration");
    case BoardStatus::UsbError:
        return QStringLiteral("USB error: ") + QString::fromUtf8(board.failure);
    default:
        return QStringLiteral("gone");
    }
}
