// The whole tool on a file held in memory: what it decides, the new file and
// the log line. Portable: the Windows program only adds files and settings.
#pragma once

#include "analysis.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pagefit {

struct Options {
    bool crop = false;
    bool deskew = false;
};

enum class Outcome {
    Rewritten, // `output` holds the new file
    Unchanged, // nothing asked, or nothing to change; the file stays as it is
    NoAction,  // cropping or deskewing was asked and the sheet holds no photo
    Invalid,   // not a bitmap in the scanner's layout; the file stays as it is
};

struct Result {
    Outcome outcome = Outcome::Unchanged;
    std::vector<uint8_t> output;
    std::string log;     // one line, without line end
    PhotoSearch search;  // what was measured (when the bitmap was valid and work was asked)
    RotatedRect written; // the region of the scan that became the output
};

// Skews below this are not worth a resampling pass: over a 6-inch print
// they move no pixel by more than half a pixel.
const double SMALLEST_TURN_DEGREES = 0.02;

Result RunPagefit(const uint8_t *file, size_t size, const Options &options);

} // namespace pagefit
