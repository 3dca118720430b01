// Loading the driver and the short polling sequences, against the virtual
// scanner: each outcome's answer and the exact commands the device saw.
#include "scanner_test_support.h"

#include <functional>

#include "shared.h"
#include "test_support.h"

using scannertest::Repeat;
using scannertest::TracedCommands;

namespace {

const std::string PRESENCE = "SC_ACQUIRE SC_IS_PRESENT SC_RELEASE";

// The library that is not a driver, copied into a folder deep enough that
// its path no longer fits a 128-character file record.
std::string DeepCopyOfNoEntryLibrary(std::string folder)
{
    for (char level = 'a'; level < 'd'; level++)
        CreateDirectoryA((folder += "\\" + std::string(50, level)).c_str(), nullptr);
    CopyFileA((testsupport::ProgramDirectory() + "NoEntryDriver.dll").c_str(), (folder + "\\Feedlink.dll").c_str(), 0);
    return folder + "\\Feedlink.dll";
}

TEST(ProbeScanner, EachOutcome)
{
    const std::string scratch = testsupport::MakeScratchFolder("probe");
    const std::string driver = testsupport::ProgramDirectory() + SCANNER_DRIVER_FILE;
    const std::string ready = "SC_OPEN SC_ACQUIRE SC_IS_PRESENT SC_GET_INFO SC_GET_EXTRA_INFO SC_RELEASE";
    struct Case {
        const char *name;
        std::string path;
        std::function<void()> fault;
        uint16_t result;
        std::string commands;
    } cases[] = {
        {"missing file", scratch + "\\Feedlink.dll", nullptr, PROBE_DRIVER_MISSING, ""},
        {"no entry", testsupport::ProgramDirectory() + "NoEntryDriver.dll", nullptr, PROBE_DRIVER_BROKEN, ""},
        {"no entry, deep folder", DeepCopyOfNoEntryLibrary(scratch), nullptr, PROBE_DRIVER_BROKEN, ""},
        {"open refused", driver, [] { feeder::InjectFault(SC_OPEN, 1, FEED_STATUS_NOT_OPEN); }, PROBE_NOT_CONNECTED,
         "SC_OPEN SC_CLOSE"},
        {"acquire refused", driver, [] { feeder::SetRefuseAcquire(true); }, PROBE_DEVICE_REFUSED,
         "SC_OPEN SC_ACQUIRE SC_RELEASE SC_CLOSE"},
        {"device absent", driver, [] { feeder::InjectFault(SC_IS_PRESENT, 1, FEED_STATUS_UNPLUGGED); },
         PROBE_NOT_CONNECTED, "SC_OPEN SC_ACQUIRE SC_IS_PRESENT SC_RELEASE SC_CLOSE"},
        {"information refused", driver, [] { feeder::InjectFault(SC_GET_INFO, 1, FEED_STATUS_BAD_REQUEST); },
         PROBE_NOT_CONNECTED, "SC_OPEN SC_ACQUIRE SC_IS_PRESENT SC_GET_INFO SC_RELEASE SC_CLOSE"},
        {"extra information refused", driver,
         [] { feeder::InjectFault(SC_GET_EXTRA_INFO, 1, FEED_STATUS_BAD_REQUEST); }, PROBE_READY, ready},
        {"ready", driver, nullptr, PROBE_READY, ready},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(feeder::Reset());
        if (c.fault)
            c.fault();
        EXPECT_EQ(ProbeScanner(c.path.c_str()), c.result);
        EXPECT_EQ(TracedCommands(), c.commands);
        // Only a ready driver stays in the process; every failure unloads it.
        bool loaded = c.result == PROBE_READY;
        EXPECT_EQ(ScannerDriver.entry != nullptr, loaded);
        EXPECT_EQ(GetModuleHandleA(SCANNER_DRIVER_FILE) != nullptr, loaded);
        UnloadScannerDriver();
        EXPECT_EQ(SendScannerCommand(SC_ACQUIRE, nullptr), 0) << "no command reaches an unloaded driver";
        EXPECT_EQ(TracedCommands(), loaded ? c.commands + " SC_CLOSE" : c.commands);
    }
    testsupport::RemoveTree(scratch);
}

// A second probe while the first one's driver is loaded (a repeated arrival):
// the earlier session is closed first, and after the final unload the library
// is gone from the process whatever the second probe answered.
TEST(ProbeScanner, AgainWhileLoaded)
{
    const std::string scratch = testsupport::MakeScratchFolder("reprobe");
    const std::string driver = testsupport::ProgramDirectory() + SCANNER_DRIVER_FILE;
    const std::string ready = "SC_OPEN SC_ACQUIRE SC_IS_PRESENT SC_GET_INFO SC_GET_EXTRA_INFO SC_RELEASE";
    struct Case {
        const char *name;
        std::string path;
        void (*fault)();
        uint16_t result;
        std::string commands; // of the second probe
    } cases[] = {
        {"ready again", driver, nullptr, PROBE_READY, "SC_CLOSE " + ready},
        {"refused the second time", driver, [] { feeder::SetRefuseAcquire(true); }, PROBE_DEVICE_REFUSED,
         "SC_CLOSE SC_OPEN SC_ACQUIRE SC_RELEASE SC_CLOSE"},
        {"file gone the second time", scratch + "\\Feedlink.dll", nullptr, PROBE_DRIVER_MISSING, "SC_CLOSE"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(feeder::Reset());
        ASSERT_EQ(ProbeScanner(driver.c_str()), PROBE_READY);
        feeder::ClearTrace();
        if (c.fault)
            c.fault();
        EXPECT_EQ(ProbeScanner(c.path.c_str()), c.result);
        EXPECT_EQ(TracedCommands(), c.commands);
        bool loaded = c.result == PROBE_READY;
        EXPECT_EQ(ScannerDriver.entry != nullptr, loaded);
        EXPECT_EQ(GetModuleHandleA(SCANNER_DRIVER_FILE) != nullptr, loaded);
        UnloadScannerDriver();
        EXPECT_EQ(GetModuleHandleA(SCANNER_DRIVER_FILE), nullptr) << "a library reference outlived the unload";
    }
    testsupport::RemoveTree(scratch);
}

class PollingTest : public scannertest::DeviceTest {};

TEST_F(PollingTest, CommandBlock)
{
    uint8_t info[SC_GET_INFO_BYTES];
    SendScannerCommand(SC_ACQUIRE, nullptr);
    EXPECT_EQ(SendScannerCommand(SC_GET_INFO, info), 1);
    SendScannerCommand(0x10000u | SC_START, nullptr); // only the low 16 bits are a command
    EXPECT_EQ(ScannerBlock.Data, (void *)info) << "null data keeps the previous pointer";
    EXPECT_EQ(SendScannerCommand(SC_RELEASE, nullptr), 1);
    EXPECT_EQ(SendScannerCommand(SC_PAPER_PRESENT, nullptr), 0) << "the device's refusal is a failure";
    std::vector<FeederTraceEntry> entries = scannertest::TracedEntries();
    ASSERT_EQ(TracedCommands(), "SC_ACQUIRE SC_GET_INFO SC_START SC_RELEASE SC_PAPER_PRESENT");
    EXPECT_EQ(entries[1].DataAddress, (uint32_t)(uintptr_t)info);
    EXPECT_EQ(entries[2].TransferSize, SC_START_MAGIC);
}

TEST_F(PollingTest, ButtonPresenceAndPaper)
{
    auto poll = [](UINT_PTR timer) { return [timer] { return (int)PollScanButton(nullptr, timer); }; };
    auto idle = [] { WaitScannerIdle(); return 0; };
    auto press = [](int16_t code, uint32_t polls) { return [=] { feeder::PressButton(code, polls); }; };
    auto queue = [this] { feeder::QueueSheet(sheet_); };
    struct Case {
        const char *name;
        std::function<int()> call;
        std::function<void()> arrange;
        int result;
        std::string commands;
        size_t sheetsLeft;
    } cases[] = {
        {"paper timer", poll(PAPER_POLL_TIMER_ID), press(2, 1), 0, "", 0},
        {"button up", poll(BUTTON_POLL_TIMER_ID), nullptr, 0, PRESENCE + " SC_GET_BUTTON", 0},
        {"one press", poll(BUTTON_POLL_TIMER_ID), press(2, 1), 2, PRESENCE + " " + Repeat("SC_GET_BUTTON", 2), 0},
        {"held button", poll(BUTTON_POLL_TIMER_ID), press(2, 4), 2, PRESENCE + " " + Repeat("SC_GET_BUTTON", 5), 0},
        {"other button", poll(BUTTON_POLL_TIMER_ID), press(1, 2), 1, PRESENCE + " " + Repeat("SC_GET_BUTTON", 3), 0},
        {"poll, unplugged", poll(BUTTON_POLL_TIMER_ID), [] { feeder::SetPlugged(false); }, 0, "SC_ACQUIRE", 0},
        {"poll, absent", poll(BUTTON_POLL_TIMER_ID), [] { feeder::InjectFault(SC_IS_PRESENT, 1, -1); }, 0,
         PRESENCE, 0},
        {"idle, button up", idle, nullptr, 0, "SC_GET_BUTTON", 0},
        {"idle, button held", idle, press(2, 3), 0, Repeat("SC_GET_BUTTON", 4), 0},
        {"present", IsScannerPresent, nullptr, 1, PRESENCE, 0},
        {"present, busy", IsScannerPresent, [] { feeder::SetRefuseAcquire(true); }, 0, "SC_ACQUIRE", 0},
        {"take, sheet waiting", TakePaperEvent, queue, 1, "SC_ACQUIRE SC_PAPER_PRESENT SC_TAKE_PAPER SC_RELEASE", 0},
        {"take, feeder empty", TakePaperEvent, nullptr, 0, "SC_ACQUIRE SC_PAPER_PRESENT SC_RELEASE", 0},
        {"take, busy", TakePaperEvent, [&] { queue(); feeder::SetRefuseAcquire(true); }, 0, "SC_ACQUIRE", 1},
        {"wait, sheet waiting", WaitForPaper, queue, 1, "SC_ACQUIRE SC_PAPER_PRESENT SC_RELEASE", 1},
        {"wait, busy", WaitForPaper, [] { feeder::SetRefuseAcquire(true); }, 0, "SC_ACQUIRE", 0},
        {"wait, no template", WaitForPaper, nullptr, 1, "SC_ACQUIRE SC_PAPER_PRESENT SC_RELEASE", 0},
    };
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
    UnloadScannerDriver();
    feeder::PressButton(2, 1);
    feeder::ClearTrace();
    EXPECT_EQ(IsScannerPresent() + PollScanButton(nullptr, BUTTON_POLL_TIMER_ID) + WaitForPaper() + TakePaperEvent(), 0);
    WaitScannerIdle();
    EXPECT_EQ(TracedCommands(), "") << "nothing reaches the device without a driver";
}

} // namespace
