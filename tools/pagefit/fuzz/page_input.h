// The pipeline fuzzer's input: a few bytes of page description and a small
// picture that is scaled up into a page in the scanner's exact layout, so
// that mutations move and reshape what lies on the page instead of breaking
// the strict header checks. One header byte may still poke one header field,
// so the parser's refusals stay in reach.
//
//   byte 0   bits 0-1: depth (0: line art, 1: grey, 2 and 3: colour)
//            bits 2-3: work (1: crop, 2: deskew, 0 and 3: both)
//            bit 4:    smooth scaling instead of nearest
//   byte 1,2 picture width and height, 4 + value % 40 pixels
//   byte 3   scale, 1 + value % 4 page pixels a picture pixel
//   byte 4   resolution, 30 + value dots per inch
//   byte 5-7 when byte 5 < 16: header byte (byte 6 % 54) becomes byte 7
//   then     the picture's pixels, top-down, one byte (line art, grey) or
//            three (blue, green, red) each, repeated when short
#pragma once

#include "pagefit.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pagefit_fuzz {

const size_t PAGE_INPUT_HEADER = 8;
const int PICTURE_MIN_SIDE = 4;
const int PICTURE_SIDES = 40;
const int SCALES = 4;
const int DPI_BASE = 30;

// The page the input describes and the work to ask of the tool; empty when
// the input is too short to describe one.
std::vector<uint8_t> PageFromInput(const uint8_t *data, size_t size, pagefit::Options *options);

// The input that describes `scan` (a product bitmap) shrunk by `scale` into a
// picture no larger than the input allows; empty when `scan` does not parse.
std::vector<uint8_t> InputFromScan(const std::vector<uint8_t> &scan, int scale, const pagefit::Options &options);

} // namespace pagefit_fuzz
