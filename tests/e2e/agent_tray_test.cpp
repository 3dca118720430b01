// The running agent's tray window, driven from outside: commands, tray
// clicks, the button poll and what stops it, device and session changes, the
// calibration runs and exits asked while something else runs.
#include "e2e_support.h"

#include "app.h"
#include "feedlink_protocol.h"
#include "product_files.h"
#include "resource_ids.h"
#include "settings_table.h"
#include "test_support.h"

namespace {

using namespace e2e;

class Tray : public AgentScenario {
protected:
    HWND StartAndWait()
    {
        if (!StartAgent())
            return nullptr;
        return WaitForAgentWindow();
    }

    void PostCommand(WORD command, LPARAM lParam = 0)
    {
        PostMessageA(FindWindowA(TRAY_WINDOW_CLASS, nullptr), WM_COMMAND, command, lParam);
    }

    // Whether the agent polled the button within `periodMs` (the tick is
    // 200 ms). A poll takes the device; waiting for it to be idle does not.
    bool PollsButton()
    {
        return WaitUntilAgentPolls(agent.id, 0, 1000);
    }

    std::string ToolCommandLine(const char *verb)
    {
        return "\"" + ProgramFile(CALIBRATION_TOOL_FILE) + "\" " + verb;
    }

    bool WaitForRecordedRuns(size_t count)
    {
        return testsupport::WaitUntil(10000, [&] { return RecordedCommandLines().size() >= count; });
    }
};

TEST_F(Tray, MenuCommandsRunTheCalibrationToolWithTheirVerbs)
{
    UseRecordingTool(CALIBRATION_TOOL_FILE);
    ASSERT_NE(StartAndWait(), nullptr);
    PostCommand(IDM_CALIBRATE);
    ASSERT_TRUE(WaitForRecordedRuns(1));
    PostCommand(IDM_CLEAN);
    ASSERT_TRUE(WaitForRecordedRuns(2));
    std::vector<std::string> runs = RecordedCommandLines();
    EXPECT_EQ(runs[0], ToolCommandLine(CALIBRATION_VERB));
    EXPECT_EQ(runs[1], ToolCommandLine(CLEANING_VERB));
}

TEST_F(Tray, MissingCalibrationDataIsForcedBeforeTheTrayStarts)
{
    UseRecordingTool(CALIBRATION_TOOL_FILE);
    SetCalibrationDataPresent(false);
    ASSERT_TRUE(StartAgent());
    HWND notice = WaitForDialog(agent.id);
    ASSERT_NE(notice, nullptr);
    EXPECT_NE(DialogText(notice).find(ResourceString(IDS_CALIBRATION_NOTICE)), std::string::npos);
    EXPECT_TRUE(RecordedCommandLines().empty()) << "the run starts when the notice is closed";
    ClickButton(notice, IDOK);
    ASSERT_TRUE(WaitForWindowGone(notice));

    HWND done = WaitForDialog(agent.id);
    ASSERT_NE(done, nullptr);
    EXPECT_NE(DialogText(done).find(ResourceString(IDS_CALIBRATION_DONE)), std::string::npos);
    ASSERT_EQ(RecordedCommandLines().size(), 1u);
    EXPECT_EQ(RecordedCommandLines()[0], ToolCommandLine(FORCED_CALIBRATION_VERB));
    EXPECT_EQ(FindWindowA(TRAY_WINDOW_CLASS, nullptr), nullptr);
    ClickButton(done, IDOK);
    EXPECT_NE(WaitForAgentWindow(), nullptr);
}

TEST_F(Tray, ExitFromTheMenuAsksFirst)
{
    HWND window = StartAndWait();
    ASSERT_NE(window, nullptr);
    PostCommand(IDM_EXIT);
    HWND question = WaitForDialog(agent.id);
    ASSERT_NE(question, nullptr);
    EXPECT_NE(DialogText(question).find(ResourceString(IDS_EXIT_QUESTION)), std::string::npos);
    ClickButton(question, IDNO);
    ASSERT_TRUE(WaitForWindowGone(question));
    EXPECT_TRUE(IsWindow(window));
    // Answering No gives the button back.
    EXPECT_TRUE(PollsButton());

    PostCommand(IDM_EXIT);
    question = WaitForDialog(agent.id);
    ASSERT_NE(question, nullptr);
    ClickButton(question, IDYES);
    EXPECT_EQ(agent.WaitExit(10000), 0);
}

TEST_F(Tray, EnableWarningCommandFlipsTheSetting)
{
    ASSERT_NE(StartAndWait(), nullptr);
    ASSERT_EQ(UserSetting(SettingName(SETTING_EnableWarning)), 1);
    const int expected[] = {0, 1, 0};
    for (int value : expected) {
        PostCommand(IDM_ENABLE_WARNING);
        Sleep(300);
        EXPECT_EQ(UserSetting(SettingName(SETTING_EnableWarning)), value);
    }
}

TEST_F(Tray, DoubleClickAndPlugOpenTheSettingsDialogAndUnplugClosesIt)
{
    ASSERT_NE(StartAndWait(), nullptr);
    ASSERT_TRUE(PostTrayCallback(WM_LBUTTONDBLCLK));
    HWND settings = WaitForDialog(agent.id);
    ASSERT_NE(settings, nullptr);

    ASSERT_TRUE(feeder::Unplug());
    EXPECT_TRUE(WaitForWindowGone(settings));
    // Not connected: a double-click opens nothing and the button is not polled.
    ASSERT_TRUE(PostTrayCallback(WM_LBUTTONDBLCLK));
    EXPECT_EQ(WaitForDialog(agent.id, "", 1000), nullptr);
    EXPECT_FALSE(PollsButton());

    ASSERT_TRUE(feeder::Plug());
    settings = WaitForDialog(agent.id);
    ASSERT_NE(settings, nullptr);
    ClickButton(settings, IDOK);
    ASSERT_TRUE(WaitForWindowGone(settings));
    EXPECT_TRUE(PollsButton());
}

TEST_F(Tray, BroadcastsOfOtherDevicesAreIgnored)
{
    ASSERT_NE(StartAndWait(), nullptr);
    ASSERT_TRUE(feeder::SetVidPid("VID_0BDA&PID_0129"));
    feeder::SetPlugged(false);
    feeder::BroadcastDeviceChange(false);
    // Still connected: polling goes on (against a device that stopped answering).
    feeder::SetPlugged(true);
    EXPECT_TRUE(PollsButton());
    feeder::BroadcastDeviceChange(true);
    EXPECT_EQ(WaitForDialog(agent.id, "", 1000), nullptr) << "an arrival of another device opened the settings";
}

TEST_F(Tray, ButtonPressClosesAnOpenSettingsDialog)
{
    ASSERT_TRUE(feeder::SetSyntheticPage(true));
    ASSERT_NE(StartAndWait(), nullptr);
    ASSERT_TRUE(PostTrayCallback(WM_LBUTTONDBLCLK));
    HWND settings = WaitForDialog(agent.id);
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(WaitUntilAgentPolls(agent.id));
    ASSERT_TRUE(feeder::PressButton());
    // Closed before the job: hidden at once, destroyed once the job is over
    // and its modal loop gets control back.
    EXPECT_TRUE(testsupport::WaitUntil(5000, [&] { return !IsWindowVisible(settings); }));
}

TEST_F(Tray, AnotherProgramHoldingTheDriverStopsThePoll)
{
    ASSERT_NE(StartAndWait(), nullptr);
    ASSERT_TRUE(PollsButton());
    ASSERT_TRUE(feeder::HoldInUseMutex(ModelName()));
    Sleep(300);
    EXPECT_FALSE(PollsButton());
    ASSERT_TRUE(feeder::ReleaseInUseMutex());
    Sleep(300);
    EXPECT_TRUE(PollsButton());
}

TEST_F(Tray, SessionDisconnectStopsThePollAndSignalsSwitchUser)
{
    HWND window = StartAndWait();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(OpenEventA(SYNCHRONIZE, FALSE, SWITCH_USER_EVENT_NAME), nullptr);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        SendMessageA(window, WM_WTSSESSION_CHANGE, WTS_CONSOLE_DISCONNECT, 0);
        Sleep(300);
        EXPECT_FALSE(PollsButton());
        HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, SWITCH_USER_EVENT_NAME);
        ASSERT_NE(event, nullptr);
        // Signalled for every disconnect, also after the first was consumed.
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
        CloseHandle(event);
        SendMessageA(window, WM_WTSSESSION_CHANGE, WTS_REMOTE_CONNECT, 0);
        EXPECT_TRUE(PollsButton());
    }
}

