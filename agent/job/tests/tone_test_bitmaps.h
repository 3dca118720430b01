// Bitmap files as acquisition writes them, built in memory for the tone
// tests, the fuzzer's seeds and the benchmark. Portable: no Windows header.
#pragma once

#include <cstdint>
#include <string>

#include "bitmap_layout.h"
#include "scan_bitmap.h"

namespace tonetest {

// A bottom-up grey (8-bit, grey palette) or colour (24-bit) bitmap whose
// sample at (row, byte) is `sample(row, byte)`; padding bytes are 0xEE so a
// pass that touches them shows.
template <typename Sample>
std::string MakeBitmap(uint32_t width, uint32_t height, int bits, Sample sample)
{
    std::string file =
        scanbitmap::ScanBitmap(uint32_t(bits), width, height, 300, [](uint32_t, uint32_t) { return 0u; });
    uint32_t offset = bits == 24 ? bitmap_layout::PIXELS_OFFSET_NO_PALETTE : bitmap_layout::GREY_HEADER_BYTES;
    uint32_t samples = bits == 24 ? 3 * width : width;
    uint32_t row = uint32_t(bitmap_layout::RowBytes(width, uint32_t(bits)));
    for (uint32_t r = 0; r < height; ++r) {
        uint8_t *line = reinterpret_cast<uint8_t *>(&file[offset + size_t(r) * row]);
        for (uint32_t b = 0; b < row; ++b)
            line[b] = b < samples ? uint8_t(sample(r, b)) : 0xEE;
    }
    return file;
}

inline uint8_t *Bytes(std::string &file)
{
    return reinterpret_cast<uint8_t *>(&file[0]);
}

} // namespace tonetest
