// The settings dialog under Wine, built from the real resource library and
// run modally on a thread of its own, as the tray window runs it. The test
// drives it as a user and the tray would (keys, clicks, trackbar and list
// messages, the folder browser) and reads the registry after each event.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "naming.h"
#include "resource_ids.h"
#include "scan_job.h"
#include "settings.h"
#include "settings_dialog.h"
#include "shared.h"
#include "test_support.h"
#include "ui.h"

namespace {

const DWORD WAIT_MS = 10000;

// The scan job as the dialog's scan request sees it: records where it ran
// and holds until the test lets it go.
struct {
    std::atomic<int> runs;
    std::atomic<DWORD> threadId;
    HANDLE started;
    HANDLE release;
} ScanJobDouble;

bool WaitFor(bool (*condition)(void *), void *context, DWORD timeoutMs = WAIT_MS)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
        if (condition(context))
            return true;
        Sleep(20);
    }
    return condition(context);
}

// The status line of the shell's folder browser.
const int BROWSER_STATUS = 14147;

struct DialogRun {
    HANDLE thread = nullptr;
    DWORD threadId = 0;
    INT_PTR result = -1;
    bool sawQuit = false;
    WPARAM quitCode = 0;
};

DWORD WINAPI RunDialog(LPVOID context)
{
    DialogRun *run = static_cast<DialogRun *>(context);
    run->result =
        DialogBoxIndirectParamA(AppInstance, LoadDialogTemplate(IDD_SETTINGS), nullptr, SettingsDialogProc, 0);
    MSG message;
    run->sawQuit = PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
    run->quitCode = message.wParam;
    return 0;
}

class SettingsDialogTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        InitCommonControls();
        AppInstance = GetModuleHandleA(nullptr);
        ResourceLibrary = LoadLibraryA((testsupport::ProgramDirectory() + "VelmoraRes.dll").c_str());
        ScanJobDouble.started = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        ScanJobDouble.release = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    static void TearDownTestSuite()
    {
        FreeLibrary(ResourceLibrary);
        ResourceLibrary = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(ResourceLibrary, nullptr) << "VelmoraRes.dll beside the test program";
        static unsigned counter;
        std::string tag = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
        keyPath = "Software\\Velmora Tests\\Dialog " + tag;
        scanPath = keyPath + "\\" + SCAN_SETTINGS_SUBKEY;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                  &SettingsKey, nullptr),
                  ERROR_SUCCESS);
        WriteStringSetting(SettingsKey, SettingName(SETTING_FolderName), ("Velmora dialog test " + tag).c_str());
        char folder[PATH_CAPACITY];
        GetDefaultSaveFolder(folder);
        defaultFolder = folder;
        scratch = testsupport::MakeScratchFolder("dialog");
        ASSERT_FALSE(scratch.empty());
    }
    void TearDown() override
    {
        if (run.thread) {
            if (IsWindow(SettingsDialogWindow))
                PostMessageA(SettingsDialogWindow, WM_COMMAND, IDOK, 0);
            WaitForSingleObject(run.thread, WAIT_MS);
            CloseHandle(run.thread);
        }
        for (const std::string &locked : lockedFolders)
            testsupport::RunHostShell("chattr -i '" + testsupport::UnixPath(locked) + "'");
        RegCloseKey(SettingsKey);
        SettingsKey = nullptr;
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, keyPath);
        testsupport::RemoveTree(defaultFolder);
        testsupport::RemoveTree(scratch);
        if (!driveFolder.empty())
            testsupport::RemoveTree(driveFolder);
    }

