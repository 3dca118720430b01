// Bitmap parsing and writing; distrusts every header field.
#include "bitmap.h"

#include "bitmap_layout.h"

#include <cstring>

namespace pagefit {

using namespace bitmap_layout;

double Bitmap::Dpi() const
{
    // The scanner always writes pixels per metre; a file without them is
    // taken as the product's usual 300 dpi.
    uint32_t ppm = xPixelsPerMetre ? xPixelsPerMetre : yPixelsPerMetre;
    if (ppm < 400 || ppm > 200000)
        return 300.0;
    return ppm / 39.37007874;
}

static bool Fail(std::string *why, const std::string &text)
{
    if (why)
        *why = text;
    return false;
}

bool ParseBitmap(const uint8_t *file, size_t size, Bitmap *bitmap, std::string *why)
{
    *bitmap = Bitmap();
    if (size < PIXELS_OFFSET_NO_PALETTE)
        return Fail(why, "file of " + std::to_string(size) + " bytes is shorter than a bitmap header");
    if (file[0] != 'B' || file[1] != 'M')
        return Fail(why, "file does not start with BM");
    uint32_t declaredSize = ReadLe32(file + OFFSET_FILE_SIZE);
    uint32_t pixelOffset = ReadLe32(file + OFFSET_PIXELS);
    uint32_t infoSize = ReadLe32(file + OFFSET_INFO_SIZE);
    int32_t width = int32_t(ReadLe32(file + OFFSET_WIDTH));
    int32_t height = int32_t(ReadLe32(file + OFFSET_HEIGHT));
    uint16_t planes = ReadLe16(file + OFFSET_PLANES);
    uint16_t bits = ReadLe16(file + OFFSET_BIT_COUNT);
    uint32_t compression = ReadLe32(file + OFFSET_COMPRESSION);
    uint32_t imageSize = ReadLe32(file + OFFSET_IMAGE_SIZE);
    uint32_t coloursUsed = ReadLe32(file + OFFSET_COLOURS_USED);

    if (infoSize != INFO_HEADER_BYTES)
        return Fail(why, "information header of " + std::to_string(infoSize) + " bytes, expected 40");
    if (planes != 1)
        return Fail(why, "planes " + std::to_string(planes) + ", expected 1");
    if (bits != 1 && bits != 8 && bits != 24)
        return Fail(why, std::to_string(bits) + " bits per pixel, expected 1, 8 or 24");
    if (compression != 0)
        return Fail(why, "compressed bitmap (method " + std::to_string(compression) + ")");
    if (width <= 0)
        return Fail(why, "width " + std::to_string(width));
    if (height <= 0)
        return Fail(why, "height " + std::to_string(height) + " (not a bottom-up bitmap)");
    if (uint64_t(width) * uint64_t(height) > MAX_PAGE_PIXELS)
        return Fail(why, "page of " + std::to_string(width) + "x" + std::to_string(height) + " pixels is too large");

    uint32_t maxEntries = bits == 24 ? 0 : (1u << bits);
    if (coloursUsed > maxEntries)
        return Fail(why, "colours used " + std::to_string(coloursUsed) + " exceeds " + std::to_string(maxEntries));
    uint32_t entries = bits == 24 ? 0 : (coloursUsed ? coloursUsed : maxEntries);
    uint64_t paletteEnd = uint64_t(PIXELS_OFFSET_NO_PALETTE) + 4ull * entries;
    if (pixelOffset < paletteEnd)
        return Fail(why, "pixel offset " + std::to_string(pixelOffset) + " overlaps the header or palette");

    uint64_t rowBytes = RowBytes(uint64_t(width), bits);
    uint64_t pixelBytes = rowBytes * uint64_t(height);
    if (uint64_t(pixelOffset) + pixelBytes > size)
        return Fail(why, "truncated: " + std::to_string(width) + "x" + std::to_string(height) + " pixels need " +
                             std::to_string(uint64_t(pixelOffset) + pixelBytes) + " bytes, the file has " +
                             std::to_string(size));
    if (uint64_t(declaredSize) != uint64_t(size))
        return Fail(why,
                    "header says " + std::to_string(declaredSize) + " bytes, the file has " + std::to_string(size));
    if (imageSize != 0 && uint64_t(imageSize) != pixelBytes)
        return Fail(why, "image size " + std::to_string(imageSize) + " does not match " + std::to_string(pixelBytes) +
                             " bytes of rows");
    if (uint64_t(pixelOffset) + pixelBytes != size)
        return Fail(why, std::to_string(size - (uint64_t(pixelOffset) + pixelBytes)) + " bytes after the last row");

    Bitmap &b = *bitmap;
    b.file = file;
    b.fileSize = size;
    b.width = width;
    b.height = height;
    b.bits = bits;
    b.pixelOffset = pixelOffset;
    b.rowBytes = uint32_t(rowBytes);
    b.xPixelsPerMetre = ReadLe32(file + OFFSET_X_PELS_PER_METRE);
    b.yPixelsPerMetre = ReadLe32(file + OFFSET_Y_PELS_PER_METRE);
    b.paletteEntries = int(entries);
    b.greyPalette = bits == 8 && entries == 256;
    for (uint32_t i = 0; i < entries; i++) {
        const uint8_t *e = file + OFFSET_PALETTE + 4 * i;
        b.paletteLuma[i] = uint8_t(luma::OfBgr(e));
        if (e[0] != i || e[1] != i || e[2] != i)
            b.greyPalette = false;
    }
    // Pixel values beyond a short palette read as black, as viewers show them.
    return true;
}

std::vector<uint8_t> NewBitmapLike(const Bitmap &source, int width, int height)
{
    uint64_t rowBytes = RowBytes(uint64_t(width), source.bits);
    uint64_t pixelBytes = rowBytes * uint64_t(height);
    std::vector<uint8_t> out(size_t(source.pixelOffset + pixelBytes), 0);
    memcpy(out.data(), source.file, source.pixelOffset);
    WriteLe32(out.data() + OFFSET_FILE_SIZE, uint32_t(out.size()));
    WriteLe32(out.data() + OFFSET_WIDTH, uint32_t(width));
    WriteLe32(out.data() + OFFSET_HEIGHT, uint32_t(height));
    // Keep a zero image size as the source had it; otherwise state the truth.
    if (ReadLe32(source.file + OFFSET_IMAGE_SIZE) != 0)
        WriteLe32(out.data() + OFFSET_IMAGE_SIZE, uint32_t(pixelBytes));
    return out;
}

} // namespace pagefit
