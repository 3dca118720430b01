// The settings dialog under Wine, built from the real resource library and
// run modally on a thread of its own, as the tray window runs it. The test
// drives it as a user and the tray would and reads the registry after each
// event; its life inside the running agent is tested end to end.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "naming.h"
#include "product_files.h"
#include "resource_ids.h"
#include "scan_job.h"
#include "settings.h"
#include "settings_dialog.h"
#include "test_support.h"
#include "ui.h"

namespace {

const DWORD WAIT_MS = 10000;
const int BROWSER_STATUS = 14147; // the status line of the shell's folder browser

// The scan job as the dialog's scan request sees it: it records where it
// ran and holds until the test lets it go.
struct {
    std::atomic<int> runs;
    std::atomic<DWORD> threadId;
    HANDLE started, release;
} ScanJobDouble;

struct DialogRun {
    HANDLE thread;
    DWORD threadId;
    BOOL sawQuit;
    MSG quit;
};

DWORD WINAPI RunDialog(LPVOID context)
{
    DialogRun *run = static_cast<DialogRun *>(context);
    DialogBoxIndirectParamA(AppInstance, LoadDialogTemplate(IDD_SETTINGS), nullptr, SettingsDialogProc, 0);
    run->sawQuit = PeekMessageA(&run->quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    return 0;
}

class SettingsDialogTest : public testing::Test {
protected:
    void SetUp() override
    {
        InitCommonControls();
        AppInstance = GetModuleHandleA(nullptr);
        if (!ResourceLibrary)
            ResourceLibrary = LoadLibraryA((testsupport::ProgramDirectory() + RESOURCE_LIBRARY_FILE).c_str());
        ASSERT_NE(ResourceLibrary, nullptr);
        static unsigned counter;
        const std::string tag = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
        keyPath = "Software\\Velmora Tests\\Dialog " + tag;
        scanPath = keyPath + "\\" SCAN_SETTINGS_SUBKEY;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &SettingsKey, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegCreateKeyExA(SettingsKey, SCAN_SETTINGS_SUBKEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &scanKey,
                                  nullptr),
                  ERROR_SUCCESS);
        WriteStringSetting(SettingsKey, SettingName(SETTING_FolderName), ("Velmora dialog test " + tag).c_str());
        char folder[PATH_CAPACITY];
        GetDefaultSaveFolder(folder);
        folders = {folder, testsupport::MakeScratchFolder("dialog")};
    }
    void TearDown() override
    {
        if (IsWindow(SettingsDialogWindow))
            PostMessageA(SettingsDialogWindow, WM_COMMAND, IDOK, 0);
        WaitForSingleObject(run.thread, WAIT_MS);
        RegCloseKey(scanKey);
        RegCloseKey(SettingsKey);
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, keyPath);
        for (const std::string &folder : folders) {
            testsupport::RunHostShell("chattr -R -i '" + testsupport::UnixPath(folder) + "'");
            testsupport::RemoveTree(folder);
        }
    }

