// Bitmap files as acquisition writes them, built in memory for the tone
// tests, the fuzzer's seeds and the benchmark. Portable: no Windows header.
#pragma once

#include <cstdint>
#include <string>

#include "bitmap_layout.h"

namespace tonetest {

// A bottom-up grey (8-bit, grey palette) or colour (24-bit) bitmap whose
// sample at (row, byte) is `sample(row, byte)`; padding bytes are 0xEE so a
// pass that touches them shows.
template <typename Sample>
std::string MakeBitmap(uint32_t width, uint32_t height, int bits, Sample sample)
{
    using namespace bitmap_layout;
    uint32_t offset = bits == 24 ? PIXELS_OFFSET_NO_PALETTE : GREY_HEADER_BYTES;
    uint32_t samples = bits == 24 ? 3 * width : width;
    uint32_t row = uint32_t(RowBytes(width, uint32_t(bits)));
    std::string file(offset + size_t(row) * height, '\0');
    uint8_t *p = reinterpret_cast<uint8_t *>(&file[0]);
    p[0] = 'B';
    p[1] = 'M';
    WriteLe32(p + OFFSET_FILE_SIZE, uint32_t(file.size()));
    WriteLe32(p + OFFSET_PIXELS, offset);
    WriteLe32(p + OFFSET_INFO_SIZE, INFO_HEADER_BYTES);
    WriteLe32(p + OFFSET_WIDTH, width);
    WriteLe32(p + OFFSET_HEIGHT, height);
    WriteLe16(p + OFFSET_PLANES, 1);
    WriteLe16(p + OFFSET_BIT_COUNT, uint16_t(bits));
    WriteLe32(p + OFFSET_IMAGE_SIZE, row * height);
    WriteLe32(p + OFFSET_X_PELS_PER_METRE, 11811);
    WriteLe32(p + OFFSET_Y_PELS_PER_METRE, 11811);
    WriteLe32(p + OFFSET_COLOURS_USED, bits == 8 ? 256 : 0);
    if (bits == 8) {
        for (int i = 0; i < 256; ++i) {
            uint8_t *entry = p + OFFSET_PALETTE + 4 * i;
            entry[0] = entry[1] = entry[2] = uint8_t(i);
        }
    }
    for (uint32_t r = 0; r < height; ++r) {
        uint8_t *line = p + offset + size_t(r) * row;
        for (uint32_t b = 0; b < row; ++b)
            line[b] = b < samples ? uint8_t(sample(r, b)) : 0xEE;
    }
    return file;
}

inline std::string MakeGreyRamp(uint32_t width, uint32_t height)
{
    return MakeBitmap(width, height, 8, [](uint32_t r, uint32_t b) { return (r * 37 + b * 11) & 255; });
}

inline uint8_t *Bytes(std::string &file) { return reinterpret_cast<uint8_t *>(&file[0]); }
inline const uint8_t *Bytes(const std::string &file) { return reinterpret_cast<const uint8_t *>(file.data()); }

} // namespace tonetest
