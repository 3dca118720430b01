// The agent's side of the image library: found through the registry, loaded
// once per scan job, and driven for each page to turn it, reduce a 300 dpi
// scan to 100 dpi and save it in the chosen format.
#pragma once

#include <windows.h>

#include <cstdint>

#include "pixkit.h"

// Process-wide, set by LoadImageLibrary and cleared by UnloadImageLibrary;
// used on the job's thread only.
struct ImageLibraryState {
    HMODULE Module;    // null when no library is loaded
    PixkitOpsFn Entry; // its PixkitOps
    void *const *Ops;  // the operations table PixkitOps returned
};
extern ImageLibraryState ImageLibrary;

// 1 when the library named in the registry is loaded, its table fetched and
// its Init succeeded; 0 otherwise, with nothing left loaded.
int LoadImageLibrary(void);
void UnloadImageLibrary(void);

// Loads `source`, turns it by the rotation code, reduces it to a third when
// `resolution` is 100, and saves it as `destination` in the kind of
// `format`. 0 when the source could not be loaded or the library reported
// that the picture was not saved; 1 when the picture was saved.
int ConvertAndSave(uint16_t format, uint16_t rotate, const char *source, const char *destination, uint16_t resolution);

// The per-user library key may be consulted only on Windows 2000 or later
// and only for users outside the Administrators group.
bool UseCurrentUserLibraryKey(void);
bool IsUserAdministrator(void);
