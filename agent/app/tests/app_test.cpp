// The agent shell's pieces tested in-process: tooltip cutting, menu states,
// scanner matching, the calibration data lookup, the tool run's message pump
// and program naming, masked drawing and the warning dialog.
#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app.h"
#include "calibration_path.h"
#include "product_files.h"
#include "resource_ids.h"
#include "settings.h"
#include "shared.h"
#include "test_support.h"
#include "ui.h"

namespace {

const char TEST_KEY[] = "Software\\Velmora Tests\\app_test";
const char TEST_MODEL[] = "AppTestModel";

// A settings key, the real resource library and ModulePath pointing into a
// scratch program folder with Module.ini, as start-up leaves them.
class AgentShell : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, TEST_KEY);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, TEST_KEY, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                  &SettingsKey, nullptr),
                  ERROR_SUCCESS);
        ResourceLibrary = LoadLibraryA((testsupport::ProgramDirectory() + RESOURCE_LIBRARY_FILE).c_str());
        ASSERT_NE(ResourceLibrary, nullptr);
        LoadStringA(ResourceLibrary, IDS_APP_TITLE, AppTitle, sizeof AppTitle);
        AppInstance = GetModuleHandleA(nullptr);
        folder = testsupport::MakeScratchFolder("app");
        ASSERT_FALSE(folder.empty());
        SetModel(TEST_MODEL);
        snprintf(ModulePath, sizeof ModulePath, "%s\\Velmora.exe", folder.c_str());
        ModulePathTail = strrchr(ModulePath, '\\') + 1;
    }

    void TearDown() override
    {
        RegCloseKey(SettingsKey);
        SettingsKey = nullptr;
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, TEST_KEY);
        FreeLibrary(ResourceLibrary);
        ResourceLibrary = nullptr;
        testsupport::RemoveTree(folder);
    }

    void SetModel(const std::string &model)
    {
        testsupport::WriteWholeFile(folder + "\\" MODULE_INI_NAME, "[SYSTEM]\r\nModule=" + model + "\r\n");
    }

    std::string folder;
};

// ---- Tooltip -------------------------------------------------------------

TEST(TrayTip, KeepsWholeCharactersWithinTheRecord)
{
    const std::string longModel(80, 'M');
    // In code page 932 0x82 leads a two-byte character.
    const std::string wide = std::string(58, 'a') + "\x82\xa0\x82\xa0";
    struct Case {
        UINT codePage;
        std::string title, model, expected;
    } cases[] = {
        {1252, "Velmora", "VF-600", "Velmora - VF-600"},
        {1252, "Velmora", "", "Velmora - "},
        {1252, "Velmora", longModel, "Velmora - " + std::string(53, 'M')},
        // The double-byte character that would straddle byte 63 is left out whole.
        {932, "T", wide, "T - " + std::string(58, 'a')},
        {932, "", wide, " - " + std::string(58, 'a') + "\x82\xa0"},
    };
    for (const Case &c : cases) {
        char tip[TRAY_TIP_CAPACITY];
        memset(tip, 'x', sizeof tip);
        ComposeTrayTipInCodePage(c.codePage, c.title.c_str(), c.model.c_str(), tip);
        EXPECT_EQ(std::string(tip), c.expected);
        EXPECT_LE(strlen(tip), (size_t)TRAY_TIP_CAPACITY - 1);
    }
}

// ---- Menu ----------------------------------------------------------------

TEST_F(AgentShell, MenuFollowsTheScannerAndTheWarningSetting)
{
    HMENU menu = LoadMenuA(ResourceLibrary, MAKEINTRESOURCEA(IDM_TRAY));
    ASSERT_NE(menu, nullptr);
    HMENU popup = GetSubMenu(menu, 0);
    const UINT deviceCommands[] = {IDM_CALIBRATE, IDM_CLEAN, IDM_SETTINGS, IDM_ENABLE_WARNING};
    for (int connected = 0; connected <= 1; ++connected) {
        for (int warning = 0; warning <= 1; ++warning) {
            UpdateTrayMenuItems(popup, connected, warning);
            for (UINT command : deviceCommands)
                EXPECT_EQ((GetMenuState(popup, command, MF_BYCOMMAND) & MF_GRAYED) != 0, !connected) << command;
            EXPECT_EQ((GetMenuState(popup, IDM_ENABLE_WARNING, MF_BYCOMMAND) & MF_CHECKED) != 0, warning == 1);
            EXPECT_EQ(GetMenuState(popup, IDM_EXIT, MF_BYCOMMAND) & MF_GRAYED, 0u);
        }
    }
    DestroyMenu(menu);
}

