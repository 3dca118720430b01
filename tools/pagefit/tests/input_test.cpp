// What the tool is given: the bitmap's bytes, copied at every depth and
// width or refused when they lie about themselves, and the command line.
#include "bitmap.h"
#include "bitmap_layout.h"
#include "command_line.h"
#include "render.h"
#include "synth.h"

#include <gtest/gtest.h>

namespace {

using namespace bitmap_layout;

TEST(Bitmap, CopiesKeepEveryPixelAndRecomputeThePadding)
{
    for (int bits : {1, 8, 24})
        for (int width : {5, 8, 9, 29, 32, 33}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, width " + std::to_string(width));
            std::vector<uint8_t> px(size_t(width) * 11 * (bits == 24 ? 3 : 1));
            for (size_t i = 0; i < px.size(); i++)
                px[i] = bits == 1 ? ((i * 7 + i / 3) % 5 < 2 ? 0 : 255) : uint8_t(i * 37 + 11);
            std::vector<uint8_t> file = synth::ProductBitmap(width, 11, bits, 600, px);
            pagefit::Bitmap b;
            ASSERT_TRUE(pagefit::ParseBitmap(file.data(), file.size(), &b, nullptr));
            EXPECT_NEAR(b.Dpi(), 600, 0.1);
            // The whole page copies byte for byte: the builder pads rows with
            // zeros, as a copy does, whatever the scanner left there.
            EXPECT_EQ(pagefit::CopyBox(b, 0, 0, width, 11), file);
            int w, h, fw, fh, left = width / 3;
            std::vector<uint8_t> crop = pagefit::CopyBox(b, left, 2, width - left, 6),
                                 whole = synth::LumaOf(file, &fw, &fh);
            std::vector<uint8_t> luma = synth::LumaOf(crop, &w, &h);
            ASSERT_EQ(luma.size(), size_t(width - left) * 6) << "the copy parses as what it is";
            for (size_t i = 0; i < luma.size(); i++)
                ASSERT_EQ(luma[i], whole[(i / w + 2) * fw + i % w + left]) << i;
            // Palette and resolution come from the source header.
            EXPECT_TRUE(std::equal(file.begin() + OFFSET_X_PELS_PER_METRE, file.begin() + b.pixelOffset,
                                   crop.begin() + OFFSET_X_PELS_PER_METRE));
        }
}

// Resized files keep a true size field, so that only the lie named is told.
void Resize(std::vector<uint8_t> &f, size_t size)
{
    f.resize(size);
    WriteLe32(&f[OFFSET_FILE_SIZE], uint32_t(size));
}

const struct Damage {
    const char *name;
    void (*apply)(std::vector<uint8_t> &f);
    const char *reason; // part of the log's explanation
} DAMAGES[] = {
    {"empty", [](std::vector<uint8_t> &f) { f.clear(); }, "shorter than a bitmap header"},
    {"not BM", [](std::vector<uint8_t> &f) { f[0] = 'P'; }, "does not start with BM"},
    {"cut short", [](std::vector<uint8_t> &f) { Resize(f, f.size() - 7); }, "truncated"},
    {"trailing bytes", [](std::vector<uint8_t> &f) { Resize(f, f.size() + 8); }, "after the last row"},
    {"size field lies", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_FILE_SIZE], uint32_t(f.size() + 4)); },
     "header says"},
    {"height lies", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_HEIGHT], 1000000); }, "truncated"},
    {"width lies", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_WIDTH], 0x7fffffff); }, "too large"},
    {"zero width", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_WIDTH], 0); }, "width 0"},
    {"top-down", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_HEIGHT], uint32_t(-40)); }, "not a bottom-up"},
    {"core header", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_INFO_SIZE], 12); }, "information header"},
    {"16 bits", [](std::vector<uint8_t> &f) { WriteLe16(&f[OFFSET_BIT_COUNT], 16); }, "bits per pixel"},
    {"compressed", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_COMPRESSION], 1); }, "compressed"},
    {"two planes", [](std::vector<uint8_t> &f) { WriteLe16(&f[OFFSET_PLANES], 2); }, "planes"},
    {"palette too big", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_COLOURS_USED], 300); }, "colours used"},
    {"pixels inside palette", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_PIXELS], 60); }, "overlaps"},
    {"image size lies", [](std::vector<uint8_t> &f) { WriteLe32(&f[OFFSET_IMAGE_SIZE], 12); }, "image size"},
};

TEST(Bitmap, EveryLieIsRefusedWithItsReason)
{
    for (const Damage &d : DAMAGES) {
        std::vector<uint8_t> file = synth::ProductBitmap(40, 40, 8, 300, std::vector<uint8_t>(1600, 128));
        d.apply(file);
        pagefit::Bitmap b;
        std::string why;
        EXPECT_FALSE(pagefit::ParseBitmap(file.data(), file.size(), &b, &why)) << d.name;
        EXPECT_NE(why.find(d.reason), std::string::npos) << d.name << ": " << why;
    }
}

// The program the test pretends to be; the real check also knows its short
// name and its name without the extension.
bool IsInstalledProgram(const std::string &candidate, void *)
{
    return candidate == "C:\\Program Files\\Velmora\\Pagefit.exe";
}

TEST(CommandLine, BitmapPathIsEverythingAfterTheProgram)
{
    const struct {
        const char *commandLine, *bitmap;
    } cases[] = {
        // A bitmap folder that itself starts like the program's path.
        {"C:\\Program Files\\Velmora\\Pagefit.exe C:\\Program Files\\Velmora\\Pagefit.exe.Bmp",
         "C:\\Program Files\\Velmora\\Pagefit.exe.Bmp"},
        {"\"C:\\Program Files\\Velmora\\Pagefit.exe\"C:\\Temp\\a b.Bmp", "C:\\Temp\\a b.Bmp"},
        {"\"C:\\Program Files\\Velmora\\Pagefit.exe", ""},
        // Only a pair wraps: a lone mark stays for the open to refuse.
        {"C:\\Program Files\\Velmora\\Pagefit.exe \"C:\\Temp\\a.Bmp", "\"C:\\Temp\\a.Bmp"},
        {"C:\\Program Files\\Velmora\\Pagefit.exe \"", "\""},
        // Blanks around the path are not part of it; blanks inside are.
        {"  C:\\Program Files\\Velmora\\Pagefit.exe \t C:\\Temp\\two  blanks.Bmp \t", "C:\\Temp\\two  blanks.Bmp"},
        // An unknown program's path: the first ".exe" ends it, else the first word.
        {"D:\\Other Place\\Pagefit.EXE C:\\Temp\\a b.Bmp", "C:\\Temp\\a b.Bmp"},
        {"pagefit C:\\Temp\\a b.Bmp", "C:\\Temp\\a b.Bmp"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(pagefit::BitmapPathFromCommandLine(c.commandLine, IsInstalledProgram, nullptr), c.bitmap)
            << c.commandLine;
}

} // namespace
