// The agent shell: start-up, the tray window with its flags and device and
// session notifications, the calibration and cleaning runs, and the
// scanner-missing warning. What other folders (and tests) may call.
#pragma once

#include <windows.h>

#include "feedlink_protocol.h" // DRIVER_IN_USE_MUTEX_PREFIX, shared with the driver and its tools

#define TRAY_WINDOW_CLASS "Photo Scanner Velmora"
#define INSTANCE_MUTEX_NAME "BFF43804-2CD4-4cea-8E57-B97F89B2BDB4"
#define TRAY_CALLBACK_MESSAGE_NAME "SystemTray of Duplex AP"
#define SWITCH_USER_EVENT_NAME "Switch User"
// The shell broadcasts this registered message when the notification area
// is created again (after the shell restarted).
#define TASKBAR_CREATED_MESSAGE_NAME "TaskbarCreated"

// The quit switch asks a running agent to exit with this lParam on IDM_EXIT.
const LPARAM EXIT_WITHOUT_QUESTION = 1;

// Start-up and the message loop; returns the process's exit code (always 0).
int RunAgent(HINSTANCE instance, const char *commandLine);

// System checks (the ImageFolio ones belong to the scan job, which opens it).
int IsWindows2000OrLater(void);

// Process flags (the variables live in shared.h).
int IsScanEnabled(void);
int IsScannerConnected(void);
void SetScannerConnected(int connected);
// Non-zero: waits for an idle scanner when one is connected, then sets
// ScanEnabled; zero clears it.
void SetScanEnabled(int enabled);

// Device notifications for still-image interfaces, and the checks on them.
void RegisterScannerNotifications(HWND window);
void UnregisterScannerNotifications(void);
int MatchesScannerVidPid(const char *deviceName);
// 0 when another program holds the model's driver-in-use mutex (after
// waiting for the scanner to be idle), else 1.
int IsDriverAvailable(void);

// The tray window.
LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Enables and checks the popup menu's items for the scanner's state and the
// "Enable Warning" setting, as the right-click menu shows them.
void UpdateTrayMenuItems(HMENU menu, int scannerConnected, int warningEnabled);
const int TRAY_TIP_CAPACITY = 64;
// `title`, " - " and `model`, cut to fit the tray record's 64 bytes without
// splitting a double-byte character. Always terminated.
void ComposeTrayTip(const char *title, const char *model, char *tip);
// The same in a given code page (tests use a double-byte one).
void ComposeTrayTipInCodePage(UINT codePage, const char *title, const char *model, char *tip);

// Calibration and cleaning through the calibration tool.
int IsCalibrationDataPresent(void);
// Runs `program` with `commandLine` and waits while the thread's messages are
// dispatched. 1 when the program ran to its end, 0 when it did not start.
int RunToolAndWait(const char *program, const char *commandLine);
int RunCalibration(void);
int RunCleaning(void);
int EnsureCalibrated(void);

// The scanner-missing warning dialog (template 112).
INT_PTR CALLBACK ScannerWarningDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Copies the source at the destination's origin, leaving pixels of
// `transparent` colour in the source unchanged on the destination.
void DrawMaskedBitmap(HDC destination, HDC source, int width, int height, COLORREF transparent);
