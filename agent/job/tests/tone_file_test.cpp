// The tone pass on real bitmap files under Wine: the reduction checked
// against ImageMagick's own threshold on the Linux side, and damaged files
// left byte for byte.
#include <windows.h>
#include <gtest/gtest.h>

#include "test_support.h"
#include "tone.h"
#include "tone_test_bitmaps.h"

using namespace bitmap_layout;
using namespace tonetest;

namespace {

class ToneFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = testsupport::MakeScratchFolder("tone");
    }
    void TearDown() override
    {
        testsupport::RemoveTree(folder_);
    }

    // Writes `bytes` as work.bmp, runs the post-processing of a cropped grey
    // scan wanted as line art, and reads the file back.
    std::string Process(const std::string &bytes, int16_t contrast, uint16_t gamma)
    {
        std::string path = folder_ + "\\work.bmp", after;
        EXPECT_TRUE(testsupport::WriteWholeFile(path, bytes));
        ScanJobSettings s = {};
        s.AutoCrop = 1, s.AcquireType = SCAN_TYPE_GREY, s.OutputType = SCAN_TYPE_LINE_ART;
        s.Contrast = contrast, s.Gamma = gamma;
        EXPECT_EQ(PostProcessBitmap(s, path.c_str()), 1);
        EXPECT_TRUE(testsupport::ReadWholeFile(path, &after));
        return after;
    }

    std::string folder_;
};

// Gradients, texture and every level near the threshold.
std::string GreyPage(uint32_t width, uint32_t height)
{
    return MakeBitmap(width, height, 8, [=](uint32_t r, uint32_t b) {
        return (b * 255 / width + r * 97 % 64 + ((r * 2654435761u ^ b * 40503u) >> 28)) & 255;
    });
}

// Widths that leave unused bits and padding in the last byte of a row, and
// rows so long that each output row overlaps the input row it comes from.
TEST_F(ToneFileTest, GreyPageReducedToOneBitMatchesImageMagicksThreshold)
{
    struct Case {
        uint32_t width, height, contrast, gamma;
        const char *threshold; // the same cut in ImageMagick's terms
    } cases[] = {{301, 250, 0, 100, "50%"},
                 {301, 250, 127, 100, "50.35%"},
                 {61, 9, 0, 200, "25.3%"},  // white from
                 {9000, 5, 0, 100, "50%"}}; // 128, 129, 65
    for (const Case &c : cases) {
        std::string page = GreyPage(c.width, c.height);
        ASSERT_TRUE(testsupport::WriteWholeFile(folder_ + "\\original.bmp", page));
        std::string after = Process(page, int16_t(c.contrast), uint16_t(c.gamma)), report;
        EXPECT_EQ(ReadLe32(Bytes(after) + OFFSET_FILE_SIZE), after.size());
        testsupport::RunHostShell("cd '" + testsupport::UnixPath(folder_) +
                                      "' && identify -format '%w %h %z %r|' "
                                      "work.bmp && convert original.bmp -threshold " +
                                      c.threshold +
                                      " reference.png && "
                                      "compare -metric AE reference.png work.bmp null: 2>&1",
                                  &report);
        EXPECT_EQ(report, std::to_string(c.width) + " " + std::to_string(c.height) + " 1 PseudoClass Gray |0")
            << c.width << " " << c.contrast << " " << c.gamma;
    }
}

// A file the pass cannot handle is left as it was; its first 58 bytes are
// all the agent reads before the pass decides.
TEST_F(ToneFileTest, DamagedBitmapsAreLeftByteForByte)
{
    const uint32_t CUT = ~0u, APPEND = ~1u; // cut the file to `value` bytes; add `value` bytes
    struct Damage {
        const char *what;
        uint32_t offset, value, size;
    } const damages[] = {
        {"one byte short", CUT, 1078 + 40 * 150 - 1, 0},
        {"58 bytes", CUT, 58, 0},
        {"57 bytes", CUT, 57, 0},
        {"not BM", 0, 'M' | 'B' << 8, 2},
        {"bytes after the rows", APPEND, 40, 0},
        {"stale file size", OFFSET_FILE_SIZE, 1078 + 40 * 100, 4},
        {"stale image size", OFFSET_IMAGE_SIZE, 40 * 100, 4},
        {"rows longer than the width", OFFSET_WIDTH, 20, 4},
        {"width beyond 16 bits", OFFSET_WIDTH, 0x10000 + 40, 4},
        {"height too large", OFFSET_HEIGHT, 151, 4},
        {"top-down", OFFSET_HEIGHT, uint32_t(-150), 4},
        {"32 bits", OFFSET_BIT_COUNT, 32, 2},
        {"24 bits over grey rows", OFFSET_BIT_COUNT, 24, 2},
        {"compressed", OFFSET_COMPRESSION, 1, 4},
        {"short palette", OFFSET_PIXELS, 54 + 64, 4},
    };
    for (const Damage &d : damages) {
        std::string bytes = GreyPage(40, 150);
        if (d.offset == CUT || d.offset == APPEND)
            bytes.resize(d.offset == CUT ? d.value : bytes.size() + d.value, '\x55');
        else if (d.size == 2)
            WriteLe16(Bytes(bytes) + d.offset, uint16_t(d.value));
        else
            WriteLe32(Bytes(bytes) + d.offset, d.value);
        EXPECT_TRUE(Process(bytes, 50, 180) == bytes) << d.what;
        uint16_t width, height;
        bool is24Bit;
        EXPECT_EQ(ReadBitmapInfo((folder_ + "\\work.bmp").c_str(), &width, &height, &is24Bit),
                  bytes.size() >= 58 && d.offset != 0)
            << d.what;
    }
}

} // namespace
