// Quarter turns move every pixel exactly; the reduction averages areas.
#include <gtest/gtest.h>

#include <cstring>

#include "raster.h"

using namespace pixkit;

namespace {

Raster GreyFrom(uint32_t width, uint32_t height, const std::vector<int> &values)
{
    Raster r;
    EXPECT_TRUE(AllocateRaster(&r, LAYOUT_GREY, width, height));
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            r.Row(y)[x] = uint8_t(values[y * width + x]);
    return r;
}

std::vector<int> GreyValues(const Raster &r)
{
    std::vector<int> values;
    for (uint32_t y = 0; y < r.height; ++y)
        for (uint32_t x = 0; x < r.width; ++x)
            values.push_back(r.Row(y)[x]);
    return values;
}

bool Bit(const Raster &r, uint32_t x, uint32_t y) { return (r.Row(y)[x / 8] >> (7 - x % 8)) & 1; }

} // namespace

// A 3 × 2 grey picture
//   1 2 3
//   4 5 6
// turned clockwise by each quarter, written out by hand.
TEST(Rotate, GreyQuarterTurnsByHand)
{
    struct Case {
        int turns;
        uint32_t width, height;
        std::vector<int> expected;
    } const cases[] = {
        {0, 3, 2, {1, 2, 3, 4, 5, 6}},
        {1, 2, 3, {4, 1, 5, 2, 6, 3}},
        {2, 3, 2, {6, 5, 4, 3, 2, 1}},
        {3, 2, 3, {3, 6, 2, 5, 1, 4}},
        {-1, 2, 3, {3, 6, 2, 5, 1, 4}},
        {5, 2, 3, {4, 1, 5, 2, 6, 3}},
    };
    Raster source = GreyFrom(3, 2, {1, 2, 3, 4, 5, 6});
    for (const Case &c : cases) {
        Raster turned;
        ASSERT_TRUE(RotateQuarterTurns(source, c.turns, &turned)) << c.turns;
        EXPECT_EQ(c.width, turned.width) << c.turns;
        EXPECT_EQ(c.height, turned.height) << c.turns;
        EXPECT_EQ(c.expected, GreyValues(turned)) << c.turns;
    }
}

TEST(Rotate, ColourKeepsChannelOrder)
{
    Raster source;
    ASSERT_TRUE(AllocateRaster(&source, LAYOUT_BGR, 2, 1));
    const uint8_t pixels[6] = {10, 20, 30, 40, 50, 60};
    memcpy(source.Row(0), pixels, 6);
    Raster turned;
    ASSERT_TRUE(RotateQuarterTurns(source, 1, &turned));
    ASSERT_EQ(1u, turned.width);
    ASSERT_EQ(2u, turned.height);
    EXPECT_EQ(0, memcmp(turned.Row(0), pixels, 3));
    EXPECT_EQ(0, memcmp(turned.Row(1), pixels + 3, 3));
}

TEST(Rotate, LineArtMovesSingleBitsAndKeepsPaddingClear)
{
    // 11 × 3 with one white pixel at (9, 0): after a clockwise quarter turn
    // the picture is 3 × 11 and the pixel sits at (2, 9).
    Raster source;
    ASSERT_TRUE(AllocateRaster(&source, LAYOUT_BILEVEL, 11, 3));
    source.Row(0)[1] = 0x40;
    Raster turned;
    ASSERT_TRUE(RotateQuarterTurns(source, 1, &turned));
    ASSERT_EQ(3u, turned.width);
    ASSERT_EQ(11u, turned.height);
    for (uint32_t y = 0; y < 11; ++y)
        for (uint32_t x = 0; x < 3; ++x)
            EXPECT_EQ(x == 2 && y == 9, Bit(turned, x, y)) << x << "," << y;
    for (uint32_t y = 0; y < 11; ++y)
        EXPECT_EQ(0, turned.Row(y)[0] & 0x1F) << "padding bits of row " << y;
}

