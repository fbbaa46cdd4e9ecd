#pragma once

#include <QTextStream>

class USBStuff;

// tx4410-cli doctor: the checks to run when a program finds no board, one line each ("ok",
// "warn" or "FAIL", and the fix), or with `json` one JSON array of objects (id, status, check,
// detail, fix); 0 when none fails, 1 otherwise. Needs no root, changes nothing.
int doctorCommand(USBStuff &usb, const QString &libraryPath, bool json, QTextStream &out);