// ---- Scanner matching ------------------------------------------------------

TEST_F(AgentShell, VidPidIsASubstringInAnyCase)
{
    const char device[] = "\\\\?\\usb#vid_f0e5&pid_5ca7#VF0001#{6bdd1fc6-810f-11d0-bec7-08002be2092f}";
    struct Case {
        const char *setting;
        int matches;
    } cases[] = {{"VID_F0E5&PID_5CA7", 1}, {"vid_f0e5", 1}, {"", 1}, {"VID_F0E5&PID_5CA8", 0}, {"VF0002", 0}};
    for (const Case &c : cases) {
        WriteStringSetting(SettingsKey, SettingName(SETTING_VidPid), c.setting);
        EXPECT_EQ(MatchesScannerVidPid(device), c.matches) << c.setting;
    }
}

// ---- Calibration data -------------------------------------------------------

std::string Folder(int csidl)
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

class CalibrationData : public AgentShell {
protected:
    void SetUp() override
    {
        AgentShell::SetUp();
        shared = Folder(CSIDL_COMMON_DOCUMENTS) + "\\" + TEST_MODEL;
        personal = Folder(CSIDL_PERSONAL) + "\\" + TEST_MODEL;
    }
    void TearDown() override
    {
        testsupport::RemoveTree(shared);
        testsupport::RemoveTree(personal);
        AgentShell::TearDown();
    }
    void Put(const std::string &modelFolder, const char *name)
    {
        CreateDirectoryA(modelFolder.c_str(), nullptr);
        testsupport::WriteWholeFile(modelFolder + "\\" + name, "data");
    }
    std::string shared, personal;
};

TEST_F(CalibrationData, IsLookedForInTheSharedDocumentsOnly)
{
    EXPECT_EQ(IsCalibrationDataPresent(), 0);
    Put(personal, "shading.bin");
    EXPECT_EQ(IsCalibrationDataPresent(), 0) << "the user's documents are used only without shared ones";
    Put(shared, "shading.bin");
    EXPECT_EQ(IsCalibrationDataPresent(), 1);
    SetModel("");
    EXPECT_EQ(IsCalibrationDataPresent(), 0) << "no model, no data";
}

TEST_F(CalibrationData, FileNameSettingWithItsLimit)
{
    struct Case {
        const char *setting;
        const char *fileThere;
        int present;
    } cases[] = {
        {"custom.bin", "custom.bin", 1},
        {"custom.bin", "shading.bin", 0},
        {"nineteen-chars.bin1", "nineteen-chars.bin1", 1},
        // Twenty characters do not fit the setting's buffer: the default is used.
        {"twenty-characters.bi", "twenty-characters.bi", 0},
        {"twenty-characters.bi", "shading.bin", 1},
        // Wildcards name no file of their own.
        {"*", "shading.bin", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.setting);
        testsupport::RemoveTree(shared);
        Put(shared, c.fileThere);
        WriteStringSetting(SettingsKey, SettingName(SETTING_CalibrationFilename), c.setting);
        EXPECT_EQ(IsCalibrationDataPresent(), c.present);
    }
}

TEST_F(CalibrationData, ReadOnlyPathLeavesTheSettingsAlone)
{
    char path[PATH_CAPACITY];
    ASSERT_EQ(ComposeCalibrationDataPath(SettingsKey, CALIBRATION_NAME_READ_ONLY, path), 1);
    EXPECT_EQ(std::string(path), shared + "\\shading.bin");
    DWORD type = 0;
    std::string data;
    EXPECT_FALSE(
        testsupport::GetRawValue(HKEY_CURRENT_USER, TEST_KEY, SettingName(SETTING_CalibrationFilename), &type, &data));
    ASSERT_EQ(ComposeCalibrationDataPath(SettingsKey, CALIBRATION_NAME_WRITE_BACK, path), 1);
    EXPECT_TRUE(
        testsupport::GetRawValue(HKEY_CURRENT_USER, TEST_KEY, SettingName(SETTING_CalibrationFilename), &type, &data));
}

