#include "listcommand.h"

#include "boardinventory.h"
#include "cliprogram.h"
#include "statusreason.h"
#include "statustexts.h"
#include "usbstuff.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

int listCommand(USBStuff &usb, bool json, QTextStream &out, QTextStream &err)
{
    const BoardInventory inventory = listBoards(usb);
    if (inventory.status != 0) {
        err << "tx4410-cli: " << statusReason(inventory.status, usb.statusDetail()) << '\n';
        // A script parses what it gets: the bus as the one entry, with the status it gave.
        if (json) {
            const StatusTexts::Row *row = StatusTexts::find(inventory.status);
            out << QJsonDocument(
                           QJsonArray {QJsonObject {
                                   {"id", "bus"},
                                   {"port", ""},
                                   {"identity", ""},
                                   {"firmware_running", false},
                                   {"status",
                                    row ? QLatin1String(row->name) : QLatin1String("Unknown")},
                                   {"code", inventory.status},
                                   {"detail", statusFinding(inventory.status, usb.statusDetail())},
                                   {"fix", row ? QString::fromUtf8(row->fix) : QString()}}})
                            .toJson(QJsonDocument::Indented);
        }
        return ExitStatus::libraryUnusable;
    }
    if (json) {
        QJsonArray boards;
        for (const BoardListEntry &board : inventory.boards) {
            const StatusTexts::Row *row = StatusTexts::find(board.access);
            const QString port = QString::fromLatin1(board.port);
            boards.append(QJsonObject {
                    {"id", port},
                    {"port", port},
                    {"identity", identityText(board.vendorId, board.productId)},
                    {"firmware_running", board.firmwareRunning != 0},
                    {"status", row ? QLatin1String(row->name) : QLatin1String("Unknown")},
                    {"code", board.access},
                    {"detail", accessText(board)},
                    {"fix", row ? QString::fromUtf8(row->fix) : QString()}});
        }
        out << QJsonDocument(boards).toJson(QJsonDocument::Indented);
        return ExitStatus::done;
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