TEST(Resize, AveragesWholeAndPartlyCoveredPixels)
{
    struct Case {
        uint32_t width, height;
        std::vector<int> source;
        uint32_t newWidth, newHeight;
        std::vector<int> expected;
    } const cases[] = {
        // 3 × 3 blocks.
        {6, 3, {0, 3, 6, 90, 90, 90, 9, 12, 15, 90, 90, 90, 18, 21, 24, 90, 90, 90}, 2, 1, {12, 90}},
        // Three pixels into two: the middle one is shared a third each way.
        {3, 1, {0, 90, 180}, 2, 1, {30, 150}},
        // Rounding to the nearest level: (0 + 1) / 2 = 0.5 goes up.
        {2, 1, {0, 1}, 1, 1, {1}},
        // Enlarging repeats.
        {1, 1, {77}, 2, 2, {77, 77, 77, 77}},
        {2, 2, {10, 20, 30, 40}, 2, 2, {10, 20, 30, 40}},
    };
    for (const Case &c : cases) {
        Raster source = GreyFrom(c.width, c.height, c.source);
        Raster result;
        ASSERT_TRUE(ResizeByAreaAverage(source, c.newWidth, c.newHeight, &result));
        EXPECT_EQ(c.expected, GreyValues(result)) << c.width << "x" << c.height;
    }
}

TEST(Resize, ColourChannelsAreAveragedApart)
{
    Raster source;
    ASSERT_TRUE(AllocateRaster(&source, LAYOUT_BGR, 3, 1));
    const uint8_t pixels[9] = {0, 30, 255, 3, 60, 255, 6, 90, 0};
    memcpy(source.Row(0), pixels, 9);
    Raster result;
    ASSERT_TRUE(ResizeByAreaAverage(source, 1, 1, &result));
    EXPECT_EQ(3, result.Row(0)[0]);
    EXPECT_EQ(60, result.Row(0)[1]);
    EXPECT_EQ(170, result.Row(0)[2]);
}

TEST(Resize, LineArtIsWhiteWhenAtLeastHalfTheAreaWas)
{
    struct Case {
        uint32_t width;
        uint8_t bits; // first row, top bit first
        bool white;
    } const cases[] = {
        {2, 0x80, true},  // half white
        {3, 0x80, false}, // a third white
        {3, 0xC0, true},  // two thirds white
        {4, 0x10, false}, // a quarter white
        {1, 0x00, false},
    };
    for (const Case &c : cases) {
        Raster source;
        ASSERT_TRUE(AllocateRaster(&source, LAYOUT_BILEVEL, c.width, 1));
        source.Row(0)[0] = c.bits;
        Raster result;
        ASSERT_TRUE(ResizeByAreaAverage(source, 1, 1, &result));
        EXPECT_EQ(LAYOUT_BILEVEL, result.layout);
        EXPECT_EQ(c.white ? 0x80 : 0x00, result.Row(0)[0]) << c.width << " " << int(c.bits);
    }
}

TEST(Raster, RefusesEmptyAndOversizedPictures)
{
    Raster r;
    EXPECT_FALSE(AllocateRaster(&r, LAYOUT_GREY, 0, 10));
    EXPECT_FALSE(AllocateRaster(&r, LAYOUT_GREY, 10, 0));
    EXPECT_FALSE(AllocateRaster(&r, LAYOUT_BGR, 100000, 100000));
    EXPECT_FALSE(r.pixels);
    EXPECT_TRUE(AllocateRaster(&r, LAYOUT_BILEVEL, 33, 2));
    EXPECT_EQ(8u, r.stride);
    EXPECT_TRUE(AllocateRaster(&r, LAYOUT_BGR, 5, 1));
    EXPECT_EQ(16u, r.stride);
    Raster result;
    EXPECT_FALSE(ResizeByAreaAverage(r, 0, 1, &result));
}
