// What the tool is given: the bitmap's bytes, refused when they lie about
// themselves, and the command line.
#include "bitmap.h"
#include "bitmap_layout.h"
#include "command_line.h"
#include "synth.h"

#include <gtest/gtest.h>

namespace {

using namespace bitmap_layout;

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
        std::vector<uint8_t> file = synth::ProductBitmap(40, 40, 8, 600, std::vector<uint8_t>(1600, 128));
        pagefit::Bitmap b;
        std::string why;
        ASSERT_TRUE(pagefit::ParseBitmap(file.data(), file.size(), &b, &why)) << why;
        EXPECT_NEAR(b.Dpi(), 600, 0.1);
        d.apply(file);
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
        {"C:\\Program Files\\Velmora\\Pagefit.exe \"C:\\Temp\\a b.Bmp\" ", "C:\\Temp\\a b.Bmp"},
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
