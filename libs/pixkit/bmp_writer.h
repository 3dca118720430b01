// Writes a picture as a Windows bitmap file the way the scanner's own files
// look: bottom-up rows, a black-and-white palette for line art, a grey ramp
// for grey, no palette for colour, the resolution in pixels per metre.
// Portable: no Windows header.
#pragma once

#include "jpeg_writer.h"
#include "raster.h"

namespace pixkit {

// Pixels per metre for a resolution in dots per inch, rounded as the
// scanner's bitmap writer rounds it (300 dpi gives 11811).
uint32_t PixelsPerMetre(uint32_t dpi);

bool WriteBmp(const Raster &raster, uint32_t xDpi, uint32_t yDpi, ByteSink *sink);

} // namespace pixkit