    void Open()
    {
        SettingsDialogWindow = nullptr;
        if (run.thread)
            CloseHandle(run.thread);
        run = DialogRun();
        run.thread = CreateThread(nullptr, 0, RunDialog, &run, 0, &run.threadId);
        ASSERT_TRUE(testsupport::WaitUntil(
            WAIT_MS, [] { return SettingsDialogWindow && IsWindowVisible(SettingsDialogWindow); }));
        dialog = SettingsDialogWindow;
    }
    bool Closed(DWORD timeoutMs = WAIT_MS)
    {
        return WaitForSingleObject(run.thread, timeoutMs) == WAIT_OBJECT_0;
    }
    HWND Item(int id)
    {
        return GetDlgItem(dialog, id);
    }
    std::string ItemText(int id)
    {
        char text[PATH_CAPACITY] = "";
        GetWindowTextA(Item(id), text, sizeof text);
        return text;
    }
    // A stored value: a number in decimal, text up to its terminator.
    std::string Value(SettingId id)
    {
        DWORD type;
        std::string data;
        if (!testsupport::GetRawValue(HKEY_CURRENT_USER, scanPath, SettingName(id), &type, &data))
            return "(missing)";
        return type == REG_DWORD && data.size() == 4 ? std::to_string(*(const DWORD *)data.data())
                                                     : data.substr(0, data.find('\0'));
    }
    // With `clear`, empties "Setting" first; true when every value is there.
    bool SavedInFull(bool clear = false)
    {
        bool full = true;
        for (int id = 0; id < SETTING_COUNT; ++id)
            if (Setting(SettingId(id)).place == PLACE_SCAN) {
                if (clear)
                    RegDeleteKeyValueA(HKEY_CURRENT_USER, scanPath.c_str(), SettingName(SettingId(id)));
                full = full && Value(SettingId(id)) != "(missing)";
            }
        return full;
    }
    bool NothingSaved()
    {
        return Value(SETTING_Resolution) == "(missing)" && Value(SETTING_Prefix) == "(missing)";
    }
    // A folder nothing can be written to, below one of `folders`.
    std::string Locked(const std::string &folder)
    {
        CreateDirectoryA(folder.c_str(), nullptr);
        EXPECT_EQ(testsupport::RunHostShell("chattr +i '" + testsupport::UnixPath(folder) + "'"), 0);
        return folder;
    }

    std::string keyPath, scanPath;
    std::vector<std::string> folders; // removed afterwards; the default save folder first
    HKEY scanKey = nullptr;           // "Setting", as the installer would fill it
    DialogRun run = {};
    HWND dialog = nullptr;
};

} // namespace

// The job the scan request runs; the rest of the job library is real.
int RunScanJob(void)
{
    ScanJobDouble.threadId = GetCurrentThreadId();
    ++ScanJobDouble.runs;
    SetEvent(ScanJobDouble.started);
    WaitForSingleObject(ScanJobDouble.release, WAIT_MS);
    return 1;
}

namespace {

// What the controls show for stored values the lists do not offer, and what
// OK makes of them. An unwritable save folder is replaced (and made) as the
// dialog opens.
TEST_F(SettingsDialogTest, OpeningShowsTheStoredSettings)
{
    const std::pair<SettingId, DWORD> numbers[] = {{SETTING_Resolution, 600},
                                                   {SETTING_Rotate, 7},
                                                   {SETTING_Brightness, 150},
                                                   {SETTING_AutoCrop, 0},
                                                   {SETTING_AutoDeskew, 1}};
    for (const auto &number : numbers)
        WriteDwordSetting(scanKey, SettingName(number.first), number.second);
    WriteStringSetting(scanKey, SettingName(SETTING_SavePath), Locked(folders[1] + "\\locked").c_str());
    Open();
    EXPECT_EQ(Value(SETTING_SavePath), folders[0]);
    EXPECT_EQ(ItemText(IDC_SETTINGS_SAVE_PATH), folders[0]);
    EXPECT_TRUE(testsupport::FileExists(folders[0]));
    EXPECT_EQ(SendMessageA(Item(IDC_SETTINGS_RESOLUTION), CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(ItemText(IDC_SETTINGS_BRIGHTNESS_VALUE), "150");
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_SETTINGS_AUTOCROP))) << "cropping is locked while deskewing";
    SavedInFull(true);
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(Closed());
    EXPECT_TRUE(SavedInFull());
    EXPECT_EQ(Value(SETTING_Resolution) + " " + Value(SETTING_Rotate) + " " + Value(SETTING_Brightness) + " " +
                  Value(SETTING_AutoCrop),
              "100 0 150 1");
}

