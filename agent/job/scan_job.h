// The scan job: from a press of the scanner's button to saved, opened
// pictures, with continuous feeding. Called by the tray window and by the
// settings dialog's scan request.
#pragma once

#include <windows.h>

#include "naming.h"
#include "scan_settings_core.h"
#include "scan_types.h"

// Runs one complete scan job on the calling thread, continuous scanning
// included. 1 when the job ran (also when it ended early or the page failed);
// 0 when the image library could not be loaded.
int RunScanJob(void);

// Fills the job's record from the "Setting" and "Paper Size" subkeys of
// SettingsKey, writing back the default of every value that is missing.
// 0 when either key cannot be opened.
int ReadScanJobSettings(ScanJobSettings *settings);

// ---- One page ------------------------------------------------------------

// Scans one page into a temporary bitmap, runs the auto-crop tool on it
// (scanning again while the tool asks for it), applies the tone pass and
// saves it through the image library. `picture` (PATH_CAPACITY bytes) names
// where the user wants it; when it cannot be saved there it goes to the
// default save folder under the next free name, and `picture` is rewritten
// to name the file actually saved. When it cannot be saved as a picture at
// all, the scanned bitmap is kept in the user's pictures (or documents)
// folder and the user is told where. 1 only when a picture was saved.
int ScanAndSavePage(ScanJobSettings settings, const OutputSettings *output, char *picture);

// How long the stages of the last page took, in milliseconds, for the
// benchmark that reports where a page's time goes.
struct PageStageTimes {
    double acquisition; // every scan of the page, rescans included
    double autoCrop;    // the auto-crop tool and its log
    double tone;
    double save;   // the image library's load, turn, reduction and save
    double viewer; // set by the job when it opens the picture
};
extern PageStageTimes LastPageTimes;

// ---- Viewers -------------------------------------------------------------

// Asks the shell to open the picture in the program registered for its type.
// Nothing happens when the file does not exist.
void OpenInDefaultViewer(const char *picture);
// Starts ImageFolio on the picture and waits (bounded) until it shows it,
// then sends it its show command. When ImageFolio cannot be started the
// picture opens in the default viewer instead.
void OpenInImageFolio(const char *program, const char *picture);

// 1 when ImageFolio's App Paths entry names an existing file.
int IsImageFolioInstalled(void);
// 1 with ImageFolio's program path in `buffer` (at most `size` bytes), or 0
// when it is not installed or its key cannot be read.
int GetImageFolioPath(char *buffer, DWORD size);

// ---- The continuous-scan prompt -------------------------------------------

const int WAIT_PROMPT_TEXT_CAPACITY = 1024;

extern HWND WaitPromptWindow;
extern int WaitPromptStop; // 1 once stopping was asked for
extern char WaitPromptText[WAIT_PROMPT_TEXT_CAPACITY];

// 1 when the prompt was created; 0 when its template is missing.
int ShowWaitPrompt(const char *text);
void CloseWaitPrompt(void);
// Handles the thread's waiting messages and tests SwitchUserEvent; `stop`
// receives 1 when the user or a session switch asked to stop. Always 1.
int PumpWaitPrompt(const char *text, int *stop);
bool WaitPromptStopRequested(const char *text);
INT_PTR CALLBACK WaitPromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
