#pragma once

#include "usbstuff.h"

// What tells the two deliverables apart; each program's build generates its own.
struct ProgramIdentity
{
    const char *title;   // caption of every message box that has none of its own
    const char *version; // major.minor.revision
    BoardLibraryForm boardLibrary;
};

extern const ProgramIdentity thisProgram;
