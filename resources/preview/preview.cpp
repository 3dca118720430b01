// Shows one dialog of the resource library the way the agent fills it, so
// the product's look can be seen and photographed without a scanner:
//   velmora_preview DIALOG READY_FILE
// DIALOG is settings, warning, prompt, insert-paper or progress. Once the
// window is up, its screen rectangle ("left top right bottom") is written to
// READY_FILE; the program ends when that file is deleted, or after a minute.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "shared.h"
#include "ui.h"

namespace {

const UINT_PTR WATCH_TIMER = 1;
const UINT WATCH_PERIOD_MS = 100;
const DWORD LIFETIME_MS = 60000;

struct Preview {
    char readyFile[PATH_CAPACITY];
    int readyWritten;
    DWORD started;
    HBITMAP pictures[4];
} State;

// Pictures the dialogs paint onto their owner-drawn controls.
const struct {
    int control, bitmap, whiteIsTransparent;
} PICTURES[] = {
    {IDC_WARNING_PICTURE_1, IDB_WARNING_SCANNER, 1},
    {IDC_WARNING_PICTURE_2, IDB_WARNING_CABLE, 0},
    {IDC_WARNING_PICTURE_3, IDB_WARNING_POWER, 0},
    {IDC_INSERT_PAPER_PICTURE, IDB_INSERT_PAPER, 0},
};

void SetResourceText(HWND dialog, int control, UINT stringId)
{
    char text[1024] = "";
    LoadStringA(ResourceLibrary, stringId, text, sizeof text);
    SetDlgItemTextA(dialog, control, text);
}

void AddComboItem(HWND dialog, int control, const char *text, LPARAM data)
{
    LRESULT index = SendDlgItemMessageA(dialog, control, CB_ADDSTRING, 0, (LPARAM)text);
    SendDlgItemMessageA(dialog, control, CB_SETITEMDATA, (WPARAM)index, data);
}

void AddResourceComboItem(HWND dialog, int control, UINT stringId, LPARAM data)
{
    char text[64] = "";
    LoadStringA(ResourceLibrary, stringId, text, sizeof text);
    AddComboItem(dialog, control, text, data);
}

void SetSlider(HWND dialog, int slider, int valueText, int low, int high, int position, const char *shown)
{
    SendDlgItemMessageA(dialog, slider, TBM_SETRANGE, FALSE, MAKELPARAM(low, high));
    SendDlgItemMessageA(dialog, slider, TBM_SETTICFREQ, 10, 0);
    SendDlgItemMessageA(dialog, slider, TBM_SETPOS, TRUE, position);
    SetDlgItemTextA(dialog, valueText, shown);
}

void FillSettings(HWND dialog)
{
    AddResourceComboItem(dialog, IDC_SETTINGS_SCAN_MODE, IDS_SCAN_MODE_COLOUR, 2);
    AddResourceComboItem(dialog, IDC_SETTINGS_PAPER_SIZE, IDS_PAPER_SIZE, 0);
    AddResourceComboItem(dialog, IDC_SETTINGS_FORMAT, IDS_FORMAT_JPEG, 1);
    for (int fixed : {IDC_SETTINGS_SCAN_MODE, IDC_SETTINGS_PAPER_SIZE, IDC_SETTINGS_FORMAT}) {
        SendDlgItemMessageA(dialog, fixed, CB_SETCURSEL, 0, 0);
        EnableWindow(GetDlgItem(dialog, fixed), FALSE);
    }
    AddComboItem(dialog, IDC_SETTINGS_RESOLUTION, "100", 100);
    AddComboItem(dialog, IDC_SETTINGS_RESOLUTION, "300", 300);
    AddComboItem(dialog, IDC_SETTINGS_RESOLUTION, "600", 600);
    SendDlgItemMessageA(dialog, IDC_SETTINGS_RESOLUTION, CB_SETCURSEL, 1, 0);
    const UINT rotations[] = {IDS_ROTATE_NONE, IDS_ROTATE_90, IDS_ROTATE_270, IDS_ROTATE_180};
    for (int code = 0; code < 4; code++)
        AddResourceComboItem(dialog, IDC_SETTINGS_ROTATE, rotations[code], code);
    SendDlgItemMessageA(dialog, IDC_SETTINGS_ROTATE, CB_SETCURSEL, 0, 0);
    SetSlider(dialog, IDC_SETTINGS_BRIGHTNESS, IDC_SETTINGS_BRIGHTNESS_VALUE, 0, 100, 55, "55");
    SetSlider(dialog, IDC_SETTINGS_CONTRAST, IDC_SETTINGS_CONTRAST_VALUE, 0, 100, 50, "50");
    SetSlider(dialog, IDC_SETTINGS_GAMMA, IDC_SETTINGS_GAMMA_VALUE, 10, 400, 120, "1.20");
    CheckDlgButton(dialog, IDC_SETTINGS_AUTOCROP, BST_CHECKED);
    CheckDlgButton(dialog, IDC_SETTINGS_AUTODESKEW, BST_CHECKED);
    EnableWindow(GetDlgItem(dialog, IDC_SETTINGS_AUTOCROP), FALSE);
    SetDlgItemTextA(dialog, IDC_SETTINGS_SAVE_PATH, "C:\\users\\Public\\Documents\\Family Photos\\Scans 1970-1985");
    SetDlgItemTextA(dialog, IDC_SETTINGS_PREFIX, "Image");
}

void FillWarning(HWND dialog)
{
    SetResourceText(dialog, IDC_WARNING_TEXT, IDS_WARNING_TEXT);
    SetResourceText(dialog, IDC_WARNING_CHECKBOX, IDS_WARNING_CHECKBOX);
}

void FillWaitPrompt(HWND dialog)
{
    SetResourceText(dialog, IDC_WAIT_PROMPT_TEXT, IDS_CONTINUOUS_PROMPT);
}
void FillInsertPaper(HWND dialog)
{
    SetResourceText(dialog, IDC_INSERT_PAPER_TEXT, IDS_INSERT_PAPER);
}

struct DialogEntry {
    const char *name;
    WORD templateId;
    void (*fill)(HWND dialog);
    int takesAppTitle;
};
const DialogEntry DIALOGS[] = {
    {"settings", IDD_SETTINGS, FillSettings, 0},
    {"warning", IDD_WARNING, FillWarning, 1},
    {"prompt", IDD_WAIT_PROMPT, FillWaitPrompt, 1},
    {"insert-paper", IDD_INSERT_PAPER, FillInsertPaper, 1},
};

void WriteReadyFile(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    FILE *file = std::fopen(State.readyFile, "w");
    if (!file)
        return;
    std::fprintf(file, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
    std::fclose(file);
    State.readyWritten = 1;
}

// True once the screenshot has been taken (the ready file is gone) or the
// preview has stood long enough.
bool PreviewFinished()
{
    if (GetTickCount() - State.started > LIFETIME_MS)
        return true;
    return State.readyWritten && GetFileAttributesA(State.readyFile) == INVALID_FILE_ATTRIBUTES;
}

void DrawPicture(const DRAWITEMSTRUCT *item)
{
    for (size_t n = 0; n < sizeof PICTURES / sizeof PICTURES[0]; n++) {
        if (PICTURES[n].control != (int)item->CtlID)
            continue;
        if (!State.pictures[n])
            State.pictures[n] =
                (HBITMAP)LoadImageA(ResourceLibrary, MAKEINTRESOURCEA(PICTURES[n].bitmap), IMAGE_BITMAP, 0, 0, 0);
        BITMAP info;
        if (!State.pictures[n] || !GetObjectA(State.pictures[n], sizeof info, &info))
            return;
        HDC memory = CreateCompatibleDC(item->hDC);
        HGDIOBJ previous = SelectObject(memory, State.pictures[n]);
        if (PICTURES[n].whiteIsTransparent)
            TransparentBlt(item->hDC, 0, 0, info.bmWidth, info.bmHeight, memory, 0, 0, info.bmWidth, info.bmHeight,
                           RGB(255, 255, 255));
        else
            BitBlt(item->hDC, 0, 0, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
        DeleteDC(memory);
    }
}

INT_PTR CALLBACK PreviewProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        const DialogEntry *entry = (const DialogEntry *)lParam;
        if (entry->takesAppTitle)
            SetWindowTextA(dialog, AppTitle);
        SetDialogIcon(dialog);
        entry->fill(dialog);
        SetTimer(dialog, WATCH_TIMER, WATCH_PERIOD_MS, nullptr);
        return FALSE;
    }
    case WM_DRAWITEM: DrawPicture((const DRAWITEMSTRUCT *)lParam); return TRUE;
    case WM_TIMER:
        if (!State.readyWritten)
            WriteReadyFile(dialog);
        else if (PreviewFinished())
            DestroyWindow(dialog);
        return TRUE;
    case WM_DESTROY: PostQuitMessage(0); return TRUE;
    }
    return FALSE;
}

