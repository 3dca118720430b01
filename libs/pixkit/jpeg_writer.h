// A baseline JPEG encoder: JFIF with the resolution in dots per inch, the
// usual quality scale of the standard's example tables, grey pictures as one
// component and colour as YCbCr with both chroma planes halved each way.
// Portable: no Windows header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "raster.h"

namespace pixkit {

// Where encoded bytes go; false stops the encoder.
class ByteSink {
public:
    virtual bool Write(const uint8_t *bytes, size_t count) = 0;

protected:
    ~ByteSink() = default;
};

// Quality 1 (smallest) to 100 (finest); values outside are taken as the
// nearest end. A resolution of 0 (unknown) is written as square pixels
// without a density. Line art is written as grey (JPEG has no one-bit form).
// False when the picture is too large for the format (65535 pixels a side)
// or the sink refused bytes.
bool WriteJpeg(const Raster &raster, int quality, uint32_t xDpi, uint32_t yDpi, ByteSink *sink);

// The quantisation table (natural order, 64 entries) the encoder uses for a
// quality: table 0 for brightness, 1 for colour.
void JpegQuantTable(int quality, int table, uint16_t out[64]);

} // namespace pixkit
