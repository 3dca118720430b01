// The transfer loop against a driver that breaks its contract: the file
// must still hold exactly the lines counted, in order, and the loop must end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bitmap_layout.h"
#include "scanner.h"
#include "scripted_driver.h"
#include "shared.h"
#include "test_support.h"

using namespace bitmap_layout;

namespace {

const uint32_t LINE_BYTES = 8;

TEST(TransferContract, FileHoldsExactlyTheLinesCounted)
{
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
        {"no line at all", 6, {{4, 0}}, 0, 1},
    };
    std::string folder = testsupport::MakeScratchFolder("contract");
    std::string page = folder + "\\page.bmp";
    std::string driverPath = testsupport::ProgramDirectory() + "ScriptedDriver.dll";
    ResourceLibrary = GetModuleHandleA(nullptr); // no dialogs
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Velmora scanner tests\\contract", 0, nullptr, 0,
                    KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    SettingsKey = key;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(ProbeScanner(driverPath.c_str()), PROBE_READY);
        auto setUp = (ScriptedDriverSetUpEntry)GetProcAddress(ScannerDriver.module, "ScriptedDriverSetUp");
        auto reads = (ScriptedDriverReadsEntry)GetProcAddress(ScannerDriver.module, "ScriptedDriverReads");
        ASSERT_TRUE(setUp && reads);
        setUp(c.reads.data(), (int)c.reads.size(), LINE_BYTES, c.lines, 4 * LINE_BYTES);

        ScanJobSettings settings = {};
        settings.PaperArea[2] = 6;
        settings.PaperArea[3] = (uint16_t)(c.lines * 300 / 100);
        settings.DeviceXResolution = settings.DeviceYResolution = 100;
        settings.AcquireType = SCAN_TYPE_GREY;
        EXPECT_EQ(AcquireToBitmap(settings, page.c_str()), 1);
        EXPECT_EQ(reads(), c.readsSent);

        std::string bytes;
        ASSERT_TRUE(testsupport::ReadWholeFile(page, &bytes));
        ASSERT_EQ(bytes.size(), 1078u + LINE_BYTES * c.kept);
        const uint8_t *h = (const uint8_t *)bytes.data();
        EXPECT_EQ(ReadLe32(h + OFFSET_HEIGHT), c.kept);
        EXPECT_EQ(ReadLe32(h + OFFSET_FILE_SIZE), bytes.size());
        for (uint32_t k = 0; k < c.kept; k++) {
            uint32_t line = c.kept - 1 - k; // stored bottom-up
            for (uint32_t i = 0; i < LINE_BYTES; i++)
                ASSERT_EQ((uint8_t)bytes[1078 + k * LINE_BYTES + i], ScriptedLineByte(line, i))
                    << "stored row " << k << " byte " << i;
        }
        UnloadScannerDriver();
    }
    RegCloseKey(key);
    SettingsKey = nullptr;
    testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\Velmora scanner tests\\contract");
    testsupport::RemoveTree(folder);
}

} // namespace
