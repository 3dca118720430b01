// How the product turns a colour into one grey level: the virtual scanner's
// grey scans, the auto-crop tool's analysis and its benchmarks all weigh the
// channels the same way, so a grey scan and a colour scan of one sheet agree.
// Portable: no Windows header.
#pragma once

#include <cstdint>

namespace luma {

// Weights out of WEIGHT_TOTAL; they add up to it, so white stays 255.
const int RED_WEIGHT = 77;
const int GREEN_WEIGHT = 150;
const int BLUE_WEIGHT = 29;
const int WEIGHT_TOTAL = 256;

// The grey level of one pixel stored blue, green, red (bitmap order), rounded.
inline int OfBgr(const uint8_t *bgr)
{
    return (bgr[0] * BLUE_WEIGHT + bgr[1] * GREEN_WEIGHT + bgr[2] * RED_WEIGHT + WEIGHT_TOTAL / 2) / WEIGHT_TOTAL;
}

// The same for a pixel stored red, green, blue (decoded picture order).
inline int OfRgb(const uint8_t *rgb)
{
    return (rgb[0] * RED_WEIGHT + rgb[1] * GREEN_WEIGHT + rgb[2] * BLUE_WEIGHT + WEIGHT_TOTAL / 2) / WEIGHT_TOTAL;
}

} // namespace luma
