// Bitmap files as the scanner writes them: header fields, palette and
// bottom-up rows, byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "bitmap_layout.h"
#include "bmp_writer.h"

using namespace pixkit;
using namespace bitmap_layout;

namespace {

class StringSink : public ByteSink {
public:
    bool Write(const uint8_t *bytes, size_t count) override
    {
        if (failAfter >= 0 && int(data.size() + count) > failAfter)
            return false;
        data.append(reinterpret_cast<const char *>(bytes), count);
        return true;
    }
    std::string data;
    int failAfter = -1;
};

const uint8_t *Bytes(const std::string &s) { return reinterpret_cast<const uint8_t *>(s.data()); }

} // namespace

TEST(BmpWriter, HeaderFieldsForEachDepth)
{
    struct Case {
        PixelLayout layout;
        uint32_t width, height, dpi;
        uint32_t headerBytes, rowBytes, bits, coloursUsed, pelsPerMetre;
    } const cases[] = {
        {LAYOUT_BILEVEL, 33, 3, 300, 62, 8, 1, 0, 11811},
        {LAYOUT_GREY, 5, 2, 200, 1078, 8, 8, 256, 7874},
        {LAYOUT_BGR, 3, 4, 100, 54, 12, 24, 0, 3937},
    };
    for (const Case &c : cases) {
        Raster r;
        ASSERT_TRUE(AllocateRaster(&r, c.layout, c.width, c.height));
        StringSink sink;
        ASSERT_TRUE(WriteBmp(r, c.dpi, c.dpi, &sink));
        const uint8_t *h = Bytes(sink.data);
        ASSERT_EQ(c.headerBytes + c.rowBytes * c.height, sink.data.size());
        EXPECT_EQ('B', h[0]);
        EXPECT_EQ('M', h[1]);
        EXPECT_EQ(sink.data.size(), ReadLe32(h + OFFSET_FILE_SIZE));
        EXPECT_EQ(c.headerBytes, ReadLe32(h + OFFSET_PIXELS));
        EXPECT_EQ(40u, ReadLe32(h + OFFSET_INFO_SIZE));
        EXPECT_EQ(c.width, ReadLe32(h + OFFSET_WIDTH));
        EXPECT_EQ(c.height, ReadLe32(h + OFFSET_HEIGHT)); // positive: bottom-up
        EXPECT_EQ(1, ReadLe16(h + OFFSET_PLANES));
        EXPECT_EQ(c.bits, ReadLe16(h + OFFSET_BIT_COUNT));
        EXPECT_EQ(0u, ReadLe32(h + OFFSET_COMPRESSION));
        EXPECT_EQ(c.rowBytes * c.height, ReadLe32(h + OFFSET_IMAGE_SIZE));
        EXPECT_EQ(c.pelsPerMetre, ReadLe32(h + OFFSET_X_PELS_PER_METRE));
        EXPECT_EQ(c.pelsPerMetre, ReadLe32(h + OFFSET_Y_PELS_PER_METRE));
        EXPECT_EQ(c.coloursUsed, ReadLe32(h + OFFSET_COLOURS_USED));
    }
}

TEST(BmpWriter, PalettesAreBlackWhiteAndAGreyRamp)
{
    Raster art, grey;
    ASSERT_TRUE(AllocateRaster(&art, LAYOUT_BILEVEL, 1, 1));
    ASSERT_TRUE(AllocateRaster(&grey, LAYOUT_GREY, 1, 1));
    StringSink artFile, greyFile;
    ASSERT_TRUE(WriteBmp(art, 300, 300, &artFile));
    ASSERT_TRUE(WriteBmp(grey, 300, 300, &greyFile));
    EXPECT_EQ(std::string("\0\0\0\0\xff\xff\xff\0", 8), artFile.data.substr(OFFSET_PALETTE, 8));
    for (int i = 0; i < 256; ++i) {
        const uint8_t *entry = Bytes(greyFile.data) + OFFSET_PALETTE + i * 4;
        ASSERT_EQ(i, entry[0]);
        ASSERT_EQ(i, entry[1]);
        ASSERT_EQ(i, entry[2]);
        ASSERT_EQ(0, entry[3]);
    }
}

TEST(BmpWriter, TopRowIsStoredLast)
{
    Raster r;
    ASSERT_TRUE(AllocateRaster(&r, LAYOUT_GREY, 2, 3));
    for (uint32_t y = 0; y < 3; ++y)
        r.Row(y)[0] = r.Row(y)[1] = uint8_t(10 * (y + 1));
    StringSink sink;
    ASSERT_TRUE(WriteBmp(r, 300, 300, &sink));
    std::string rows = sink.data.substr(GREY_HEADER_BYTES);
    EXPECT_EQ(std::string("\x1e\x1e\0\0\x14\x14\0\0\x0a\x0a\0\0", 12), rows);
}

TEST(BmpWriter, RefusingSinkFailsTheWrite)
{
    Raster r;
    ASSERT_TRUE(AllocateRaster(&r, LAYOUT_BGR, 4, 4));
    StringSink sink;
    sink.failAfter = 60; // header goes through, the rows do not
    EXPECT_FALSE(WriteBmp(r, 300, 300, &sink));
    Raster empty;
    EXPECT_FALSE(WriteBmp(empty, 300, 300, &sink));
}