// Each row puts a slider at a value (through its thumb), empties "Setting",
// applies a key or a scroll code, and finds every value saved with the new
// one, or nothing saved at all.
TEST_F(SettingsDialogTest, SlidersStepByTheirOwnArithmetic)
{
    const int controls[][3] = {{IDC_SETTINGS_BRIGHTNESS, IDC_SETTINGS_BRIGHTNESS_VALUE, SETTING_Brightness},
                               {IDC_SETTINGS_CONTRAST, IDC_SETTINGS_CONTRAST_VALUE, SETTING_Contrast},
                               {IDC_SETTINGS_GAMMA, IDC_SETTINGS_GAMMA_VALUE, SETTING_Gamma}};
    const struct {
        int slider;
        DWORD start;
        UINT message; // a key to the slider, or a scroll code to the dialog
        WPARAM what;
        const char *stored; // null: nothing saved
        const char *shown;
    } cases[] = {
        {0, 95, WM_KEYDOWN, VK_NEXT, "100", "100"},  {0, 100, WM_HSCROLL, TB_LINEDOWN, nullptr, "100"},
        {0, 5, WM_KEYDOWN, VK_PRIOR, "0", "0"},      {0, 50, WM_HSCROLL, TB_ENDTRACK, nullptr, "50"},
        {1, 1, WM_KEYDOWN, VK_LEFT, "0", "0"},       {1, 0, WM_HSCROLL, TB_PAGEUP, nullptr, "0"},
        {1, 20, WM_KEYDOWN, VK_PRIOR, "10", "10"},   {2, 15, WM_KEYDOWN, VK_PRIOR, "10", "0.10"},
        {2, 10, WM_KEYDOWN, VK_END, "400", "4.00"},  {2, 400, WM_HSCROLL, TB_BOTTOM, nullptr, "4.00"},
        {2, 345, WM_KEYDOWN, VK_HOME, "10", "0.10"}, {2, 11, WM_HSCROLL, TB_LINEUP, "10", "0.10"},
    };
    Open();
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        HWND slider = Item(controls[c.slider][0]);
        SendMessageA(slider, TBM_SETPOS, TRUE, c.start);
        SendMessageA(dialog, WM_HSCROLL, TB_THUMBPOSITION, (LPARAM)slider);
        ASSERT_EQ(Value(SettingId(controls[c.slider][2])), std::to_string(c.start));
        SavedInFull(true);
        const bool key = c.message == WM_KEYDOWN;
        SendMessageA(key ? slider : dialog, c.message, c.what, key ? 0 : (LPARAM)slider);
        EXPECT_TRUE(c.stored ? SavedInFull() : NothingSaved());
        EXPECT_EQ(Value(SettingId(controls[c.slider][2])), c.stored ? c.stored : "(missing)");
        EXPECT_EQ(ItemText(controls[c.slider][1]), c.shown);
    }
}

