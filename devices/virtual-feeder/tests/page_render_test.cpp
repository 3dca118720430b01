// The virtual scanner's page: geometry it accepts, tone shaping, and the
// bytes of composed, packed lines.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "page_render.h"

using namespace feeder;

namespace {

FeederScanSetup ScanOf(uint16_t width300, uint16_t height300, uint16_t dpi, uint16_t type)
{
    FeederScanSetup setup = {};
    ScanRequest request = {{0, 0, width300, height300}, dpi, dpi, type};
    EXPECT_EQ(PlanScan(request, DEFAULT_MAX_WIDTH300, DEFAULT_MAX_HEIGHT300, &setup), FEED_STATUS_OK);
    return setup;
}

// A sheet of `width` × `height` whose pixel (x, y) has distinct channels.
SheetImage Sheet(uint32_t width, uint32_t height)
{
    SheetImage sheet;
    sheet.Width = width;
    sheet.Height = height;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            sheet.Rgb.push_back(uint8_t(10 + x * 20 + y));
            sheet.Rgb.push_back(uint8_t(200 - x * 15 - y * 3));
            sheet.Rgb.push_back(uint8_t(x * 7 + y * 40));
        }
    return sheet;
}

const uint8_t *PixelOf(const SheetImage &sheet, uint32_t x, uint32_t y) { return &sheet.Rgb[(y * sheet.Width + x) * 3]; }

// The sheet at the scan origin, one sheet pixel per scanned pixel.
const FeederPlacement AT_ORIGIN = {0, 0, 0, 0x000000, 300};

std::vector<uint8_t> RenderAll(const PageRenderer &renderer)
{
    std::vector<uint8_t> rows((size_t)renderer.LineBytes() * renderer.Lines(), 0xEE);
    renderer.Render(0, renderer.Lines(), rows.data());
    return rows;
}

} // namespace

TEST(ScanGeometry, AbsurdRequestsAreRefused)
{
    struct Case {
        const char *what;
        ScanRequest request;
    } cases[] = {
        {"unknown type 1", {{0, 0, 600, 600}, 300, 300, 1}},
        {"unknown type 4", {{0, 0, 600, 600}, 300, 300, 4}},
        {"zero resolution", {{0, 0, 600, 600}, 0, 300, 2}},
        {"resolution too low", {{0, 0, 600, 600}, 300, 49, 2}},
        {"resolution too high", {{0, 0, 600, 600}, 1201, 300, 2}},
        {"zero width", {{0, 0, 0, 600}, 300, 300, 2}},
        {"zero height", {{0, 0, 600, 0}, 300, 300, 2}},
        {"starts right of the glass", {{2550, 0, 10, 10}, 300, 300, 2}},
        {"starts below the glass", {{0, 4200, 10, 10}, 300, 300, 2}},
        {"huge width", {{0, 0, 60000, 600}, 300, 300, 3}},
        {"huge height", {{0, 0, 600, 65535}, 300, 300, 3}},
        {"no whole pixel", {{0, 0, 1, 600}, 100, 100, 2}},
    };
    for (const Case &c : cases) {
        FeederScanSetup setup = {};
        EXPECT_EQ(PlanScan(c.request, DEFAULT_MAX_WIDTH300, DEFAULT_MAX_HEIGHT300, &setup), FEED_STATUS_BAD_REQUEST)
            << c.what;
    }
}

TEST(ScanGeometry, AreaSomewhatPastTheGlassIsTrimmed)
{
    FeederScanSetup setup = {};
    ScanRequest request = {{100, 200, 2550, 4200}, 300, 150, IMAGE_GREY};
    ASSERT_EQ(PlanScan(request, DEFAULT_MAX_WIDTH300, DEFAULT_MAX_HEIGHT300, &setup), FEED_STATUS_OK);
    EXPECT_EQ(setup.PaperArea[0], 100);
    EXPECT_EQ(setup.PaperArea[2], 2450);
    EXPECT_EQ(setup.PaperArea[3], 4000);
    EXPECT_EQ(setup.PixelsPerLine, 2450u);
    EXPECT_EQ(setup.Lines, 2000u);
    EXPECT_EQ(setup.LineBytes, 2452u);
}

TEST(ToneShaping, ContrastAboutMidGreyThenBrightness)
{
    struct Case {
        int value, brightness, contrast;
        int expected;
    } cases[] = {
        {100, 0, 0, 100},    {0, 0, 0, 0},        {255, 0, 0, 255},     {128, 0, 127, 128},  {129, 0, 127, 255},
        {127, 0, 127, 0},    {200, 0, -127, 128}, {0, 0, 64, 0},        {160, 0, 64, 192},   {96, 0, -64, 112},
        {50, 20, 0, 70},     {250, 20, 0, 255},   {10, -20, 0, 0},      {100, 500, 0, 227},  {100, 0, -500, 128},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ShapeSample(c.value, c.brightness, c.contrast), c.expected)
            << c.value << " b " << c.brightness << " c " << c.contrast;
}

