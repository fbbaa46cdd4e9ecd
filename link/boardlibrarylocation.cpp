#include "boardlibrarylocation.h"

#include "librarypathslot.h"

// Writable and external, so that no compiler takes the bytes for constants: an install
// rewrites them in the installed file.
[[gnu::used]] constinit LibraryPathSlot::Bytes fourFunctionLibrarySlot
        = LibraryPathSlot::make(buildTreeFourFunctionLibrary);

constinit const char *const fourFunctionLibraryPath
        = fourFunctionLibrarySlot.data() + LibraryPathSlot::marker.size();
