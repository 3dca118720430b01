// Reading and writing the scanner's bitmap files in memory: bottom-up rows
// of 1, 8 or 24 bits with an optional palette. Portable: no Windows header.
#pragma once

#include "luma.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pagefit {

// A parsed bitmap that points into the caller's file bytes. Rows are addressed
// top-down (row 0 is the top of the page) although the file stores them
// bottom-up.
struct Bitmap {
    const uint8_t *file = nullptr;
    size_t fileSize = 0;
    int width = 0;
    int height = 0;
    int bits = 0;             // 1, 8 or 24
    uint32_t pixelOffset = 0; // header bytes, palette included
    uint32_t rowBytes = 0;
    uint32_t xPixelsPerMetre = 0;
    uint32_t yPixelsPerMetre = 0;
    int paletteEntries = 0; // 2 for line art, 256 for grey (or as declared)
    uint8_t paletteLuma[256] = {};
    bool greyPalette = false; // 8 bits with entry i = (i, i, i): indices are tones

    const uint8_t *Row(int y) const
    {
        return file + pixelOffset + size_t(height - 1 - y) * rowBytes;
    }
    double Dpi() const;
};

// Largest page the tool accepts, in pixels; keeps memory bounded for any header.
const uint64_t MAX_PAGE_PIXELS = 400u * 1000u * 1000u;

// Checks every field the tool relies on against the file's real size. On
// failure `why` says what is wrong, in words fit for the log.
bool ParseBitmap(const uint8_t *file, size_t size, Bitmap *bitmap, std::string *why);

// A new file in the same layout as `source` (header fields, palette and
// pixels per metre copied) with room for width x height pixels; the pixel
// rows are zeroed. `rowStart` receives the offset of the pixel data.
std::vector<uint8_t> NewBitmapLike(const Bitmap &source, int width, int height);

} // namespace pagefit
