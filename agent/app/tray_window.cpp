// The hidden tray window: its procedure dispatches to one handler per event.
// Everything runs on the main thread; long actions pump messages, so these
// handlers are re-entered while they run and the flags keep a nested entry
// from starting a second action.
#include "app.h"

#include <dbt.h>
#include <wtsapi32.h>

#include "scan_job.h"
#include "scanner.h"
#include "settings.h"
#include "settings_dialog.h"
#include "shared.h"
#include "tray_state.h"
#include "ui.h"

TrayStateRecord TrayState;

namespace {

// Plug and Play announces the interface before the device answers.
const DWORD ARRIVAL_SETTLE_MS = 200;
const int TITLE_FOR_TASKBAR_CAPACITY = 30;

bool IsSettingsDialogOpen(void)
{
    return SettingsDialogWindow && IsWindowVisible(SettingsDialogWindow);
}

void ExitNow(HWND window)
{
    TrayState.ExitPending = 0;
    DeleteTrayIcon(window);
    DestroyWindow(window);
}

void BeginAction(void)
{
    ++TrayState.RunningActions;
}

// Ends one action; an exit asked while it ran happens now, once the outermost
// action is over and nothing holds the driver or the resource library.
void EndAction(HWND window)
{
    --TrayState.RunningActions;
    if (TrayState.RunningActions == 0 && TrayState.ExitPending)
        ExitNow(window);
}

void RequestExit(HWND window)
{
    TrayState.ExitPending = 1;
    if (TrayState.RunningActions == 0) {
        ExitNow(window);
        return;
    }
    // The actions that wait on the user alone: the settings dialog closes as
    // confirmed, as for an unplugged scanner, and an open popup menu closes,
    // so the exit is not held up by them.
    if (IsSettingsDialogOpen())
        PostMessageA(SettingsDialogWindow, WM_COMMAND, IDOK, 0);
    EndMenu();
}

void OnTrayCreate(HWND window)
{
    SessionActive = 1;
    StartSessionWatch(window);
    TrayState.CallbackMessage = RegisterWindowMessageA(TRAY_CALLBACK_MESSAGE_NAME);
    TrayState.TaskbarCreatedMessage = RegisterWindowMessageA(TASKBAR_CREATED_MESSAGE_NAME);
    TrayState.LoadedMenu = LoadMenuA(ResourceLibrary, MAKEINTRESOURCEA(IDM_TRAY));
    TrayState.Menu = TrayState.LoadedMenu ? GetSubMenu(TrayState.LoadedMenu, 0) : nullptr;
    AddTrayIcon(window, ScannerConnected);
    WarningEnabled = ReadNumberSetting(SettingsKey, SETTING_EnableWarning) ? 1 : 0;
    RegisterScannerNotifications(window);
    SetScanEnabled(1);
    if (ScannerConnected && ReadNumberSetting(SettingsKey, SETTING_FirstStartup))
        PostMessageA(window, WM_COMMAND, IDM_SETTINGS, 0);
    SetTimer(window, BUTTON_POLL_TIMER_ID, POLL_INTERVAL_MS, nullptr);
    SwitchUserEvent = nullptr;
}

void OnTrayDestroy(HWND window)
{
    StopSessionWatch(window);
    // The popup is a submenu of the loaded menu and goes with it.
    if (TrayState.LoadedMenu)
        DestroyMenu(TrayState.LoadedMenu);
    TrayState.LoadedMenu = nullptr;
    TrayState.Menu = nullptr;
    UnregisterScannerNotifications();
    KillTimer(window, BUTTON_POLL_TIMER_ID);
    if (SettingsKey) {
        RegCloseKey(SettingsKey);
        SettingsKey = nullptr;
    }
    if (ScannerInstanceKey) {
        RegCloseKey(ScannerInstanceKey);
        ScannerInstanceKey = nullptr;
    }
    UnloadScannerDriver();
    if (ResourceLibrary) {
        FreeLibrary(ResourceLibrary);
        ResourceLibrary = nullptr;
    }
    if (SwitchUserEvent) {
        CloseHandle(SwitchUserEvent);
        SwitchUserEvent = nullptr;
    }
    PostQuitMessage(0);
}

void ShowTrayMenu(HWND window)
{
    if (!ScanEnabled || IsSettingsDialogOpen() || !TrayState.Menu)
        return;
    POINT cursor;
    GetCursorPos(&cursor);
    // The menu closes when the user clicks elsewhere only if its owner is in
    // the foreground; the posted WM_NULL afterwards lets it close at once.
    SetForegroundWindow(window);
    ShowWindow(window, SW_HIDE);
    UpdateTrayMenuItems(TrayState.Menu, ScannerConnected, ReadNumberSetting(SettingsKey, SETTING_EnableWarning));
    // The menu runs a loop of its own; the window must outlive it.
    BeginAction();
    TrackPopupMenu(TrayState.Menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
    PostMessageA(window, WM_NULL, 0, 0);
    EndAction(window);
}

void OnTrayMouse(HWND window, LPARAM mouseMessage)
{
    switch (mouseMessage) {
    case WM_LBUTTONDBLCLK:
        SetForegroundWindow(window);
        BringWindowToTop(window);
        if (ScanEnabled && ScannerConnected && !IsSettingsDialogOpen())
            PostMessageA(window, WM_COMMAND, IDM_SETTINGS, 0);
        if (IsSettingsDialogOpen())
            SetForegroundWindow(SettingsDialogWindow);
        break;
    case WM_RBUTTONDOWN: ShowTrayMenu(window); break;
    }
}

void RunToolCommand(HWND window, int (*run)(void))
{
    SetScanEnabled(0);
    BeginAction();
    run();
    SetScanEnabled(1);
    EndAction(window);
}

void OpenSettingsDialog(HWND window)
{
    LPCDLGTEMPLATEA dialogTemplate = LoadDialogTemplate(IDD_SETTINGS);
    // Two requests can be queued at once (first start and an arrival): one
    // dialog is enough.
    if (!dialogTemplate || IsSettingsDialogOpen())
        return;
    char title[TITLE_FOR_TASKBAR_CAPACITY] = "";
    LoadStringA(ResourceLibrary, IDS_APP_TITLE, title, sizeof title);
    // A minimised, titled tray window gives the dialog a taskbar button.
    ShowWindow(window, SW_SHOW);
    SetWindowTextA(window, title);
    CloseWindow(window);
    BeginAction();
    DialogBoxIndirectParamA(AppInstance, dialogTemplate, window, SettingsDialogProc, 0);
    ShowWindow(window, SW_HIDE);
    EndAction(window);
}

void ToggleWarning(void)
{
    WarningEnabled = WarningEnabled ? 0 : 1;
    CheckMenuItem(TrayState.Menu, IDM_ENABLE_WARNING, MF_BYCOMMAND | (WarningEnabled ? MF_CHECKED : MF_UNCHECKED));
    WriteDwordSetting(SettingsKey, SettingName(SETTING_EnableWarning), (DWORD)WarningEnabled);
}

void AskExit(HWND window, LPARAM source)
{
    SetScanEnabled(0);
    if (source != 0) {
        RequestExit(window);
        return;
    }
    char question[PATH_CAPACITY] = "";
    LoadStringA(ResourceLibrary, IDS_EXIT_QUESTION, question, sizeof question);
    BeginAction();
    int answer = MessageBoxA(window, question, AppTitle, MB_YESNO);
    if (answer == IDNO)
        SetScanEnabled(1);
    else
        TrayState.ExitPending = 1;
    EndAction(window);
}

void OnTrayCommand(HWND window, WORD command, LPARAM lParam)
{
    switch (command) {
    case IDM_CALIBRATE: RunToolCommand(window, RunCalibration); break;
    case IDM_CLEAN: RunToolCommand(window, RunCleaning); break;
    case IDM_SETTINGS: OpenSettingsDialog(window); break;
    case IDM_ENABLE_WARNING: ToggleWarning(); break;
    case IDM_EXIT: AskExit(window, lParam); break;
    }
}

void RunButtonScan(HWND window)
{
    SetScanEnabled(0);
    BeginAction();
    EnsureCalibrated();
    if (IsSettingsDialogOpen())
        SendMessageA(SettingsDialogWindow, WM_COMMAND, IDOK, 0);
    RunScanJob();
    WaitScannerIdle();
    SetScanEnabled(1);
    EndAction(window);
}

void OnTrayTimer(HWND window, WPARAM timerId)
{
    if (!SessionActive || !ScannerConnected || !ScanEnabled || !IsDriverAvailable())
        return;
    KillTimer(window, BUTTON_POLL_TIMER_ID);
    if ((PollScanButton(window, timerId) & 0xFFFF) == 2) {
        RunButtonScan(window);
        if (!IsWindow(window))
            return;
    }
    SetTimer(window, BUTTON_POLL_TIMER_ID, POLL_INTERVAL_MS, nullptr);
}

bool IsScannerBroadcast(LPARAM lParam)
{
    // Systems before 2000 send no interface broadcasts: every event is the scanner's.
    if (!IsWindows2000OrLater())
        return true;
    const DEV_BROADCAST_HDR *header = (const DEV_BROADCAST_HDR *)lParam;
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
        return false;
    return MatchesScannerVidPid(((const DEV_BROADCAST_DEVICEINTERFACE_A *)header)->dbcc_name) != 0;
}

void OnDeviceChange(HWND window, WPARAM event, LPARAM lParam)
{
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE)
        return;
    if (!IsScannerBroadcast(lParam))
        return;
    // A repeated arrival while an action uses the connected scanner would
    // close and reload the driver under it: the scanner is already there.
    if (event == DBT_DEVICEARRIVAL && ScannerConnected && TrayState.RunningActions > 0)
        return;
    const char *driverPath = ModuleSibling(SCANNER_DRIVER_FILE);
    Sleep(ARRIVAL_SETTLE_MS);
    if (event == DBT_DEVICEARRIVAL && driverPath && (ProbeScanner(driverPath) & 0xFFFF) == PROBE_READY) {
        SetScannerConnected(1);
        if (ScanEnabled && !IsSettingsDialogOpen())
            PostMessageA(window, WM_COMMAND, IDM_SETTINGS, 0);
    } else {
        SetScannerConnected(0);
        if (IsSettingsDialogOpen())
            PostMessageA(SettingsDialogWindow, WM_COMMAND, IDOK, 0);
        UnloadScannerDriver();
    }
    ModifyTrayIcon(window, ScannerConnected);
}

void OnSessionChange(WPARAM event)
{
    switch (event) {
    case WTS_CONSOLE_CONNECT:
    case WTS_REMOTE_CONNECT:
        SessionActive = 1;
        WaitScannerIdle();
        break;
    case WTS_CONSOLE_DISCONNECT:
    case WTS_REMOTE_DISCONNECT: {
        SessionActive = 0;
        WaitScannerIdle();
        HANDLE event = CreateEventA(nullptr, FALSE, TRUE, SWITCH_USER_EVENT_NAME);
        // The event already exists after an earlier disconnect and creating
        // it again leaves it as it was, perhaps already consumed by the
        // continuous-scan prompt: signal it for this disconnect too.
        if (event)
            SetEvent(event);
        if (SwitchUserEvent)
            CloseHandle(SwitchUserEvent);
        SwitchUserEvent = event;
        break;
    }
    }
}

void OnWindowPosChanged(HWND window)
{
    // The window only ever shows as a taskbar button; minimising an already
    // minimised window would come straight back here.
    if (!IsIconic(window))
        CloseWindow(window);
}

} // namespace

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: OnTrayCreate(window); return 0;
    case WM_DESTROY: OnTrayDestroy(window); return 0;
    case WM_WINDOWPOSCHANGED: OnWindowPosChanged(window); return 0;
    case WM_COMMAND: OnTrayCommand(window, LOWORD(wParam), lParam); return 0;
    case WM_TIMER: OnTrayTimer(window, wParam); return 0;
    case WM_DEVICECHANGE: OnDeviceChange(window, wParam, lParam); return 0;
    case WM_WTSSESSION_CHANGE: OnSessionChange(wParam); return 0;
    }
    if (message == TrayState.CallbackMessage && message != 0)
        OnTrayMouse(window, lParam);
    else if (message == TrayState.TaskbarCreatedMessage && message != 0)
        AddTrayIcon(window, ScannerConnected);
    return DefWindowProcA(window, message, wParam, lParam);
}
