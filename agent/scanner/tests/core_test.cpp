// Portable arithmetic of a scanned page: the bitmap header's fields, and the
// shaping of the device's lookup tables. The palettes are checked where
// ImageMagick decodes whole pages, and the passes composed where the device
// receives the tables.
#include <gtest/gtest.h>

#include <vector>

#include "bitmap_header.h"
#include "bitmap_layout.h"
#include "scan_types.h"
#include "tone_tables.h"

using namespace bitmap_layout;

namespace {

TEST(BitmapHeader, FieldsAndEarlyEnd)
{
    struct Case {
        uint16_t type;
        uint32_t lineBytes, lines;
        uint16_t width300, height300, xDpi, yDpi;
        uint32_t headerSize, width, height, bits, colours, xPerMetre, yPerMetre;
    } cases[] = {
        {SCAN_TYPE_GREY, 2552, 100, 2550, 34, 300, 300, 1078, 2550, 34, 8, 256, 11811, 11811},
        {SCAN_TYPE_LINE_ART, 212, 2200, 2550, 3300, 200, 200, 62, 1700, 2200, 1, 0, 7874, 7874},
        // Pixels per metre round (72 dpi is 2834.6); widths use the device's
        // single-precision 1/300, which gives one pixel more than exact arithmetic here.
        {SCAN_TYPE_COLOUR, 12, 3, 60001, 3, 1199, 72, 54, 239804, 0, 24, 0, 47205, 2835},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " at " << c.xDpi << " dpi");
        ScanBitmap bitmap = {c.lineBytes, c.lines, c.width300, c.height300, c.xDpi, c.yDpi,
                             c.type,      0,       0,          nullptr,     nullptr};
        ASSERT_EQ(SetBitmapSizes(&bitmap), 1);
        std::vector<uint8_t> header(bitmap.HeaderSize, 0xCD);
        bitmap.Header = header.data();
        FillBitmapHeader(&bitmap);
        const uint8_t *h = header.data();
        EXPECT_EQ(bitmap.HeaderSize, c.headerSize);
        const uint32_t fields[][2] = {{OFFSET_FILE_SIZE, c.headerSize + c.lineBytes * c.lines},
                                      {OFFSET_PIXELS, c.headerSize},
                                      {OFFSET_WIDTH, c.width},
                                      {OFFSET_HEIGHT, c.height},
                                      {OFFSET_IMAGE_SIZE, c.lineBytes * c.lines},
                                      {OFFSET_X_PELS_PER_METRE, c.xPerMetre},
                                      {OFFSET_Y_PELS_PER_METRE, c.yPerMetre},
                                      {OFFSET_COLOURS_USED, c.colours}};
        for (const auto &field : fields)
            EXPECT_EQ(ReadLe32(h + field[0]), field[1]) << "field at " << field[0];
        EXPECT_EQ(ReadLe16(h + OFFSET_BIT_COUNT), c.bits);
        // A page that ended early: only what arrived counts; the width stays.
        ASSERT_EQ(SetBitmapHeaderLines(&bitmap, 1), 1);
        EXPECT_EQ(ReadLe32(h + OFFSET_HEIGHT), 1u);
        EXPECT_EQ(ReadLe32(h + OFFSET_IMAGE_SIZE), c.lineBytes);
        EXPECT_EQ(ReadLe32(h + OFFSET_FILE_SIZE), c.headerSize + c.lineBytes);
        EXPECT_EQ(ReadLe32(h + OFFSET_WIDTH), c.width);
    }
    // Types the writer does not know, and pages the 32-bit fields cannot state.
    ScanBitmap unknown = {4, 1, 0, 0, 0, 0, 1, 0, 0, nullptr, nullptr};
    ScanBitmap huge = {65536, 65536, 0, 0, 0, 0, SCAN_TYPE_COLOUR, 0, 0, nullptr, nullptr};
    EXPECT_EQ(SetBitmapSizes(&unknown) + SetBitmapSizes(&huge), 0);
}

TEST(ToneTables, GammaCurvesShapeAndCap)
{
    const TableShape bytes = {255, 1, 256};
    struct Case {
        const char *name;
        TableShape shape;
        double gamma;
        std::vector<std::pair<uint32_t, uint32_t>> probes; // entry, value
    } cases[] = {
        {"gamma 2.2", bytes, 2.2, {{0, 0}, {1, 21}, {16, 72}, {64, 136}, {128, 186}, {254, 255}, {255, 255}}},
        // Full scale beyond the table: results stop at the last entry.
        {"capped", {1023, 2, 256}, 2.0, {{1, 32}, {16, 128}, {17, 132}, {64, 255}, {255, 255}}},
        // Curves sent to infinity or NaN must still give defined entries.
        {"negative gamma", bytes, -0.5, {{0, 0}, {1, 255}, {128, 255}}},
        {"full scale 0", {0, 2, 16}, 1.0, {{0, 0}, {1, 0}, {15, 0}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> table(TableBytes(c.shape)), curve(TableBytes(c.shape));
        FillIdentityTable(table.data(), c.shape);
        BuildGammaCurve(curve.data(), c.shape, c.gamma);
        ApplyCurveToTable(table.data(), curve.data(), c.shape);
        for (const auto &probe : c.probes)
            EXPECT_EQ(ReadTableEntry(table.data(), c.shape, probe.first), probe.second) << "entry " << probe.first;
    }
}

} // namespace
