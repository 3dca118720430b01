// The tone pass on real bitmap files under Wine: the reduction checked
// against ImageMagick's own threshold on the Linux side, the header and the
// cut size read back from disk, and damaged files left byte for byte.
#include <windows.h>
#include <gtest/gtest.h>

#include "test_support.h"
#include "tone.h"
#include "tone_test_bitmaps.h"

using namespace bitmap_layout;
using namespace tonetest;
using testsupport::UnixPath;

namespace {

class ToneFileTest : public ::testing::Test {
protected:
    void SetUp() override { folder_ = testsupport::MakeScratchFolder("tone"); }
    void TearDown() override { testsupport::RemoveTree(folder_); }

    // Writes `bytes`, runs the post-processing a cropped grey scan wanted as
    // line art gets, and reads the file back.
    std::string Process(const std::string &bytes, int16_t brightness, int16_t contrast, uint16_t gamma,
                        const char *name = "work.bmp")
    {
        std::string path = folder_ + "\\" + name, after;
        EXPECT_TRUE(testsupport::WriteWholeFile(path, bytes));
        ScanJobSettings s = {};
        s.AutoCrop = 1;
        s.AcquireType = SCAN_TYPE_GREY;
        s.OutputType = SCAN_TYPE_LINE_ART;
        s.Brightness = brightness;
        s.Contrast = contrast;
        s.Gamma = gamma;
        EXPECT_EQ(PostProcessBitmap(s, path.c_str()), 1);
        EXPECT_TRUE(testsupport::ReadWholeFile(path, &after));
        return after;
    }

