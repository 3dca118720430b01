// The device seen from two processes: feedctl.exe changes what the driver in
// this process answers, and reads back what it did.
#include <gtest/gtest.h>

#include "device_test_support.h"
#include "shared_block.h"
#include "test_support.h"

using namespace feedtest;

namespace {

// A feedctl.exe that keeps running (holding a mutex) until ended.
class RunningFeedctl {
public:
    explicit RunningFeedctl(const std::string &arguments) : process_{}
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        std::string line = "\"" + testsupport::ProgramDirectory() + "feedctl.exe\" " + arguments;
        std::vector<char> text(line.begin(), line.end());
        text.push_back('\0');
        started_ = CreateProcessA(nullptr, text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &process_) != 0;
    }
    ~RunningFeedctl()
    {
        if (!started_)
            return;
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, 10000);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    bool Started() const { return started_; }
    DWORD Id() const { return process_.dwProcessId; }
    bool Ended(DWORD waitMs) const { return WaitForSingleObject(process_.hProcess, waitMs) == WAIT_OBJECT_0; }
    void End() { TerminateProcess(process_.hProcess, 1), WaitForSingleObject(process_.hProcess, 10000); }

private:
    PROCESS_INFORMATION process_;
    bool started_;
};

bool WaitForMutex(const std::string &name, bool present)
{
    for (int i = 0; i < 200; ++i) {
        HANDLE mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
        if (mutex)
            CloseHandle(mutex);
        if ((mutex != nullptr) == present)
            return true;
        Sleep(50);
    }
    return false;
}

} // namespace

TEST(SecondProcess, ButtonPressedByFeedctlReachesTheDriver)
{
    ScratchDevice device;
    Driver driver;
    ASSERT_EQ(driver.Send(SC_OPEN), 0);
    ASSERT_EQ(RunFeedctl("press 2 2"), 0);
    EXPECT_EQ(driver.Send(SC_GET_BUTTON), 2);
    EXPECT_EQ(driver.Send(SC_GET_BUTTON), 2);
    EXPECT_EQ(driver.Send(SC_GET_BUTTON), 0);
}

TEST(SecondProcess, FeedctlFaultsAndSettingsApply)
{
    ScratchDevice device;
    Driver driver;
    ASSERT_EQ(driver.Send(SC_OPEN), 0);
    ASSERT_EQ(RunFeedctl("fault 24 2 -40"), 0);
    EXPECT_EQ(driver.Send(SC_IS_PRESENT), 0);
    EXPECT_EQ(driver.Send(SC_IS_PRESENT), -40);
    ASSERT_EQ(RunFeedctl("refuse-acquire on"), 0);
    EXPECT_EQ(driver.Send(SC_ACQUIRE), FEED_STATUS_BUSY);
    ASSERT_EQ(RunFeedctl("clear-faults"), 0);
    EXPECT_EQ(driver.Send(SC_ACQUIRE), 0);
    EXPECT_NE(RunFeedctl("fail-read 10 4"), 0) << "status 4 is no failure";
    EXPECT_NE(RunFeedctl("fault 24 0 -1"), 0) << "calls count from 1";
    EXPECT_NE(RunFeedctl("no-such-command"), 0);
}

TEST(SecondProcess, FeedctlLoadsSheetsWithTheirPlacement)
{
    ScratchDevice device;
    const std::string picture = device.folder + "\\photo.bmp";
    ASSERT_TRUE(WriteTestBitmap(picture, 6, 4));
    std::string output;
    ASSERT_EQ(RunFeedctl("load --x 12 --y 34 --skew -1.5 --backing 0A0B0C --dpi 200 \"" + picture + "\"", &output), 0);
    const std::vector<std::string> waiting = feeder::WaitingSheets();
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_NE(output.find(waiting[0]), std::string::npos) << output;
    std::string placement;
    ASSERT_TRUE(testsupport::ReadWholeFile(waiting[0] + ".placement", &placement));
    EXPECT_EQ(placement, "x=12\ny=34\nskew=-1.500\nbacking=0A0B0C\ndpi=200\n");
    std::string original;
    ASSERT_TRUE(testsupport::ReadWholeFile(picture, &original));
    EXPECT_FALSE(original.empty()) << "the original stays where it was";

    Driver driver;
    ASSERT_EQ(driver.Send(SC_OPEN), 0);
    ASSERT_EQ(driver.Send(SC_ACQUIRE), 0);
    ASSERT_EQ(driver.Send(SC_TAKE_PAPER), 0);
    FeederState *state = new FeederState;
    ASSERT_TRUE(feeder::Snapshot(state));
    EXPECT_EQ(state->CurrentPlacement.X300, 12);
    EXPECT_EQ(state->CurrentPlacement.SkewMilliDegrees, -1500);
    EXPECT_EQ(state->CurrentPlacement.BackingRgb, 0x0A0B0Cu);
    EXPECT_EQ(state->CurrentPlacement.SheetDpi, 200u);
    delete state;
    EXPECT_NE(RunFeedctl("load --skew abc \"" + picture + "\""), 0);
}

TEST(SecondProcess, AcquireIsRefusedWhileAnotherLiveProcessHoldsTheDevice)
{
    ScratchDevice device;
    RunningFeedctl other("hold vf-owner 60");
    ASSERT_TRUE(other.Started());
    {
        feeder::StateLock lock;
        ASSERT_NE(lock.state, nullptr);
        lock.state->AcquiredBy = other.Id();
    }
    Driver driver;
    ASSERT_EQ(driver.Send(SC_OPEN), 0);
    EXPECT_EQ(driver.Send(SC_ACQUIRE), FEED_STATUS_BUSY);
    other.End();
    EXPECT_EQ(driver.Send(SC_ACQUIRE), 0) << "a device taken by a process that ended is free";
}

TEST(SecondProcess, FeedctlHoldsTheInUseMutexUntilReleased)
{
    ScratchDevice device;
    const std::string name = feeder::InUseMutexName("PS-910");
    RunningFeedctl holder("hold PS-910");
    ASSERT_TRUE(holder.Started());
    ASSERT_TRUE(WaitForMutex(name, true)) << "the holder created the mutex";
    std::string status;
    ASSERT_EQ(RunFeedctl("status", &status), 0);
    EXPECT_NE(status.find("\"PS-910\" held by process " + std::to_string(holder.Id())), std::string::npos) << status;
    ASSERT_EQ(RunFeedctl("release"), 0);
    EXPECT_TRUE(holder.Ended(10000));
    EXPECT_TRUE(WaitForMutex(name, false)) << "the mutex is gone with its holder's handle";
}