public:
    // Opens the dialog and waits until it shows.
    void Open()
    {
        SettingsDialogWindow = nullptr;
        run = DialogRun();
        run.thread = CreateThread(nullptr, 0, RunDialog, &run, 0, &run.threadId);
        ASSERT_NE(run.thread, nullptr);
        ASSERT_TRUE(
            WaitFor([](void *) { return SettingsDialogWindow && IsWindowVisible(SettingsDialogWindow); }, nullptr))
            << "the settings dialog did not show";
        dialog = SettingsDialogWindow;
    }
    // OK, as the tray sends it: true once the dialog has ended with 0.
    bool CloseWithOk()
    {
        SendMessageA(dialog, WM_COMMAND, IDOK, 0);
        bool ended = Closed() && run.result == 0;
        CloseHandle(run.thread);
        run.thread = nullptr;
        return ended;
    }
    // True when the dialog's thread has finished within the wait.
    bool Closed(DWORD timeoutMs = WAIT_MS)
    {
        return WaitForSingleObject(run.thread, timeoutMs) == WAIT_OBJECT_0;
    }

    HWND Item(int id)
    {
        return GetDlgItem(dialog, id);
    }
    void SetNumber(SettingId id, DWORD value)
    {
        ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, scanPath, SettingName(id), REG_DWORD, &value, 4));
    }
    void SetText(SettingId id, const std::string &text)
    {
        ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, scanPath, SettingName(id), REG_SZ, text.c_str(),
                                             DWORD(text.size() + 1)));
    }
    // A stored number, or -1 when it is missing or not a four-byte REG_DWORD.
    long long Number(SettingId id)
    {
        DWORD type;
        std::string data;
        if (!testsupport::GetRawValue(HKEY_CURRENT_USER, scanPath, SettingName(id), &type, &data) ||
            type != REG_DWORD || data.size() != 4)
            return -1;
        return *reinterpret_cast<const DWORD *>(data.data());
    }
    std::string Text(SettingId id)
    {
        DWORD type;
        std::string data;
        if (!testsupport::GetRawValue(HKEY_CURRENT_USER, scanPath, SettingName(id), &type, &data))
            return "(missing)";
        return data.substr(0, data.find('\0'));
    }
    // Removes every value of "Setting", so the next save shows in full.
    void ClearScanValues()
    {
        for (int id = 0; id < SETTING_COUNT; ++id)
            if (Setting(SettingId(id)).place == PLACE_SCAN)
                RegDeleteKeyValueA(HKEY_CURRENT_USER, scanPath.c_str(), SettingName(SettingId(id)));
    }
    // How many of the thirteen scan settings are stored.
    int StoredScanValues()
    {
        int count = 0;
        DWORD type;
        std::string data;
        for (int id = 0; id < SETTING_COUNT; ++id)
            if (Setting(SettingId(id)).place == PLACE_SCAN &&
                testsupport::GetRawValue(HKEY_CURRENT_USER, scanPath, SettingName(SettingId(id)), &type, &data))
                ++count;
        return count;
    }
    std::string ControlText(int id)
    {
        char text[PATH_CAPACITY] = "";
        GetWindowTextA(Item(id), text, sizeof text);
        return text;
    }
    LRESULT Selected(int list)
    {
        LRESULT index = SendMessageA(Item(list), CB_GETCURSEL, 0, 0);
        return index == CB_ERR ? -1 : SendMessageA(Item(list), CB_GETITEMDATA, index, 0);
    }
    bool Checked(int id)
    {
        return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    bool Enabled(int id)
    {
        return IsWindowEnabled(Item(id)) != 0;
    }
    std::string LockedFolder(const std::string &name)
    {
        std::string folder = scratch + "\\" + name;
        CreateDirectoryA(folder.c_str(), nullptr);
        if (testsupport::RunHostShell("chattr +i '" + testsupport::UnixPath(folder) + "'") == 0)
            lockedFolders.push_back(folder);
        else
            ADD_FAILURE() << "chattr +i through the host bridge failed";
        return folder;
    }

    // Clicks Browse and waits for the folder browser the dialog owns.
    HWND OpenBrowser()
    {
        PostMessageA(Item(IDC_SETTINGS_BROWSE), BM_CLICK, 0, 0);
        return testsupport::FindOwnedDialog(dialog, WAIT_MS);
    }
    bool BrowserClosed()
    {
        return !testsupport::FindOwnedDialog(dialog);
    }
    // Waits for the browser's status text and OK button to show a decision.
    bool BrowserShows(HWND browser, const char *status, bool okEnabled)
    {
        HWND ok = GetDlgItem(browser, IDOK);
        for (DWORD waited = 0;; waited += 50) {
            char text[PATH_CAPACITY] = "";
            GetDlgItemTextA(browser, BROWSER_STATUS, text, sizeof text);
            if (!strcmp(text, status) && (IsWindowEnabled(ok) != 0) == okEnabled)
                return true;
            if (waited >= 3000) {
                ADD_FAILURE() << "status '" << text << "', OK " << (IsWindowEnabled(ok) ? "enabled" : "disabled");
                return false;
            }
            Sleep(50);
        }
    }
    std::string ToolTipText()
    {
        if (!SettingsDialog.pathToolTip)
            return "(no tooltip)";
        char text[PATH_CAPACITY + 1] = "";
        TTTOOLINFOA tool = {};
        tool.cbSize = sizeof tool;
        tool.hwnd = Item(IDC_SETTINGS_SAVE_PATH);
        tool.uId = 0;
        tool.lpszText = text;
        SendMessageA(SettingsDialog.pathToolTip, TTM_GETTEXTA, sizeof text, (LPARAM)&tool);
        return text;
    }

    std::string keyPath, scanPath, defaultFolder, scratch, driveFolder;
    std::vector<std::string> lockedFolders;
    DialogRun run;
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

int ScanValueCount()
{
    int count = 0;
    for (const SettingValue &value : SettingTable)
        count += value.place == PLACE_SCAN;
    return count;
}

} // namespace