// The prefix box takes no character a file name cannot hold and stops at
// "Prefix Limit". Esc leaves the dialog open;
// the close box closes it and saves nothing more.
TEST_F(SettingsDialogTest, PrefixBoxAndClosing)
{
    WriteDwordSetting(SettingsKey, SettingName(SETTING_PrefixLimit), 4);
    WriteStringSetting(scanKey, SettingName(SETTING_Prefix), "");
    Open();
    HWND prefix = Item(IDC_SETTINGS_PREFIX);
    for (char typed : std::string("a:b \"*/<>?\\|d"))
        SendMessageA(prefix, WM_CHAR, (BYTE)typed, 0);
    EXPECT_EQ(Value(SETTING_Prefix), "abd");
    for (char typed : std::string("efg"))
        SendMessageA(prefix, WM_CHAR, (BYTE)typed, 0);
    EXPECT_EQ(Value(SETTING_Prefix), "abde");

    // Posted in order, as input arrives: once the click is saved, Esc has
    // been through the dialog's own loop.
    SavedInFull(true);
    PostMessageA(prefix, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(Item(IDC_SETTINGS_CONTINUOUS), BM_CLICK, 0, 0);
    ASSERT_TRUE(testsupport::WaitUntil(WAIT_MS, [this] { return SavedInFull(); }));
    EXPECT_FALSE(Closed(0)) << "Esc closed the dialog";
    SavedInFull(true);
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(Closed());
    EXPECT_TRUE(NothingSaved()) << "closing saved again";
    EXPECT_EQ(SettingsDialogWindow, nullptr);
}

// The folder browser opens on the save folder, refuses an unwritable
// folder and takes a writable one; cancelling keeps the folder. Either way
// the dialog saves once the browser has gone.
TEST_F(SettingsDialogTest, FolderBrowserTakesOnlyWritableFolders)
{
    // Wine's browser does not reach into the temporary folder.
    const std::string top = "C:\\velmora-browse-" + std::to_string(GetCurrentProcessId()), good = top + "\\good";
    ASSERT_TRUE(CreateDirectoryA(top.c_str(), nullptr));
    folders.push_back(top);
    CreateDirectoryA(good.c_str(), nullptr);
    Locked(top + "\\locked");
    char shortGood[PATH_CAPACITY] = "";
    GetShortPathNameA(good.c_str(), shortGood, sizeof shortGood);
    WriteStringSetting(scanKey, SettingName(SETTING_SavePath), top.c_str());
    Open();
    for (int button : {IDOK, IDCANCEL}) {
        PostMessageA(Item(IDC_SETTINGS_BROWSE), BM_CLICK, 0, 0);
        HWND browser = testsupport::FindOwnedDialog(dialog, WAIT_MS);
        ASSERT_NE(browser, nullptr);
        HWND tree = FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr);
        HTREEITEM current = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)current);
        HTREEITEM first = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)current);
        // The status line and OK for the save folder, "locked" and "good".
        HTREEITEM second = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)first);
        const std::pair<HTREEITEM, std::string> choices[] = {{current, top}, {second, ""}, {first, shortGood}};
        for (const auto &choice : choices) {
            if (button == IDCANCEL)
                break;
            SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)choice.first);
            char status[PATH_CAPACITY] = "";
            EXPECT_TRUE(testsupport::WaitUntil(WAIT_MS,
                                               [&] {
                                                   GetDlgItemTextA(browser, BROWSER_STATUS, status, sizeof status);
                                                   return status == choice.second &&
                                                          !IsWindowEnabled(GetDlgItem(browser, IDOK)) ==
                                                              choice.second.empty();
                                               }))
                << "'" << choice.second << "' shows '" << status << "'";
        }
        SavedInFull(true);
        SendMessageA(GetDlgItem(browser, button), BM_CLICK, 0, 0);
        ASSERT_TRUE(testsupport::WaitUntil(WAIT_MS, [this] { return SavedInFull(); }));
        EXPECT_EQ(Value(SETTING_SavePath), good);
        EXPECT_EQ(ItemText(IDC_SETTINGS_SAVE_PATH), good);
    }
}

// The scan request runs the job on a worker thread; meanwhile the dialog
// repaints, drops input, refuses a second request, and keeps a quit message
// for when the job is over, so the dialog (and the agent's loop) ends.
TEST_F(SettingsDialogTest, ScanRequestRunsTheJobOnAWorkerThread)
{
    ScanJobDouble.started = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ScanJobDouble.release = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    Open();
    PostMessageA(dialog, WM_USER, SETTINGS_SCAN_REQUEST, 0);
    ASSERT_EQ(WaitForSingleObject(ScanJobDouble.started, WAIT_MS), WAIT_OBJECT_0);
    EXPECT_NE(ScanJobDouble.threadId, run.threadId);
    DWORD_PTR ignored;
    EXPECT_NE(SendMessageTimeoutA(dialog, WM_USER, SETTINGS_SCAN_REQUEST, 0, SMTO_NORMAL, 3000, &ignored), 0);

    SavedInFull(true);
    PostMessageA(Item(IDC_SETTINGS_CONTINUOUS), BM_CLICK, 0, 0);
    PostThreadMessageA(run.threadId, WM_QUIT, 7, 0);
    // Painting comes after every posted message: once the dialog has
    // repainted, the click and the quit message have been taken too.
    InvalidateRect(dialog, nullptr, TRUE);
    EXPECT_TRUE(testsupport::WaitUntil(WAIT_MS, [this] { return !GetUpdateRect(dialog, nullptr, FALSE); }))
        << "no repaint during the job";
    SetEvent(ScanJobDouble.release);
    ASSERT_TRUE(Closed()) << "the quit message taken during the job was lost";
    EXPECT_TRUE(run.sawQuit);
    EXPECT_EQ(run.quit.wParam, 7u);
    EXPECT_TRUE(NothingSaved()) << "input during the job was taken";
    EXPECT_EQ(ScanJobDouble.runs, 1) << "a second job while one ran";
}

} // namespace
