// Header arithmetic of scanned pages: sizes, resolution fields, palettes and
// the rewrite for a page that ended early, read back byte by byte.
#include <gtest/gtest.h>

#include <vector>

#include "bitmap_header.h"
#include "bitmap_layout.h"
#include "scan_types.h"

using namespace bitmap_layout;

namespace {

struct Page {
    uint16_t type;
    uint32_t lineBytes;
    uint32_t lines;
    uint16_t width300, height300, xDpi, yDpi;
};

// Fills a header for `page` into `bytes` and returns the bitmap record.
ScanBitmap MakeHeader(const Page &page, std::vector<uint8_t> *bytes)
{
    ScanBitmap bitmap = {};
    bitmap.Type = page.type;
    bitmap.LineBytes = page.lineBytes;
    bitmap.Lines = page.lines;
    bitmap.Width300 = page.width300;
    bitmap.Height300 = page.height300;
    bitmap.XDpi = page.xDpi;
    bitmap.YDpi = page.yDpi;
    EXPECT_EQ(SetBitmapSizes(&bitmap), 1);
    bytes->assign(bitmap.HeaderSize, 0xCD);
    bitmap.Header = bytes->data();
    FillBitmapHeader(&bitmap);
    return bitmap;
}

TEST(BitmapHeader, FieldsForEachType)
{
    struct Case {
        Page page;
        uint32_t headerSize, fileSize, width, height, bits, coloursUsed, xPerMetre, yPerMetre;
    } cases[] = {
        // A grey page of 100 lines of 2552 bytes at 300 dpi.
        {{SCAN_TYPE_GREY, 2552, 100, 2550, 34, 300, 300}, 1078, 1078 + 255200, 2550, 34, 8, 256, 11811, 11811},
        // Line art at 200 dpi over a letter width.
        {{SCAN_TYPE_LINE_ART, 212, 2200, 2550, 3300, 200, 200}, 62, 62 + 212 * 2200, 1700, 2200, 1, 0, 7874, 7874},
        // Colour at 600 dpi across 2550 units: 5100 pixels.
        {{SCAN_TYPE_COLOUR, 15300, 7014, 2550, 3507, 600, 600}, 54, 54 + 15300u * 7014u, 5100, 7014, 24, 0, 23622, 23622},
        // Pixels per metre are rounded, not truncated: 72 dpi is 2834.6 per metre.
        {{SCAN_TYPE_COLOUR, 12, 3, 12, 12, 72, 300}, 54, 54 + 36, 2, 12, 24, 0, 2835, 11811},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes;
        ScanBitmap bitmap = MakeHeader(c.page, &bytes);
        SCOPED_TRACE(testing::Message() << "type " << c.page.type << " at " << c.page.xDpi << " dpi");
        const uint8_t *h = bytes.data();
        EXPECT_EQ(bitmap.HeaderSize, c.headerSize);
        EXPECT_EQ(bitmap.FileSize, c.fileSize);
        EXPECT_EQ(h[0], 'B');
        EXPECT_EQ(h[1], 'M');
        EXPECT_EQ(ReadLe32(h + OFFSET_FILE_SIZE), c.fileSize);
        EXPECT_EQ(ReadLe32(h + 6), 0u) << "reserved words";
        EXPECT_EQ(ReadLe32(h + OFFSET_PIXELS), c.headerSize);
        EXPECT_EQ(ReadLe32(h + OFFSET_INFO_SIZE), 40u);
        EXPECT_EQ(ReadLe32(h + OFFSET_WIDTH), c.width);
        EXPECT_EQ(ReadLe32(h + OFFSET_HEIGHT), c.height);
        EXPECT_EQ(ReadLe16(h + OFFSET_PLANES), 1);
        EXPECT_EQ(ReadLe16(h + OFFSET_BIT_COUNT), c.bits);
        EXPECT_EQ(ReadLe32(h + OFFSET_COMPRESSION), 0u);
        EXPECT_EQ(ReadLe32(h + OFFSET_IMAGE_SIZE), c.page.lineBytes * c.page.lines);
        EXPECT_EQ(ReadLe32(h + OFFSET_X_PELS_PER_METRE), c.xPerMetre);
        EXPECT_EQ(ReadLe32(h + OFFSET_Y_PELS_PER_METRE), c.yPerMetre);
        EXPECT_EQ(ReadLe32(h + OFFSET_COLOURS_USED), c.coloursUsed);
        EXPECT_EQ(ReadLe32(h + OFFSET_COLOURS_IMPORTANT), 0u);
    }
}

TEST(BitmapHeader, Palettes)
{
    std::vector<uint8_t> bytes;
    MakeHeader({SCAN_TYPE_LINE_ART, 4, 1, 30, 1, 300, 300}, &bytes);
    const uint8_t lineArt[8] = {0, 0, 0, 0, 255, 255, 255, 0};
    ASSERT_EQ(bytes.size(), 62u);
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(bytes[OFFSET_PALETTE + i], lineArt[i]) << "line-art palette byte " << i;

    MakeHeader({SCAN_TYPE_GREY, 4, 1, 4, 1, 300, 300}, &bytes);
    ASSERT_EQ(bytes.size(), 1078u);
    for (int i = 0; i < 256; i++) {
        const uint8_t *entry = &bytes[OFFSET_PALETTE + 4 * i];
        ASSERT_TRUE(entry[0] == i && entry[1] == i && entry[2] == i && entry[3] == 0) << "grey entry " << i;
    }
}

TEST(BitmapHeader, WidthUsesTheDevicesSinglePrecisionThird)
{
    // The device's 1/300 is slightly above the true value; exact arithmetic
    // gives one pixel less in these cases and the picture would be cut.
    struct Case {
        uint16_t dpi, extent;
        int32_t pixels;
    } cases[] = {
        {600, 2550, 5100},
        {300, 3, 3},
        {100, 3, 1},
        {1199, 60001, 239804},
        {300, 0, 0},
        {0, 2550, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(BitmapPixelsFor(c.dpi, c.extent), c.pixels) << c.dpi << " dpi over " << c.extent;
}

TEST(BitmapHeader, EarlyEndCountsOnlyTheLinesReceived)
{
    std::vector<uint8_t> bytes;
    ScanBitmap bitmap = MakeHeader({SCAN_TYPE_GREY, 2552, 100, 2550, 34, 300, 300}, &bytes);
    ASSERT_EQ(SetBitmapHeaderLines(&bitmap, 37), 1);
    const uint8_t *h = bytes.data();
    EXPECT_EQ(ReadLe32(h + OFFSET_HEIGHT), 37u);
    EXPECT_EQ(ReadLe32(h + OFFSET_IMAGE_SIZE), 37u * 2552);
    EXPECT_EQ(ReadLe32(h + OFFSET_FILE_SIZE), 1078u + 37u * 2552);
    EXPECT_EQ(ReadLe32(h + OFFSET_PIXELS), 1078u);
    EXPECT_EQ(ReadLe32(h + OFFSET_WIDTH), 2550u) << "width stays as computed from the extent";
    EXPECT_EQ(bitmap.FileSize, 1078u + 255200u) << "the record keeps the announced size";

    ASSERT_EQ(SetBitmapHeaderLines(&bitmap, 0), 1);
    EXPECT_EQ(ReadLe32(h + OFFSET_HEIGHT), 0u);
    EXPECT_EQ(ReadLe32(h + OFFSET_FILE_SIZE), 1078u);
}

TEST(BitmapHeader, RefusesWhatTheFileCannotState)
{
    struct Case {
        uint16_t type;
        uint32_t lineBytes, lines;
    } cases[] = {
        {1, 4, 1},              // no such scan type
        {4, 4, 1},
        {SCAN_TYPE_COLOUR, 65536, 65536}, // 4 GiB of rows
        {SCAN_TYPE_GREY, 0xFFFFFFFFu, 1},
    };
    for (const Case &c : cases) {
        ScanBitmap bitmap = {};
        bitmap.Type = c.type;
        bitmap.LineBytes = c.lineBytes;
        bitmap.Lines = c.lines;
        EXPECT_EQ(SetBitmapSizes(&bitmap), 0) << "type " << c.type << ", " << c.lines << " x " << c.lineBytes;
    }

    std::vector<uint8_t> bytes;
    ScanBitmap bitmap = MakeHeader({SCAN_TYPE_COLOUR, 65536, 10, 30, 30, 300, 300}, &bytes);
    EXPECT_EQ(SetBitmapHeaderLines(&bitmap, 65536), 0);
    EXPECT_EQ(ReadLe32(bytes.data() + OFFSET_HEIGHT), 30u) << "a refused rewrite leaves the header alone";
}

} // namespace
