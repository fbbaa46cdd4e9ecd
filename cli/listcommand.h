#pragma once

#include <QTextStream>

class USBStuff;

// tx4410-cli list: one line per board under the configured identities, "no board" when none;
// with `json` one JSON array of objects (id, port, identity, firmware_running, status, code,
// detail, fix), [] when none.
int listCommand(USBStuff &usb, bool json, QTextStream &out, QTextStream &err);
