// State of the tray window that its handlers share within this folder.
#pragma once

#include <windows.h>

#include "seatwatch_ops.h"

struct TrayStateRecord {
    UINT CallbackMessage;       // "SystemTray of Duplex AP"
    UINT TaskbarCreatedMessage; // the notification area was created again
    HMENU LoadedMenu;           // menu 110
    HMENU Menu;                 // its submenu 0, the popup menu
    HMODULE SessionLibrary;     // Seatwatch.dll while loaded
    const SeatwatchOperations *SessionNotifyOps;
    // Modal actions running inside the window procedure (calibration runs,
    // scan jobs, the exit question, the settings dialog). An exit asked
    // meanwhile waits for the count to reach zero, because destruction
    // releases the driver, the settings key and the resource library they use.
    int RunningActions;
    int ExitPending;
};
extern TrayStateRecord TrayState;

// The tray icon record's parts.
HICON TrayIconForState(int connected);
void AddTrayIcon(HWND window, int connected);
void ModifyTrayIcon(HWND window, int connected);
void DeleteTrayIcon(HWND window);

// Seatwatch.dll, loaded only where the system reports session changes.
void StartSessionWatch(HWND window);
void StopSessionWatch(HWND window);
