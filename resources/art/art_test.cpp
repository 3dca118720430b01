// The picture generator: the file formats it writes, the anti-aliasing it
// promises, and that each drawing comes out at the size its dialog expects.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "artwork.h"
#include "bitmap_layout.h"
#include "image_files.h"

using namespace art;
using bitmap_layout::ReadLe16;
using bitmap_layout::ReadLe32;

namespace {

struct IcoEntry {
    int width, height, colourCount, bits;
    uint32_t bytes, offset;
};

std::vector<IcoEntry> ReadIcoDirectory(const std::vector<uint8_t> &file)
{
    std::vector<IcoEntry> entries;
    if (file.size() < 6 || ReadLe16(&file[0]) != 0 || ReadLe16(&file[2]) != 1)
        return entries;
    for (int n = 0; n < ReadLe16(&file[4]); n++) {
        const uint8_t *e = &file[6 + 16 * n];
        entries.push_back({e[0], e[1], e[2], ReadLe16(e + 6), ReadLe32(e + 8), ReadLe32(e + 12)});
    }
    return entries;
}

std::vector<uint8_t> Solid(int width, int height, uint8_t r, uint8_t g, uint8_t b, uint8_t a)
{
    std::vector<uint8_t> rgba;
    for (int i = 0; i < width * height; i++)
        rgba.insert(rgba.end(), {r, g, b, a});
    return rgba;
}

} // namespace

TEST(Bmp24, HeaderAndBottomUpPaddedRows)
{
    // 3 x 2: top row red, green, blue; bottom row white, black, grey.
    std::vector<uint8_t> rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 128, 128, 128};
    std::vector<uint8_t> file = EncodeBmp24(3, 2, rgb);
    const uint32_t row = 12; // 9 bytes padded to a whole word
    ASSERT_EQ(file.size(), 54 + 2 * row);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(ReadLe32(&file[2]), file.size());
    EXPECT_EQ(ReadLe32(&file[10]), 54u);
    EXPECT_EQ(ReadLe32(&file[14]), 40u);
    EXPECT_EQ(ReadLe32(&file[18]), 3u);
    EXPECT_EQ(ReadLe32(&file[22]), 2u); // positive: bottom-up
    EXPECT_EQ(ReadLe16(&file[28]), 24);
    EXPECT_EQ(ReadLe32(&file[34]), 2 * row);
    // The file's first row is the picture's bottom row, stored blue-green-red.
    const uint8_t bottom[12] = {255, 255, 255, 0, 0, 0, 128, 128, 128, 0, 0, 0};
    const uint8_t top[12] = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(&file[54], bottom, 12));
    EXPECT_EQ(0, std::memcmp(&file[54 + row], top, 12));
}

TEST(Ico, DirectoryDescribesEachImage)
{
    struct Case {
        int size, bits;
        uint32_t imageBytes; // header + palette + colour rows + mask rows
    } cases[] = {
        {16, 32, 40 + 16 * 64 + 16 * 4},
        {32, 32, 40 + 32 * 128 + 32 * 4},
        {16, 4, 40 + 64 + 16 * 8 + 16 * 4},
        {32, 4, 40 + 64 + 32 * 16 + 32 * 4},
    };
    std::vector<IconImage> images;
    for (const Case &c : cases)
        images.push_back({c.size, c.bits, Solid(c.size, c.size, 10, 20, 30, 255)});
    std::vector<uint8_t> file = EncodeIco(images);
    std::vector<IcoEntry> entries = ReadIcoDirectory(file);
    ASSERT_EQ(entries.size(), 4u);
    uint32_t expectedOffset = 6 + 16 * 4;
    for (size_t n = 0; n < entries.size(); n++) {
        SCOPED_TRACE(n);
        const Case &c = cases[n];
        EXPECT_EQ(entries[n].width, c.size);
        EXPECT_EQ(entries[n].height, c.size);
        EXPECT_EQ(entries[n].bits, c.bits);
        EXPECT_EQ(entries[n].colourCount, c.bits == 4 ? 16 : 0);
        EXPECT_EQ(entries[n].bytes, c.imageBytes);
        EXPECT_EQ(entries[n].offset, expectedOffset);
        const uint8_t *header = &file[entries[n].offset];
        EXPECT_EQ(ReadLe32(header + 4), uint32_t(c.size));
        EXPECT_EQ(ReadLe32(header + 8), uint32_t(2 * c.size)) << "colour image and mask together";
        EXPECT_EQ(ReadLe16(header + 14), c.bits);
        expectedOffset += c.imageBytes;
    }
    EXPECT_EQ(file.size(), expectedOffset);
}

TEST(Ico, AlphaPixelsAndMaskBits)
{
    // 16 x 16, opaque orange except a transparent top-left pixel.
    std::vector<uint8_t> rgba = Solid(16, 16, 250, 120, 10, 255);
    rgba[3] = 0;
    std::vector<uint8_t> file = EncodeIco({{16, 32, rgba}});
    const uint8_t *image = &file[6 + 16];
    const uint8_t *colours = image + 40;
    const uint8_t *mask = colours + 16 * 64;
    // Row 15 of the file is the top row of the icon.
    const uint8_t *topRow = colours + 15 * 64;
    EXPECT_EQ(topRow[4], 10);  // blue of pixel 1
    EXPECT_EQ(topRow[5], 120); // green
    EXPECT_EQ(topRow[6], 250); // red
    EXPECT_EQ(topRow[7], 255); // alpha
    EXPECT_EQ(topRow[3], 0);
    const uint8_t *topMask = mask + 15 * 4;
    EXPECT_EQ(topMask[0], 0x80) << "only the transparent pixel is masked";
    EXPECT_EQ(topMask[1], 0x00);
    EXPECT_EQ(mask[0], 0x00) << "the bottom row is all opaque";
}

