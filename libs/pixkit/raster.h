// In-memory pictures of the image library and the exact pixel operations on
// them (quarter-turn rotation, area-averaging reduction). Portable: no
// Windows header, so the arithmetic is tested natively with sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace pixkit {

enum PixelLayout {
    LAYOUT_BILEVEL, // 1 bit, first pixel in the top bit, 1 = white
    LAYOUT_GREY,    // 8 bits, 0 = black
    LAYOUT_BGR,     // 24 bits, blue green red
};

// Rows are padded to whole 32-bit words so that a bitmap file row, a WIC
// buffer row and a raster row are the same bytes.
size_t RowBytesFor(PixelLayout layout, uint32_t width);
uint32_t BitsPerPixel(PixelLayout layout);

// A picture stored top row first. Empty (no pixels) when allocation failed.
struct Raster {
    PixelLayout layout = LAYOUT_GREY;
    uint32_t width = 0;
    uint32_t height = 0;
    size_t stride = 0;
    std::unique_ptr<uint8_t[]> pixels;

    uint8_t *Row(uint32_t y)
    {
        return pixels.get() + size_t(y) * stride;
    }
    const uint8_t *Row(uint32_t y) const
    {
        return pixels.get() + size_t(y) * stride;
    }
};

// The largest picture the library takes on. The agent runs as a 32-bit
// process, so one picture and the copy a rotation needs must both fit beside
// everything else in its address space.
const uint64_t MAX_RASTER_BYTES = 600u * 1024u * 1024u;

// Allocates a zeroed raster; false (and an empty raster) when the size is
// zero, too large or the memory is not there.
bool AllocateRaster(Raster *raster, PixelLayout layout, uint32_t width, uint32_t height);

// Rotates clockwise by quarterTurns × 90 degrees (any integer, taken modulo
// 4). Every pixel moves exactly; nothing is resampled. False, leaving
// `result` empty, only when memory runs out.
bool RotateQuarterTurns(const Raster &source, int quarterTurns, Raster *result);

// Reduces (or enlarges) to width × height by area averaging: each new pixel
// is the mean of the source area it covers, partly covered source pixels
// weighted by their share. Line art is averaged as coverage of white and
// stays line art: a new pixel is white when at least half its area was.
bool ResizeByAreaAverage(const Raster &source, uint32_t width, uint32_t height, Raster *result);

} // namespace pixkit
