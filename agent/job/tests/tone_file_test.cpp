// The tone pass on real bitmap files under Wine: the reduction checked
// against ImageMagick's own threshold on the Linux side, header fields and
// the cut size read back from disk, and damaged files left byte for byte.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"
#include "tone.h"
#include "tone_test_bitmaps.h"

using namespace bitmap_layout;
using namespace tonetest;
using testsupport::ReadWholeFile;
using testsupport::RunHostShell;
using testsupport::UnixPath;
using testsupport::WriteWholeFile;

namespace {

class ToneFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = testsupport::MakeScratchFolder("tone");
        ASSERT_FALSE(folder_.empty());
    }
    void TearDown() override { testsupport::RemoveTree(folder_); }

    std::string Path(const char *name) const { return folder_ + "\\" + name; }

    std::string folder_;
};

ScanJobSettings CroppedScan(uint16_t acquireType, uint16_t outputType, int16_t brightness = 0,
                            int16_t contrast = 0, uint16_t gamma = 100)
{
    ScanJobSettings s = {};
    s.AutoCrop = 1;
    s.AcquireType = acquireType;
    s.OutputType = outputType;
    s.Brightness = brightness;
    s.Contrast = contrast;
    s.Gamma = gamma;
    return s;
}

// A scanned photo's worth of structure: gradients, texture and every grey
// level near the threshold, over more than one progress step of rows.
std::string GreyPage(uint32_t width, uint32_t height)
{
    return MakeBitmap(width, height, 8, [=](uint32_t r, uint32_t b) {
        uint32_t noise = (r * 2654435761u ^ b * 40503u) >> 28;
        return (b * 255 / width + r * 97 % 64 + noise) & 255;
    });
}

// Pixels that differ between the reduced file and ImageMagick's threshold of
// the original at `percent`, counted on the Linux side; -1 when ImageMagick
// could not compare them.
long DifferingPixels(const std::string &original, const std::string &reduced, const char *percent)
{
    std::string script = "cd '" + UnixPath(original.substr(0, original.rfind('\\'))) + "' && " +
                         "convert '" + UnixPath(original) + "' -threshold " + percent + " reference.png && " +
                         "compare -metric AE reference.png '" + UnixPath(reduced) + "' null: 2>&1";
    std::string output;
    int code = RunHostShell(script, &output);
    if (code != 0 && code != 1)
        return -1;
    return strtol(output.c_str(), nullptr, 10);
}

std::string IdentifyOnLinux(const std::string &path)
{
    std::string output;
    RunHostShell("identify -format '%w %h %z %r' '" + UnixPath(path) + "'", &output);
    return output;
}

TEST_F(ToneFileTest, GreyPageReducedToOneBitMatchesAnIndependentThreshold)
{
    struct Case {
        int16_t contrast;
        const char *imageMagickThreshold; // the same cut, in ImageMagick's terms
    } cases[] = {
        {0, "50%"},       // 128 and above are white
        {127, "50.35%"},  // the hard contrast makes 129 the first white level
    };
    for (const Case &c : cases) {
        std::string original = Path("original.bmp"), work = Path("work.bmp");
        std::string page = GreyPage(301, 250);
        ASSERT_TRUE(WriteWholeFile(original, page));
        ASSERT_TRUE(WriteWholeFile(work, page));

        EXPECT_EQ(PostProcessBitmap(CroppedScan(SCAN_TYPE_GREY, SCAN_TYPE_LINE_ART, 0, c.contrast), work.c_str()), 1);

        std::string after;
        ASSERT_TRUE(ReadWholeFile(work, &after));
        const uint32_t rowBytes = 40; // 301 bits in whole 32-bit words
        ASSERT_EQ(after.size(), 62u + rowBytes * 250) << "file not cut to its 1-bit size, contrast " << c.contrast;
        const uint8_t *h = Bytes(after);
        EXPECT_EQ(ReadLe32(h + OFFSET_FILE_SIZE), after.size());
        EXPECT_EQ(ReadLe32(h + OFFSET_PIXELS), 62u);
        EXPECT_EQ(ReadLe16(h + OFFSET_BIT_COUNT), 1);
        EXPECT_EQ(ReadLe32(h + OFFSET_IMAGE_SIZE), rowBytes * 250);
        EXPECT_EQ(ReadLe32(h + OFFSET_WIDTH), 301u);
        EXPECT_EQ(ReadLe32(h + OFFSET_HEIGHT), 250u);
        EXPECT_EQ(ReadLe32(h + OFFSET_X_PELS_PER_METRE), 11811u);

        EXPECT_EQ(IdentifyOnLinux(work), "301 250 1 PseudoClass Gray ") << "contrast " << c.contrast;
        EXPECT_EQ(DifferingPixels(original, work, c.imageMagickThreshold), 0) << "contrast " << c.contrast;
    }
}

