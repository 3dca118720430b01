// Header arithmetic of the scanned page's bitmap file.
#include "bitmap_header.h"

#include "bitmap_layout.h"
#include "scan_types.h"

using namespace bitmap_layout;

// 1/300 as the device firmware stores it, in single precision; widths are
// computed with exactly this value so they agree with the device's own.
static const double PER_300_INCH = (double)0.0033333334f;
static const double INCHES_PER_METRE = 39.37007933143675;

uint32_t BitmapHeaderBytes(uint16_t type)
{
    switch (type) {
    case SCAN_TYPE_LINE_ART: return LINE_ART_HEADER_BYTES;
    case SCAN_TYPE_GREY: return GREY_HEADER_BYTES;
    case SCAN_TYPE_COLOUR: return PIXELS_OFFSET_NO_PALETTE;
    default: return 0;
    }
}

uint16_t BitmapBitsPerPixel(uint16_t type)
{
    switch (type) {
    case SCAN_TYPE_LINE_ART: return 1;
    case SCAN_TYPE_GREY: return 8;
    case SCAN_TYPE_COLOUR: return 24;
    default: return 0;
    }
}

int32_t BitmapPixelsFor(uint16_t dpi, uint16_t extent300)
{
    // Left to right: dpi times the constant first, then the extent.
    double pixels = (double)dpi * PER_300_INCH * (double)extent300;
    return (int32_t)pixels;
}

int32_t BitmapPixelsPerMetre(uint16_t dpi)
{
    return (int32_t)((double)dpi * INCHES_PER_METRE + 0.5);
}

static bool FitsFileSize(uint32_t headerSize, uint32_t lineBytes, uint32_t lines)
{
    return (uint64_t)headerSize + (uint64_t)lineBytes * lines <= UINT32_MAX;
}

int SetBitmapSizes(ScanBitmap *bitmap)
{
    uint32_t headerSize = BitmapHeaderBytes(bitmap->Type);
    if (headerSize == 0 || !FitsFileSize(headerSize, bitmap->LineBytes, bitmap->Lines))
        return 0;
    bitmap->HeaderSize = headerSize;
    bitmap->FileSize = headerSize + bitmap->LineBytes * bitmap->Lines;
    return 1;
}

int BitmapLineBytesMatch(const ScanBitmap *bitmap)
{
    uint16_t bits = BitmapBitsPerPixel(bitmap->Type);
    int32_t width = BitmapPixelsFor(bitmap->XDpi, bitmap->Width300);
    return bits != 0 && RowBytes((uint32_t)width, bits) == bitmap->LineBytes;
}

static void FillPalette(uint8_t *palette, uint16_t type)
{
    if (type == SCAN_TYPE_LINE_ART) {
        // Entry 0 black, entry 1 white: the device's bit 1 is white.
        const uint8_t entries[8] = {0, 0, 0, 0, 255, 255, 255, 0};
        for (int i = 0; i < 8; i++)
            palette[i] = entries[i];
    } else if (type == SCAN_TYPE_GREY) {
        for (int i = 0; i < 256; i++) {
            palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = (uint8_t)i;
            palette[4 * i + 3] = 0;
        }
    }
}

void FillBitmapHeader(ScanBitmap *bitmap)
{
    uint8_t *h = bitmap->Header;
    uint32_t imageSize = bitmap->LineBytes * bitmap->Lines;
    h[0] = 'B';
    h[1] = 'M';
    WriteLe32(h + OFFSET_FILE_SIZE, bitmap->FileSize);
    WriteLe32(h + 6, 0);
    WriteLe32(h + OFFSET_PIXELS, bitmap->FileSize - imageSize);
    WriteLe32(h + OFFSET_INFO_SIZE, INFO_HEADER_BYTES);
    WriteLe32(h + OFFSET_WIDTH, (uint32_t)BitmapPixelsFor(bitmap->XDpi, bitmap->Width300));
    WriteLe32(h + OFFSET_HEIGHT, (uint32_t)BitmapPixelsFor(bitmap->YDpi, bitmap->Height300));
    WriteLe16(h + OFFSET_PLANES, 1);
    WriteLe16(h + OFFSET_BIT_COUNT, BitmapBitsPerPixel(bitmap->Type));
    WriteLe32(h + OFFSET_COMPRESSION, 0);
    WriteLe32(h + OFFSET_IMAGE_SIZE, imageSize);
    WriteLe32(h + OFFSET_X_PELS_PER_METRE, (uint32_t)BitmapPixelsPerMetre(bitmap->XDpi));
    WriteLe32(h + OFFSET_Y_PELS_PER_METRE, (uint32_t)BitmapPixelsPerMetre(bitmap->YDpi));
    WriteLe32(h + OFFSET_COLOURS_USED, bitmap->Type == SCAN_TYPE_GREY ? 256 : 0);
    WriteLe32(h + OFFSET_COLOURS_IMPORTANT, 0);
    FillPalette(h + OFFSET_PALETTE, bitmap->Type);
}

int SetBitmapHeaderLines(ScanBitmap *bitmap, uint32_t linesReceived)
{
    if (!FitsFileSize(bitmap->HeaderSize, bitmap->LineBytes, linesReceived))
        return 0;
    uint8_t *h = bitmap->Header;
    uint32_t imageSize = bitmap->LineBytes * linesReceived;
    WriteLe32(h + OFFSET_FILE_SIZE, imageSize + bitmap->HeaderSize);
    WriteLe32(h + OFFSET_PIXELS, bitmap->HeaderSize);
    WriteLe32(h + OFFSET_HEIGHT, linesReceived);
    WriteLe32(h + OFFSET_IMAGE_SIZE, imageSize);
    return 1;
}