// What the controls show for prepared registry values, and what the first
// save (OK) makes of values the lists do not offer.
TEST_F(SettingsDialogTest, OpeningShowsTheStoredSettings)
{
    struct Case {
        const char *what;
        DWORD support600, resolution, rotation, brightness, gamma, crop, deskew;
        bool lockedFolder;
        // shown
        int resolutionItems;
        LRESULT resolutionShown, rotationShown;
        const char *brightnessText;
        int brightnessPosition;
        const char *gammaText;
        bool cropChecked, cropEnabled;
        // stored after OK
        long long resolutionStored, rotationStored, cropStored;
    } cases[] = {
        {"unoffered values", 0, 600, 7, 150, 45, 0, 1, true, 2, 100, 0, "150", 100, "0.45", true, false, 100, 0, 1},
        {"600 offered", 1, 600, 3, 0, 400, 1, 0, false, 3, 600, 3, "0", 0, "4.00", true, true, 600, 3, 1},
        {"plain", 0, 300, 1, 95, 100, 0, 0, false, 2, 300, 1, "95", 95, "1.00", false, true, 300, 1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        WriteDwordSetting(SettingsKey, SettingName(SETTING_Support600Dpi), c.support600);
        SetNumber(SETTING_Resolution, c.resolution);
        SetNumber(SETTING_Rotate, c.rotation);
        SetNumber(SETTING_Brightness, c.brightness);
        SetNumber(SETTING_Gamma, c.gamma);
        SetNumber(SETTING_AutoCrop, c.crop);
        SetNumber(SETTING_AutoDeskew, c.deskew);
        std::string folder = c.lockedFolder ? LockedFolder("locked") : scratch;
        SetText(SETTING_SavePath, folder);

        Open();
        // An unwritable folder is replaced as the dialog opens, not on a later save.
        std::string expectedFolder = c.lockedFolder ? defaultFolder : folder;
        EXPECT_EQ(Text(SETTING_SavePath), expectedFolder);
        EXPECT_EQ(ControlText(IDC_SETTINGS_SAVE_PATH), expectedFolder);
        EXPECT_TRUE(testsupport::FileExists(expectedFolder)) << "the save folder is created";
        EXPECT_EQ(SendMessageA(Item(IDC_SETTINGS_RESOLUTION), CB_GETCOUNT, 0, 0), c.resolutionItems);
        EXPECT_EQ(Selected(IDC_SETTINGS_RESOLUTION), c.resolutionShown);
        EXPECT_EQ(Selected(IDC_SETTINGS_ROTATE), c.rotationShown);
        EXPECT_EQ(ControlText(IDC_SETTINGS_BRIGHTNESS_VALUE), c.brightnessText);
        EXPECT_EQ(SendMessageA(Item(IDC_SETTINGS_BRIGHTNESS), TBM_GETPOS, 0, 0), c.brightnessPosition);
        EXPECT_EQ(ControlText(IDC_SETTINGS_GAMMA_VALUE), c.gammaText);
        EXPECT_EQ(Checked(IDC_SETTINGS_AUTOCROP), c.cropChecked);
        EXPECT_EQ(Enabled(IDC_SETTINGS_AUTOCROP), c.cropEnabled);
        EXPECT_EQ(Checked(IDC_SETTINGS_AUTODESKEW), c.deskew != 0);
        for (int fixed : {IDC_SETTINGS_SCAN_MODE, IDC_SETTINGS_PAPER_SIZE, IDC_SETTINGS_FORMAT})
            EXPECT_FALSE(Enabled(fixed)) << fixed;

        ClearScanValues();
        ASSERT_TRUE(CloseWithOk());
        EXPECT_EQ(StoredScanValues(), ScanValueCount());
        EXPECT_EQ(Number(SETTING_Resolution), c.resolutionStored);
        EXPECT_EQ(Number(SETTING_Rotate), c.rotationStored);
        EXPECT_EQ(Number(SETTING_Brightness), c.brightness) << "stored as it was, even out of range";
        EXPECT_EQ(Number(SETTING_AutoCrop), c.cropStored);
        EXPECT_EQ(Number(SETTING_ScanMode), 2);
        EXPECT_EQ(Number(SETTING_PaperSize), 0);
        EXPECT_EQ(Number(SETTING_Format), 1);
        EXPECT_EQ(Text(SETTING_SavePath), expectedFolder);
    }
}

// A fresh registry opens on the default folder, which is made. The dialog
// then keeps its last contents when "Setting" cannot be opened.
TEST_F(SettingsDialogTest, DefaultFolderAndTheKeptCopy)
{
    Open();
    EXPECT_EQ(ControlText(IDC_SETTINGS_SAVE_PATH), defaultFolder);
    EXPECT_TRUE(testsupport::FileExists(defaultFolder));
    SendMessageA(Item(IDC_SETTINGS_BRIGHTNESS), TBM_SETPOS, TRUE, 70);
    SendMessageA(dialog, WM_HSCROLL, TB_THUMBPOSITION, (LPARAM)Item(IDC_SETTINGS_BRIGHTNESS));
    ASSERT_TRUE(CloseWithOk());

    // A settings key deleted while open cannot have "Setting" made under it.
    testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, keyPath);
    Open();
    EXPECT_EQ(ControlText(IDC_SETTINGS_BRIGHTNESS_VALUE), "70");
    EXPECT_EQ(ControlText(IDC_SETTINGS_SAVE_PATH), defaultFolder);
    ASSERT_TRUE(CloseWithOk());
    HKEY scanKey;
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, scanPath.c_str(), 0, KEY_READ, &scanKey), ERROR_SUCCESS);
}