TEST(Ico, SixteenColourImagesKeepFewColoursExactlyAndTransparentAsBlack)
{
    const uint8_t colours[4][3] = {{200, 30, 30}, {30, 200, 30}, {30, 30, 200}, {240, 240, 240}};
    std::vector<uint8_t> rgba;
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++) {
            const uint8_t *c = colours[(x / 4 + y) % 4];
            rgba.insert(rgba.end(), {c[0], c[1], c[2], uint8_t(x == 15 && y == 0 ? 0 : 255)});
        }
    std::vector<uint8_t> file = EncodeIco({{16, 4, rgba}});
    const uint8_t *image = &file[6 + 16];
    const uint8_t *palette = image + 40;
    const uint8_t *pixels = palette + 64;
    EXPECT_EQ(ReadLe32(palette), 0u) << "transparent pixels point at black, which XORs to nothing";
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++) {
            uint8_t packed = pixels[(15 - y) * 8 + x / 2];
            int index = x % 2 ? packed & 0x0F : packed >> 4;
            const uint8_t *entry = palette + index * 4;
            if (x == 15 && y == 0) {
                EXPECT_EQ(index, 0);
                continue;
            }
            const uint8_t *c = colours[(x / 4 + y) % 4];
            ASSERT_EQ(entry[2], c[0]) << x << "," << y;
            ASSERT_EQ(entry[1], c[1]) << x << "," << y;
            ASSERT_EQ(entry[0], c[2]) << x << "," << y;
        }
}

TEST(Quantise, ManyColoursFitSixteenEntriesNearestFirst)
{
    std::vector<uint8_t> rgba;
    for (int i = 0; i < 256; i++)
        rgba.insert(rgba.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 255});
    std::vector<uint32_t> palette;
    std::vector<uint8_t> indices;
    Quantise(rgba, 16, &palette, &indices);
    ASSERT_LE(palette.size(), 16u);
    ASSERT_EQ(indices.size(), 256u);
    for (int i = 0; i < 256; i += 17) {
        uint32_t entry = palette[indices[i]];
        EXPECT_NEAR(int(entry >> 16), i, 24) << i;
        EXPECT_NEAR(int((entry >> 8) & 0xFF), 255 - i, 24) << i;
    }
}

// Counts pixels of an icon drawing that are clearly red (the not-connected
// badge) and clearly green (the ready light) in its lower right quarter.
static void CountSignalColours(const Canvas &canvas, int *red, int *green)
{
    *red = *green = 0;
    for (int y = canvas.Height() / 2; y < canvas.Height(); y++)
        for (int x = canvas.Width() / 2; x < canvas.Width(); x++) {
            Colour c = canvas.At(x, y);
            if (c.a < 0.9)
                continue;
            if (c.r > 0.6 && c.g < 0.4 && c.b < 0.4)
                (*red)++;
            if (c.g > 0.7 && c.r < 0.4)
                (*green)++;
        }
}

TEST(Artwork, NotConnectedIconCarriesTheBadgeAndNoLight)
{
    for (int size : {16, 32}) {
        int red, green;
        CountSignalColours(DrawScannerIcon(size, false), &red, &green);
        EXPECT_GE(red, size / 2) << size;
        EXPECT_EQ(green, 0) << size;
        CountSignalColours(DrawScannerIcon(size, true), &red, &green);
        EXPECT_EQ(red, 0) << size;
    }
    int red, green;
    CountSignalColours(DrawScannerIcon(32, true), &red, &green);
    EXPECT_GT(green, 0) << "the connected scanner shows its ready light";
}

TEST(Artwork, IconsAreTransparentAroundTheScanner)
{
    for (bool connected : {true, false}) {
        Canvas icon = DrawScannerIcon(32, connected);
        EXPECT_DOUBLE_EQ(icon.At(0, 0).a, 0.0);
        EXPECT_DOUBLE_EQ(icon.At(31, 0).a, 0.0);
        EXPECT_DOUBLE_EQ(icon.At(16, 22).a, 1.0) << "the body is solid";
    }
}

TEST(Artwork, WhiteKeyedPictureIsWhiteOnlyWhereNothingWasDrawn)
{
    Canvas canvas = DrawWarningScanner();
    std::vector<uint8_t> rgb = FlattenForWhiteKey(canvas);
    int keyed = 0;
    for (int y = 0; y < canvas.Height(); y++)
        for (int x = 0; x < canvas.Width(); x++) {
            const uint8_t *p = &rgb[(size_t(y) * canvas.Width() + x) * 3];
            bool white = p[0] == 0xFF && p[1] == 0xFF && p[2] == 0xFF;
            keyed += white;
            // The photo in the scanner is near-white: it must not fall through.
            if (canvas.At(x, y).a >= 0.5) {
                ASSERT_FALSE(white) << x << "," << y;
            }
        }
    EXPECT_EQ(rgb[0], 0xFF) << "corners show the dialog behind";
    EXPECT_GT(keyed, 48 * 48 / 5);
    EXPECT_LT(keyed, 48 * 48 * 4 / 5);
}

TEST(Artwork, EveryFileIsReproducible)
{
    for (const GeneratedFile &file : GeneratedFiles())
        EXPECT_EQ(file.make(), file.make()) << file.name;
}
