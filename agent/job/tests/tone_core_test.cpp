// The tone table, the header checks and the row passes, on in-memory bitmaps.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tone_core.h"
#include "tone_test_bitmaps.h"

using namespace bitmap_layout;
using namespace tonetest;

namespace {

struct TableCase {
    int16_t brightness, contrast;
    uint16_t gamma;
    int first, last; // entries first..last all hold `expected`
    int expected;
};

const TableCase TABLE_CASES[] = {
    // Gamma 200 splits the middle: nothing lands on 128.
    {0, 0, 200, 1, 1, 15},
    {0, 0, 200, 64, 64, 127},
    {0, 0, 200, 65, 65, 129},
    {0, 0, 200, 254, 254, 254},
    {0, 0, 200, 255, 255, 255},
    // Brightness offsets are 2b+1 / 2b-1; contrast 0 then takes one off
    // entries up to 128 without going below entry 0.
    {10, 0, 100, 0, 1, 21},
    {10, 0, 100, 2, 2, 22},
    {127, 0, 100, 0, 255, 255},
    {-127, 0, 100, 0, 255, 0},
    {-10, 0, 100, 0, 10, 0},
    {-10, 0, 100, 23, 23, 1},
    {-10, 0, 100, 255, 255, 234},
    // Contrast 0 on its own: a defined, slightly darker result.
    {0, 0, 100, 0, 1, 0},
    {0, 0, 100, 128, 128, 127},
    {0, 0, 100, 129, 129, 129},
    {0, 0, 100, 255, 255, 255},
    // Hard threshold and flat table.
    {0, 127, 100, 0, 128, 0},
    {0, 127, 100, 129, 255, 255},
    {0, -127, 100, 0, 255, 128},
    // Stretch around 128.
    {0, 64, 100, 0, 65, 0},
    {0, 64, 100, 66, 66, 2},
    {0, 64, 100, 128, 128, 127},
    {0, 64, 100, 129, 129, 130},
    {0, 64, 100, 191, 255, 255},
    // Compression toward 128.
    {0, -64, 100, 0, 0, 64},
    {0, -64, 100, 255, 255, 191},
    // Entries that only come out this way with the slope steps rounded to
    // single precision as the table defines them (k and kf for stretching,
    // the unrounded k for compressing).
    {0, 23, 100, 76, 76, 64},
    {0, 23, 100, 180, 180, 192},
    {0, 1, 100, 65, 65, 63},
    {0, 1, 100, 191, 191, 191},
    {0, -105, 100, 65, 65, 117},
    // Out of the documented range: beyond +127 behaves as a threshold, and
    // nothing wraps round inside a byte.
    {0, 200, 100, 0, 128, 0},
    {0, 200, 100, 129, 255, 255},
    {0, -32768, 100, 0, 255, 255},
    {0, 0, 0, 1, 254, 0},
};

TEST(ToneTable, EntriesForKnownSettings)
{
    for (const TableCase &c : TABLE_CASES) {
        uint8_t table[256];
        BuildToneCurve(c.brightness, c.contrast, c.gamma, table);
        for (int i = c.first; i <= c.last; ++i)
            EXPECT_EQ(table[i], c.expected) << "brightness " << c.brightness << " contrast " << c.contrast
                                           << " gamma " << c.gamma << " entry " << i;
    }
}

TEST(ToneTable, GammaTwoHundredSkipsTheMiddleAndStaysMonotonic)
{
    BuildToneTable(0, 0, 200);
    for (int i = 0; i < 256; ++i) {
        EXPECT_NE(ToneTable[i], 128) << i;
        if (i)
            EXPECT_GE(ToneTable[i], ToneTable[i - 1]) << i;
    }
}

TEST(ToneTable, NeutralSettingsNeedNoTable)
{
    struct Case {
        int16_t brightness, contrast;
        uint16_t gamma;
        bool neutral;
    } cases[] = {{0, 0, 100, true}, {1, 0, 100, false}, {0, -1, 100, false}, {0, 0, 99, false}};
    for (const Case &c : cases)
        EXPECT_EQ(ToneIsNeutral(c.brightness, c.contrast, c.gamma), c.neutral) << c.brightness << c.contrast << c.gamma;
}

TEST(ToneTable, PostProcessingRunsOnlyForCroppedPagesThatNeedIt)
{
    struct Case {
        uint32_t autoCrop;
        uint16_t acquire, output;
        int16_t brightness;
        uint16_t gamma;
        bool wanted;
    } cases[] = {
        {1, 2, 2, 0, 100, false}, // grey kept grey, neutral tone
        {1, 3, 3, 0, 100, false},
        {1, 2, 0, 0, 100, true},  // grey wanted as line art: the reduction alone
        {1, 3, 3, 5, 100, true},
        {1, 2, 2, 0, 150, true},
        {0, 2, 0, 5, 150, false}, // without cropping the device applied it all
        {1, 0, 0, 0, 100, false},
    };
    for (const Case &c : cases) {
        ScanJobSettings s = {};
        s.AutoCrop = c.autoCrop;
        s.AcquireType = c.acquire;
        s.OutputType = c.output;
        s.Brightness = c.brightness;
        s.Gamma = c.gamma;
        EXPECT_EQ(PostProcessingWanted(s), c.wanted)
            << "crop " << c.autoCrop << " types " << c.acquire << "/" << c.output << " gamma " << c.gamma;
    }
}

// Each bit of a reduced row against the threshold applied to the original
// sample: an independent reading of what the pass must produce.
void ExpectReducedRows(const std::string &before, const std::string &after, const uint8_t *table, int line)
{
    uint32_t width = ReadLe32(Bytes(before) + OFFSET_WIDTH), height = ReadLe32(Bytes(before) + OFFSET_HEIGHT);
    uint32_t inRow = (width + 3) / 4 * 4, outRow = ((width + 7) / 8 + 3) / 4 * 4;
    ASSERT_EQ(after.size(), LINE_ART_HEADER_BYTES + size_t(outRow) * height) << "line " << line;
    int wrong = 0;
    for (uint32_t r = 0; r < height; ++r) {
        const uint8_t *in = Bytes(before) + GREY_HEADER_BYTES + size_t(r) * inRow;
        const uint8_t *out = Bytes(after) + LINE_ART_HEADER_BYTES + size_t(r) * outRow;
        for (uint32_t x = 0; x < outRow * 8; ++x) {
            int bit = (out[x / 8] >> (7 - x % 8)) & 1;
            int want = x < width ? ((table ? table[in[x]] : in[x]) >= 128) : 0;
            if (bit != want && ++wrong < 5)
                ADD_FAILURE() << "line " << line << ": row " << r << " bit " << x << " is " << bit;
        }
    }
    EXPECT_EQ(wrong, 0) << "line " << line;
}

std::string RunWholePass(std::string file, bool applyTable, bool reduce, const uint8_t *table, TonePassPlan *out = nullptr)
{
    const uint8_t *h = Bytes(file);
    TonePassPlan plan;
    TonePlanResult result = PlanTonePass(h, file.size(), file.size(), uint16_t(ReadLe32(h + OFFSET_WIDTH)),
                                         uint16_t(ReadLe32(h + OFFSET_HEIGHT)), ReadLe16(h + OFFSET_BIT_COUNT) == 24,
                                         applyTable, reduce, &plan);
    EXPECT_EQ(result, TONE_PLAN_OK);
    if (result != TONE_PLAN_OK)
        return file;
    if (plan.reduceToLineArt)
        WriteLineArtHeader(Bytes(file), plan);
    // In uneven slices, as the progress steps cut it.
    for (uint32_t r = 0; r < plan.height; r += 7)
        RunToneRows(Bytes(file), plan, table, r, 7);
    file.resize(size_t(plan.finalFileSize));
    if (out)
        *out = plan;
    return file;
}

TEST(TonePass, GreyPageTenWideReducedToOneBit)
{
    std::string before = MakeGreyRamp(10, 9);
    TonePassPlan plan;
    std::string after = RunWholePass(before, false, true, nullptr, &plan);
    const uint8_t *h = Bytes(after);
    EXPECT_EQ(plan.outputRowBytes, 4u);
    EXPECT_EQ(ReadLe32(h + OFFSET_FILE_SIZE), 62u + 4 * 9);
    EXPECT_EQ(ReadLe32(h + OFFSET_PIXELS), 62u);
    EXPECT_EQ(ReadLe16(h + OFFSET_BIT_COUNT), 1);
    EXPECT_EQ(ReadLe32(h + OFFSET_IMAGE_SIZE), 4u * 9);
    EXPECT_EQ(ReadLe32(h + OFFSET_COLOURS_USED), 2u);
    const uint8_t palette[8] = {0, 0, 0, 0, 255, 255, 255, 255};
    EXPECT_EQ(memcmp(h + OFFSET_PALETTE, palette, 8), 0);
    // Fields the reduction has no business changing.
    for (uint32_t offset : {OFFSET_WIDTH, OFFSET_HEIGHT, OFFSET_X_PELS_PER_METRE, OFFSET_Y_PELS_PER_METRE,
                            OFFSET_COMPRESSION, OFFSET_COLOURS_IMPORTANT, OFFSET_INFO_SIZE})
        EXPECT_EQ(ReadLe32(h + offset), ReadLe32(Bytes(before) + offset)) << "offset " << offset;
    EXPECT_EQ(ReadLe16(h + OFFSET_PLANES), 1);
    ExpectReducedRows(before, after, nullptr, __LINE__);
}

TEST(TonePass, ReductionAppliesTheTableBeforeTheThreshold)
{
    uint8_t table[256];
    BuildToneCurve(40, 0, 100, table); // lifts 88..127 over the threshold
    for (uint32_t width : {1u, 7u, 8u, 9u, 31u, 33u}) {
        std::string before = MakeGreyRamp(width, 5);
        ExpectReducedRows(before, RunWholePass(before, true, true, table), table, __LINE__);
    }
}

TEST(TonePass, ReductionHonoursTablesOfEveryShape)
{
    struct Case {
        const char *what;
        int16_t brightness, contrast;
        uint16_t gamma;
        bool invert;
    } cases[] = {
        {"all white", 127, 0, 100, false},
        {"all black", -127, 0, 100, false},
        {"hard threshold", 0, 127, 100, false},
        {"curve", 0, 30, 60, false},
        {"falling, as no setting makes it", 0, 0, 100, true},
    };
    for (const Case &c : cases) {
        uint8_t table[256];
        BuildToneCurve(c.brightness, c.contrast, c.gamma, table);
        if (c.invert)
            for (int v = 0; v < 256; ++v)
                table[v] = uint8_t(255 - v);
        std::string before = MakeBitmap(61, 5, 8, [](uint32_t r, uint32_t b) { return (r * 89 + b * 13) & 255; });
        SCOPED_TRACE(c.what);
        ExpectReducedRows(before, RunWholePass(before, true, true, table), table, __LINE__);
    }
}

TEST(TonePass, WideRowsReduceInPlaceWithoutReadingWhatWasWritten)
{
    // Output rows of 2500 bytes overlap the input rows they come from.
    std::string before = MakeBitmap(20000, 6, 8, [](uint32_t r, uint32_t b) { return (b * 7 + r * 131) % 251; });
    ExpectReducedRows(before, RunWholePass(before, false, true, nullptr), nullptr, __LINE__);
}

TEST(TonePass, ToneOnlyMapsPixelsAndLeavesPadding)
{
    uint8_t table[256];
    BuildToneCurve(0, 64, 100, table);
    for (int bits : {8, 24}) {
        std::string before = MakeBitmap(5, 4, bits, [](uint32_t r, uint32_t b) { return r * 60 + b * 9; });
        std::string after = RunWholePass(before, true, false, table);
        ASSERT_EQ(after.size(), before.size()) << bits;
        uint32_t offset = ReadLe32(Bytes(before) + OFFSET_PIXELS);
        EXPECT_EQ(before.compare(0, offset, after, 0, offset), 0) << "header changed, bits " << bits;
        uint32_t samples = bits == 24 ? 15 : 5, row = 16 / (bits == 24 ? 1 : 2);
        for (uint32_t r = 0; r < 4; ++r)
            for (uint32_t b = 0; b < row; ++b) {
                size_t at = offset + r * row + b;
                uint8_t want = b < samples ? table[uint8_t(before[at])] : 0xEE;
                EXPECT_EQ(uint8_t(after[at]), want) << "bits " << bits << " row " << r << " byte " << b;
            }
    }
}

TEST(TonePass, ColourPageAskedForLineArtKeepsItsDepth)
{
    std::string before = MakeBitmap(6, 3, 24, [](uint32_t, uint32_t b) { return b * 20; });
    TonePassPlan plan;
    std::string after = RunWholePass(before, false, true, nullptr, &plan);
    EXPECT_FALSE(plan.reduceToLineArt);
    EXPECT_EQ(after, before);
}

struct Malformed {
    const char *what;
    uint32_t offset;  // where to write, or ~0u to cut the file instead
    uint32_t value;
    int size;         // bytes written: 2 or 4
    TonePlanResult expected;
};

const Malformed MALFORMED[] = {
    {"not BM", 0, 'B' | 'X' << 8, 2, TONE_PLAN_NOT_BITMAP},
    {"width differs from what was read", OFFSET_WIDTH, 11, 4, TONE_PLAN_SIZE_MISMATCH},
    {"width beyond 16 bits", OFFSET_WIDTH, 0x10000 + 10, 4, TONE_PLAN_SIZE_MISMATCH},
    {"height beyond 16 bits", OFFSET_HEIGHT, 0x10000 + 9, 4, TONE_PLAN_SIZE_MISMATCH},
    {"top-down height", OFFSET_HEIGHT, uint32_t(-9), 4, TONE_PLAN_SIZE_MISMATCH},
    {"1 bit", OFFSET_BIT_COUNT, 1, 2, TONE_PLAN_UNEXPECTED_DEPTH},
    {"4 bits", OFFSET_BIT_COUNT, 4, 2, TONE_PLAN_UNEXPECTED_DEPTH},
    {"32 bits", OFFSET_BIT_COUNT, 32, 2, TONE_PLAN_UNEXPECTED_DEPTH},
    {"24 bits where 8 were read", OFFSET_BIT_COUNT, 24, 2, TONE_PLAN_UNEXPECTED_DEPTH},
    {"run-length compressed", OFFSET_COMPRESSION, 1, 4, TONE_PLAN_COMPRESSED},
    {"pixels after a short palette", OFFSET_PIXELS, 54 + 16 * 4, 4, TONE_PLAN_PIXEL_OFFSET},
    {"one byte short", ~0u, 1, 0, TONE_PLAN_TRUNCATED},
    {"rows missing", ~0u, 12 * 3, 0, TONE_PLAN_TRUNCATED},
    {"only the headers", ~0u, 12 * 9, 0, TONE_PLAN_TRUNCATED},
};

TEST(TonePlan, MalformedGreyBitmapsAreRefused)
{
    for (const Malformed &m : MALFORMED) {
        std::string file = MakeGreyRamp(10, 9);
        if (m.offset == ~0u)
            file.resize(file.size() - m.value);
        else if (m.size == 2)
            WriteLe16(Bytes(file) + m.offset, uint16_t(m.value));
        else
            WriteLe32(Bytes(file) + m.offset, m.value);
        TonePassPlan plan;
        for (bool reduce : {false, true})
            EXPECT_EQ(PlanTonePass(Bytes(file), file.size(), file.size(), 10, 9, false, true, reduce, &plan), m.expected)
                << m.what << (reduce ? ", reducing" : ", tone only");
    }
}

TEST(TonePlan, HeaderShorterThanTheFixedPartIsRefused)
{
    std::string file = MakeGreyRamp(10, 9);
    TonePassPlan plan;
    EXPECT_EQ(PlanTonePass(Bytes(file), 53, file.size(), 10, 9, false, true, false, &plan), TONE_PLAN_NOT_BITMAP);
    EXPECT_EQ(PlanTonePass(Bytes(file), 58, file.size(), 10, 9, false, true, true, &plan), TONE_PLAN_NOT_BITMAP);
}

TEST(TonePlan, ColourRowsArePaddedFromThreeBytesAPixel)
{
    std::string file = MakeBitmap(5, 3, 24, [](uint32_t, uint32_t) { return 1; });
    TonePassPlan plan;
    ASSERT_EQ(PlanTonePass(Bytes(file), file.size(), file.size(), 5, 3, true, true, false, &plan), TONE_PLAN_OK);
    EXPECT_EQ(plan.inputOffset, 54u);
    EXPECT_EQ(plan.inputRowBytes, 16u);
    EXPECT_EQ(plan.finalFileSize, 54u + 48);
    // A colour header claiming one more row than the file holds.
    file.resize(file.size() - 1);
    EXPECT_EQ(PlanTonePass(Bytes(file), file.size(), file.size(), 5, 3, true, true, false, &plan), TONE_PLAN_TRUNCATED);
}

TEST(TonePass, PackingMatchesTheThresholdForEveryWidth)
{
    std::vector<uint8_t> samples(40);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = uint8_t(i * 97 + 3);
    for (uint32_t width = 1; width <= 40; ++width) {
        std::vector<uint8_t> bits(6, 0xAA);
        PackRowToBits(samples.data(), width, nullptr, bits.data());
        for (uint32_t x = 0; x < (width + 7) / 8 * 8; ++x) {
            int want = x < width ? samples[x] >= 128 : 0;
            EXPECT_EQ((bits[x / 8] >> (7 - x % 8)) & 1, want) << "width " << width << " pixel " << x;
        }
        // Nothing beyond the last byte that holds pixels is written.
        EXPECT_EQ(bits[(width + 7) / 8], 0xAA) << "width " << width;
    }
}

} // namespace