// Each row starts the slider at a value (through its thumb), empties
// "Setting", applies a key or a scroll code, and looks at the registry: all
// values rewritten with the new one, or nothing written at all.
TEST_F(SettingsDialogTest, SlidersStepByTheirOwnArithmetic)
{
    const int KEY = 1, SCROLL = 2, NOTHING = -1;
    struct Case {
        int slider;
        SettingId value;
        int valueText;
        int start;
        int how;
        WPARAM what; // a virtual key or a scroll code
        int stored;  // NOTHING: no value written
        const char *shown;
    } cases[] = {
        {IDC_SETTINGS_BRIGHTNESS, SETTING_Brightness, IDC_SETTINGS_BRIGHTNESS_VALUE, 95, KEY, VK_NEXT, 100, "100"},
        {IDC_SETTINGS_BRIGHTNESS, SETTING_Brightness, IDC_SETTINGS_BRIGHTNESS_VALUE, 100, SCROLL, TB_LINEDOWN, NOTHING,
         "100"},
        {IDC_SETTINGS_BRIGHTNESS, SETTING_Brightness, IDC_SETTINGS_BRIGHTNESS_VALUE, 99, KEY, VK_RIGHT, 100, "100"},
        {IDC_SETTINGS_BRIGHTNESS, SETTING_Brightness, IDC_SETTINGS_BRIGHTNESS_VALUE, 5, KEY, VK_PRIOR, 0, "0"},
        {IDC_SETTINGS_BRIGHTNESS, SETTING_Brightness, IDC_SETTINGS_BRIGHTNESS_VALUE, 50, SCROLL, TB_ENDTRACK, NOTHING,
         "50"},
        {IDC_SETTINGS_CONTRAST, SETTING_Contrast, IDC_SETTINGS_CONTRAST_VALUE, 0, SCROLL, TB_LINEUP, NOTHING, "0"},
        {IDC_SETTINGS_CONTRAST, SETTING_Contrast, IDC_SETTINGS_CONTRAST_VALUE, 1, KEY, VK_LEFT, 0, "0"},
        {IDC_SETTINGS_CONTRAST, SETTING_Contrast, IDC_SETTINGS_CONTRAST_VALUE, 0, SCROLL, TB_PAGEUP, NOTHING, "0"},
        {IDC_SETTINGS_CONTRAST, SETTING_Contrast, IDC_SETTINGS_CONTRAST_VALUE, 20, KEY, VK_PRIOR, 10, "10"},
        {IDC_SETTINGS_CONTRAST, SETTING_Contrast, IDC_SETTINGS_CONTRAST_VALUE, 100, SCROLL, TB_PAGEDOWN, NOTHING,
         "100"},
        {IDC_SETTINGS_GAMMA, SETTING_Gamma, IDC_SETTINGS_GAMMA_VALUE, 15, KEY, VK_PRIOR, 10, "0.10"},
        {IDC_SETTINGS_GAMMA, SETTING_Gamma, IDC_SETTINGS_GAMMA_VALUE, 10, KEY, VK_END, 400, "4.00"},
        {IDC_SETTINGS_GAMMA, SETTING_Gamma, IDC_SETTINGS_GAMMA_VALUE, 400, SCROLL, TB_BOTTOM, NOTHING, "4.00"},
        {IDC_SETTINGS_GAMMA, SETTING_Gamma, IDC_SETTINGS_GAMMA_VALUE, 10, SCROLL, TB_TOP, NOTHING, "0.10"},
        {IDC_SETTINGS_GAMMA, SETTING_Gamma, IDC_SETTINGS_GAMMA_VALUE, 395, KEY, VK_NEXT, 400, "4.00"},
        {IDC_SETTINGS_GAMMA, SETTING_Gamma, IDC_SETTINGS_GAMMA_VALUE, 11, SCROLL, TB_LINEUP, 10, "0.10"},
        {IDC_SETTINGS_GAMMA, SETTING_Gamma, IDC_SETTINGS_GAMMA_VALUE, 345, KEY, VK_HOME, 10, "0.10"},
    };
    Open();
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "slider " << c.slider << " from " << c.start << ", " << c.what);
        HWND slider = Item(c.slider);
        SendMessageA(slider, TBM_SETPOS, TRUE, c.start);
        SendMessageA(dialog, WM_HSCROLL, TB_THUMBPOSITION, (LPARAM)slider);
        ASSERT_EQ(Number(c.value), c.start);
        ClearScanValues();
        if (c.how == KEY) {
            SendMessageA(slider, WM_KEYDOWN, c.what, 0);
            SendMessageA(slider, WM_KEYUP, c.what, 0);
        } else {
            SendMessageA(dialog, WM_HSCROLL, c.what, (LPARAM)slider);
        }
        if (c.stored == NOTHING) {
            EXPECT_EQ(StoredScanValues(), 0);
        } else {
            EXPECT_EQ(StoredScanValues(), ScanValueCount());
            EXPECT_EQ(Number(c.value), c.stored);
            EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), c.stored);
        }
        EXPECT_EQ(ControlText(c.valueText), c.shown);
    }
}

