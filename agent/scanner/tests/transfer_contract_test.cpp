// The transfer loop against a driver that breaks its contract: the file
// still holds exactly the lines counted, in order, and the loop ends.
#include <gtest/gtest.h>

#include "bitmap_layout.h"
#include "scanner_test_support.h"
#include "scripted_driver.h"
#include "shared.h"
#include "test_support.h"

TEST(TransferContract, FileHoldsExactlyTheLinesCounted)
{
    const uint32_t lineBytes = 8; // blocks of 4 lines
    struct Case {
        const char *name;
        uint32_t lines;
        std::vector<ScriptedRead> reads;
        uint32_t kept;
        int readsSent;
    } cases[] = {
        {"a success with no line ends the page", 10, {{0, 4}, {0, 0}, {0, 4}}, 4, 2},
        {"more lines claimed than the block holds", 10, {{0, 4}, {0, 9}, {4, 2}}, 10, 3},
        {"a short block", 7, {{0, 2}, {0, 4}, {4, 1}}, 7, 3},
        {"end of page claiming more than the block", 10, {{4, 9}}, 4, 1},
        {"more lines than the page has left", 6, {{0, 4}, {0, 4}, {0, 4}}, 8, 2},
    };
    std::string folder = testsupport::MakeScratchFolder("contract"), page = folder + "\\page.bmp";
    ResourceLibrary = GetModuleHandleA(nullptr); // no dialogs
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(ProbeScanner((testsupport::ProgramDirectory() + "ScriptedDriver.dll").c_str()), PROBE_READY);
        auto setUp = (ScriptedDriverSetUpEntry)GetProcAddress(ScannerDriver.module, "ScriptedDriverSetUp");
        auto reads = (ScriptedDriverReadsEntry)GetProcAddress(ScannerDriver.module, "ScriptedDriverReads");
        ASSERT_TRUE(setUp && reads);
        setUp(c.reads.data(), (int)c.reads.size(), lineBytes, c.lines, 4 * lineBytes);
        EXPECT_EQ(AcquireToBitmap(scannertest::MakeSettings(SCAN_TYPE_GREY, 6, 30, 100), page.c_str()), 1);
        EXPECT_EQ(reads(), c.readsSent);
        UnloadScannerDriver();

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
