// A sheet's placement file: what reads, what is refused, and a round trip.
#include <gtest/gtest.h>

#include "placement_text.h"

using namespace feeder;

namespace {

const FeederPlacement DEFAULTS = {150, 150, 0, 0x202020, 0};

bool Same(const FeederPlacement &a, const FeederPlacement &b)
{
    return a.X300 == b.X300 && a.Y300 == b.Y300 && a.SkewMilliDegrees == b.SkewMilliDegrees &&
           a.BackingRgb == b.BackingRgb && a.SheetDpi == b.SheetDpi;
}

} // namespace

TEST(PlacementText, ReadsKeysAndKeepsDefaultsForTheRest)
{
    struct Case {
        const char *text;
        FeederPlacement expected;
    } cases[] = {
        {"", DEFAULTS},
        {"x=10\ny=-20\n", {10, -20, 0, 0x202020, 0}},
        {"# comment\n\n  skew = -1.25 \r\n", {150, 150, -1250, 0x202020, 0}},
        {"backing=FFaa00\ndpi=600", {150, 150, 0, 0xFFAA00, 600}},
        {"skew=0.0005", {150, 150, 1, 0x202020, 0}},
    };
    for (const Case &c : cases) {
        FeederPlacement placement = DEFAULTS;
        EXPECT_TRUE(ParsePlacement(c.text, &placement)) << c.text;
        EXPECT_TRUE(Same(placement, c.expected)) << c.text;
    }
}

TEST(PlacementText, BadFilesChangeNothing)
{
    const char *texts[] = {"x=10\ncolour=red", "x=abc", "x=", "y=12.5", "backing=12345", "backing=GG0000",
                           "skew=400",         "skew=nan", "dpi=-3", "x 10", "x=99999999999"};
    for (const char *text : texts) {
        FeederPlacement placement = DEFAULTS;
        EXPECT_FALSE(ParsePlacement(text, &placement)) << text;
        EXPECT_TRUE(Same(placement, DEFAULTS)) << text;
    }
}

TEST(PlacementText, FormattedPlacementReadsBack)
{
    const FeederPlacement placements[] = {{0, 0, 0, 0, 0}, {-30, 4000, -2750, 0x0A0B0C, 300}, {1, 2, 359999, 0xFFFFFF, 9600}};
    for (const FeederPlacement &original : placements) {
        FeederPlacement parsed = DEFAULTS;
        ASSERT_TRUE(ParsePlacement(FormatPlacement(original), &parsed)) << FormatPlacement(original);
        EXPECT_TRUE(Same(parsed, original)) << FormatPlacement(original);
    }
}
