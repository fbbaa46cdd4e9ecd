// The board library's own answers about the boards, for list and doctor: nothing is brought up.
#pragma once

#include "boardqueries.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class USBStuff;

struct BoardInventory
{
    std::int16_t status = 0; // the listing's own, 26 for a malformed configuration
    std::vector<BoardListEntry> boards;
};

// Throws BoardLibraryError when the library lacks the query.
BoardInventory listBoards(USBStuff &usb);
BoardSettings readSettings(USBStuff &usb, std::int16_t &status);
std::int16_t checkFirmware(USBStuff &usb, const QString &path);

// "6666:4410"
QString identityText(std::uint16_t vendorId, std::uint16_t productId);
// The processes that have the board's device node open: "tx4410-server (pid 4242)".
QStringList holdersOf(const BoardListEntry &board);
// "ok", "no permission", "held by tx4410-server (pid 4242)", "held by another program", ...
QString accessText(const BoardListEntry &board);
