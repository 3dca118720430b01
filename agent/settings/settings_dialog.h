// The settings dialog, run modally from template 111 by the tray window (and
// by tests). Every change is written to the registry at once.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>

#include "shared.h"

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// WM_USER with this wParam asks the open dialog to run a scan job on a
// worker thread (lParam is not used).
const WPARAM SETTINGS_SCAN_REQUEST = 0x8001;

// The scan settings the dialog edits. Kept between openings of the dialog:
// when the "Setting" key cannot be opened, the dialog shows what this held.
struct ScanDialogSettings {
    uint16_t ScanMode;
    uint16_t Resolution;
    uint16_t PaperSize;
    uint16_t Rotation;
    int32_t ContinuousScan;
    int32_t AutoCrop;
    int32_t AutoDeskew;
    uint16_t Brightness;
    uint16_t Contrast;
    uint16_t Gamma; // hundredths
    uint16_t Format;
    char SavePath[PATH_CAPACITY];
    char Prefix[PATH_CAPACITY];
};
extern ScanDialogSettings DialogSettings;

// Fills DialogSettings from "Setting" (creating the key when absent); a save
// folder that cannot be written to is replaced by the default one, in the
// registry too, and the save folder is created.
void LoadDialogSettings(void);
// Takes the controls' state into DialogSettings and writes all thirteen
// scan settings.
void SaveDialogSettings(HWND dialog);

// Shows the shell's folder browser, which offers OK only on writable
// folders. 1 with the chosen folder in `result` (PATH_CAPACITY bytes); 0 with
// `currentFolder` there when the user cancelled.
int BrowseSaveFolder(HWND dialog, const char *title, const char *currentFolder, char *result);

// Applies one trackbar scroll code to `value` within minimum..maximum. Unless
// the code leaves the value as it is, sets the slider, its text and saves.
void HandleSliderScroll(HWND dialog, HWND slider, HWND valueText, WPARAM scrollCode, uint16_t *value,
                        uint16_t minimum, uint16_t maximum, bool hundredths);
// A slider's text: "%d", or "%d.%02d" in hundredths.
void ShowSliderValue(HWND valueText, uint16_t value, bool hundredths);

// Gives the save folder's field its tooltip, which shows the whole path
// however narrow the field is, and updates the tip to a new path.
void AttachPathToolTip(HWND pathField);
void UpdatePathToolTip(const char *path);

// The prefix box's window procedure: no characters a file name cannot hold,
// no clipboard and no context menu.
LRESULT CALLBACK PrefixEditFilter(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);

// State of the open dialog.
struct SettingsDialogState {
    HWND pathToolTip;            // shows the whole save folder over its field
    TTTOOLINFOA pathTool;        // the tool record, kept for the tip's updates
    char pathTipText[PATH_CAPACITY];
    WNDPROC prefixEditProc;      // the prefix box's own procedure
    int scanRequestRunning;      // a scan job of the dialog's is on its worker thread
};
extern SettingsDialogState SettingsDialog;
