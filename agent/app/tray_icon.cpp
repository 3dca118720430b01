// The notification-area icon: its record, its tooltip and the popup menu's
// item states.
#include "app.h"

#include <cstring>

#include "settings.h"
#include "shared.h"
#include "tray_state.h"
#include "ui.h"
#include "win32_records.h"

static const char TIP_SEPARATOR[] = " - ";

void ComposeTrayTipInCodePage(UINT codePage, const char *title, const char *model, char *tip)
{
    char whole[TRAY_TIP_CAPACITY + sizeof TIP_SEPARATOR + 64 + 60];
    lstrcpynA(whole, title, TRAY_TIP_CAPACITY);
    size_t used = strlen(whole);
    lstrcpynA(whole + used, TIP_SEPARATOR, (int)(sizeof whole - used));
    used = strlen(whole);
    lstrcpynA(whole + used, model, (int)(sizeof whole - used));
    // Cut after the last whole character that fits with the terminator,
    // stepping over double-byte characters whole, so no lead byte is left
    // dangling at the end.
    size_t length = 0;
    while (whole[length]) {
        size_t step = IsDBCSLeadByteEx(codePage, (BYTE)whole[length]) && whole[length + 1] ? 2 : 1;
        if (length + step > (size_t)TRAY_TIP_CAPACITY - 1)
            break;
        length += step;
    }
    memcpy(tip, whole, length);
    tip[length] = '\0';
}

void ComposeTrayTip(const char *title, const char *model, char *tip)
{
    ComposeTrayTipInCodePage(CP_ACP, title, model, tip);
}

HICON TrayIconForState(int connected)
{
    return LoadIconA(ResourceLibrary, MAKEINTRESOURCEA(connected ? IDI_CONNECTED : IDI_NOT_CONNECTED));
}

static void FillTrayRecord(NOTIFYICONDATAA *record, HWND window, int connected)
{
    memset(record, 0, TRAY_RECORD_BYTES);
    record->cbSize = TRAY_RECORD_BYTES;
    record->hWnd = window;
    record->uID = 0;
    record->uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record->uCallbackMessage = TrayState.CallbackMessage;
    record->hIcon = TrayIconForState(connected);
    char title[TRAY_TIP_CAPACITY] = "";
    LoadStringA(ResourceLibrary, IDS_TRAY_TIP, title, sizeof title);
    char model[Setting(SETTING_ProductModel).capacity];
    ReadTextSetting(SettingsKey, SETTING_ProductModel, model);
    ComposeTrayTip(title, model, record->szTip);
}

void AddTrayIcon(HWND window, int connected)
{
    NOTIFYICONDATAA record;
    FillTrayRecord(&record, window, connected);
    Shell_NotifyIconA(NIM_ADD, &record);
}

void ModifyTrayIcon(HWND window, int connected)
{
    NOTIFYICONDATAA record;
    FillTrayRecord(&record, window, connected);
    Shell_NotifyIconA(NIM_MODIFY, &record);
}

void DeleteTrayIcon(HWND window)
{
    NOTIFYICONDATAA record;
    memset(&record, 0, TRAY_RECORD_BYTES);
    record.cbSize = TRAY_RECORD_BYTES;
    record.hWnd = window;
    record.uID = 0;
    Shell_NotifyIconA(NIM_DELETE, &record);
}

void UpdateTrayMenuItems(HMENU menu, int scannerConnected, int warningEnabled)
{
    static const UINT DEVICE_COMMANDS[] = {IDM_CALIBRATE, IDM_CLEAN, IDM_SETTINGS, IDM_ENABLE_WARNING};
    for (UINT command : DEVICE_COMMANDS)
        EnableMenuItem(menu, command, MF_BYCOMMAND | (scannerConnected ? MF_ENABLED : MF_GRAYED));
    CheckMenuItem(menu, IDM_ENABLE_WARNING, MF_BYCOMMAND | (warningEnabled ? MF_CHECKED : MF_UNCHECKED));
}
