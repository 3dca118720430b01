// The bitmap file as acquisition builds it on disk: header first, rows top
// line first, header rewritten, rows turned bottom-up through a file mapping;
// read back byte by byte and by an independent reader on the Linux side.
#include <gtest/gtest.h>

#include <string>

#include "bitmap_layout.h"
#include "scanner.h"
#include "test_support.h"

using namespace bitmap_layout;

namespace {

class BitmapFileTest : public testing::Test {
protected:
    void SetUp() override { folder_ = testsupport::MakeScratchFolder("bitmapfile"); }
    void TearDown() override { testsupport::RemoveTree(folder_); }
    std::string folder_;
};

// Row `line` of the page as the device delivered it: every byte tells the
// line and the column apart.
std::string DeviceRow(uint32_t line, uint32_t lineBytes)
{
    std::string row(lineBytes, '\0');
    for (uint32_t i = 0; i < lineBytes; i++)
        row[i] = (char)(line * 7 + i * 3 + 1);
    return row;
}

// Writes a page the way acquisition does and returns the file's bytes.
std::string WritePage(const std::string &path, ScanBitmap *bitmap, uint32_t received, int *flipped)
{
    EXPECT_EQ(AllocBitmapHeader(bitmap), 1);
    FillBitmapHeader(bitmap);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(WriteBitmapHeader(file, bitmap), 1);
    for (uint32_t line = 0; line < received; line++) {
        std::string row = DeviceRow(line, bitmap->LineBytes);
        DWORD written = 0;
        WriteFile(file, row.data(), (DWORD)row.size(), &written, nullptr);
    }
    EXPECT_EQ(FinishBitmapHeader(file, bitmap, received), 1);
    FreeBitmapHeader(bitmap);
    EXPECT_EQ(bitmap->Header, nullptr);
    *flipped = FlipBitmapRows(file, bitmap, received);
    CloseHandle(file);
    std::string bytes;
    EXPECT_TRUE(testsupport::ReadWholeFile(path, &bytes));
    return bytes;
}

TEST_F(BitmapFileTest, RowsEndBottomUpForAnyCount)
{
    struct Case {
        uint32_t lineBytes, announced, received;
    } cases[] = {
        {12, 0, 0}, {12, 1, 1}, {12, 2, 2}, {12, 5, 5}, {12, 6, 6}, {12, 8, 5}, {12, 9, 0},
        // Pages larger than the flip's sliding views, with rows that straddle
        // a view's edge, and rows larger than the default view.
        {1000004, 13, 13},
        {5 * 1048576 + 4, 3, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.received << " of " << c.announced << " lines of " << c.lineBytes);
        ScanBitmap bitmap = {};
        bitmap.Type = SCAN_TYPE_GREY;
        bitmap.LineBytes = c.lineBytes;
        bitmap.Lines = c.announced;
        bitmap.Width300 = 12;
        bitmap.Height300 = (uint16_t)c.announced;
        bitmap.XDpi = bitmap.YDpi = 300;
        int flipped = 0;
        std::string bytes = WritePage(folder_ + "\\page.bmp", &bitmap, c.received, &flipped);
        EXPECT_EQ(flipped, 1);
        ASSERT_EQ(bytes.size(), 1078u + (size_t)c.lineBytes * c.received);
        const uint8_t *h = (const uint8_t *)bytes.data();
        EXPECT_EQ(ReadLe32(h + OFFSET_HEIGHT), c.received);
        EXPECT_EQ(ReadLe32(h + OFFSET_FILE_SIZE), bytes.size());
        EXPECT_EQ(ReadLe32(h + OFFSET_IMAGE_SIZE), c.lineBytes * c.received);
        EXPECT_EQ(ReadLe32(h + OFFSET_WIDTH), 12u);
        // Stored row k is the device's line received - 1 - k.
        for (uint32_t k = 0; k < c.received; k++)
            EXPECT_TRUE(bytes.compare(1078 + (size_t)c.lineBytes * k, c.lineBytes,
                                      DeviceRow(c.received - 1 - k, c.lineBytes)) == 0)
                << "stored row " << k;
    }
}

TEST_F(BitmapFileTest, HeaderWriteToABadFileFails)
{
    ScanBitmap bitmap = {};
    bitmap.Type = SCAN_TYPE_COLOUR;
    bitmap.LineBytes = 12;
    bitmap.Lines = 3;
    ASSERT_EQ(AllocBitmapHeader(&bitmap), 1);
    FillBitmapHeader(&bitmap);
    EXPECT_EQ(WriteBitmapHeader(INVALID_HANDLE_VALUE, &bitmap), 0);
    // A handle open for reading only cannot take the header.
    std::string path = folder_ + "\\readonly.bmp";
    ASSERT_TRUE(testsupport::WriteWholeFile(path, "x"));
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(WriteBitmapHeader(file, &bitmap), 0);
    EXPECT_EQ(FinishBitmapHeader(file, &bitmap, 3), 0);
    EXPECT_EQ(FlipBitmapRows(file, &bitmap, 3), 0) << "no writable mapping on a read-only handle";
    CloseHandle(file);
    FreeBitmapHeader(&bitmap);
    FreeBitmapHeader(&bitmap); // a second release finds nothing to free
}

TEST_F(BitmapFileTest, UnknownTypeGetsNoHeader)
{
    ScanBitmap bitmap = {};
    bitmap.Type = 1;
    bitmap.LineBytes = 4;
    bitmap.Lines = 1;
    EXPECT_EQ(AllocBitmapHeader(&bitmap), 0);
    EXPECT_EQ(bitmap.Header, nullptr);
    EXPECT_EQ(bitmap.HeaderHandle, nullptr);
}

TEST_F(BitmapFileTest, IndependentReaderSeesTheTopLineOnTop)
{
    // Colour, 3 pixels by 4 lines: the device's first line is red, the rest
    // blue. After the flip a standard reader must show red on the top row.
    ScanBitmap bitmap = {};
    bitmap.Type = SCAN_TYPE_COLOUR;
    bitmap.LineBytes = 12;
    bitmap.Lines = 4;
    bitmap.Width300 = 3;
    bitmap.Height300 = 4;
    bitmap.XDpi = bitmap.YDpi = 300;
    ASSERT_EQ(AllocBitmapHeader(&bitmap), 1);
    FillBitmapHeader(&bitmap);
    std::string path = folder_ + "\\colour.bmp";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_EQ(WriteBitmapHeader(file, &bitmap), 1);
    for (int line = 0; line < 4; line++) {
        std::string row(12, '\0');
        for (int x = 0; x < 3; x++) {
            row[3 * x] = line == 0 ? 0 : (char)255;     // blue
            row[3 * x + 2] = line == 0 ? (char)255 : 0; // red
        }
        DWORD written;
        WriteFile(file, row.data(), 12, &written, nullptr);
    }
    ASSERT_EQ(FinishBitmapHeader(file, &bitmap, 4), 1);
    FreeBitmapHeader(&bitmap);
    ASSERT_EQ(FlipBitmapRows(file, &bitmap, 4), 1);
    CloseHandle(file);

    std::string output;
    std::string unixPath = testsupport::UnixPath(path);
    ASSERT_FALSE(unixPath.empty());
    int code = testsupport::RunHostShell("identify -format '%w %h %[resolution.x] %[units]\\n' '" + unixPath +
                                             "' && convert '" + unixPath +
                                             "' -format '%[pixel:p{1,0}] %[pixel:p{1,3}]' info:",
                                         &output);
    ASSERT_EQ(code, 0) << output;
    EXPECT_NE(output.find("3 4 118.11 PixelsPerCentimeter"), std::string::npos) << output;
    EXPECT_NE(output.find("srgb(255,0,0) srgb(0,0,255)"), std::string::npos) << output;
}

} // namespace
