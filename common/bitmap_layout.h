// Byte layout of the bitmap files the scanner writes and the tools rewrite:
// a 14-byte file header, a 40-byte information header, an optional palette
// and bottom-up pixel rows padded to 4 bytes. Portable: no Windows header.
#pragma once

#include <cstdint>

namespace bitmap_layout {

const uint32_t FILE_HEADER_BYTES = 14;
const uint32_t INFO_HEADER_BYTES = 40;
const uint32_t PIXELS_OFFSET_NO_PALETTE = FILE_HEADER_BYTES + INFO_HEADER_BYTES; // 54
const uint32_t LINE_ART_HEADER_BYTES = PIXELS_OFFSET_NO_PALETTE + 2 * 4;         // 62
const uint32_t GREY_HEADER_BYTES = PIXELS_OFFSET_NO_PALETTE + 256 * 4;           // 1078

// Offsets from the start of the file.
const uint32_t OFFSET_FILE_SIZE = 2;
const uint32_t OFFSET_PIXELS = 10;
const uint32_t OFFSET_INFO_SIZE = 14;
const uint32_t OFFSET_WIDTH = 18;
const uint32_t OFFSET_HEIGHT = 22;
const uint32_t OFFSET_PLANES = 26;
const uint32_t OFFSET_BIT_COUNT = 28;
const uint32_t OFFSET_COMPRESSION = 30;
const uint32_t OFFSET_IMAGE_SIZE = 34;
const uint32_t OFFSET_X_PELS_PER_METRE = 38;
const uint32_t OFFSET_Y_PELS_PER_METRE = 42;
const uint32_t OFFSET_COLOURS_USED = 46;
const uint32_t OFFSET_COLOURS_IMPORTANT = 50;
const uint32_t OFFSET_PALETTE = 54;

// Bytes in one stored row of `width` pixels at `bits` per pixel: rows are
// padded to whole 32-bit words. Computed in 64 bits so a lying width cannot wrap.
inline uint64_t RowBytes(uint64_t width, uint32_t bits)
{
    return ((width * bits + 31) / 32) * 4;
}

inline uint32_t ReadLe32(const uint8_t *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}
inline uint16_t ReadLe16(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}
inline void WriteLe32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline void WriteLe16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

} // namespace bitmap_layout
