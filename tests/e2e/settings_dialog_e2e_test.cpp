// The settings dialog inside the running agent: a double-click on the tray
// icon opens it, each change is in the registry as soon as it is made, and
// the folder browser it opens is driven from this process.
//
// With VELMORA_SCREENSHOTS naming a Linux folder, the scenario also
// photographs the dialog and the browser there (for the README).
#include "e2e_support.h"

#include <commctrl.h>

#include "resource_ids.h"
#include "settings_dialog.h"
#include "settings_table.h"
#include "test_support.h"

namespace {

using namespace e2e;

std::string StoredText(const std::string &path, SettingId id)
{
    DWORD type;
    std::string data;
    if (!testsupport::GetRawValue(HKEY_CURRENT_USER, path, SettingName(id), &type, &data))
        return "(missing)";
    return data.substr(0, data.find('\0'));
}

// Crops the window out of the X screen into VELMORA_SCREENSHOTS/`name`.
void Photograph(HWND window, const char *name)
{
    char folder[MAX_PATH] = "";
    if (!GetEnvironmentVariableA("VELMORA_SCREENSHOTS", folder, sizeof folder))
        return;
    Sleep(700); // every control painted
    RECT rect;
    GetWindowRect(window, &rect);
    char script[1024];
    // The agent runs on Wine's virtual desktop: its origin on the X screen
    // is added to the window's own position.
    snprintf(script, sizeof script,
             "origin=$(xdotool search --name 'Wine desktop' | head -n1); X=0; Y=0; "
             "[ -n \"$origin\" ] && eval \"$(xdotool getwindowgeometry --shell $origin)\"; "
             "import -window root -crop %ldx%ld+$((X+%ld))+$((Y+%ld)) +repage '%s/%s'",
             rect.right - rect.left, rect.bottom - rect.top, rect.left, rect.top, folder, name);
    EXPECT_EQ(testsupport::RunHostShell(script), 0) << script;
}

class SettingsDialogScenario : public AgentScenario {
protected:
    void TearDown() override
    {
        AgentScenario::TearDown();
        if (!album.empty())
            testsupport::RemoveTree(album.substr(0, album.rfind('\\')));
    }
    std::string album;
};

TEST_F(SettingsDialogScenario, DoubleClickOpensItAndEveryChangeIsSavedAtOnce)
{
    ASSERT_TRUE(StartAgent());
    ASSERT_NE(WaitForAgentWindow(), nullptr);
    const std::string scan = SettingsPath(SCAN_SETTINGS_SUBKEY);
    // A folder Wine's browser can reach, holding the one the user will pick.
    std::string top = "C:\\Photo Scans";
    album = top + "\\Family 1987";
    testsupport::RemoveTree(top);
    ASSERT_TRUE(CreateDirectoryA(top.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(album.c_str(), nullptr));
    ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, scan, SettingName(SETTING_SavePath), REG_SZ, top.c_str(),
                                         DWORD(top.size() + 1)));

    ASSERT_TRUE(PostTrayCallback(WM_LBUTTONDBLCLK));
    HWND dialog = WaitForDialog(agent.id);
    ASSERT_NE(dialog, nullptr);
    char shown[MAX_PATH] = "";
    GetDlgItemTextA(dialog, IDC_SETTINGS_SAVE_PATH, shown, sizeof shown);
    EXPECT_EQ(std::string(shown), top);

    // A sent key is answered once the agent has handled it: the value must
    // be stored by then.
    int brightness = UserSetting(SettingName(SETTING_Brightness), SCAN_SETTINGS_SUBKEY);
    SendMessageA(GetDlgItem(dialog, IDC_SETTINGS_BRIGHTNESS), WM_KEYDOWN, VK_NEXT, 0);
    EXPECT_EQ(UserSetting(SettingName(SETTING_Brightness), SCAN_SETTINGS_SUBKEY), brightness + 10);
    Photograph(dialog, "settings-dialog.png");

    PostMessageA(GetDlgItem(dialog, IDC_SETTINGS_BROWSE), BM_CLICK, 0, 0);
    HWND browser = testsupport::FindOwnedDialog(dialog, 10000);
    ASSERT_NE(browser, nullptr);
    HWND tree = FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr);
    HTREEITEM current = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)current);
    HTREEITEM child = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)current);
    ASSERT_NE(child, nullptr) << "the browser did not open on the save folder";
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)child);
    Photograph(browser, "folder-browser.png");
    PostMessageA(GetDlgItem(browser, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitForWindowGone(browser));
    testsupport::WaitUntil(5000, [&] { return StoredText(scan, SETTING_SavePath) == album; });
    EXPECT_EQ(StoredText(scan, SETTING_SavePath), album);
    GetDlgItemTextA(dialog, IDC_SETTINGS_SAVE_PATH, shown, sizeof shown);
    EXPECT_EQ(std::string(shown), album);

    ClickButton(dialog, IDOK);
    EXPECT_TRUE(WaitForWindowGone(dialog));
}

// The scan request from outside: the agent's real job scans a photograph
// fed into the virtual scanner on a worker thread, behind a progress window
// of its own, while the dialog stays open on the agent's main thread.
TEST_F(SettingsDialogScenario, ScanRequestRunsAJobBesideTheOpenDialog)
{
    ASSERT_TRUE(StartAgent());
    ASSERT_NE(WaitForAgentWindow(), nullptr);
    const std::string scan = SettingsPath(SCAN_SETTINGS_SUBKEY);
    album = "C:\\Photo Scans\\Requested";
    testsupport::RemoveTree(album.substr(0, album.rfind('\\')));
    CreateDirectoryA(album.substr(0, album.rfind('\\')).c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryA(album.c_str(), nullptr));
    ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, scan, SettingName(SETTING_SavePath), REG_SZ, album.c_str(),
                                         DWORD(album.size() + 1)));
    feeder::Placement placement;
    placement.SheetDpi = 200;
    ASSERT_TRUE(feeder::QueueSheet("Z:\\usr\\share\\palapeli\\collection\\castle-maintenon.jpg", &placement));

    ASSERT_TRUE(PostTrayCallback(WM_LBUTTONDBLCLK));
    HWND dialog = WaitForDialog(agent.id);
    ASSERT_NE(dialog, nullptr);
    DWORD dialogThread = GetWindowThreadProcessId(dialog, nullptr);
    PostMessageA(dialog, WM_USER, SETTINGS_SCAN_REQUEST, 0);

    // The job's own windows belong to its worker thread.
    std::string picture = album + "\\Image00001.jpg";
    bool workerWindowSeen = false;
    for (int step = 0; step < 1200 && !testsupport::FileExists(picture); ++step) {
        HWND other = nullptr;
        while ((other = FindWindowExA(nullptr, other, "#32770", nullptr)) != nullptr) {
            DWORD process = 0;
            DWORD thread = GetWindowThreadProcessId(other, &process);
            if (process == agent.id && other != dialog && thread != dialogThread)
                workerWindowSeen = true;
        }
        Sleep(50);
    }
    EXPECT_TRUE(testsupport::FileExists(picture)) << "no picture saved";
    EXPECT_TRUE(workerWindowSeen) << "no window of the job's own thread";
    EXPECT_TRUE(IsWindowVisible(dialog)) << "the dialog stays open beside the job";
    ClickButton(dialog, IDOK);
    EXPECT_TRUE(WaitForWindowGone(dialog));
}

} // namespace
