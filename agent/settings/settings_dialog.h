// The settings dialog, run modally from template 111 by the tray window (and
// by tests). Every change is written to the registry at once.
#pragma once

#include <windows.h>

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
