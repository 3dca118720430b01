// Process-wide state of the agent, kept in one place so every subsystem sees
// the same names: the program's own path and instance, the resource library,
// the tray window, the process flags and the settings key.
#pragma once

#include <windows.h>

#include "product_files.h"
#include "scan_types.h"

// The program's own file name. A sibling file is addressed by writing its
// name over the tail (just after the last backslash) and passing the whole
// buffer; each use overwrites the previous name.
extern char ModulePath[PATH_CAPACITY];
extern char *ModulePathTail;

extern HINSTANCE AppInstance;        // instance of the tray window and every dialog
extern HMODULE ResourceLibrary;      // VelmoraRes.dll
extern char AppTitle[PATH_CAPACITY]; // resource string 1: caption of boxes and dialogs
extern char PagefitPath[PATH_CAPACITY];

extern HWND TrayWindow;
extern HWND SettingsDialogWindow;

// Process flags, 0 or 1.
extern int ScanEnabled;
extern int ScannerConnected;
extern int SessionActive;
extern int WarningEnabled;
extern int SessionSwitchSupported;

extern HANDLE SwitchUserEvent;
extern HKEY SettingsKey;        // the per-user "Velmora" key, open for the life of the process
extern HKEY ScannerInstanceKey; // only while the settings key is being found

// Fills ModulePath from the running program's file name and sets its tail.
// Returns 0 when the name does not fit.
int InitModulePath(void);

// Writes `fileName` into the tail of ModulePath and returns ModulePath, or
// null when the name does not fit (the buffer is then left as it was).
const char *ModuleSibling(const char *fileName);
