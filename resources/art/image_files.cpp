// BMP and ICO encoders for the generated pictures and icons.
#include "image_files.h"

#include <cstdio>

#include "bitmap_layout.h"

namespace art {

using namespace bitmap_layout;

static void PutInfoHeader(uint8_t *p, int width, int height, int bits, uint32_t imageBytes, uint32_t coloursUsed)
{
    WriteLe32(p, INFO_HEADER_BYTES);
    WriteLe32(p + 4, uint32_t(width));
    WriteLe32(p + 8, uint32_t(height));
    WriteLe16(p + 12, 1);
    WriteLe16(p + 14, uint16_t(bits));
    WriteLe32(p + 16, 0); // uncompressed
    WriteLe32(p + 20, imageBytes);
    WriteLe32(p + 24, 2835); // 72 dpi
    WriteLe32(p + 28, 2835);
    WriteLe32(p + 32, coloursUsed);
    WriteLe32(p + 36, 0);
}

std::vector<uint8_t> EncodeBmp24(int width, int height, const std::vector<uint8_t> &rgb)
{
    uint32_t rowBytes = uint32_t(RowBytes(width, 24));
    uint32_t imageBytes = rowBytes * height;
    std::vector<uint8_t> file(PIXELS_OFFSET_NO_PALETTE + imageBytes, 0);
    file[0] = 'B';
    file[1] = 'M';
    WriteLe32(&file[OFFSET_FILE_SIZE], uint32_t(file.size()));
    WriteLe32(&file[OFFSET_PIXELS], PIXELS_OFFSET_NO_PALETTE);
    PutInfoHeader(&file[OFFSET_INFO_SIZE], width, height, 24, imageBytes, 0);
    for (int y = 0; y < height; y++) {
        // Bottom-up: the picture's top row is the file's last.
        uint8_t *row = &file[PIXELS_OFFSET_NO_PALETTE + size_t(height - 1 - y) * rowBytes];
        for (int x = 0; x < width; x++) {
            const uint8_t *source = &rgb[(size_t(y) * width + x) * 3];
            row[x * 3] = source[2];
            row[x * 3 + 1] = source[1];
            row[x * 3 + 2] = source[0];
        }
    }
    return file;
}

static uint32_t Distance(uint32_t a, const uint8_t *rgb)
{
    int dr = int((a >> 16) & 0xFF) - rgb[0], dg = int((a >> 8) & 0xFF) - rgb[1], db = int(a & 0xFF) - rgb[2];
    return uint32_t(dr * dr + dg * dg + db * db);
}

static uint8_t Nearest(const std::vector<uint32_t> &palette, const uint8_t *rgb)
{
    uint8_t best = 0;
    for (size_t i = 1; i < palette.size(); i++)
        if (Distance(palette[i], rgb) < Distance(palette[best], rgb))
            best = uint8_t(i);
    return best;
}

void Quantise(const std::vector<uint8_t> &rgba, int colours, std::vector<uint32_t> *palette,
              std::vector<uint8_t> *indices)
{
    size_t count = rgba.size() / 4;
    std::vector<const uint8_t *> opaque;
    for (size_t i = 0; i < count; i++)
        if (rgba[i * 4 + 3] >= 128)
            opaque.push_back(&rgba[i * 4]);

    // Seeds by farthest point, then a few rounds of k-means; entry 0 stays black.
    palette->assign(1, 0);
    while (int(palette->size()) < colours && !opaque.empty()) {
        const uint8_t *farthest = nullptr;
        uint32_t farthestDistance = 0;
        for (const uint8_t *p : opaque) {
            uint32_t d = Distance((*palette)[Nearest(*palette, p)], p);
            if (d > farthestDistance) {
                farthestDistance = d;
                farthest = p;
            }
        }
        if (!farthest)
            break;
        palette->push_back((uint32_t(farthest[0]) << 16) | (uint32_t(farthest[1]) << 8) | farthest[2]);
    }
    for (int round = 0; round < 8; round++) {
        std::vector<uint64_t> sums(palette->size() * 4, 0);
        for (const uint8_t *p : opaque) {
            uint8_t k = Nearest(*palette, p);
            sums[k * 4] += p[0];
            sums[k * 4 + 1] += p[1];
            sums[k * 4 + 2] += p[2];
            sums[k * 4 + 3]++;
        }
        for (size_t k = 1; k < palette->size(); k++)
            if (sums[k * 4 + 3])
                (*palette)[k] =
                    uint32_t(((sums[k * 4] / sums[k * 4 + 3]) << 16) | ((sums[k * 4 + 1] / sums[k * 4 + 3]) << 8) |
                             (sums[k * 4 + 2] / sums[k * 4 + 3]));
    }
    indices->assign(count, 0);
    for (size_t i = 0; i < count; i++)
        if (rgba[i * 4 + 3] >= 128)
            (*indices)[i] = Nearest(*palette, &rgba[i * 4]);
}

static std::vector<uint8_t> EncodeIconImage(const IconImage &image)
{
    int size = image.size;
    uint32_t colourRow = uint32_t(RowBytes(size, image.bits));
    uint32_t maskRow = uint32_t(RowBytes(size, 1));
    uint32_t paletteBytes = image.bits == 4 ? 16 * 4 : 0;
    std::vector<uint8_t> bytes(INFO_HEADER_BYTES + paletteBytes + (colourRow + maskRow) * size, 0);
    // The height counts the colour image and the mask together.
    PutInfoHeader(&bytes[0], size, size * 2, image.bits, (colourRow + maskRow) * size, image.bits == 4 ? 16 : 0);

    std::vector<uint32_t> palette;
    std::vector<uint8_t> indices;
    if (image.bits == 4) {
        Quantise(image.rgba, 16, &palette, &indices);
        for (size_t k = 0; k < palette.size(); k++)
            WriteLe32(&bytes[INFO_HEADER_BYTES + k * 4], palette[k]);
    }
    uint8_t *colours = &bytes[INFO_HEADER_BYTES + paletteBytes];
    uint8_t *mask = colours + colourRow * size;
    for (int y = 0; y < size; y++) {
        uint8_t *colourLine = colours + size_t(size - 1 - y) * colourRow;
        uint8_t *maskLine = mask + size_t(size - 1 - y) * maskRow;
        for (int x = 0; x < size; x++) {
            size_t i = size_t(y) * size + x;
            const uint8_t *p = &image.rgba[i * 4];
            if (p[3] < 128)
                maskLine[x / 8] |= uint8_t(0x80 >> (x % 8));
            if (image.bits == 32) {
                colourLine[x * 4] = p[2];
                colourLine[x * 4 + 1] = p[1];
                colourLine[x * 4 + 2] = p[0];
                colourLine[x * 4 + 3] = p[3];
            } else {
                colourLine[x / 2] |= uint8_t(x % 2 ? indices[i] : indices[i] << 4);
            }
        }
    }
    return bytes;
}

std::vector<uint8_t> EncodeIco(const std::vector<IconImage> &images)
{
    const uint32_t directoryBytes = 6, entryBytes = 16;
    std::vector<uint8_t> file(directoryBytes + entryBytes * images.size(), 0);
    WriteLe16(&file[2], 1); // icon, not cursor
    WriteLe16(&file[4], uint16_t(images.size()));
    for (size_t n = 0; n < images.size(); n++) {
        std::vector<uint8_t> data = EncodeIconImage(images[n]);
        uint8_t *entry = &file[directoryBytes + entryBytes * n];
        entry[0] = uint8_t(images[n].size);
        entry[1] = uint8_t(images[n].size);
        entry[2] = images[n].bits == 4 ? 16 : 0;
        WriteLe16(entry + 4, 1);
        WriteLe16(entry + 6, uint16_t(images[n].bits));
        WriteLe32(entry + 8, uint32_t(data.size()));
        WriteLe32(entry + 12, uint32_t(file.size()));
        file.insert(file.end(), data.begin(), data.end());
    }
    return file;
}

bool WriteFileBytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

} // namespace art
