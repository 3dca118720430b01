// The agent as a process: the quit switch, a second start, and what each
// outcome of the first look for the scanner shows and leaves running.
#include "e2e_support.h"

#include "app.h"
#include "product_files.h"
#include "resource_ids.h"
#include "settings_table.h"

namespace {

using namespace e2e;

class Startup : public AgentScenario {};

TEST_F(Startup, QuitSwitchEndsARunningAgentOnlyOnItsFirstLetter)
{
    struct Case {
        const char *arguments;
        bool quits;
    };
    const Case cases[] = {{"Q", true}, {"q", true}, {"quit", true}, {"", false}, {"x", false}, {"-q", false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("arguments \"") + c.arguments + "\"");
        if (!FindWindowA(TRAY_WINDOW_CLASS, nullptr)) {
            ASSERT_TRUE(StartAgent());
        }
        HWND running = WaitForAgentWindow();
        ASSERT_NE(running, nullptr);

        EXPECT_EQ(RunQuitSwitch(c.arguments), 0);
        if (c.quits) {
            // The quitting process returns only once the agent's window is gone.
            EXPECT_FALSE(IsWindow(running));
            EXPECT_EQ(agent.WaitExit(10000), 0);
        } else {
            // A second start leaves the first untouched.
            EXPECT_EQ(FindWindowA(TRAY_WINDOW_CLASS, nullptr), running);
            EXPECT_TRUE(agent.Running());
        }
    }
}

TEST_F(Startup, QuitSwitchWithoutAnAgentStartsNone)
{
    EXPECT_EQ(RunQuitSwitch("q"), 0);
    Sleep(500);
    EXPECT_EQ(FindWindowA(TRAY_WINDOW_CLASS, nullptr), nullptr);
}

TEST_F(Startup, TwoAgentsStartedTogetherLeaveOne)
{
    Process other;
    ASSERT_TRUE(StartAgent());
    ASSERT_TRUE(StartProgram(AGENT_PROGRAM_FILE, "", &other));
    ASSERT_NE(WaitForAgentWindow(), nullptr);
    // One of them ends by itself at once, silently; the other keeps running.
    int first = agent.WaitExit(5000), second = other.WaitExit(5000);
    EXPECT_TRUE((first == 0) != (second == 0)) << first << " " << second;
}

struct ProbeCase {
    const char *name;
    void (*arrange)();
    UINT messageId; // 0: no message box
    bool agentStays;
};

class ProbeOutcome : public AgentScenario, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeOutcome, ShowsItsMessageAndKeepsOrEndsTheAgent)
{
    const ProbeCase &c = GetParam();
    c.arrange();
    ASSERT_TRUE(StartAgent());
    if (c.messageId) {
        HWND box = WaitForDialog(agent.id);
        ASSERT_NE(box, nullptr);
        EXPECT_NE(DialogText(box).find(ResourceString(c.messageId)), std::string::npos) << DialogText(box);
        // Nothing of the tray exists while the box is up.
        EXPECT_EQ(FindWindowA(TRAY_WINDOW_CLASS, nullptr), nullptr);
        ClickButton(box, IDOK);
    }
    if (c.agentStays) {
        EXPECT_NE(WaitForAgentWindow(), nullptr);
        EXPECT_TRUE(agent.Running());
    } else {
        EXPECT_EQ(agent.WaitExit(10000), 0);
        EXPECT_EQ(FindWindowA(TRAY_WINDOW_CLASS, nullptr), nullptr);
    }
}

void Unplugged(DWORD warning)
{
    feeder::SetPlugged(false);
    SetMachineSetting(SettingName(SETTING_EnableWarning), warning);
}

INSTANTIATE_TEST_SUITE_P(
    Agent, ProbeOutcome,
    ::testing::Values(ProbeCase{"ready", [] {}, 0, true},
                      ProbeCase{"refused", [] { feeder::SetRefuseAcquire(true); }, IDS_DEVICE_BUSY, false},
                      ProbeCase{"driver_missing", [] { ReplaceProgramFile(SCANNER_DRIVER_FILE, ""); },
                                IDS_DRIVER_MISSING, false},
                      // A library without the driver's entry point.
                      ProbeCase{"driver_without_entry",
                                [] { ReplaceProgramFile(SCANNER_DRIVER_FILE, ProgramFile(SESSION_LIBRARY_FILE)); },
                                IDS_DRIVER_MISSING, false},
                      ProbeCase{"unplugged_warning_off", [] { Unplugged(0); }, 0, true},
                      ProbeCase{"unplugged_warning_on", [] { Unplugged(1); }, IDS_WARNING_TEXT, true}),
    [](const ::testing::TestParamInfo<ProbeCase> &info) { return std::string(info.param.name); });

} // namespace
