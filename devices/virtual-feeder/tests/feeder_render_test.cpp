// The virtual scanner's portable rules: the geometry it accepts, tone
// shaping, the bytes of composed and packed lines, transfer blocks with
// their end-of-page status, and placement files.
#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

#include "page_render.h"
#include "placement_text.h"
#include "transfer_plan.h"

using namespace feeder;

namespace {

FeederScanSetup ScanOf(uint16_t width300, uint16_t height300, uint16_t dpi, uint16_t type)
{
    FeederScanSetup setup = {};
    ScanRequest request = {{0, 0, width300, height300}, dpi, dpi, type};
    EXPECT_EQ(PlanScan(request, DEFAULT_MAX_WIDTH300, DEFAULT_MAX_HEIGHT300, &setup), FEED_STATUS_OK);
    return setup;
}

SheetImage Sheet(uint32_t width, uint32_t height, std::vector<uint8_t> rgb)
{
    SheetImage sheet;
    sheet.Width = width;
    sheet.Height = height;
    sheet.Rgb = rgb;
    return sheet;
}

std::vector<uint8_t> RenderAll(const PageRenderer &renderer)
{
    std::vector<uint8_t> rows((size_t)renderer.LineBytes() * renderer.Lines(), 0xEE);
    renderer.Render(0, renderer.Lines(), rows.data());
    return rows;
}

const FeederPlacement AT_ORIGIN = {0, 0, 0, 0x000000, 300};

} // namespace

TEST(ScanGeometry, AbsurdRequestsAreRefused)
{
    const ScanRequest refused[] = {
        {{0, 0, 600, 600}, 300, 300, 1},   {{0, 0, 600, 600}, 300, 300, 4},   {{0, 0, 600, 600}, 0, 300, 2},
        {{0, 0, 600, 600}, 300, 49, 2},    {{0, 0, 600, 600}, 1201, 300, 2},  {{0, 0, 0, 600}, 300, 300, 2},
        {{0, 0, 600, 0}, 300, 300, 2},     {{2550, 0, 10, 10}, 300, 300, 2},  {{0, 4200, 10, 10}, 300, 300, 2},
        {{0, 0, 60000, 600}, 300, 300, 3}, {{0, 0, 600, 65535}, 300, 300, 3}, {{0, 0, 1, 600}, 100, 100, 2},
    };
    FeederScanSetup setup = {};
    for (const ScanRequest &r : refused)
        EXPECT_EQ(PlanScan(r, DEFAULT_MAX_WIDTH300, DEFAULT_MAX_HEIGHT300, &setup), FEED_STATUS_BAD_REQUEST)
            << &r - refused;
}

TEST(ToneShaping, ContrastAboutMidGreyThenBrightness)
{
    const int cases[][4] = {// value, brightness, contrast, expected
                            {100, 0, 0, 100},   {255, 0, 0, 255},    {128, 0, 127, 128}, {129, 0, 127, 255},
                            {127, 0, 127, 0},   {200, 0, -127, 128}, {160, 0, 64, 192},  {96, 0, -64, 112},
                            {50, 20, 0, 70},    {250, 20, 0, 255},   {10, -20, 0, 0},    {100, 500, 0, 227},
                            {100, 0, -500, 128}};
    for (const auto &c : cases)
        EXPECT_EQ(ShapeSample(c[0], c[1], c[2]), c[3]) << c[0] << " b " << c[1] << " c " << c[2];
}

// Small sheets whose every delivered byte is known.
TEST(PageRendering, LinesCarryTheComposedSheet)
{
    struct Case {
        const char *what;
        SheetImage sheet;
        FeederPlacement placement;
        FeederScanSetup setup;
        std::vector<uint8_t> rows;
    } cases[] = {
        {"colour as blue, green, red, padded",
         Sheet(2, 1, {10, 20, 30, 40, 50, 60}),
         AT_ORIGIN,
         ScanOf(2, 1, 300, IMAGE_COLOUR),
         {30, 20, 10, 60, 50, 40, 0, 0}},
        {"grey is the weighted luminance",
         Sheet(4, 1, {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}),
         AT_ORIGIN,
         ScanOf(4, 1, 300, IMAGE_GREY),
         {77, 149, 29, 255}},
        {"line art: first pixel in the top bit, white 1",
         Sheet(10, 1, {200, 200, 200, 40, 40, 40, 200, 200, 200, 200, 200, 200, 40, 40, 40,
                       40,  40,  40,  40, 40, 40, 200, 200, 200, 200, 200, 200, 40, 40, 40}),
         AT_ORIGIN,
         ScanOf(10, 1, 300, IMAGE_LINE_ART),
         {0xB1, 0x80, 0x00, 0x00}},
        {"backing around a placed sheet",
         Sheet(1, 1, {200, 200, 200}),
         {1, 1, 0, 0x404040, 300},
         ScanOf(2, 2, 300, IMAGE_GREY),
         {64, 64, 0, 0, 64, 200, 0, 0}},
        // At 150 dpi the four 300 dpi sheet pixels meet at the scanned pixel's centre.
        {"half the sheet's resolution averages",
         Sheet(2, 2, {0, 0, 0, 100, 100, 100, 200, 200, 200, 100, 100, 100}),
         AT_ORIGIN,
         ScanOf(2, 2, 150, IMAGE_GREY),
         {100, 0, 0, 0}},
        {"tables shape each channel: red to 0, green as it is, blue inverted",
         Sheet(1, 1, {10, 120, 250}),
         AT_ORIGIN,
         ScanOf(1, 1, 300, IMAGE_COLOUR),
         {5, 120, 0, 0}},
    };
    FeederScanSetup &tabled = cases[5].setup;
    tabled.TableCount = 3;
    tabled.TableShape = {255, 3, 1, 256, 4, 0};
    for (int i = 0; i < 256; ++i)
        tabled.Tables[256 + i] = uint8_t(i), tabled.Tables[512 + i] = uint8_t(255 - i);
    for (const Case &c : cases) {
        PageRenderer renderer;
        ASSERT_TRUE(renderer.PrepareSheet(&c.sheet, c.placement, c.setup)) << c.what;
        EXPECT_EQ(RenderAll(renderer), c.rows) << c.what;
    }
}