TEST_F(ToneFileTest, ToneAppliedToColourAndGreyInPlace)
{
    uint8_t table[256];
    BuildToneCurve(-20, 40, 150, table);
    for (int bits : {8, 24}) {
        std::string work = Path("tone.bmp");
        std::string before = MakeBitmap(7, 130, bits, [](uint32_t r, uint32_t b) { return r * 3 + b * 17; });
        ASSERT_TRUE(WriteWholeFile(work, before));
        EXPECT_EQ(PostProcessBitmap(CroppedScan(bits == 24 ? SCAN_TYPE_COLOUR : SCAN_TYPE_GREY,
                                                bits == 24 ? SCAN_TYPE_COLOUR : SCAN_TYPE_GREY, -20, 40, 150),
                                    work.c_str()),
                  1);
        std::string after;
        ASSERT_TRUE(ReadWholeFile(work, &after));
        ASSERT_EQ(after.size(), before.size()) << bits;
        uint32_t offset = ReadLe32(Bytes(before) + OFFSET_PIXELS);
        EXPECT_EQ(after.substr(0, offset), before.substr(0, offset)) << "header or palette changed, " << bits;
        uint32_t samples = bits == 24 ? 21 : 7, row = bits == 24 ? 24 : 8;
        int wrong = 0;
        for (size_t at = offset; at < before.size(); ++at) {
            uint32_t column = uint32_t((at - offset) % row);
            uint8_t want = column < samples ? table[uint8_t(before[at])] : uint8_t(before[at]);
            wrong += uint8_t(after[at]) != want;
        }
        EXPECT_EQ(wrong, 0) << "bytes not mapped as the table says, " << bits << " bits";
    }
}

TEST_F(ToneFileTest, NeutralGreyPageStaysAsItIs)
{
    std::string work = Path("neutral.bmp");
    std::string before = GreyPage(64, 120);
    ASSERT_TRUE(WriteWholeFile(work, before));
    EXPECT_EQ(PostProcessBitmap(CroppedScan(SCAN_TYPE_GREY, SCAN_TYPE_GREY), work.c_str()), 1);
    std::string after;
    ASSERT_TRUE(ReadWholeFile(work, &after));
    EXPECT_TRUE(after == before);
}

struct Damage {
    const char *what;
    uint32_t offset; // ~0u: cut the file to `value` bytes instead
    uint32_t value;
    int size;
};

const Damage DAMAGES[] = {
    {"truncated pixel rows", ~0u, 1078 + 40 * 100, 0},
    {"one byte short", ~0u, 1078 + 40 * 150 - 1, 0},
    {"only headers and palette", ~0u, 1078, 0},
    {"width larger than the rows", OFFSET_WIDTH, 4000, 4},
    {"width with high bits", OFFSET_WIDTH, 0x10000 + 40, 4},
    {"height larger than the rows", OFFSET_HEIGHT, 151, 4},
    {"height with high bits", OFFSET_HEIGHT, 0x10000 + 150, 4},
    {"top-down height", OFFSET_HEIGHT, uint32_t(-150), 4},
    {"1 bit per pixel", OFFSET_BIT_COUNT, 1, 2},
    {"32 bits per pixel", OFFSET_BIT_COUNT, 32, 2},
    {"24 bits per pixel over grey rows", OFFSET_BIT_COUNT, 24, 2},
    {"run-length compressed", OFFSET_COMPRESSION, 1, 4},
    {"pixels after a short palette", OFFSET_PIXELS, 54 + 64, 4},
    {"not BM", 0, 'M' | 'B' << 8, 2},
    {"57 bytes", ~0u, 57, 0},
    {"empty", ~0u, 0, 0},
};