    std::string folder_;
};

// Gradients, texture and every level near the threshold, over three
// progress steps of rows.
std::string GreyPage(uint32_t width, uint32_t height)
{
    return MakeBitmap(width, height, 8, [=](uint32_t r, uint32_t b) {
        return (b * 255 / width + r * 97 % 64 + ((r * 2654435761u ^ b * 40503u) >> 28)) & 255;
    });
}

TEST_F(ToneFileTest, GreyPageReducedToOneBitMatchesImageMagicksThreshold)
{
    struct Case {
        int16_t contrast;
        const char *threshold; // the same cut in ImageMagick's terms
    } cases[] = {{0, "50%"}, {127, "50.35%"}}; // white from 128; from 129 behind the hard contrast
    for (const Case &c : cases) {
        std::string page = GreyPage(301, 250);
        ASSERT_TRUE(testsupport::WriteWholeFile(folder_ + "\\original.bmp", page));
        std::string after = Process(page, 0, c.contrast, 100);
        const uint32_t rowBytes = 40; // 301 bits in whole 32-bit words
        ASSERT_EQ(after.size(), 62u + rowBytes * 250) << "not cut to its 1-bit size";
        const uint8_t *h = Bytes(after);
        EXPECT_EQ(ReadLe32(h + OFFSET_FILE_SIZE), after.size());
        EXPECT_EQ(ReadLe32(h + OFFSET_PIXELS), 62u);
        EXPECT_EQ(ReadLe32(h + OFFSET_IMAGE_SIZE), rowBytes * 250);
        EXPECT_EQ(ReadLe32(h + OFFSET_COLOURS_USED), 2u);
        EXPECT_EQ(ReadLe32(h + OFFSET_X_PELS_PER_METRE), 11811u);

        std::string folder = UnixPath(folder_), report;
        testsupport::RunHostShell("cd '" + folder + "' && identify -format '%w %h %z %r|' work.bmp && "
                                  "convert original.bmp -threshold " + c.threshold + " reference.png && "
                                  "compare -metric AE reference.png work.bmp null: 2>&1", &report);
        EXPECT_EQ(report, "301 250 1 PseudoClass Gray |0") << "contrast " << c.contrast;
    }
}

const uint32_t CUT = ~0u, APPEND = ~1u;

struct Damage {
    const char *what;
    uint32_t offset; // CUT: cut the file to `value` bytes; APPEND: add `value` bytes
    uint32_t value;
    int size;
};

const Damage DAMAGES[] = {
    {"rows missing", CUT, 1078 + 40 * 100, 0},  {"one byte short", CUT, 1078 + 40 * 150 - 1, 0},
    {"no rows at all", CUT, 1078, 0},           {"57 bytes", CUT, 57, 0},
    {"empty", CUT, 0, 0},                       {"not BM", 0, 'M' | 'B' << 8, 2},
    {"rows longer than the width", OFFSET_WIDTH, 20, 4}, {"bytes after the rows", APPEND, 40, 0},
    {"stale file size", OFFSET_FILE_SIZE, 1078 + 40 * 100, 4}, {"stale image size", OFFSET_IMAGE_SIZE, 40 * 100, 4},
    {"width too large", OFFSET_WIDTH, 4000, 4}, {"width beyond 16 bits", OFFSET_WIDTH, 0x10000 + 40, 4},
    {"height too large", OFFSET_HEIGHT, 151, 4}, {"height beyond 16 bits", OFFSET_HEIGHT, 0x10000 + 150, 4},
    {"top-down", OFFSET_HEIGHT, uint32_t(-150), 4}, {"1 bit", OFFSET_BIT_COUNT, 1, 2},
    {"32 bits", OFFSET_BIT_COUNT, 32, 2},       {"24 bits over grey rows", OFFSET_BIT_COUNT, 24, 2},
    {"compressed", OFFSET_COMPRESSION, 1, 4},   {"short palette", OFFSET_PIXELS, 54 + 64, 4},
};

TEST_F(ToneFileTest, DamagedBitmapsAreLeftByteForByte)
{
    for (const Damage &d : DAMAGES) {
        std::string bytes = GreyPage(40, 150);
        if (d.offset == CUT || d.offset == APPEND)
            bytes.resize(d.offset == CUT ? d.value : bytes.size() + d.value, '\x55');
        else if (d.size == 2)
            WriteLe16(Bytes(bytes) + d.offset, uint16_t(d.value));
        else
            WriteLe32(Bytes(bytes) + d.offset, d.value);
        EXPECT_TRUE(Process(bytes, 30, 50, 180) == bytes) << d.what; // the most the pass could write
    }
}

TEST_F(ToneFileTest, PassRefusesWhatItCannotOpenOrWhatDisagreesWithTheFile)
{
    std::string path = folder_ + "\\page.bmp", bytes = GreyPage(40, 150), after;
    ASSERT_TRUE(testsupport::WriteWholeFile(path, bytes));
    BuildToneTable(0, 127, 100);
    struct Case {
        uint16_t width, height;
        bool is24Bit;
    } cases[] = {{41, 150, false}, {40, 151, false}, {40, 150, true}, {4000, 150, false}};
    for (const Case &c : cases)
        EXPECT_EQ(ApplyToneToBitmap(SCAN_TYPE_LINE_ART, path.c_str(), c.width, c.height, c.is24Bit, true), 0) << c.width;
    // Another program holding the file without sharing it for writing.
    HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(ApplyToneToBitmap(SCAN_TYPE_LINE_ART, path.c_str(), 40, 150, false, true), 0);
    CloseHandle(holder);
    EXPECT_EQ(ApplyToneToBitmap(SCAN_TYPE_LINE_ART, (path + ".gone").c_str(), 40, 150, false, true), 0);
    ASSERT_TRUE(testsupport::ReadWholeFile(path, &after));
    EXPECT_TRUE(after == bytes);
}

TEST_F(ToneFileTest, BitmapInfoReadsTheLow16BitsOfAtLeast58Bytes)
{
    std::string grey = GreyPage(40, 150), wide = grey, notBitmap = grey;
    WriteLe32(Bytes(wide) + OFFSET_WIDTH, 0x20000 + 40);
    notBitmap[1] = 'A';
    struct Case {
        std::string bytes;
        bool ok;
        uint16_t width, height;
        bool is24Bit;
    } cases[] = {
        {grey.substr(0, 58), true, 40, 150, false}, {wide, true, 40, 150, false},
        {MakeBitmap(9, 3, 24, [](uint32_t, uint32_t) { return 0; }), true, 9, 3, true},
        {grey.substr(0, 57), false, 0, 0, false},   {notBitmap, false, 0, 0, false},
    };
    for (const Case &c : cases) {
        std::string path = folder_ + "\\info.bmp";
        ASSERT_TRUE(testsupport::WriteWholeFile(path, c.bytes));
        uint16_t width = 0, height = 0;
        bool is24Bit = false;
        EXPECT_EQ(ReadBitmapInfo(path.c_str(), &width, &height, &is24Bit), c.ok) << c.bytes.size();
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
        EXPECT_EQ(is24Bit, c.is24Bit);
    }
}

} // namespace
