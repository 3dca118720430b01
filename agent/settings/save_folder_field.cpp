// The save folder's field: its tooltip, and the shell's folder browser that
// offers OK only on folders a picture can be written to.
#include "settings_dialog.h"

#include <shlobj.h>

#include "naming.h"
#include "win32_records.h"

SettingsDialogState SettingsDialog;

namespace {

void SetBrowserStatus(HWND browser, const char *text)
{
    SendMessageA(browser, BFFM_SETSTATUSTEXTA, 0, (LPARAM)text);
}

void EnableBrowserOk(HWND browser, bool enable)
{
    SendMessageA(browser, BFFM_ENABLEOK, 0, enable ? TRUE : FALSE);
}

// Some browsers (Wine's) judge the selection themselves after this callback
// and would enable OK on any file-system folder again: the same decision,
// posted, comes after theirs.
void DecideBrowserOk(HWND browser, bool enable)
{
    EnableBrowserOk(browser, enable);
    PostMessageA(browser, BFFM_ENABLEOK, 0, enable ? TRUE : FALSE);
}

// Called by the browser; `currentFolder` is the save folder it opened on.
int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM lParam, LPARAM currentFolder)
{
    switch (message) {
    case BFFM_INITIALIZED:
        SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, currentFolder);
        SetBrowserStatus(browser, (const char *)currentFolder);
        EnableBrowserOk(browser, true);
        break;
    case BFFM_SELCHANGED: {
        char path[PATH_CAPACITY] = "";
        char shortPath[PATH_CAPACITY] = "";
        // Items outside the file system have no path and are refused below.
        if (SHGetPathFromIDListA((LPCITEMIDLIST)lParam, path)) {
            DWORD length = GetShortPathNameA(path, shortPath, sizeof shortPath);
            if (length == 0 || length >= sizeof shortPath)
                shortPath[0] = '\0';
        }
        if (shortPath[0] && IsFolderWritable(shortPath)) {
            DecideBrowserOk(browser, true);
            SetBrowserStatus(browser, shortPath);
        } else {
            SetBrowserStatus(browser, "");
            DecideBrowserOk(browser, false);
        }
        break;
    }
    }
    return 0;
}

void FreeItemList(LPITEMIDLIST items)
{
    IMalloc *allocator;
    if (SUCCEEDED(SHGetMalloc(&allocator))) {
        allocator->Free(items);
        allocator->Release();
    }
}

} // namespace

int BrowseSaveFolder(HWND dialog, const char *title, const char *currentFolder, char *result)
{
    HRESULT com = CoInitialize(nullptr);
    char displayName[PATH_CAPACITY] = "";
    BROWSEINFOA browse = {};
    browse.hwndOwner = dialog;
    browse.pszDisplayName = displayName;
    browse.lpszTitle = title;
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT | BIF_NEWDIALOGSTYLE;
    browse.lpfn = BrowseCallback;
    browse.lParam = (LPARAM)currentFolder;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);

    int chose = 0;
    if (chosen) {
        // A choice without a path, or one that cannot take a picture after
        // all, counts as cancelled: it must not become the save folder.
        chose = SHGetPathFromIDListA(chosen, result) && result[0] && IsFolderWritable(result) ? 1 : 0;
        FreeItemList(chosen);
    }
    if (!chose)
        lstrcpynA(result, currentFolder, PATH_CAPACITY);
    if (SUCCEEDED(com))
        CoUninitialize();
    return chose;
}

void AttachPathToolTip(HWND pathField)
{
    HWND tip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, pathField, nullptr,
                               AppInstance, nullptr);
    SettingsDialog.pathToolTip = tip;
    if (!tip)
        return;
    SetWindowPos(tip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    GetWindowTextA(pathField, SettingsDialog.pathTipText, sizeof SettingsDialog.pathTipText);
    TTTOOLINFOA &tool = SettingsDialog.pathTool;
    tool = TTTOOLINFOA();
    // The first version of the record: every system the agent runs on knows it.
    tool.cbSize = TOOLTIP_RECORD_BYTES;
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = pathField;
    tool.uId = 0;
    GetClientRect(pathField, &tool.rect);
    tool.lpszText = SettingsDialog.pathTipText;
    SendMessageA(tip, TTM_ADDTOOLA, 0, (LPARAM)&tool);
}

void UpdatePathToolTip(const char *path)
{
    if (!SettingsDialog.pathToolTip)
        return;
    lstrcpynA(SettingsDialog.pathTipText, path, sizeof SettingsDialog.pathTipText);
    SettingsDialog.pathTool.lpszText = SettingsDialog.pathTipText;
    SendMessageA(SettingsDialog.pathToolTip, TTM_UPDATETIPTEXTA, 0, (LPARAM)&SettingsDialog.pathTool);
}