// Check boxes and lists, each click or choice saving every value.
TEST_F(SettingsDialogTest, ChecksAndListsSaveAtOnce)
{
    SetNumber(SETTING_Rotate, 0);
    Open();
    struct Step {
        const char *what;
        int control;
        UINT message;
        WPARAM wParam;
        // afterwards (a disabled box cannot be clicked)
        long long crop, deskew, continuous, resolution, rotation;
        bool cropEnabled;
    } steps[] = {
        {"deskew on", IDC_SETTINGS_AUTODESKEW, BM_CLICK, 0, 1, 1, 0, 100, 0, false},
        {"deskew off", IDC_SETTINGS_AUTODESKEW, BM_CLICK, 0, 1, 0, 0, 100, 0, true},
        {"crop off", IDC_SETTINGS_AUTOCROP, BM_CLICK, 0, 0, 0, 0, 100, 0, true},
        {"continuous", IDC_SETTINGS_CONTINUOUS, BM_CLICK, 0, 0, 0, 1, 100, 0, true},
        {"next resolution", IDC_SETTINGS_RESOLUTION, WM_KEYDOWN, VK_DOWN, 0, 0, 1, 300, 0, true},
        {"last rotation", IDC_SETTINGS_ROTATE, WM_KEYDOWN, VK_END, 0, 0, 1, 300, 3, true},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        ClearScanValues();
        SendMessageA(Item(step.control), step.message, step.wParam, 0);
        EXPECT_EQ(StoredScanValues(), ScanValueCount());
        EXPECT_EQ(Number(SETTING_AutoCrop), step.crop);
        EXPECT_EQ(Number(SETTING_AutoDeskew), step.deskew);
        EXPECT_EQ(Number(SETTING_ContinuousScan), step.continuous);
        EXPECT_EQ(Number(SETTING_Resolution), step.resolution);
        EXPECT_EQ(Number(SETTING_Rotate), step.rotation);
        EXPECT_EQ(Enabled(IDC_SETTINGS_AUTOCROP), step.cropEnabled);
    }
}