// Pages of lines of 100 bytes read the way the agent reads: until a non-zero
// status or the announced lines arrived, then once more after the end.
TEST(TransferPlan, BlocksTheLastPartAndPageFaults)
{
    typedef std::vector<std::pair<int, uint32_t>> Reads; // status, lines
    const int OK = FEED_STATUS_OK, END = FEED_STATUS_END_OF_PAGE, FAIL = -12;
    struct Case {
        const char *what;
        uint32_t lines, transferSize;
        int endAfter, failAfter; // -1: no such fault
        Reads reads;
    } const cases[] = {
        {"short last block ends with status 4", 10, 300, -1, -1, {{OK, 3}, {OK, 3}, {OK, 3}, {END, 1}}},
        {"a partial line in the block is not used", 10, 399, -1, -1, {{OK, 3}, {OK, 3}, {OK, 3}, {END, 1}}},
        {"page smaller than a block", 2, 300, -1, -1, {{END, 2}}},
        {"whole number of blocks needs no status 4", 2, 100, -1, -1, {{OK, 1}, {OK, 1}}},
        {"block smaller than a line", 2, 99, -1, -1, {{FEED_STATUS_BAD_REQUEST, 0}}},
        {"ends on a block boundary, still with status 4", 9, 300, 6, -1, {{OK, 3}, {END, 3}}},
        {"ends before the first line", 9, 300, 0, -1, {{END, 0}}},
        {"an end at the page's own length is no early end", 9, 300, 9, -1, {{OK, 3}, {OK, 3}, {OK, 3}}},
        {"read fails once the lines arrived", 9, 300, -1, 4, {{OK, 3}, {OK, 3}, {FAIL, 0}}},
        {"read fails at once", 9, 300, -1, 0, {{FAIL, 0}}},
    };
    for (const Case &c : cases) {
        PageProgress page;
        page.LineBytes = 100;
        page.Lines = c.lines;
        page.EndEarly = c.endAfter >= 0;
        page.EndAfter = uint32_t(c.endAfter);
        page.FailEarly = c.failAfter >= 0;
        page.FailAfter = uint32_t(c.failAfter);
        page.FailStatus = FAIL;
        Reads reads;
        for (ReadOutcome read = {OK, 0}; read.Status == OK && page.Delivered < page.Lines && reads.size() < 100;) {
            read = PlanRead(page, c.transferSize);
            reads.push_back({read.Status, read.Lines});
            page.Delivered += read.Lines;
        }
        EXPECT_EQ(reads, c.reads) << c.what;
        // A read after the end of a page that ended answers status 4 and no line.
        const ReadOutcome after = PlanRead(page, c.transferSize);
        const bool ended = c.failAfter < 0 && c.transferSize >= 100;
        EXPECT_TRUE(!ended || (after.Status == END && after.Lines == 0)) << c.what;
    }
}

TEST(PlacementText, ReadsKeysKeepsDefaultsForTheRestAndRefusesBadFiles)
{
    const FeederPlacement defaults = {150, 150, 0, 0x202020, 0};
    auto fields = [](const FeederPlacement &p) {
        return std::make_tuple(p.X300, p.Y300, p.SkewMilliDegrees, p.BackingRgb, p.SheetDpi);
    };
    struct Case {
        const char *text;
        bool read;
        FeederPlacement expected;
    } const cases[] = {
        {"", true, defaults},
        {"x=10\ny=-20\n", true, {10, -20, 0, 0x202020, 0}},
        {"# comment\n\n  skew = -1.25 \r\n", true, {150, 150, -1250, 0x202020, 0}},
        {"backing=FFaa00\ndpi=600", true, {150, 150, 0, 0xFFAA00, 600}},
        {"skew=0.0005", true, {150, 150, 1, 0x202020, 0}},
        // A bad file changes nothing, not even the keys read before the bad one.
        {"x=10\ncolour=red", false, defaults},
        {"x=abc", false, defaults},
        {"x=", false, defaults},
        {"y=12.5", false, defaults},
        {"backing=12345", false, defaults},
        {"backing=GG0000", false, defaults},
        {"skew=400", false, defaults},
        {"skew=nan", false, defaults},
        {"dpi=-3", false, defaults},
        {"x 10", false, defaults},
        {"x=99999999999", false, defaults},
    };
    for (const Case &c : cases) {
        FeederPlacement placement = defaults;
        EXPECT_EQ(ParsePlacement(c.text, &placement), c.read) << c.text;
        EXPECT_EQ(fields(placement), fields(c.expected)) << c.text;
    }
}