// ---- Running a tool ---------------------------------------------------------

int TimerTicks;
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD)
{
    ++TimerTicks;
}

std::string holdFile;
DWORD WINAPI ReleaseHoldLater(LPVOID path)
{
    Sleep(600);
    DeleteFileA(((std::string *)path)->c_str());
    return 0;
}

class ToolRun : public AgentShell {
protected:
    // The recording stand-in copied to `relative` under the scratch folder.
    std::string PlaceRecorder(const std::string &relative)
    {
        std::string target = folder + "\\" + relative;
        CreateDirectoryA(target.substr(0, target.rfind('\\')).c_str(), nullptr);
        CopyFileA((testsupport::ProgramDirectory() + "recording_tool.exe").c_str(), target.c_str(), FALSE);
        return target;
    }
    std::string Recorded(const std::string &toolFolder)
    {
        std::string bytes;
        testsupport::ReadWholeFile(toolFolder + "\\tool-record.txt", &bytes);
        return bytes;
    }
};

TEST_F(ToolRun, PumpsMessagesAndRestoresTheCursor)
{
    std::string tool = PlaceRecorder("Levelset.exe");
    // The stand-in stays for a while, so the timer has time to tick.
    testsupport::WriteWholeFile(folder + "\\tool-hold", "");
    holdFile = folder + "\\tool-hold";
    HANDLE release = CreateThread(nullptr, 0, ReleaseHoldLater, &holdFile, 0, nullptr);
    TimerTicks = 0;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, CountTick);
    std::string commandLine = "\"" + tool + "\" Force Calibration";
    EXPECT_EQ(RunToolAndWait(tool.c_str(), commandLine.c_str()), 1);
    KillTimer(nullptr, timer);
    WaitForSingleObject(release, 5000);
    CloseHandle(release);
    EXPECT_GE(TimerTicks, 3) << "messages were not dispatched during the run";
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, (LPCSTR)IDC_ARROW));
    EXPECT_EQ(Recorded(folder), commandLine + "\n");
}

TEST_F(ToolRun, NamesTheProgramSoAFolderWithBlanksRunsNothingElse)
{
    std::string tool = PlaceRecorder("Scanner Tools\\Levelset.exe");
    // Planted where the unquoted line's first word would lead.
    PlaceRecorder("Scanner.exe");
    std::string commandLine = tool + " Clean";
    EXPECT_EQ(RunToolAndWait(tool.c_str(), commandLine.c_str()), 1);
    EXPECT_EQ(Recorded(folder + "\\Scanner Tools"), commandLine + "\n");
    EXPECT_EQ(Recorded(folder), "");
    EXPECT_EQ(RunToolAndWait((folder + "\\missing.exe").c_str(), "missing.exe Clean"), 0);
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, (LPCSTR)IDC_ARROW));
}

// ---- Masked drawing and the warning dialog ----------------------------------

TEST_F(AgentShell, MaskedDrawingLeavesWhitePixelsOfThePictureUntouched)
{
    HBITMAP picture = LoadBitmapA(ResourceLibrary, MAKEINTRESOURCEA(IDB_WARNING_SCANNER));
    ASSERT_NE(picture, nullptr);
    BITMAP info;
    GetObjectA(picture, sizeof info, &info);
    HDC screen = GetDC(nullptr);
    HDC source = CreateCompatibleDC(screen);
    HDC target = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, info.bmWidth, info.bmHeight);
    HGDIOBJ oldSource = SelectObject(source, picture);
    HGDIOBJ oldTarget = SelectObject(target, canvas);
    const COLORREF backdrop = RGB(10, 200, 30);
    HBRUSH brush = CreateSolidBrush(backdrop);
    RECT all = {0, 0, info.bmWidth, info.bmHeight};
    FillRect(target, &all, brush);
    SetTextColor(target, RGB(1, 2, 3));

    DrawMaskedBitmap(target, source, info.bmWidth, info.bmHeight, RGB(255, 255, 255));

    int white = 0, copied = 0, wrong = 0;
    for (int y = 0; y < info.bmHeight; ++y) {
        for (int x = 0; x < info.bmWidth; ++x) {
            COLORREF original = GetPixel(source, x, y);
            COLORREF drawn = GetPixel(target, x, y);
            bool isWhite = original == RGB(255, 255, 255);
            white += isWhite;
            copied += !isWhite;
            wrong += drawn != (isWhite ? backdrop : original);
        }
    }
    EXPECT_GT(white, 0);
    EXPECT_GT(copied, 0);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(GetTextColor(target), RGB(1, 2, 3)) << "the destination's colours are put back";

    SelectObject(source, oldSource);
    SelectObject(target, oldTarget);
    DeleteObject(brush);
    DeleteObject(canvas);
    DeleteObject(picture);
    DeleteDC(source);
    DeleteDC(target);
    ReleaseDC(nullptr, screen);
}

