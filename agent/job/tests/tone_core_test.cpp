// The tone table and the row passes on in-memory bitmaps.
#include <gtest/gtest.h>

#include "tone_core.h"
#include "tone_test_bitmaps.h"

using namespace tonetest;

namespace {

TEST(ToneTable, EntriesForKnownSettings)
{
    struct Case {
        int16_t brightness, contrast;
        uint16_t gamma;
        int first, last, expected; // entries first..last all hold `expected`
    } cases[] = {
        {0, 0, 200, 1, 1, 15},
        {0, 0, 200, 64, 64, 127},
        {0, 0, 200, 65, 65, 129},
        {0, 0, 200, 254, 254, 254},
        // Brightness offsets are 2b+1 / 2b-1; contrast 0 then takes one off
        // entries up to 128 without going below entry 0.
        {10, 0, 100, 0, 1, 21},
        {10, 0, 100, 2, 2, 22},
        {-10, 0, 100, 0, 22, 0},
        {-10, 0, 100, 23, 23, 1},
        {0, 0, 100, 128, 128, 127},
        {0, 0, 100, 129, 129, 129},
        {0, 127, 100, 0, 128, 0},
        {0, -127, 100, 0, 255, 128},
        {0, 64, 100, 66, 66, 2},
        {0, 64, 100, 129, 129, 130},
        {0, -64, 100, 0, 0, 64},
        {0, -64, 100, 255, 255, 191},
        // Only right with the slopes rounded to single precision where the
        // table says so; and beyond the documented ranges nothing wraps.
        {0, 23, 100, 76, 76, 64},
        {0, 23, 100, 180, 180, 192},
        {0, 1, 100, 65, 65, 63},
        {0, -105, 100, 65, 65, 117},
        {0, 200, 100, 129, 255, 255},
        {0, -32768, 100, 0, 255, 255},
        {0, 0, 0, 1, 254, 0},
    };
    for (const Case &c : cases) {
        uint8_t table[256];
        BuildToneCurve(c.brightness, c.contrast, c.gamma, table);
        for (int i = c.first; i <= c.last; ++i)
            EXPECT_EQ(table[i], c.expected) << c.brightness << " " << c.contrast << " " << c.gamma << " entry " << i;
    }
}

// The tone pass alone, as the agent runs it in slices of uneven length:
// every sample goes through the table and the header and the row padding
// stay as they were, on grey pages and on colour pages asked for line art,
// which keep their depth. The reduction to 1 bit is checked against
// ImageMagick by the test of the file pass.
TEST(TonePass, ToneMapsEverySampleAndLeavesHeaderAndPadding)
{
    uint8_t table[256];
    BuildToneCurve(40, 30, 60, table);
    for (int bits : {8, 24}) {
        std::string before = MakeBitmap(7, 9, bits, [](uint32_t r, uint32_t b) { return r * 89 + b * 13; });
        std::string file = before;
        TonePassPlan plan;
        ASSERT_EQ(PlanTonePass(Bytes(file), file.size(), file.size(), 7, 9, bits == 24, true, bits == 24, &plan),
                  TONE_PLAN_OK);
        for (uint32_t r = 0; r < plan.height; r += 4)
            RunToneRows(Bytes(file), plan, table, r, 4);
        ASSERT_EQ(plan.finalFileSize, before.size());
        int wrong = 0;
        for (size_t at = 0; at < before.size(); ++at) {
            uint8_t was = uint8_t(before[at]);
            bool pixel = at >= plan.inputOffset && (at - plan.inputOffset) % plan.inputRowBytes < plan.samplesPerRow;
            wrong += uint8_t(file[at]) != (pixel ? table[was] : was);
        }
        EXPECT_EQ(wrong, 0) << bits;
    }
}

} // namespace
