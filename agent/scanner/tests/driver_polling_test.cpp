// The driver's loading and the short polling sequences, against the virtual
// scanner: each outcome's result and the exact commands the device saw.
#include "scanner_test_support.h"

#include <functional>

#include "shared.h"
#include "test_support.h"

using scannertest::Repeat;
using scannertest::TracedCommands;

namespace {

// A DLL that is not a driver, copied into a folder deep enough that the
// path no longer fits a 128-character file record.
std::string DeepCopyOfNoEntryLibrary(const std::string &scratch)
{
    std::string folder = scratch;
    for (int level = 0; level < 3; level++) {
        folder += "\\" + std::string(50, (char)('a' + level));
        CreateDirectoryA(folder.c_str(), nullptr);
    }
    std::string path = folder + "\\Feedlink.dll";
    CopyFileA((testsupport::ProgramDirectory() + "NoEntryDriver.dll").c_str(), path.c_str(), FALSE);
    return path;
}

TEST(ProbeScanner, EachOutcome)
{
    std::string scratch = testsupport::MakeScratchFolder("probe");
    const std::string ready = "SC_OPEN SC_ACQUIRE SC_IS_PRESENT SC_GET_INFO SC_GET_EXTRA_INFO SC_RELEASE";
    struct Case {
        const char *name;
        std::function<std::string()> arrange; // returns the driver path
        uint16_t result;
        std::string commands;
    } cases[] = {
        {"missing file", [&] { return scratch + "\\Feedlink.dll"; }, PROBE_DRIVER_MISSING, ""},
        {"library without the entry",
         [] { return testsupport::ProgramDirectory() + "NoEntryDriver.dll"; }, PROBE_DRIVER_BROKEN, ""},
        {"library without the entry, in a deep folder", [&] { return DeepCopyOfNoEntryLibrary(scratch); },
         PROBE_DRIVER_BROKEN, ""},
        {"open refused",
         [] { feeder::InjectFault(SC_OPEN, 1, FEED_STATUS_NOT_OPEN); return scannertest::DriverPath(); },
         PROBE_NOT_CONNECTED, "SC_OPEN SC_CLOSE"},
        {"unplugged", [] { feeder::SetPlugged(false); return scannertest::DriverPath(); }, PROBE_NOT_CONNECTED,
         "SC_OPEN SC_CLOSE"},
        {"acquire refused", [] { feeder::SetRefuseAcquire(true); return scannertest::DriverPath(); },
         PROBE_DEVICE_REFUSED, "SC_OPEN SC_ACQUIRE SC_RELEASE SC_CLOSE"},
        {"device absent",
         [] { feeder::InjectFault(SC_IS_PRESENT, 1, FEED_STATUS_UNPLUGGED); return scannertest::DriverPath(); },
         PROBE_NOT_CONNECTED, "SC_OPEN SC_ACQUIRE SC_IS_PRESENT SC_RELEASE SC_CLOSE"},
        {"information refused",
         [] { feeder::InjectFault(SC_GET_INFO, 1, FEED_STATUS_BAD_REQUEST); return scannertest::DriverPath(); },
         PROBE_NOT_CONNECTED, "SC_OPEN SC_ACQUIRE SC_IS_PRESENT SC_GET_INFO SC_RELEASE SC_CLOSE"},
        {"extra information refused",
         [] { feeder::InjectFault(SC_GET_EXTRA_INFO, 1, FEED_STATUS_BAD_REQUEST); return scannertest::DriverPath(); },
         PROBE_READY, ready},
        {"ready", [] { return scannertest::DriverPath(); }, PROBE_READY, ready},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(feeder::Reset());
        std::string path = c.arrange();
        EXPECT_EQ(ProbeScanner(path.c_str()), c.result);
        EXPECT_EQ(TracedCommands(), c.commands);
        bool loaded = c.result == PROBE_READY;
        EXPECT_EQ(ScannerDriver.module != nullptr, loaded);
        EXPECT_EQ(ScannerDriver.entry != nullptr, loaded);
        // Only a ready driver stays in the process; every failure unloads it.
        EXPECT_EQ(GetModuleHandleA("Feedlink.dll") != nullptr, loaded);

        feeder::ClearTrace();
        UnloadScannerDriver();
        EXPECT_EQ(TracedCommands(), loaded ? "SC_CLOSE" : "");
        EXPECT_EQ(SendScannerCommand(SC_ACQUIRE, nullptr), 0) << "no command after unloading";
        EXPECT_EQ(TracedCommands(), loaded ? "SC_CLOSE" : "");
        EXPECT_EQ(ScannerDriver.module, nullptr);
    }
    feeder::Reset();
    testsupport::RemoveTree(scratch);
}

class PollingTest : public scannertest::DeviceTest {};

TEST_F(PollingTest, SendScannerCommandBlock)
{
    // Data given is stored, null keeps the previous pointer, SC_START
    // carries its constant; the answer is the driver's status.
    uint8_t info[SC_GET_INFO_BYTES];
    EXPECT_EQ(SendScannerCommand(SC_ACQUIRE, nullptr), 1);
    EXPECT_EQ(SendScannerCommand(SC_GET_INFO, info), 1);
    EXPECT_EQ(ScannerBlock.Data, (void *)info);
    EXPECT_EQ(SendScannerCommand(SC_IS_PRESENT, nullptr), 1);
    EXPECT_EQ(ScannerBlock.Data, (void *)info);
    EXPECT_EQ(ScannerBlock.Command, SC_IS_PRESENT);
    SendScannerCommand(0x10000u | SC_RELEASE, nullptr);
    EXPECT_EQ(ScannerBlock.Command, SC_RELEASE) << "only the low 16 bits are a command";
    SendScannerCommand(SC_START, nullptr);
    EXPECT_EQ(ScannerBlock.TransferSize, SC_START_MAGIC);
    EXPECT_EQ(SendScannerCommand(SC_PAPER_PRESENT, nullptr), 0) << "refused: the device was released";
    std::vector<FeederTraceEntry> entries = scannertest::TracedEntries();
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[1].DataAddress, (uint32_t)(uintptr_t)info);
    EXPECT_EQ(entries[4].TransferSize, SC_START_MAGIC);
}

