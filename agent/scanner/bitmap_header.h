// The scanned page's bitmap header: its sizes, resolution fields and palette,
// computed from what the device announced. Portable: no Windows header, so
// the arithmetic is also checked natively with sanitizers.
#pragma once

#include <cstdint>

// Description of the bitmap being written. The header buffer is owned from
// AllocBitmapHeader to FreeBitmapHeader.
struct ScanBitmap {
    uint32_t LineBytes; // bytes per line as the device delivers them: the file's row size
    uint32_t Lines;     // lines the device announced for the page
    uint16_t Width300;  // scan width in 1/300 inch
    uint16_t Height300; // scan height in 1/300 inch
    uint16_t XDpi;
    uint16_t YDpi;
    uint16_t Type;       // ScanType
    uint32_t FileSize;   // HeaderSize + LineBytes * Lines
    uint32_t HeaderSize; // 62, 1078 or 54 by Type
    void *HeaderHandle;  // movable global memory block holding the header
    uint8_t *Header;     // the locked header bytes
};

// Header bytes for a scan type; 0 for a type the writer does not know.
uint32_t BitmapHeaderBytes(uint16_t type);
// Bits per pixel for a scan type; 0 for an unknown type.
uint16_t BitmapBitsPerPixel(uint16_t type);

// Pixels across `extent300` units of 1/300 inch at `dpi`, truncated.
int32_t BitmapPixelsFor(uint16_t dpi, uint16_t extent300);
int32_t BitmapPixelsPerMetre(uint16_t dpi);

// Sets HeaderSize and FileSize from Type, Lines and LineBytes. Returns 0 for
// an unknown type or a page whose file would not fit the 32-bit size fields.
int SetBitmapSizes(ScanBitmap *bitmap);

// 1 when the device's bytes per line are exactly the padded row of the width
// and depth the header will state. A page whose lines are longer or shorter
// would be written as a file whose header and rows disagree.
int BitmapLineBytesMatch(const ScanBitmap *bitmap);

// Fills every header field and the palette into bitmap->Header.
void FillBitmapHeader(ScanBitmap *bitmap);

// Rewrites the size fields in bitmap->Header for the lines actually received.
// Returns 0 when that many lines would not fit the 32-bit size fields.
int SetBitmapHeaderLines(ScanBitmap *bitmap, uint32_t linesReceived);