TEST(PageRendering, ColourAtOnePixelPerSheetPixelCopiesTheSheetAsBgr)
{
    const SheetImage sheet = Sheet(5, 3);
    const FeederScanSetup setup = ScanOf(5, 3, 300, IMAGE_COLOUR);
    ASSERT_EQ(setup.LineBytes, 16u);
    PageRenderer renderer;
    ASSERT_TRUE(renderer.PrepareSheet(&sheet, AT_ORIGIN, setup));
    const std::vector<uint8_t> rows = RenderAll(renderer);
    for (uint32_t y = 0; y < 3; ++y) {
        const uint8_t *row = &rows[y * 16];
        for (uint32_t x = 0; x < 5; ++x) {
            const uint8_t *rgb = PixelOf(sheet, x, y);
            EXPECT_EQ(row[3 * x], rgb[2]) << x << "," << y;
            EXPECT_EQ(row[3 * x + 1], rgb[1]) << x << "," << y;
            EXPECT_EQ(row[3 * x + 2], rgb[0]) << x << "," << y;
        }
        EXPECT_EQ(row[15], 0) << "padding byte of line " << y;
    }
}

TEST(PageRendering, GreyIsTheWeightedLuminance)
{
    SheetImage sheet;
    sheet.Width = 4;
    sheet.Height = 1;
    sheet.Rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    PageRenderer renderer;
    ASSERT_TRUE(renderer.PrepareSheet(&sheet, AT_ORIGIN, ScanOf(4, 1, 300, IMAGE_GREY)));
    const std::vector<uint8_t> rows = RenderAll(renderer);
    EXPECT_EQ(rows, (std::vector<uint8_t>{77, 149, 29, 255}));
}

TEST(PageRendering, LineArtPacksFirstPixelIntoTheTopBitWithWhiteAsOne)
{
    // 10 pixels: white, black, white, white, black, black, black, white | white, black
    const int white[10] = {1, 0, 1, 1, 0, 0, 0, 1, 1, 0};
    SheetImage sheet;
    sheet.Width = 10;
    sheet.Height = 1;
    for (int w : white)
        for (int channel = 0; channel < 3; ++channel)
            sheet.Rgb.push_back(w ? 200 : 40);
    PageRenderer renderer;
    ASSERT_TRUE(renderer.PrepareSheet(&sheet, AT_ORIGIN, ScanOf(10, 1, 300, IMAGE_LINE_ART)));
    ASSERT_EQ(renderer.LineBytes(), 4u);
    const std::vector<uint8_t> rows = RenderAll(renderer);
    EXPECT_EQ(rows, (std::vector<uint8_t>{0xB1, 0x80, 0x00, 0x00}));
}

TEST(PageRendering, BackingShowsAroundThePlacedSheet)
{
    const SheetImage sheet = Sheet(2, 2);
    const FeederPlacement placed = {3, 1, 0, 0x102030, 300};
    PageRenderer renderer;
    ASSERT_TRUE(renderer.PrepareSheet(&sheet, placed, ScanOf(6, 4, 300, IMAGE_COLOUR)));
    const std::vector<uint8_t> rows = RenderAll(renderer);
    const uint32_t lineBytes = renderer.LineBytes();
    const uint8_t backing[3] = {0x30, 0x20, 0x10};
    struct Probe {
        uint32_t x, y;
        int sheetX, sheetY; // -1: backing
    } probes[] = {{0, 0, -1, -1}, {2, 1, -1, -1}, {3, 1, 0, 0}, {4, 2, 1, 1}, {5, 3, -1, -1}, {1, 2, -1, -1}};
    for (const Probe &p : probes) {
        const uint8_t *got = &rows[p.y * lineBytes + 3 * p.x];
        if (p.sheetX < 0) {
            EXPECT_EQ(0, memcmp(got, backing, 3)) << p.x << "," << p.y;
        } else {
            const uint8_t *rgb = PixelOf(sheet, p.sheetX, p.sheetY);
            EXPECT_EQ(got[0], rgb[2]) << p.x << "," << p.y;
            EXPECT_EQ(got[2], rgb[0]) << p.x << "," << p.y;
        }
    }
}

TEST(PageRendering, HalfTheSheetResolutionTakesEverySecondPixelPair)
{
    // At 150 dpi a 300 dpi sheet's pixels (2x, 2y) and (2x+1, 2y+1) meet at
    // the scanned pixel's centre: the four are averaged.
    SheetImage sheet;
    sheet.Width = 2;
    sheet.Height = 2;
    sheet.Rgb = {0, 0, 0, 100, 100, 100, 200, 200, 200, 100, 100, 100};
    PageRenderer renderer;
    ASSERT_TRUE(renderer.PrepareSheet(&sheet, AT_ORIGIN, ScanOf(2, 2, 150, IMAGE_GREY)));
    ASSERT_EQ(renderer.Lines(), 1u);
    EXPECT_EQ(RenderAll(renderer)[0], 100);
}

