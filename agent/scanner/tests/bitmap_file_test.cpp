// The bitmap file on disk: header, rows top line first, header rewritten for
// the lines received, rows turned bottom-up in place through the mapping.
#include <gtest/gtest.h>

#include "bitmap_layout.h"
#include "scanner.h"
#include "scanner_test_support.h"
#include "test_support.h"

using namespace bitmap_layout;

TEST(BitmapFile, RowsEndBottomUpForAnyCount)
{
    struct Case {
        uint32_t lineBytes, announced, received;
    } cases[] = {
        {12, 0, 0}, {12, 1, 1}, {12, 2, 2}, {12, 5, 5}, {12, 6, 6}, {12, 8, 5}, {12, 9, 0},
        // Larger than the flip's sliding views, with rows straddling their
        // edges, and rows larger than a default view.
        {1000004, 13, 13}, {5 * 1048576 + 4, 3, 3},
    };
    std::string folder = testsupport::MakeScratchFolder("bitmapfile"), path = folder + "\\page.bmp";
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.received << " of " << c.announced << " lines of " << c.lineBytes);
        ScanBitmap bitmap = {c.lineBytes, c.announced, 12, (uint16_t)c.announced, 300, 300, SCAN_TYPE_GREY,
                             0, 0, nullptr, nullptr};
        ASSERT_EQ(AllocBitmapHeader(&bitmap), 1);
        FillBitmapHeader(&bitmap);
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_EQ(WriteBitmapHeader(file, &bitmap), 1);
        std::string row(c.lineBytes, '\0');
        for (uint32_t line = 0; line < c.received; line++) {
            for (uint32_t i = 0; i < c.lineBytes; i++)
                row[i] = (char)(line * 7 + i * 3 + 1);
            DWORD written;
            WriteFile(file, row.data(), c.lineBytes, &written, nullptr);
        }
        EXPECT_EQ(FinishBitmapHeader(file, &bitmap, c.received), 1);
        FreeBitmapHeader(&bitmap);
        EXPECT_EQ(FlipBitmapRows(file, &bitmap, c.received), 1);
        CloseHandle(file);

        scannertest::AcquiredFile written;
        ASSERT_TRUE(scannertest::ReadAcquired(path, &written));
        ASSERT_EQ(written.bytes.size(), 1078u + (size_t)c.lineBytes * c.received);
        EXPECT_EQ(written.Field(OFFSET_HEIGHT), c.received);
        EXPECT_EQ(written.Field(OFFSET_FILE_SIZE), written.bytes.size());
        std::vector<uint8_t> rows = written.RowsTopFirst(c.lineBytes);
        for (size_t i = 0; i < rows.size(); i++)
            ASSERT_EQ(rows[i], (uint8_t)(i / c.lineBytes * 7 + i % c.lineBytes * 3 + 1)) << "byte " << i;
    }
    testsupport::RemoveTree(folder);
}
