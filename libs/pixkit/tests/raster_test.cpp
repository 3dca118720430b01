// Quarter turns move every pixel exactly; the reduction averages areas.
// Pictures are written as their rows' bytes without the padding: line art
// packed, grey one byte, colour blue, green, red.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "raster.h"

using namespace pixkit;

namespace {

typedef std::vector<int> Bytes;

size_t UsedBytes(PixelLayout layout, uint32_t width)
{
    return layout == LAYOUT_BILEVEL ? (width + 7) / 8 : layout == LAYOUT_GREY ? width : 3 * width;
}

Raster Make(PixelLayout layout, uint32_t width, uint32_t height, const Bytes &bytes)
{
    Raster r;
    EXPECT_TRUE(AllocateRaster(&r, layout, width, height));
    const size_t used = UsedBytes(layout, width);
    for (size_t i = 0; i < bytes.size(); ++i)
        r.Row(uint32_t(i / used))[i % used] = uint8_t(bytes[i]);
    return r;
}

Bytes Contents(const Raster &r)
{
    Bytes bytes;
    for (uint32_t y = 0; y < r.height; ++y)
        bytes.insert(bytes.end(), r.Row(y), r.Row(y) + UsedBytes(r.layout, r.width));
    return bytes;
}

struct Case {
    PixelLayout layout;
    uint32_t width, height;
    Bytes source;
    int turns;                    // for a rotation
    uint32_t newWidth, newHeight; // of the result
    Bytes expected;
};

} // namespace

// A 3 × 2 grey picture 1 2 3 / 4 5 6 turned clockwise, written out by hand.
TEST(Rotate, QuarterTurnsMoveEveryPixelExactly)
{
    const Case cases[] = {
        {LAYOUT_GREY, 3, 2, {1, 2, 3, 4, 5, 6}, 0, 3, 2, {1, 2, 3, 4, 5, 6}},
        {LAYOUT_GREY, 3, 2, {1, 2, 3, 4, 5, 6}, 1, 2, 3, {4, 1, 5, 2, 6, 3}},
        {LAYOUT_GREY, 3, 2, {1, 2, 3, 4, 5, 6}, 2, 3, 2, {6, 5, 4, 3, 2, 1}},
        {LAYOUT_GREY, 3, 2, {1, 2, 3, 4, 5, 6}, 3, 2, 3, {3, 6, 2, 5, 1, 4}},
        {LAYOUT_GREY, 3, 2, {1, 2, 3, 4, 5, 6}, -1, 2, 3, {3, 6, 2, 5, 1, 4}},
        {LAYOUT_GREY, 3, 2, {1, 2, 3, 4, 5, 6}, 5, 2, 3, {4, 1, 5, 2, 6, 3}},
        {LAYOUT_BGR, 2, 1, {10, 20, 30, 40, 50, 60}, 1, 1, 2, {10, 20, 30, 40, 50, 60}},
        // 11 × 3 with one white pixel at (9, 0): it lands at (2, 9), padding bits stay clear.
        {LAYOUT_BILEVEL, 11, 3, {0, 0x40, 0, 0, 0, 0}, 1, 3, 11, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0}},
    };
    for (const Case &c : cases) {
        Raster turned;
        ASSERT_TRUE(RotateQuarterTurns(Make(c.layout, c.width, c.height, c.source), c.turns, &turned));
        EXPECT_EQ(c.newWidth, turned.width) << &c - cases;
        EXPECT_EQ(c.newHeight, turned.height) << &c - cases;
        EXPECT_EQ(c.expected, Contents(turned)) << &c - cases;
    }
}

TEST(Resize, AveragesWholeAndPartlyCoveredPixelsAndRefusesEmptyOrHugeSizes)
{
    const Case cases[] = {
        // 3 × 3 blocks.
        {LAYOUT_GREY, 6, 3, {0, 3, 6, 90, 90, 90, 9, 12, 15, 90, 90, 90, 18, 21, 24, 90, 90, 90}, 0, 2, 1, {12, 90}},
        // Three pixels into two: the middle one is shared a third each way.
        {LAYOUT_GREY, 3, 1, {0, 90, 180}, 0, 2, 1, {30, 150}},
        {LAYOUT_GREY, 2, 1, {0, 1}, 0, 1, 1, {1}}, // 0.5 rounds up
        {LAYOUT_GREY, 1, 1, {77}, 0, 2, 2, {77, 77, 77, 77}},
        {LAYOUT_BGR, 3, 1, {0, 30, 255, 3, 60, 255, 6, 90, 0}, 0, 1, 1, {3, 60, 170}},
        // Line art is white when at least half the area was.
        {LAYOUT_BILEVEL, 2, 1, {0x80}, 0, 1, 1, {0x80}},
        {LAYOUT_BILEVEL, 3, 1, {0x80}, 0, 1, 1, {0x00}},
        {LAYOUT_BILEVEL, 3, 1, {0xC0}, 0, 1, 1, {0x80}},
        {LAYOUT_BILEVEL, 4, 1, {0x10}, 0, 1, 1, {0x00}},
    };
    for (const Case &c : cases) {
        Raster result;
        ASSERT_TRUE(ResizeByAreaAverage(Make(c.layout, c.width, c.height, c.source), c.newWidth, c.newHeight, &result));
        EXPECT_EQ(c.layout, result.layout) << &c - cases;
        EXPECT_EQ(c.expected, Contents(result)) << &c - cases;
    }
    Raster r, result;
    EXPECT_FALSE(AllocateRaster(&r, LAYOUT_GREY, 0, 10) || AllocateRaster(&r, LAYOUT_GREY, 10, 0) ||
                 AllocateRaster(&r, LAYOUT_BGR, 100000, 100000) || r.pixels);
    ASSERT_TRUE(AllocateRaster(&r, LAYOUT_BILEVEL, 33, 2));
    EXPECT_EQ(8u, r.stride) << "rows are padded to whole words";
    EXPECT_FALSE(ResizeByAreaAverage(r, 0, 1, &result));
}
