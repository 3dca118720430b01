// Bitmap files laid out as the scanner writes them: the one builder of
// sheets and pages for the image library's, the adapter's and the virtual
// scanner's tests. Portable: no Windows header.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "bitmap_layout.h"

namespace scanbitmap {

// Value of a pixel: grey level, or blue | green << 8 | red << 16; line art 0 or 1.
typedef std::function<uint32_t(uint32_t x, uint32_t y)> PixelRule;

// A bitmap laid out as the scanner writes it: bottom-up, 62/1078/54-byte
// headers, black-and-white or grey-ramp palette.
inline std::string ScanBitmap(uint32_t bits, uint32_t width, uint32_t height, uint32_t dpi, const PixelRule &pixel,
                              uint32_t yDpi = 0)
{
    using namespace bitmap_layout;
    uint32_t header = bits == 1 ? LINE_ART_HEADER_BYTES : bits == 8 ? GREY_HEADER_BYTES : PIXELS_OFFSET_NO_PALETTE;
    uint32_t rowBytes = uint32_t(RowBytes(width, bits));
    std::string file(header + size_t(rowBytes) * height, '\0');
    uint8_t *h = reinterpret_cast<uint8_t *>(&file[0]);
    h[0] = 'B';
    h[1] = 'M';
    WriteLe32(h + OFFSET_FILE_SIZE, uint32_t(file.size()));
    WriteLe32(h + OFFSET_PIXELS, header);
    WriteLe32(h + OFFSET_INFO_SIZE, 40);
    WriteLe32(h + OFFSET_WIDTH, width);
    WriteLe32(h + OFFSET_HEIGHT, height);
    WriteLe16(h + OFFSET_PLANES, 1);
    WriteLe16(h + OFFSET_BIT_COUNT, uint16_t(bits));
    WriteLe32(h + OFFSET_IMAGE_SIZE, rowBytes * height);
    WriteLe32(h + OFFSET_X_PELS_PER_METRE, uint32_t(dpi * 39.37007933143675 + 0.5));
    WriteLe32(h + OFFSET_Y_PELS_PER_METRE, uint32_t((yDpi ? yDpi : dpi) * 39.37007933143675 + 0.5));
    WriteLe32(h + OFFSET_COLOURS_USED, bits == 8 ? 256 : 0);
    uint32_t entries = bits == 1 ? 2 : bits == 8 ? 256 : 0;
    for (uint32_t i = 0; i < entries; ++i) {
        uint8_t level = uint8_t(bits == 1 ? i * 255 : i);
        h[OFFSET_PALETTE + i * 4] = h[OFFSET_PALETTE + i * 4 + 1] = h[OFFSET_PALETTE + i * 4 + 2] = level;
    }
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = h + header + size_t(height - 1 - y) * rowBytes;
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t v = pixel(x, y);
            if (bits == 1) {
                if (v)
                    row[x / 8] |= uint8_t(0x80 >> (x % 8));
            } else if (bits == 8) {
                row[x] = uint8_t(v);
            } else {
                row[x * 3] = uint8_t(v);
                row[x * 3 + 1] = uint8_t(v >> 8);
                row[x * 3 + 2] = uint8_t(v >> 16);
            }
        }
    }
    return file;
}

} // namespace scanbitmap
