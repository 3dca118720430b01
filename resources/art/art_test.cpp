// The picture generator's BMP and ICO files as ImageMagick decodes them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "image_files.h"

using namespace art;

namespace {

// ImageMagick's 8-bit RGBA of `file`, read as `format` ("ico:" and a frame for an icon).
std::vector<uint8_t> Decoded(const std::vector<uint8_t> &file, const std::string &format, const char *frame)
{
    std::string path = testing::TempDir() + "art_test_" + std::to_string(getpid());
    std::vector<uint8_t> rgba;
    FILE *decoder = nullptr;
    if (WriteFileBytes(path, file))
        decoder = popen(("convert '" + format + path + frame + "' -depth 8 rgba:-").c_str(), "r");
    for (int c; decoder && (c = fgetc(decoder)) != EOF;)
        rgba.push_back(uint8_t(c));
    if (decoder)
        pclose(decoder);
    std::remove(path.c_str());
    return rgba;
}

TEST(ImageFiles, ImageMagickDecodesWhatWasWritten)
{
    // Four colours in stripes with one transparent pixel; 5 pixels make a padded BMP row.
    const uint8_t colours[4][3] = {{200, 30, 30}, {30, 200, 30}, {30, 30, 200}, {240, 240, 240}};
    std::vector<uint8_t> icon, masked, picture, pictureRgb;
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++) {
            const uint8_t *c = colours[(x / 4 + y) % 4];
            uint8_t alpha = x == 1 && y == 0 ? 0 : 255;
            icon.insert(icon.end(), {c[0], c[1], c[2], alpha});
            // Sixteen colours keep a few exactly; the mask shows transparent pixels as black.
            for (int i = 0; i < 4; i++)
                masked.push_back(alpha ? icon[icon.size() - 4 + i] : 0);
            if (x < 5 && y < 3) {
                picture.insert(picture.end(), {c[0], c[1], c[2], 255});
                pictureRgb.insert(pictureRgb.end(), c, c + 3);
            }
        }
    std::vector<uint8_t> ico = EncodeIco({{16, 32, icon}, {16, 4, icon}});
    EXPECT_TRUE(Decoded(EncodeBmp24(5, 3, pictureRgb), "bmp:", "") == picture) << "24-bit picture";
    EXPECT_TRUE(Decoded(ico, "ico:", "[0]") == icon) << "32-bit icon";
    EXPECT_TRUE(Decoded(ico, "ico:", "[1]") == masked) << "16-colour icon";
}

} // namespace
