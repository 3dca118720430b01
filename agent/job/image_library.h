// The agent's side of the image library: found through the registry, loaded
// once per scan job, and driven for each page to turn it, reduce a 300 dpi
// scan to 100 dpi and save it in the chosen format.
#pragma once

#include <windows.h>

#include <cstdint>

// Slots of the library's operations table that the agent calls; the table
// may hold other entries, which the agent never touches.
enum ImageLibrarySlot {
    IMAGE_OP_INIT = 0,
    IMAGE_OP_SHUTDOWN = 1,
    IMAGE_OP_LOAD_IMAGE = 6,
    IMAGE_OP_FREE_IMAGE = 7,
    IMAGE_OP_SAVE_IMAGE = 8,
    IMAGE_OP_RESIZE_IMAGE = 11,
    IMAGE_OP_ROTATE_IMAGE = 13,
};

// Byte offsets of the 32-bit words the agent uses in a picture's descriptor.
const int IMAGE_DESCRIPTOR_WIDTH = 4;
const int IMAGE_DESCRIPTOR_HEIGHT = 12;
const int IMAGE_DESCRIPTOR_X_DPI = 16;
const int IMAGE_DESCRIPTOR_Y_DPI = 20;

// A picture of the library: a pointer to a pointer to its descriptor.
typedef uint8_t **ImageHandle;

typedef void *const *(__cdecl *ImageLibraryEntry)(void);

// Process-wide, set by LoadImageLibrary and cleared by UnloadImageLibrary;
// used on the job's thread only.
struct ImageLibraryState {
    HMODULE Module;           // null when no library is loaded
    ImageLibraryEntry Entry;  // its PixkitOps
    void *const *Ops;         // the operations table PixkitOps returned
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
int ConvertAndSave(uint16_t format, uint16_t rotate, const char *source, const char *destination,
                   uint16_t resolution);

// The per-user library key may be consulted only on Windows 2000 or later
// and only for users outside the Administrators group.
bool UseCurrentUserLibraryKey(void);
bool IsUserAdministrator(void);
