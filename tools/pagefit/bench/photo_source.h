// Real photographs for the benchmark, decoded from the JPEG files Debian
// packages install.
#pragma once

#include "synth.h"

#include <string>
#include <vector>

namespace synth {

// Every *.jpg in the folders, in name order, decoded at a reduced size
// (longest side at most `maxSide` pixels, by the decoder's own scaling).
std::vector<RgbImage> LoadPhotos(const std::vector<std::string> &folders, int maxSide, std::vector<std::string> *names);

// A 24-bit scan in the product's layout after a trip through JPEG at
// `quality` (as a scanner or driver that compresses its pages would give
// it): same size and resolution, with the codec's 8x8 block artefacts.
// Empty when the file is not a 24-bit product bitmap.
std::vector<uint8_t> ThroughJpeg(const std::vector<uint8_t> &scan, int quality);

} // namespace synth