TEST_F(Tray, FirstStartupOpensTheSettingsDialog)
{
    SetMachineSetting(SettingName(SETTING_FirstStartup), 1);
    ASSERT_NE(StartAndWait(), nullptr);
    EXPECT_NE(WaitForDialog(agent.id), nullptr);
}

// Exits asked while an action runs wait for its end.
class DeferredExit : public Tray {
protected:
    // Starts the quit switch without waiting for it.
    void StartQuitSwitch()
    {
        ASSERT_TRUE(StartProgram(AGENT_PROGRAM_FILE, "q", &quitter));
    }

    void ExpectExitWaits(HWND window)
    {
        Sleep(1000);
        EXPECT_TRUE(IsWindow(window));
        EXPECT_TRUE(quitter.Running());
    }

    void ExpectExitDone()
    {
        EXPECT_EQ(quitter.WaitExit(15000), 0);
        EXPECT_EQ(agent.WaitExit(10000), 0);
        EXPECT_EQ(FindWindowA(TRAY_WINDOW_CLASS, nullptr), nullptr);
    }

    Process quitter;
};

TEST_F(DeferredExit, QuitSwitchDuringACalibrationRun)
{
    UseRecordingTool(CALIBRATION_TOOL_FILE);
    HoldRecordingTool(true);
    HWND window = StartAndWait();
    ASSERT_NE(window, nullptr);
    PostCommand(IDM_CALIBRATE);
    ASSERT_TRUE(WaitForRecordedRuns(1));
    StartQuitSwitch();
    ExpectExitWaits(window);
    HoldRecordingTool(false);
    ExpectExitDone();
}

TEST_F(DeferredExit, QuitSwitchDuringTheExitQuestion)
{
    HWND window = StartAndWait();
    ASSERT_NE(window, nullptr);
    PostCommand(IDM_EXIT);
    HWND question = WaitForDialog(agent.id);
    ASSERT_NE(question, nullptr);
    StartQuitSwitch();
    ExpectExitWaits(window);
    // The quit switch wins over the answer.
    ClickButton(question, IDNO);
    ExpectExitDone();
}

TEST_F(DeferredExit, QuitSwitchClosesAnOpenTrayMenu)
{
    ASSERT_NE(StartAndWait(), nullptr);
    ASSERT_TRUE(PostTrayCallback(WM_RBUTTONDOWN));
    Sleep(500);
    StartQuitSwitch();
    ExpectExitDone();
}

TEST_F(DeferredExit, QuitSwitchClosesAnOpenSettingsDialog)
{
    HWND window = StartAndWait();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(PostTrayCallback(WM_LBUTTONDBLCLK));
    ASSERT_NE(WaitForDialog(agent.id), nullptr);
    StartQuitSwitch();
    ExpectExitDone();
}

} // namespace