int RunTemplateDialog(int n)
{
    LPCDLGTEMPLATEA found = LoadDialogTemplate(DIALOGS[n].templateId);
    if (!found)
        return 1;
    HWND dialog = CreateDialogIndirectParamA(AppInstance, found, nullptr, PreviewProc, (LPARAM)&DIALOGS[n]);
    if (!dialog)
        return 1;
    ShowWindow(dialog, SW_SHOWNORMAL);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return 0;
}

// The progress dialog is the agent's own code: show it two-thirds through a
// scan with the bar, the percentage and the cancel line.
int RunProgress()
{
    char text[260] = "";
    LoadStringA(ResourceLibrary, IDS_PROGRESS_SCANNING, text, sizeof text);
    ProgressRequest request = {AppTitle, text, 1, 1, 1000};
    if (!ShowProgress(&request) || !ProgressDialogWindow)
        return 1;
    StepProgress(640);
    while (!PreviewFinished()) {
        StepProgress(0);
        if (!State.readyWritten && ProgressDialogWindow)
            WriteReadyFile(ProgressDialogWindow);
        Sleep(WATCH_PERIOD_MS);
    }
    CloseProgress();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    AppInstance = GetModuleHandleA(nullptr);
    if (argc != 3 || !InitModulePath()) {
        MessageBoxA(nullptr, "usage: velmora_preview DIALOG READY_FILE", "Velmora preview", MB_ICONERROR);
        return 2;
    }
    lstrcpynA(State.readyFile, argv[2], sizeof State.readyFile);
    State.started = GetTickCount();
    const char *library = ModuleSibling("VelmoraRes.dll");
    ResourceLibrary = library ? LoadLibraryA(library) : nullptr;
    if (!ResourceLibrary)
        return 3;
    LoadStringA(ResourceLibrary, IDS_APP_TITLE, AppTitle, sizeof AppTitle);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    int result = 4;
    if (std::strcmp(argv[1], "progress") == 0)
        result = RunProgress();
    for (int n = 0; n < (int)(sizeof DIALOGS / sizeof DIALOGS[0]); n++)
        if (std::strcmp(argv[1], DIALOGS[n].name) == 0)
            result = RunTemplateDialog(n);
    FreeLibrary(ResourceLibrary);
    return result;
}
