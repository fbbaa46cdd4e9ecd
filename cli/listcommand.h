#pragma once

#include <QTextStream>

class USBStuff;

// tx4410-cli list: one line per board under the configured identities, "no board" when none.
int listCommand(USBStuff &usb, QTextStream &out, QTextStream &err);
