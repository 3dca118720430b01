// Bitmap file output.
#include "bmp_writer.h"

#include <vector>

#include "bitmap_layout.h"

namespace pixkit {

uint32_t PixelsPerMetre(uint32_t dpi)
{
    return uint32_t(dpi * 39.37007933143675 + 0.5);
}

bool WriteBmp(const Raster &raster, uint32_t xDpi, uint32_t yDpi, ByteSink *sink)
{
    using namespace bitmap_layout;
    if (!raster.pixels)
        return false;
    const uint32_t paletteEntries = raster.layout == LAYOUT_BILEVEL ? 2 : raster.layout == LAYOUT_GREY ? 256 : 0;
    const uint32_t headerBytes = PIXELS_OFFSET_NO_PALETTE + paletteEntries * 4;
    const uint64_t imageBytes = uint64_t(raster.stride) * raster.height;
    if (headerBytes + imageBytes > 0xFFFFFFFFu || raster.width > 0x7FFFFFFF || raster.height > 0x7FFFFFFF)
        return false;
    std::vector<uint8_t> header(headerBytes, 0);
    uint8_t *h = header.data();
    h[0] = 'B';
    h[1] = 'M';
    WriteLe32(h + OFFSET_FILE_SIZE, uint32_t(headerBytes + imageBytes));
    WriteLe32(h + OFFSET_PIXELS, headerBytes);
    WriteLe32(h + OFFSET_INFO_SIZE, INFO_HEADER_BYTES);
    WriteLe32(h + OFFSET_WIDTH, raster.width);
    WriteLe32(h + OFFSET_HEIGHT, raster.height);
    WriteLe16(h + OFFSET_PLANES, 1);
    WriteLe16(h + OFFSET_BIT_COUNT, uint16_t(BitsPerPixel(raster.layout)));
    WriteLe32(h + OFFSET_IMAGE_SIZE, uint32_t(imageBytes));
    WriteLe32(h + OFFSET_X_PELS_PER_METRE, PixelsPerMetre(xDpi));
    WriteLe32(h + OFFSET_Y_PELS_PER_METRE, PixelsPerMetre(yDpi));
    WriteLe32(h + OFFSET_COLOURS_USED, raster.layout == LAYOUT_GREY ? 256 : 0);
    for (uint32_t i = 0; i < paletteEntries; ++i) {
        uint8_t level = uint8_t(paletteEntries == 2 ? i * 255 : i);
        uint8_t *entry = h + OFFSET_PALETTE + i * 4;
        entry[0] = entry[1] = entry[2] = level;
    }
    if (!sink->Write(h, header.size()))
        return false;
    for (uint32_t y = raster.height; y-- > 0;) {
        if (!sink->Write(raster.Row(y), raster.stride))
            return false;
    }
    return true;
}

} // namespace pixkit