// Typing into the prefix box: refused characters, the clipboard, the right
// button and the length limit.
TEST_F(SettingsDialogTest, PrefixBoxTakesOnlyWhatANameCanHold)
{
    WriteDwordSetting(SettingsKey, SettingName(SETTING_PrefixLimit), 4);
    SetText(SETTING_Prefix, "");
    Open();
    HWND prefix = Item(IDC_SETTINGS_PREFIX);
    for (char typed : std::string("a:b d"))
        SendMessageA(prefix, WM_CHAR, (BYTE)typed, 0);
    EXPECT_EQ(ControlText(IDC_SETTINGS_PREFIX), "abd");
    EXPECT_EQ(Text(SETTING_Prefix), "abd");
    for (char refused : std::string("\"*/<>?\\|"))
        SendMessageA(prefix, WM_CHAR, (BYTE)refused, 0);
    EXPECT_EQ(ControlText(IDC_SETTINGS_PREFIX), "abd");

    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    HGLOBAL text = GlobalAlloc(GMEM_MOVEABLE, 4);
    memcpy(GlobalLock(text), "x?y", 4);
    GlobalUnlock(text);
    SetClipboardData(CF_TEXT, text);
    CloseClipboard();
    const char CONTROL_V = 0x16;
    SendMessageA(prefix, WM_PASTE, 0, 0);
    SendMessageA(prefix, WM_CHAR, CONTROL_V, 0);
    EXPECT_EQ(ControlText(IDC_SETTINGS_PREFIX), "abd");

    // A context menu would hold the sender in its loop until it closed.
    DWORD_PTR ignored;
    EXPECT_NE(SendMessageTimeoutA(prefix, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(3, 3), SMTO_NORMAL, 3000, &ignored),
              0);
    EXPECT_NE(SendMessageTimeoutA(prefix, WM_RBUTTONUP, 0, MAKELPARAM(3, 3), SMTO_NORMAL, 3000, &ignored), 0);
    EXPECT_EQ(FindWindowA("#32768", nullptr), nullptr) << "a context menu opened";

    for (char typed : std::string("efg"))
        SendMessageA(prefix, WM_CHAR, (BYTE)typed, 0);
    EXPECT_EQ(Text(SETTING_Prefix), "abde") << "\"Prefix Limit\" is 4";
}

