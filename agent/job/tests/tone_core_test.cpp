// The tone table and the row passes on in-memory bitmaps.
#include <gtest/gtest.h>

#include "tone_core.h"
#include "tone_test_bitmaps.h"

using namespace bitmap_layout;
using namespace tonetest;

namespace {

struct TableCase {
    int16_t brightness, contrast;
    uint16_t gamma;
    int first, last, expected; // entries first..last all hold `expected`
};

const TableCase TABLE_CASES[] = {
    {0, 0, 200, 1, 1, 15}, {0, 0, 200, 64, 64, 127}, {0, 0, 200, 65, 65, 129}, {0, 0, 200, 254, 254, 254},
    // Brightness offsets are 2b+1 / 2b-1; contrast 0 then takes one off
    // entries up to 128 without going below entry 0.
    {10, 0, 100, 0, 1, 21}, {10, 0, 100, 2, 2, 22}, {127, 0, 100, 0, 255, 255}, {-127, 0, 100, 0, 255, 0},
    {-10, 0, 100, 0, 22, 0}, {-10, 0, 100, 23, 23, 1}, {0, 0, 100, 128, 128, 127}, {0, 0, 100, 129, 129, 129},
    {0, 127, 100, 0, 128, 0}, {0, 127, 100, 129, 255, 255}, {0, -127, 100, 0, 255, 128},
    {0, 64, 100, 0, 65, 0}, {0, 64, 100, 66, 66, 2}, {0, 64, 100, 128, 128, 127}, {0, 64, 100, 129, 129, 130},
    {0, 64, 100, 191, 255, 255}, {0, -64, 100, 0, 0, 64}, {0, -64, 100, 255, 255, 191},
    // Only right with the slopes rounded to single precision where the
    // table says so (k and kf when stretching, k unrounded when compressing).
    {0, 23, 100, 76, 76, 64}, {0, 23, 100, 180, 180, 192}, {0, 1, 100, 65, 65, 63}, {0, -105, 100, 65, 65, 117},
    // Beyond the documented ranges: a threshold, and nothing wraps in a byte.
    {0, 200, 100, 0, 128, 0}, {0, 200, 100, 129, 255, 255}, {0, -32768, 100, 0, 255, 255}, {0, 0, 0, 1, 254, 0},
};

TEST(ToneTable, EntriesForKnownSettings)
{
    for (const TableCase &c : TABLE_CASES) {
        uint8_t table[256];
        BuildToneCurve(c.brightness, c.contrast, c.gamma, table);
        for (int i = c.first; i <= c.last; ++i)
            EXPECT_EQ(table[i], c.expected)
                << "brightness " << c.brightness << " contrast " << c.contrast << " gamma " << c.gamma << " entry " << i;
    }
}

TEST(ToneTable, PostProcessingRunsOnlyForCroppedPagesThatNeedIt)
{
    struct Case {
        uint32_t autoCrop;
        uint16_t acquire, output, gamma;
        int16_t brightness;
        bool wanted;
    } cases[] = {
        {1, 2, 2, 100, 0, false}, {1, 3, 3, 100, 0, false}, {1, 0, 0, 100, 0, false}, // neutral: no pass at all
        {1, 2, 0, 100, 0, true},  // grey wanted as line art: the reduction alone
        {1, 3, 3, 100, 5, true}, {1, 2, 2, 150, 0, true},
        {0, 2, 0, 150, 5, false}, // without cropping the device applied it all
    };
    for (const Case &c : cases) {
        ScanJobSettings s = {};
        s.AutoCrop = c.autoCrop;
        s.AcquireType = c.acquire;
        s.OutputType = c.output;
        s.Gamma = c.gamma;
        s.Brightness = c.brightness;
        EXPECT_EQ(PostProcessingWanted(s), c.wanted) << c.autoCrop << " " << c.acquire << "/" << c.output << " " << c.gamma;
    }
}

// The pass as the agent runs it, in slices of uneven length.
std::string RunPass(std::string file, bool reduce, const uint8_t *table, TonePassPlan *plan)
{
    const uint8_t *h = Bytes(file);
    EXPECT_EQ(PlanTonePass(h, file.size(), file.size(), uint16_t(ReadLe32(h + OFFSET_WIDTH)),
                           uint16_t(ReadLe32(h + OFFSET_HEIGHT)), ReadLe16(h + OFFSET_BIT_COUNT) == 24, table != nullptr,
                           reduce, plan),
              TONE_PLAN_OK);
    if (plan->reduceToLineArt)
        WriteLineArtHeader(Bytes(file), *plan);
    for (uint32_t r = 0; r < plan->height; r += 7)
        RunToneRows(Bytes(file), *plan, table, r, 7);
    file.resize(size_t(plan->finalFileSize));
    return file;
}

TEST(TonePass, EveryReducedBitIsTheThresholdOfTheOriginalSample)
{
    uint8_t curve[256], inverted[256];
    BuildToneCurve(40, 30, 60, curve);
    for (int v = 0; v < 256; ++v)
        inverted[v] = uint8_t(255 - v); // no setting makes it; the packing must not assume a rising table
    struct Case {
        uint32_t width, height;
        const uint8_t *table;
        int16_t brightness; // when non-zero, a flat table of this brightness
    } cases[] = {
        {1, 3, nullptr, 0}, {7, 2, nullptr, 0}, {10, 9, nullptr, 0}, {33, 4, curve, 0}, {61, 5, inverted, 0},
        {17, 3, nullptr, 127}, {17, 3, nullptr, -127},
        {20000, 5, curve, 0}, // output rows of 2500 bytes overlap the input rows they come from
    };
    for (const Case &c : cases) {
        uint8_t flat[256];
        const uint8_t *table = c.table;
        if (c.brightness) {
            BuildToneCurve(c.brightness, 0, 100, flat);
            table = flat;
        }
        std::string before = MakeBitmap(c.width, c.height, 8, [](uint32_t r, uint32_t b) { return (r * 89 + b * 13) % 251; });
        TonePassPlan plan;
        std::string after = RunPass(before, true, table, &plan);
        uint32_t inRow = uint32_t(RowBytes(c.width, 8)), outRow = uint32_t(RowBytes(c.width, 1));
        ASSERT_EQ(after.size(), 62 + size_t(outRow) * c.height) << c.width;
        int wrong = 0;
        for (uint32_t r = 0; r < c.height; ++r)
            for (uint32_t x = 0; x < outRow * 8; ++x) {
                uint8_t sample = x < c.width ? uint8_t(before[GREY_HEADER_BYTES + r * inRow + x]) : 0;
                int want = x < c.width && (table ? table[sample] : sample) >= 128; // unused bits and padding are 0
                wrong += ((uint8_t(after[62 + r * outRow + x / 8]) >> (7 - x % 8)) & 1) != want;
            }
        EXPECT_EQ(wrong, 0) << "width " << c.width << " brightness " << c.brightness;
    }
}

TEST(TonePass, ToneOnlyMapsPixelsAndLeavesHeaderAndPadding)
{
    uint8_t table[256];
    BuildToneCurve(0, 64, 100, table);
    for (int bits : {8, 24}) {
        std::string before = MakeBitmap(5, 4, bits, [](uint32_t r, uint32_t b) { return r * 60 + b * 9; });
        TonePassPlan plan;
        std::string after = RunPass(before, bits == 24, table, &plan); // colour asked for line art keeps its depth
        ASSERT_EQ(after.size(), before.size()) << bits;
        for (size_t at = 0; at < before.size(); ++at) {
            bool pixel = at >= plan.inputOffset && (at - plan.inputOffset) % plan.inputRowBytes < plan.samplesPerRow;
            ASSERT_EQ(uint8_t(after[at]), pixel ? table[uint8_t(before[at])] : uint8_t(before[at])) << bits << " " << at;
        }
    }
}

} // namespace