class WarningDialog : public AgentShell {
protected:
    HWND Open()
    {
        LPCDLGTEMPLATEA dialogTemplate = LoadDialogTemplate(IDD_WARNING);
        return dialogTemplate
                   ? CreateDialogIndirectParamA(AppInstance, dialogTemplate, nullptr, ScannerWarningDialog, 0)
                   : nullptr;
    }
    static RECT ChildRect(HWND dialog, int id)
    {
        RECT bounds;
        GetWindowRect(GetDlgItem(dialog, id), &bounds);
        MapWindowPoints(nullptr, dialog, (POINT *)&bounds, 2);
        return bounds;
    }
    int EnableWarning()
    {
        return QueryDwordSetting(SettingsKey, SettingName(SETTING_EnableWarning), -1);
    }
};

TEST_F(WarningDialog, LaysEverythingBelowTheTextOutFromItsHeight)
{
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    const RECT text = ChildRect(dialog, IDC_WARNING_TEXT);
    const int h = text.bottom - text.top;
    char wanted[1024];
    LoadStringA(ResourceLibrary, IDS_WARNING_TEXT, wanted, sizeof wanted);
    EXPECT_EQ(h, MeasureWrappedText(GetDlgItem(dialog, IDC_WARNING_TEXT), wanted, 313));
    EXPECT_GT(h, 0);

    const RECT lower = ChildRect(dialog, IDC_WARNING_PICTURE_3);
    const RECT check = ChildRect(dialog, IDC_WARNING_CHECKBOX);
    const RECT button = ChildRect(dialog, IDOK);
    EXPECT_EQ(lower.top, h + 152);
    EXPECT_EQ(check.top, h + 223);
    const int checkHeight = check.bottom - check.top, buttonHeight = button.bottom - button.top;
    EXPECT_EQ(button.top, h + 238 + checkHeight);
    EXPECT_EQ(button.left, (353 - (button.right - button.left)) / 2);

    RECT window;
    GetWindowRect(dialog, &window);
    const int height = window.bottom - window.top;
    EXPECT_EQ(window.right - window.left, 358);
    EXPECT_EQ(height, h + 253 + GetSystemMetrics(SM_CYCAPTION) + checkHeight + buttonHeight);
    EXPECT_EQ(window.left, (GetSystemMetrics(SM_CXSCREEN) - 358) / 2);
    EXPECT_EQ(window.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);

    // The pictures take their bitmaps' sizes.
    const RECT small = ChildRect(dialog, IDC_WARNING_PICTURE_1);
    EXPECT_EQ(small.right - small.left, 48);
    EXPECT_EQ(small.bottom - small.top, 48);
    DestroyWindow(dialog);
}

TEST_F(WarningDialog, OkStoresTheCheckBoxAndCancelStoresNothing)
{
    struct Case {
        int command;
        int checked;
        int stored; // -1: nothing written
    } cases[] = {{IDOK, 1, 0}, {IDOK, 0, 1}, {IDCANCEL, 1, -1}, {IDCANCEL, 0, -1}};
    for (const Case &c : cases) {
        RegDeleteValueA(SettingsKey, SettingName(SETTING_EnableWarning));
        HWND dialog = Open();
        ASSERT_NE(dialog, nullptr);
        SendDlgItemMessageA(dialog, IDC_WARNING_CHECKBOX, BM_SETCHECK, c.checked ? BST_CHECKED : BST_UNCHECKED, 0);
        SendMessageA(dialog, WM_COMMAND, c.command, 0);
        EXPECT_EQ(EnableWarning(), c.stored) << c.command << " " << c.checked;
        DestroyWindow(dialog);
    }
}

} // namespace
