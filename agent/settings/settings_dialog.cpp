// The settings dialog: no Apply and no Cancel. Every change goes to the
// registry at once; OK saves once more and closes.
#include "settings_dialog.h"

#include <cstdio>

#include "resource_ids.h"
#include "scan_job.h"
#include "settings.h"
#include "ui.h"

namespace {

const int NUMBER_TEXT_CAPACITY = 16;
const DWORD SCAN_REQUEST_PAUSE_MS = 200;
const uint16_t DEFAULT_RESOLUTION = 100;

const uint16_t RESOLUTIONS[] = {100, 300, 600};
const int RESOLUTIONS_WITHOUT_600 = 2;

// A list that offers one choice the user cannot change.
struct FixedChoice {
    int list;
    UINT stringId;
    LPARAM data;
};
const FixedChoice PAPER_SIZE_CHOICE = {IDC_SETTINGS_PAPER_SIZE, IDS_PAPER_SIZE, 0};
const FixedChoice SCAN_MODE_CHOICE = {IDC_SETTINGS_SCAN_MODE, IDS_SCAN_MODE_COLOUR, 2};
const FixedChoice FORMAT_CHOICE = {IDC_SETTINGS_FORMAT, IDS_FORMAT_JPEG, 1};

// Rotation choices; the item data is the job's rotation code.
const UINT ROTATION_STRINGS[] = {IDS_ROTATE_NONE, IDS_ROTATE_90, IDS_ROTATE_270, IDS_ROTATE_180};

struct Slider {
    int control;
    int valueText;
    uint16_t ScanDialogSettings::*value;
    uint16_t minimum;
    uint16_t maximum;
    bool hundredths;
};
const Slider SLIDERS[] = {
    {IDC_SETTINGS_BRIGHTNESS, IDC_SETTINGS_BRIGHTNESS_VALUE, &ScanDialogSettings::Brightness, 0, 100, false},
    {IDC_SETTINGS_CONTRAST, IDC_SETTINGS_CONTRAST_VALUE, &ScanDialogSettings::Contrast, 0, 100, false},
    {IDC_SETTINGS_GAMMA, IDC_SETTINGS_GAMMA_VALUE, &ScanDialogSettings::Gamma, 10, 400, true},
};
const int SLIDER_TICK_EVERY = 10;

int AddListItem(HWND dialog, int list, const char *text, LPARAM data)
{
    LRESULT index = SendDlgItemMessageA(dialog, list, CB_ADDSTRING, 0, (LPARAM)text);
    SendDlgItemMessageA(dialog, list, CB_SETITEMDATA, (WPARAM)index, data);
    return int(index);
}

// The paper size is the longest list item; every other one fits its buffer.
const int LIST_ITEM_BUFFER = ResourceStringCapacity(IDS_PAPER_SIZE);
static_assert(ResourceStringCapacity(IDS_SCAN_MODE_COLOUR) <= LIST_ITEM_BUFFER &&
                  ResourceStringCapacity(IDS_FORMAT_JPEG) <= LIST_ITEM_BUFFER &&
                  ResourceStringCapacity(IDS_ROTATE_NONE) <= LIST_ITEM_BUFFER &&
                  ResourceStringCapacity(IDS_ROTATE_90) <= LIST_ITEM_BUFFER &&
                  ResourceStringCapacity(IDS_ROTATE_270) <= LIST_ITEM_BUFFER &&
                  ResourceStringCapacity(IDS_ROTATE_180) <= LIST_ITEM_BUFFER,
              "a list item's reader is larger than the list buffer");

void AddResourceListItem(HWND dialog, int list, UINT stringId, LPARAM data)
{
    char text[LIST_ITEM_BUFFER] = "";
    LoadStringA(ResourceLibrary, stringId, text, ResourceStringCapacity(stringId));
    AddListItem(dialog, list, text, data);
}

void FillFixedChoice(HWND dialog, const FixedChoice &choice)
{
    AddResourceListItem(dialog, choice.list, choice.stringId, choice.data);
    SendDlgItemMessageA(dialog, choice.list, CB_SETCURSEL, 0, 0);
    EnableWindow(GetDlgItem(dialog, choice.list), FALSE);
}

// Selects the item whose data (low 16 bits) is `value`; false when none is.
bool SelectByData(HWND dialog, int list, uint16_t value)
{
    LRESULT count = SendDlgItemMessageA(dialog, list, CB_GETCOUNT, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
        if (LOWORD(SendDlgItemMessageA(dialog, list, CB_GETITEMDATA, (WPARAM)index, 0)) == value) {
            SendDlgItemMessageA(dialog, list, CB_SETCURSEL, (WPARAM)index, 0);
            return true;
        }
    }
    return false;
}

void FillResolutions(HWND dialog)
{
    int offered = ReadNumberSetting(SettingsKey, SETTING_Support600Dpi) ? int(sizeof RESOLUTIONS / sizeof *RESOLUTIONS)
                                                                        : RESOLUTIONS_WITHOUT_600;
    for (int index = 0; index < offered; ++index) {
        char text[NUMBER_TEXT_CAPACITY];
        snprintf(text, sizeof text, "%u", unsigned(RESOLUTIONS[index]));
        AddListItem(dialog, IDC_SETTINGS_RESOLUTION, text, RESOLUTIONS[index]);
    }
    if (!SelectByData(dialog, IDC_SETTINGS_RESOLUTION, DialogSettings.Resolution)) {
        DialogSettings.Resolution = DEFAULT_RESOLUTION;
        SelectByData(dialog, IDC_SETTINGS_RESOLUTION, DEFAULT_RESOLUTION);
    }
}

void FillRotations(HWND dialog)
{
    for (int code = 0; code < int(sizeof ROTATION_STRINGS / sizeof *ROTATION_STRINGS); ++code)
        AddResourceListItem(dialog, IDC_SETTINGS_ROTATE, ROTATION_STRINGS[code], code);
    if (!SelectByData(dialog, IDC_SETTINGS_ROTATE, DialogSettings.Rotation)) {
        DialogSettings.Rotation = 0;
        SendDlgItemMessageA(dialog, IDC_SETTINGS_ROTATE, CB_SETCURSEL, 0, 0);
    }
}

// A stored value outside the range is shown as stored; the trackbar puts
// itself at the nearer end.
void SetUpSliders(HWND dialog)
{
    for (const Slider &slider : SLIDERS) {
        HWND control = GetDlgItem(dialog, slider.control);
        SendMessageA(control, TBM_SETRANGE, FALSE, MAKELPARAM(slider.minimum, slider.maximum));
        SendMessageA(control, TBM_SETTICFREQ, SLIDER_TICK_EVERY, 0);
        SendMessageA(control, TBM_SETPOS, TRUE, DialogSettings.*slider.value);
        ShowSliderValue(GetDlgItem(dialog, slider.valueText), DialogSettings.*slider.value, slider.hundredths);
    }
}

// Deskewing needs the page cropped first: while it is on, cropping is on
// and cannot be turned off.
void LockCropWhileDeskewing(HWND dialog)
{
    HWND crop = GetDlgItem(dialog, IDC_SETTINGS_AUTOCROP);
    if (IsDlgButtonChecked(dialog, IDC_SETTINGS_AUTODESKEW)) {
        DialogSettings.AutoCrop = 1;
        CheckDlgButton(dialog, IDC_SETTINGS_AUTOCROP, BST_CHECKED);
        EnableWindow(crop, FALSE);
    } else {
        EnableWindow(crop, TRUE);
    }
}

void SetUpPrefixBox(HWND dialog)
{
    HWND prefix = GetDlgItem(dialog, IDC_SETTINGS_PREFIX);
    SetWindowTextA(prefix, DialogSettings.Prefix);
    SendMessageA(prefix, EM_LIMITTEXT, (WPARAM)ReadNumberSetting(SettingsKey, SETTING_PrefixLimit), 0);
    SettingsDialog.prefixEditProc = (WNDPROC)SetWindowLongPtrA(prefix, GWLP_WNDPROC, (LONG_PTR)PrefixEditFilter);
}

void OnSettingsInit(HWND dialog)
{
    SettingsDialogWindow = dialog;
    LoadDialogSettings();
    FillFixedChoice(dialog, PAPER_SIZE_CHOICE);
    FillFixedChoice(dialog, SCAN_MODE_CHOICE);
    FillResolutions(dialog);
    FillRotations(dialog);
    SetUpSliders(dialog);
    CheckDlgButton(dialog, IDC_SETTINGS_CONTINUOUS, DialogSettings.ContinuousScan ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_SETTINGS_AUTOCROP, DialogSettings.AutoCrop ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_SETTINGS_AUTODESKEW, DialogSettings.AutoDeskew ? BST_CHECKED : BST_UNCHECKED);
    if (DialogSettings.AutoDeskew)
        LockCropWhileDeskewing(dialog);
    FillFixedChoice(dialog, FORMAT_CHOICE);
    SetUpPrefixBox(dialog);
    HWND pathField = GetDlgItem(dialog, IDC_SETTINGS_SAVE_PATH);
    SetWindowTextA(pathField, DialogSettings.SavePath);
    AttachPathToolTip(pathField);
    SetActiveWindow(dialog);
    SetForegroundWindow(dialog);
}

void OnBrowse(HWND dialog)
{
    char title[ResourceStringCapacity(IDS_BROWSE_TITLE)] = "";
    LoadStringA(ResourceLibrary, IDS_BROWSE_TITLE, title, sizeof title);
    char chosen[PATH_CAPACITY];
    BrowseSaveFolder(dialog, title, DialogSettings.SavePath, chosen);
    lstrcpynA(DialogSettings.SavePath, chosen, sizeof DialogSettings.SavePath);
    SetDlgItemTextA(dialog, IDC_SETTINGS_SAVE_PATH, DialogSettings.SavePath);
    UpdatePathToolTip(DialogSettings.SavePath);
    SaveDialogSettings(dialog);
}

void OnSettingsCommand(HWND dialog, int id, int notification)
{
    switch (id) {
    case IDOK:
        SaveDialogSettings(dialog);
        SendMessageA(dialog, WM_CLOSE, 0, 0);
        break;
    case IDC_SETTINGS_SCAN_MODE:
    case IDC_SETTINGS_PAPER_SIZE:
    case IDC_SETTINGS_RESOLUTION:
    case IDC_SETTINGS_ROTATE:
        if (notification == CBN_SELCHANGE)
            SaveDialogSettings(dialog);
        break;
    case IDC_SETTINGS_AUTOCROP:
    case IDC_SETTINGS_CONTINUOUS: SaveDialogSettings(dialog); break;
    case IDC_SETTINGS_AUTODESKEW:
        LockCropWhileDeskewing(dialog);
        SaveDialogSettings(dialog);
        break;
    case IDC_SETTINGS_BROWSE: OnBrowse(dialog); break;
    case IDC_SETTINGS_PREFIX:
        if (notification == EN_CHANGE)
            SaveDialogSettings(dialog);
        break;
        // Anything else, IDCANCEL (Esc) included, leaves the dialog open: there
        // is nothing to cancel, every change is already saved.
    }
}

void OnSettingsScroll(HWND dialog, WPARAM code, HWND control)
{
    for (const Slider &slider : SLIDERS) {
        if (control == GetDlgItem(dialog, slider.control)) {
            HandleSliderScroll(dialog, control, GetDlgItem(dialog, slider.valueText), code,
                               &(DialogSettings.*slider.value), slider.minimum, slider.maximum, slider.hundredths);
            return;
        }
    }
}

DWORD WINAPI ScanJobThread(LPVOID)
{
    return DWORD(RunScanJob());
}

// Runs a scan job on a worker thread while this thread only repaints. The
// job's own windows belong to the worker; everything else that reaches this
// thread meanwhile is dropped, except the quit message, which would leave
// the agent running without its tray window: it goes back on the queue
// once the job is over.
void OnScanRequest(void)
{
    // A request sent from another thread arrives even during the wait; two
    // jobs at once would number and write the same pictures.
    if (SettingsDialog.scanRequestRunning)
        return;
    HANDLE worker = CreateThread(nullptr, 0, ScanJobThread, nullptr, 0, nullptr);
    if (!worker)
        return;
    SettingsDialog.scanRequestRunning = 1;
    bool quitTaken = false;
    int quitCode = 0;
    while (WaitForSingleObject(worker, 0) == WAIT_TIMEOUT) {
        MSG message;
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_PAINT) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            } else if (message.message == WM_QUIT) {
                quitTaken = true;
                quitCode = int(message.wParam);
            }
        }
        Sleep(SCAN_REQUEST_PAUSE_MS);
    }
    CloseHandle(worker);
    SettingsDialog.scanRequestRunning = 0;
    if (quitTaken)
        PostQuitMessage(quitCode);
}

void OnSettingsPaint(HWND dialog)
{
    PAINTSTRUCT paint;
    BeginPaint(dialog, &paint);
    EndPaint(dialog, &paint);
}

} // namespace

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: OnSettingsInit(dialog); return FALSE; // no default focus
    case WM_COMMAND: OnSettingsCommand(dialog, LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_HSCROLL: OnSettingsScroll(dialog, LOWORD(wParam), (HWND)lParam); return TRUE;
    case WM_USER:
        // Also DM_GETDEFID, which the dialog manager asks with wParam 0.
        if (wParam != SETTINGS_SCAN_REQUEST)
            return FALSE;
        OnScanRequest();
        return TRUE;
    case WM_PAINT: OnSettingsPaint(dialog); return TRUE;
    case WM_CLOSE:
        // Every change was saved when it was made; nothing is undone.
        EndDialog(dialog, 0);
        return TRUE;
    case WM_NCDESTROY:
        // A window handle is reused: a stale one could make the tray take
        // another window for the dialog.
        if (SettingsDialogWindow == dialog)
            SettingsDialogWindow = nullptr;
        SettingsDialog.pathToolTip = nullptr;
        return FALSE;
    }
    return FALSE;
}