TEST_F(PollingTest, ScanButton)
{
    const std::string presence = "SC_ACQUIRE SC_IS_PRESENT SC_RELEASE";
    struct Case {
        const char *name;
        UINT_PTR timer;
        int16_t code;
        uint32_t polls;
        std::function<void()> fault;
        int16_t result;
        std::string commands;
    } cases[] = {
        {"paper timer", PAPER_POLL_TIMER_ID, 2, 1, nullptr, 0, ""},
        {"button up", BUTTON_POLL_TIMER_ID, 2, 0, nullptr, 0, presence + " SC_GET_BUTTON"},
        {"one press", BUTTON_POLL_TIMER_ID, 2, 1, nullptr, 2, presence + " " + Repeat("SC_GET_BUTTON", 2)},
        {"held button", BUTTON_POLL_TIMER_ID, 2, 4, nullptr, 2, presence + " " + Repeat("SC_GET_BUTTON", 5)},
        {"other button", BUTTON_POLL_TIMER_ID, 1, 2, nullptr, 1, presence + " " + Repeat("SC_GET_BUTTON", 3)},
        {"unplugged", BUTTON_POLL_TIMER_ID, 2, 1, [] { feeder::SetPlugged(false); }, 0, "SC_ACQUIRE"},
        {"device busy", BUTTON_POLL_TIMER_ID, 2, 1, [] { feeder::SetRefuseAcquire(true); }, 0, "SC_ACQUIRE"},
        {"device absent", BUTTON_POLL_TIMER_ID, 2, 1,
         [] { feeder::InjectFault(SC_IS_PRESENT, 1, FEED_STATUS_UNPLUGGED); }, 0, presence},
        {"button query fails", BUTTON_POLL_TIMER_ID, 2, 1,
         [] { feeder::InjectFault(SC_GET_BUTTON, 1, FEED_STATUS_NOT_ACQUIRED); }, FEED_STATUS_NOT_ACQUIRED,
         presence + " SC_GET_BUTTON"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        feeder::ClearFaults();
        feeder::SetPlugged(true);
        if (c.polls)
            feeder::PressButton(c.code, c.polls);
        if (c.fault)
            c.fault();
        feeder::ClearTrace();
        EXPECT_EQ(PollScanButton(nullptr, c.timer), c.result);
        EXPECT_EQ(TracedCommands(), c.commands);
        feeder::PressButton(c.code, 0);
    }
}

TEST_F(PollingTest, WaitScannerIdleReadsUntilTheButtonIsUp)
{
    struct Case {
        uint32_t polls;
        int reads;
    } cases[] = {{0, 1}, {1, 2}, {3, 4}};
    for (const Case &c : cases) {
        feeder::PressButton(2, c.polls);
        feeder::ClearTrace();
        WaitScannerIdle();
        EXPECT_EQ(TracedCommands(), Repeat("SC_GET_BUTTON", c.reads)) << c.polls << " polls held";
    }
    UnloadScannerDriver();
    feeder::ClearTrace();
    WaitScannerIdle();
    EXPECT_EQ(TracedCommands(), "") << "nothing is sent without a driver";
}

TEST_F(PollingTest, PresenceAndPaper)
{
    std::string sheet = folder_ + "\\sheet.bmp";
    ASSERT_TRUE(scannertest::WriteSheetPicture(sheet, 40, 30));
    struct Case {
        const char *name;
        std::function<int()> call;
        std::function<void()> arrange;
        int result;
        std::string commands;
        size_t sheetsLeft;
    } cases[] = {
        {"present", IsScannerPresent, nullptr, 1, "SC_ACQUIRE SC_IS_PRESENT SC_RELEASE", 0},
        {"present, busy", IsScannerPresent, [] { feeder::SetRefuseAcquire(true); }, 0, "SC_ACQUIRE", 0},
        {"present, absent", IsScannerPresent, [] { feeder::InjectFault(SC_IS_PRESENT, 1, FEED_STATUS_UNPLUGGED); },
         0, "SC_ACQUIRE SC_IS_PRESENT SC_RELEASE", 0},
        {"take, sheet waiting", TakePaperEvent, [&] { feeder::QueueSheet(sheet); }, 1,
         "SC_ACQUIRE SC_PAPER_PRESENT SC_TAKE_PAPER SC_RELEASE", 0},
        {"take, feeder empty", TakePaperEvent, nullptr, 0, "SC_ACQUIRE SC_PAPER_PRESENT SC_RELEASE", 0},
        {"take, busy", TakePaperEvent, [&] { feeder::QueueSheet(sheet); feeder::SetRefuseAcquire(true); }, 0,
         "SC_ACQUIRE", 1},
        {"wait, sheet waiting", WaitForPaper, [&] { feeder::QueueSheet(sheet); }, 1,
         "SC_ACQUIRE SC_PAPER_PRESENT SC_RELEASE", 1},
        {"wait, busy", WaitForPaper, [] { feeder::SetRefuseAcquire(true); }, 0, "SC_ACQUIRE", 0},
        // The test program holds no dialog template: the scan goes ahead.
        {"wait, no template", WaitForPaper, nullptr, 1, "SC_ACQUIRE SC_PAPER_PRESENT SC_RELEASE", 0},
    };
    ResourceLibrary = GetModuleHandleA(nullptr);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(feeder::Reset());
        if (c.arrange)
            c.arrange();
        feeder::ClearTrace();
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(TracedCommands(), c.commands);
        EXPECT_EQ(feeder::WaitingSheets().size(), c.sheetsLeft);
    }
}

TEST_F(PollingTest, UnloadedDriverAnswersNo)
{
    feeder::PressButton(2, 1);
    UnloadScannerDriver();
    feeder::ClearTrace();
    EXPECT_EQ(IsScannerPresent(), 0);
    EXPECT_EQ(PollScanButton(nullptr, BUTTON_POLL_TIMER_ID), 0);
    EXPECT_EQ(WaitForPaper(), 0);
    EXPECT_EQ(TakePaperEvent(), 0);
    EXPECT_EQ(TracedCommands(), "");
}

} // namespace