// Esc leaves the dialog open; the close box closes it and keeps every change.
TEST_F(SettingsDialogTest, EscIsIgnoredAndTheCloseBoxKeepsChanges)
{
    SetText(SETTING_Prefix, "");
    Open();
    // Posted in order, as keys arrive: once "q" is in the registry, Esc has
    // been through the dialog's own loop.
    PostMessageA(Item(IDC_SETTINGS_PREFIX), WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(Item(IDC_SETTINGS_PREFIX), WM_CHAR, 'q', 0);
    ASSERT_TRUE(
        WaitFor([](void *self) { return static_cast<SettingsDialogTest *>(self)->Text(SETTING_Prefix) == "q"; }, this));
    EXPECT_FALSE(Closed(0)) << "Esc closed the dialog";
    EXPECT_TRUE(IsWindowVisible(dialog));

    SendMessageA(Item(IDC_SETTINGS_CONTINUOUS), BM_CLICK, 0, 0);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, scanPath.c_str(), SettingName(SETTING_Prefix));
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(Closed());
    EXPECT_EQ(Number(SETTING_ContinuousScan), 1) << "the change made before closing stays";
    EXPECT_EQ(Text(SETTING_Prefix), "(missing)") << "closing saves nothing more";
    EXPECT_EQ(SettingsDialogWindow, nullptr);
}

