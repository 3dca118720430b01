// The scanner-missing warning at start-up, as a user meets it: its switch
// for later starts, and a scanner plugged in or pulled while it is open.
#include "e2e_support.h"

#include "app.h"
#include "resource_ids.h"
#include "settings_table.h"

namespace {

using namespace e2e;

class Warning : public AgentScenario {
protected:
    void SetUp() override
    {
        AgentScenario::SetUp();
        feeder::SetPlugged(false);
        SetMachineSetting(SettingName(SETTING_EnableWarning), 1);
    }

    HWND StartWithWarning()
    {
        if (!StartAgent())
            return nullptr;
        HWND dialog = WaitForDialog(agent.id);
        if (dialog && DialogText(dialog).find(ResourceString(IDS_WARNING_TEXT)) == std::string::npos)
            return nullptr;
        return dialog;
    }
};

TEST_F(Warning, CheckedBoxSilencesLaterStarts)
{
    HWND dialog = StartWithWarning();
    ASSERT_NE(dialog, nullptr);
    SendDlgItemMessageA(dialog, IDC_WARNING_CHECKBOX, BM_SETCHECK, BST_CHECKED, 0);
    ClickButton(dialog, IDOK);
    ASSERT_NE(WaitForAgentWindow(), nullptr);
    EXPECT_EQ(UserSetting(SettingName(SETTING_EnableWarning)), 0);
    EXPECT_EQ(RunQuitSwitch(), 0);

    ASSERT_TRUE(StartAgent());
    EXPECT_NE(WaitForAgentWindow(), nullptr);
    EXPECT_EQ(WaitForDialog(agent.id, "", 500), nullptr);
}

RECT ClientRectOf(HWND dialog, int id)
{
    RECT bounds = {};
    GetWindowRect(GetDlgItem(dialog, id), &bounds);
    MapWindowPoints(nullptr, dialog, (POINT *)&bounds, 2);
    return bounds;
}

// The agent runs with its manifest (themed common controls): what lies
// below the measured text follows it without overlap, inside the dialog.
TEST_F(Warning, LaidOutBelowItsTextInTheRunningAgent)
{
    HWND dialog = StartWithWarning();
    ASSERT_NE(dialog, nullptr);
    RECT above = ClientRectOf(dialog, IDC_WARNING_TEXT), window;
    EXPECT_GT(above.bottom - above.top, 20) << "the text was not measured";
    for (int id : {IDC_WARNING_PICTURE_3, IDC_WARNING_CHECKBOX, IDOK}) {
        RECT below = ClientRectOf(dialog, id);
        EXPECT_GE(below.top, above.bottom) << id;
        above = below;
    }
    GetClientRect(dialog, &window);
    EXPECT_GE(window.bottom, above.bottom);
}

TEST_F(Warning, CancelKeepsTheWarning)
{
    HWND dialog = StartWithWarning();
    ASSERT_NE(dialog, nullptr);
    SendDlgItemMessageA(dialog, IDC_WARNING_CHECKBOX, BM_SETCHECK, BST_CHECKED, 0);
    ClickButton(dialog, IDCANCEL);
    ASSERT_NE(WaitForAgentWindow(), nullptr);
    EXPECT_EQ(UserSetting(SettingName(SETTING_EnableWarning)), 1);
}

// "First Startup" opens the settings dialog at start only when the scanner
// is connected, which tells how the warning left the scanner.
TEST_F(Warning, ScannerPluggedInMeanwhileStartsConnected)
{
    SetMachineSetting(SettingName(SETTING_FirstStartup), 1);
    HWND dialog = StartWithWarning();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(feeder::Plug());
    Sleep(300);
    EXPECT_TRUE(IsWindow(dialog)) << "the warning stays open";
    ClickButton(dialog, IDOK);
    ASSERT_NE(WaitForAgentWindow(), nullptr);
    EXPECT_NE(WaitForDialog(agent.id), nullptr);
}

TEST_F(Warning, ScannerPulledAgainStartsNotConnected)
{
    SetMachineSetting(SettingName(SETTING_FirstStartup), 1);
    HWND dialog = StartWithWarning();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(feeder::Plug());
    ASSERT_TRUE(feeder::Unplug());
    ClickButton(dialog, IDOK);
    ASSERT_NE(WaitForAgentWindow(), nullptr);
    EXPECT_EQ(WaitForDialog(agent.id, "", 1000), nullptr);
}

} // namespace
