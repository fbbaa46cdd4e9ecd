#include "listcommand.h"

#include "boardinventory.h"
#include "cliprogram.h"
#include "statusreason.h"
#include "usbstuff.h"

int listCommand(USBStuff &usb, QTextStream &out, QTextStream &err)
{
    const BoardInventory inventory = listBoards(usb);
    if (inventory.status != 0) {
        err << "tx4410-cli: " << statusReason(inventory.status, usb.statusDetail()) << '\n';
        return ExitStatus::libraryUnusable;
    }
    if (inventory.boards.empty())
        out << "no board\n";
    for (const BoardListEntry &board : inventory.boards) {
        out << QStringLiteral("%1  %2  %3  %4\n")
                        .arg(QString::fromLatin1(board.port), -8)
                        .arg(identityText(board.vendorId, board.productId))
                        .arg(board.firmwareRunning ? QStringLiteral("firmware running")
                                                   : QStringLiteral("loader only     "))
                        .arg(accessText(board));
    }
    return ExitStatus::done;
}
