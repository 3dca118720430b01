// The image library's binary interface: the entry point PixkitOps returns a
// table of operations, and a picture is handed around as a handle, a pointer
// to a pointer to its descriptor. The table's slot numbers and the
// descriptor's word offsets are fixed: callers index them directly. The
// library, the agent's adapter and the adapter's stand-in all build on this
// one definition. Portable: no Windows header.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define PIXKIT_CALL __cdecl
#else
#define PIXKIT_CALL
#endif

// What a caller may read and write of a picture. Only the words at offsets
// 4, 12, 16 and 20 are for callers: the resolution words may be changed, and
// the next resize or save uses them.
struct PixkitDescriptor {
    uint32_t signature;    // PIXKIT_SIGNATURE while the picture is alive
    uint32_t width;        // pixels
    uint32_t bitsPerPixel; // 1 line art, 8 grey, 24 colour
    uint32_t height;       // pixels
    uint32_t xDpi;
    uint32_t yDpi;
};
static_assert(offsetof(PixkitDescriptor, width) == 4, "width is read at offset 4");
static_assert(offsetof(PixkitDescriptor, height) == 12, "height is read at offset 12");
static_assert(offsetof(PixkitDescriptor, xDpi) == 16, "resolution is read at offset 16");
static_assert(offsetof(PixkitDescriptor, yDpi) == 20, "resolution is read at offset 20");

const uint32_t PIXKIT_SIGNATURE = 0x314B5850; // "PXK1"

typedef PixkitDescriptor **PixkitImage;

// The 8-byte value passed by value to RotateImage; no byte has a meaning yet.
struct PixkitRotateOptions {
    uint8_t bytes[8];
};

// Save kinds; any other kind takes the format from the destination's
// extension (.bmp, .png, .jpg/.jpeg, .tif/.tiff).
const uint32_t PIXKIT_SAVE_BY_EXTENSION = 0;
const uint32_t PIXKIT_SAVE_JPEG = 1; // options[1] is the quality, 1..100
const uint32_t PIXKIT_SAVE_TIFF = 2; // lossless
const int PIXKIT_DEFAULT_JPEG_QUALITY = 80;

// Results of Init, LoadImage and SaveImage.
enum PixkitStatus {
    PIXKIT_OK = 0,
    PIXKIT_ERROR_ARGUMENT = 1, // null or unknown handle, bad path, size or angle
    PIXKIT_ERROR_PLATFORM = 2, // COM or the imaging component is not available
    PIXKIT_ERROR_READ = 3,     // the source cannot be opened or decoded
    PIXKIT_ERROR_MEMORY = 4,
    PIXKIT_ERROR_FORMAT = 5,    // no format for the destination's extension
    PIXKIT_ERROR_EXISTS = 6,    // the destination exists: it is never replaced
    PIXKIT_ERROR_WRITE = 7,     // the destination folder refused the file
    PIXKIT_ERROR_NOT_READY = 8, // Init has not succeeded
};

typedef int(PIXKIT_CALL *PixkitInitFn)(const uint16_t *record);
typedef int(PIXKIT_CALL *PixkitShutdownFn)(void);
typedef int(PIXKIT_CALL *PixkitLoadImageFn)(PixkitImage *image, const char *path, uint32_t *sourceBits,
                                            uint32_t reserved1, uint32_t flags, uint32_t reserved2, uint32_t reserved3,
                                            uint32_t reserved4);
typedef void(PIXKIT_CALL *PixkitFreeImageFn)(PixkitImage image);
typedef int(PIXKIT_CALL *PixkitSaveImageFn)(const char *path, uint32_t kind, const uint32_t *options, PixkitImage image,
                                            uint32_t reserved1, uint32_t reserved2);
typedef PixkitImage(PIXKIT_CALL *PixkitResizeImageFn)(PixkitImage image, int32_t width, int32_t height,
                                                      uint32_t reserved1, uint32_t reserved2, uint32_t reserved3);
typedef PixkitImage(PIXKIT_CALL *PixkitRotateImageFn)(PixkitImage image, double degrees, PixkitRotateOptions options,
                                                      uint32_t reserved1, uint32_t reserved2, uint32_t reserved3);

// Slots of the operations table; the others are null.
enum PixkitSlot {
    PIXKIT_SLOT_INIT = 0,
    PIXKIT_SLOT_SHUTDOWN = 1,
    PIXKIT_SLOT_LOAD_IMAGE = 6,
    PIXKIT_SLOT_FREE_IMAGE = 7,
    PIXKIT_SLOT_SAVE_IMAGE = 8,
    PIXKIT_SLOT_RESIZE_IMAGE = 11,
    PIXKIT_SLOT_ROTATE_IMAGE = 13,
    PIXKIT_SLOT_COUNT = 14,
};

// The exported entry point, by name "PixkitOps".
#define PIXKIT_ENTRY_NAME "PixkitOps"
typedef void *const *(PIXKIT_CALL *PixkitOpsFn)(void);