// The folder browser, driven as a user would: it opens on the save folder,
// refuses an unwritable folder, takes a writable one; cancelling keeps the
// folder and saves again. The tooltip follows the field.
TEST_F(SettingsDialogTest, FolderBrowserTakesOnlyWritableFolders)
{
    // Wine's browser does not reach into the temporary folder: these live
    // at the top of the drive.
    std::string top =
        "C:\\velmora-browse-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    ASSERT_TRUE(CreateDirectoryA(top.c_str(), nullptr));
    driveFolder = top;
    std::string good = top + "\\good";
    CreateDirectoryA(good.c_str(), nullptr);
    std::string locked = top + "\\locked";
    CreateDirectoryA(locked.c_str(), nullptr);
    ASSERT_EQ(testsupport::RunHostShell("chattr +i '" + testsupport::UnixPath(locked) + "'"), 0);
    lockedFolders.push_back(locked);
    SetText(SETTING_SavePath, top);
    Open();
    EXPECT_EQ(ToolTipText(), top);
    ClearScanValues();

    HWND browser = OpenBrowser();
    ASSERT_NE(browser, nullptr);
    HWND ok = GetDlgItem(browser, IDOK);
    HWND tree = FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr);
    EXPECT_TRUE(BrowserShows(browser, top.c_str(), true)) << "opens on the save folder";
    HTREEITEM current = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)current);
    HTREEITEM first = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)current);
    HTREEITEM second = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)first);
    ASSERT_NE(second, nullptr);

    char shortGood[PATH_CAPACITY] = "";
    GetShortPathNameA(good.c_str(), shortGood, sizeof shortGood);
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)second); // "locked"
    EXPECT_TRUE(BrowserShows(browser, "", false)) << "an unwritable folder";
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)first); // "good"
    EXPECT_TRUE(BrowserShows(browser, shortGood, true)) << "a writable folder, in its short form";
    SendMessageA(ok, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([](void *self) { return static_cast<SettingsDialogTest *>(self)->BrowserClosed(); }, this));
    // The dialog saves once the browser has gone.
    WaitFor([](void *self) { return static_cast<SettingsDialogTest *>(self)->StoredScanValues() > 0; }, this);
    EXPECT_EQ(Text(SETTING_SavePath), good);
    EXPECT_EQ(ControlText(IDC_SETTINGS_SAVE_PATH), good);
    EXPECT_EQ(ToolTipText(), good);

    browser = OpenBrowser();
    ASSERT_NE(browser, nullptr);
    ClearScanValues();
    SendMessageA(GetDlgItem(browser, IDCANCEL), BM_CLICK, 0, 0);
    ASSERT_TRUE(
        WaitFor([](void *self) { return static_cast<SettingsDialogTest *>(self)->StoredScanValues() > 0; }, this));
    EXPECT_EQ(StoredScanValues(), ScanValueCount()) << "saved again after cancelling";
    EXPECT_EQ(Text(SETTING_SavePath), good);
    EXPECT_EQ(ToolTipText(), good);
}

// The scan request: the job runs on a worker thread; meanwhile the dialog
// repaints, drops input, refuses a second request, and a quit message that
// arrives is still there when the job is over, so the dialog (and after it
// the agent's own loop) ends.
TEST_F(SettingsDialogTest, ScanRequestRunsTheJobOnAWorkerThread)
{
    Open();
    ScanJobDouble.runs = 0;
    ResetEvent(ScanJobDouble.release);
    PostMessageA(dialog, WM_USER, SETTINGS_SCAN_REQUEST, 0);
    ASSERT_EQ(WaitForSingleObject(ScanJobDouble.started, WAIT_MS), WAIT_OBJECT_0);
    EXPECT_NE(ScanJobDouble.threadId, run.threadId);

    DWORD_PTR ignored;
    EXPECT_NE(SendMessageTimeoutA(dialog, WM_USER, SETTINGS_SCAN_REQUEST, 0, SMTO_NORMAL, 3000, &ignored), 0);
    EXPECT_EQ(ScanJobDouble.runs, 1) << "a second job while one runs";

    PostMessageA(Item(IDC_SETTINGS_CONTINUOUS), BM_CLICK, 0, 0);
    PostThreadMessageA(run.threadId, WM_QUIT, 7, 0);
    // Painting comes after every posted message: once the dialog has
    // repainted, the click and the quit message have been taken too.
    InvalidateRect(dialog, nullptr, TRUE);
    EXPECT_TRUE(
        WaitFor([](void *window) { return GetUpdateRect(static_cast<HWND>(window), nullptr, FALSE) == FALSE; }, dialog))
        << "the dialog did not repaint during the job";
    EXPECT_TRUE(IsWindowVisible(dialog));

    SetEvent(ScanJobDouble.release);
    ASSERT_TRUE(Closed()) << "the quit message taken during the job was lost";
    EXPECT_TRUE(run.sawQuit);
    EXPECT_EQ(run.quitCode, 7u);
    EXPECT_FALSE(Checked(IDC_SETTINGS_CONTINUOUS));
    EXPECT_EQ(Number(SETTING_ContinuousScan), 0) << "input during the job is dropped";
    EXPECT_EQ(ScanJobDouble.runs, 1);
}
