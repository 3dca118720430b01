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

} // namespace synth