TEST_F(ToneFileTest, DamagedBitmapsAreLeftByteForByte)
{
    for (const Damage &d : DAMAGES) {
        std::string bytes = GreyPage(40, 150);
        if (d.offset == ~0u)
            bytes.resize(d.value);
        else if (d.size == 2)
            WriteLe16(Bytes(bytes) + d.offset, uint16_t(d.value));
        else
            WriteLe32(Bytes(bytes) + d.offset, d.value);
        std::string work = Path("damaged.bmp");
        ASSERT_TRUE(WriteWholeFile(work, bytes));
        // Tone and reduction both asked: the most the pass could ever write.
        EXPECT_EQ(PostProcessBitmap(CroppedScan(SCAN_TYPE_GREY, SCAN_TYPE_LINE_ART, 30, 50, 180), work.c_str()), 1)
            << d.what;
        std::string after;
        ASSERT_TRUE(ReadWholeFile(work, &after));
        EXPECT_TRUE(after == bytes) << d.what;
    }
}

TEST_F(ToneFileTest, PassRefusesSizesThatDisagreeWithTheFile)
{
    std::string work = Path("page.bmp");
    std::string bytes = GreyPage(40, 150);
    ASSERT_TRUE(WriteWholeFile(work, bytes));
    BuildToneTable(0, 127, 100);
    struct Case {
        uint16_t width, height;
        bool is24Bit;
    } cases[] = {{41, 150, false}, {40, 151, false}, {40, 150, true}, {4000, 150, false}};
    for (const Case &c : cases)
        EXPECT_EQ(ApplyToneToBitmap(SCAN_TYPE_LINE_ART, work.c_str(), c.width, c.height, c.is24Bit, true), 0)
            << c.width << "x" << c.height << (c.is24Bit ? " colour" : " grey");
    std::string after;
    ASSERT_TRUE(ReadWholeFile(work, &after));
    EXPECT_TRUE(after == bytes);
    EXPECT_EQ(ApplyToneToBitmap(SCAN_TYPE_LINE_ART, work.c_str(), 40, 150, false, true), 1);
}

TEST_F(ToneFileTest, FileThatCannotBeOpenedForWritingIsLeftAlone)
{
    std::string work = Path("busy.bmp");
    std::string bytes = GreyPage(16, 20);
    ASSERT_TRUE(WriteWholeFile(work, bytes));
    // Another program holding the file without sharing it for writing.
    HANDLE holder = CreateFileA(work.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ApplyToneToBitmap(SCAN_TYPE_LINE_ART, work.c_str(), 16, 20, false, false), 0);
    CloseHandle(holder);
    EXPECT_EQ(ApplyToneToBitmap(SCAN_TYPE_LINE_ART, (work + ".missing").c_str(), 16, 20, false, false), 0);
    std::string after;
    ASSERT_TRUE(ReadWholeFile(work, &after));
    EXPECT_TRUE(after == bytes);
}

TEST_F(ToneFileTest, BitmapInfoReadsTheLow16BitsOfAtLeast58Bytes)
{
    struct Case {
        const char *what;
        std::string bytes;
        bool ok;
        uint16_t width, height;
        bool is24Bit;
    };
    std::string grey = GreyPage(40, 150);
    std::string colour = MakeBitmap(9, 3, 24, [](uint32_t, uint32_t) { return 0; });
    std::string wide = grey;
    WriteLe32(Bytes(wide) + OFFSET_WIDTH, 0x20000 + 40);
    std::string notBitmap = grey;
    notBitmap[1] = 'A';
    const Case cases[] = {
        {"grey", grey, true, 40, 150, false},
        {"colour", colour, true, 9, 3, true},
        {"58 bytes are enough", grey.substr(0, 58), true, 40, 150, false},
        {"high bits of the width", wide, true, 40, 150, false},
        {"57 bytes", grey.substr(0, 57), false, 0, 0, false},
        {"BA", notBitmap, false, 0, 0, false},
    };
    for (const Case &c : cases) {
        std::string path = Path("info.bmp");
        ASSERT_TRUE(WriteWholeFile(path, c.bytes));
        uint16_t width = 0, height = 0;
        bool is24Bit = false;
        ASSERT_EQ(ReadBitmapInfo(path.c_str(), &width, &height, &is24Bit), c.ok) << c.what;
        if (!c.ok)
            continue;
        EXPECT_EQ(width, c.width) << c.what;
        EXPECT_EQ(height, c.height) << c.what;
        EXPECT_EQ(is24Bit, c.is24Bit) << c.what;
    }
    uint16_t width, height;
    bool is24Bit;
    EXPECT_FALSE(ReadBitmapInfo(Path("missing.bmp").c_str(), &width, &height, &is24Bit));
}

} // namespace
