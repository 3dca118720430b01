// The transfer loop against a driver that breaks its contract: the file
// still holds exactly the lines counted, in order, and the loop ends; a page
// whose lines are not the rows its header states is refused before any read.
#include <gtest/gtest.h>

#include "bitmap_layout.h"
#include "scanner_test_support.h"
#include "scripted_driver.h"
#include "shared.h"
#include "test_support.h"

namespace {

int ReadsSeen;

int AcquireScripted(const std::vector<ScriptedRead> &script, uint32_t lineBytes, uint32_t lines, uint16_t width300,
                    uint16_t dpi, const std::string &page)
{
    if (ProbeScanner((testsupport::ProgramDirectory() + "ScriptedDriver.dll").c_str()) != PROBE_READY)
        return -1;
    auto setUp = (ScriptedDriverSetUpEntry)GetProcAddress(ScannerDriver.module, "ScriptedDriverSetUp");
    auto reads = (ScriptedDriverReadsEntry)GetProcAddress(ScannerDriver.module, "ScriptedDriverReads");
    int result = -1;
    if (setUp && reads) {
        setUp(script.data(), (int)script.size(), lineBytes, lines, 4 * lineBytes);
        result = AcquireToBitmap(scannertest::MakeSettings(SCAN_TYPE_GREY, width300, 30, dpi), page.c_str());
        ReadsSeen = reads();
    }
    UnloadScannerDriver();
    return result;
}

} // namespace

TEST(TransferContract, FileHoldsExactlyTheLinesCounted)
{
    // Blocks of 4 lines; by default 8 grey pixels at 100 dpi, rows of 8 bytes.
    struct Case {
        const char *name;
        uint32_t lines;
        std::vector<ScriptedRead> reads;
        uint32_t kept;
        int readsSent;
        uint32_t lineBytes = 8;
        uint16_t width300 = 24, dpi = 100;
    } cases[] = {
        {"a success with no line ends the page", 10, {{0, 4}, {0, 0}, {0, 4}}, 4, 2},
        {"more lines claimed than the block holds", 10, {{0, 4}, {0, 9}, {4, 2}}, 10, 3},
        {"a short block", 7, {{0, 2}, {0, 4}, {4, 1}}, 7, 3},
        {"end of page claiming more than the block", 10, {{4, 9}}, 4, 1},
        {"more lines than the page has left", 6, {{0, 4}, {0, 4}, {0, 4}}, 6, 2},
        // Rows of 128 KiB fill the staging buffer every 8 lines: the page is
        // written in several places and then moved down when it ends early.
        {"long rows, ending early", 30, {{0, 4}, {0, 4}, {0, 4}, {0, 4}, {0, 4}, {4, 3}}, 23, 6, 131072, 65535, 600},
    };
    std::string folder = testsupport::MakeScratchFolder("contract"), page = folder + "\\page.bmp";
    ResourceLibrary = GetModuleHandleA(nullptr); // no dialogs
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t lineBytes = c.lineBytes;
        EXPECT_EQ(AcquireScripted(c.reads, lineBytes, c.lines, c.width300, c.dpi, page), 1);
        EXPECT_EQ(ReadsSeen, c.readsSent);

        scannertest::AcquiredFile file;
        ASSERT_TRUE(scannertest::ReadAcquired(page, &file));
        ASSERT_EQ(file.bytes.size(), 1078u + lineBytes * c.kept);
        EXPECT_EQ(file.Field(bitmap_layout::OFFSET_HEIGHT), c.kept);
        std::vector<uint8_t> rows = file.RowsTopFirst(lineBytes);
        for (size_t i = 0; i < rows.size(); i++)
            ASSERT_EQ(rows[i], ScriptedLineByte((uint32_t)(i / lineBytes), (uint32_t)(i % lineBytes))) << "byte " << i;
    }
    testsupport::RemoveTree(folder);
}

TEST(TransferContract, LinesLongerOrShorterThanTheRowsFailThePage)
{
    std::string folder = testsupport::MakeScratchFolder("contract"), page = folder + "\\page.bmp";
    ResourceLibrary = GetModuleHandleA(nullptr);
    // 2 and 12 grey pixels need rows of 4 and 12 bytes; the driver sends 8.
    for (uint16_t width300 : {6, 36}) {
        SCOPED_TRACE(width300);
        EXPECT_EQ(AcquireScripted({{4, 4}}, 8, 4, width300, 100, page), 0);
        EXPECT_EQ(ReadsSeen, 0);
        EXPECT_EQ(GetFileAttributesA(page.c_str()), INVALID_FILE_ATTRIBUTES) << "no file is left";
    }
    testsupport::RemoveTree(folder);
}