TEST(PageRendering, SmallSkewTurnsTheSheetClockwise)
{
    // A wide white sheet on black, turned clockwise: its right end drops, so
    // far right the sheet's top edge starts lower than far left.
    SheetImage sheet;
    sheet.Width = 200;
    sheet.Height = 40;
    sheet.Rgb.assign(200 * 40 * 3, 255);
    const FeederPlacement skewed = {20, 20, 5000, 0, 300};
    PageRenderer renderer;
    ASSERT_TRUE(renderer.PrepareSheet(&sheet, skewed, ScanOf(240, 80, 300, IMAGE_GREY)));
    const std::vector<uint8_t> rows = RenderAll(renderer);
    auto topEdge = [&](uint32_t x) {
        for (uint32_t y = 0; y < renderer.Lines(); ++y)
            if (rows[y * renderer.LineBytes() + x] >= 128)
                return (int)y;
        return -1;
    };
    const int left = topEdge(40), right = topEdge(200);
    ASSERT_GE(left, 0);
    ASSERT_GE(right, 0);
    EXPECT_GT(right - left, 10) << "tan(5 degrees) x 160 pixels is about 14";
}

TEST(PageRendering, TablesShapeEachChannel)
{
    SheetImage sheet;
    sheet.Width = 1;
    sheet.Height = 1;
    sheet.Rgb = {10, 120, 250};
    FeederScanSetup setup = ScanOf(1, 1, 300, IMAGE_COLOUR);
    setup.TableCount = 3;
    setup.TableShape = {255, 3, 1, 256, 4, 0};
    for (int i = 0; i < 256; ++i) {
        setup.Tables[i] = 0;                  // red
        setup.Tables[256 + i] = uint8_t(i);   // green
        setup.Tables[512 + i] = uint8_t(255 - i); // blue
    }
    PageRenderer renderer;
    ASSERT_TRUE(renderer.PrepareSheet(&sheet, AT_ORIGIN, setup));
    const std::vector<uint8_t> rows = RenderAll(renderer);
    EXPECT_EQ(rows[0], 5) << "blue through the inverting third table";
    EXPECT_EQ(rows[1], 120) << "green through the identity";
    EXPECT_EQ(rows[2], 0) << "red through the zero table";
}

TEST(PageRendering, UnusableTablesOrSheetsAreRefused)
{
    const SheetImage sheet = Sheet(2, 2);
    FeederScanSetup setup = ScanOf(2, 2, 300, IMAGE_GREY);
    setup.TableCount = 1;
    setup.TableShape = {0, 1, 1, 256, 3, 0};
    PageRenderer renderer;
    EXPECT_FALSE(renderer.PrepareSheet(&sheet, AT_ORIGIN, setup)) << "max value 0";
    setup.TableShape = {255, 1, 1, 1, 3, 0};
    EXPECT_FALSE(renderer.PrepareSheet(&sheet, AT_ORIGIN, setup)) << "one entry";
    setup.TableCount = 2;
    setup.TableShape = {255, 1, 1, 256, 3, 0};
    EXPECT_FALSE(renderer.PrepareSheet(&sheet, AT_ORIGIN, setup)) << "two tables";
    SheetImage shortSheet = Sheet(2, 2);
    shortSheet.Rgb.pop_back();
    EXPECT_FALSE(renderer.PrepareSheet(&shortSheet, AT_ORIGIN, ScanOf(2, 2, 300, IMAGE_GREY)));
}

TEST(PageRendering, SyntheticCardRepeatsAfterItsPeriodAndLinesRenderAnywhere)
{
    const FeederScanSetup setup = ScanOf(300, 300, 100, IMAGE_COLOUR);
    PageRenderer renderer;
    ASSERT_TRUE(renderer.PrepareSynthetic(setup));
    const std::vector<uint8_t> rows = RenderAll(renderer);
    const size_t lineBytes = renderer.LineBytes();
    auto line = [&](uint32_t n) { return std::vector<uint8_t>(rows.begin() + n * lineBytes, rows.begin() + (n + 1) * lineBytes); };
    EXPECT_EQ(line(0), line(SYNTHETIC_PERIOD));
    EXPECT_NE(line(0), line(1));
    std::vector<uint8_t> two(2 * lineBytes);
    renderer.Render(70, 2, two.data());
    EXPECT_EQ(std::vector<uint8_t>(two.begin(), two.begin() + lineBytes), line(70));
}

TEST(PageRendering, LinesPastThePageAreNotWritten)
{
    const SheetImage sheet = Sheet(4, 4);
    PageRenderer renderer;
    ASSERT_TRUE(renderer.PrepareSheet(&sheet, AT_ORIGIN, ScanOf(4, 4, 300, IMAGE_GREY)));
    std::vector<uint8_t> buffer(3 * renderer.LineBytes(), 0xEE);
    renderer.Render(3, 3, buffer.data());
    EXPECT_NE(buffer[0], 0xEE);
    EXPECT_EQ(buffer[renderer.LineBytes()], 0xEE);
    EXPECT_EQ(buffer.back(), 0xEE);
}
