// The scanner-missing warning at start-up, as a user meets it: its switch
// for later starts, and a scanner plugged in or pulled while it is open.
#include "e2e_support.h"

#include "app.h"
#include "resource_ids.h"

namespace {

using namespace e2e;

const char ENABLE_WARNING[] = "Enable Warning";

class Warning : public AgentScenario {
protected:
    void SetUp() override
    {
        AgentScenario::SetUp();
        feeder::SetPlugged(false);
        SetMachineSetting(ENABLE_WARNING, 1);
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
    EXPECT_EQ(UserSetting(ENABLE_WARNING), 0);
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

// The agent runs with its manifest (themed common controls): the layout
// still follows the measured text.
TEST_F(Warning, LaidOutBelowItsTextInTheRunningAgent)
{
    HWND dialog = StartWithWarning();
    ASSERT_NE(dialog, nullptr);
    RECT text = ClientRectOf(dialog, IDC_WARNING_TEXT);
    RECT check = ClientRectOf(dialog, IDC_WARNING_CHECKBOX);
    RECT button = ClientRectOf(dialog, IDOK);
    RECT lower = ClientRectOf(dialog, IDC_WARNING_PICTURE_3);
    int h = text.bottom - text.top;
    EXPECT_GT(h, 20);
    EXPECT_EQ(lower.top, h + 152);
    EXPECT_EQ(check.top, h + 223);
    EXPECT_EQ(button.top, h + 238 + (check.bottom - check.top));
    RECT window;
    GetWindowRect(dialog, &window);
    EXPECT_EQ(window.right - window.left, 358);
    EXPECT_GE(window.bottom - window.top, button.bottom);
}

TEST_F(Warning, CancelKeepsTheWarning)
{
    HWND dialog = StartWithWarning();
    ASSERT_NE(dialog, nullptr);
    SendDlgItemMessageA(dialog, IDC_WARNING_CHECKBOX, BM_SETCHECK, BST_CHECKED, 0);
    ClickButton(dialog, IDCANCEL);
    ASSERT_NE(WaitForAgentWindow(), nullptr);
    EXPECT_EQ(UserSetting(ENABLE_WARNING), 1);
}

// "First Startup" opens the settings dialog at start only when the scanner
// is connected, which tells how the warning left the scanner.
TEST_F(Warning, ScannerPluggedInMeanwhileStartsConnected)
{
    SetMachineSetting("First Startup", 1);
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
    SetMachineSetting("First Startup", 1);
    HWND dialog = StartWithWarning();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(feeder::Plug());
    ASSERT_TRUE(feeder::Unplug());
    ClickButton(dialog, IDOK);
    ASSERT_NE(WaitForAgentWindow(), nullptr);
    EXPECT_EQ(WaitForDialog(agent.id, "", 1000), nullptr);
}

} // namespace
