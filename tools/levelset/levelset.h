// Levelset.exe, the calibration and cleaning tool: what its parts share.
// The agent starts it as "\"<path>\" <verb>" and waits for it; people and
// tests read its exit code.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

enum LevelsetExit {
    LEVELSET_DONE = 0,
    LEVELSET_USAGE = 2,           // no verb, or one it does not know
    LEVELSET_ALREADY_RUNNING = 3, // another Levelset is at work
    LEVELSET_NO_SCANNER = 4,      // no driver, no device, or the device stays taken
    LEVELSET_FAILED = 5,          // the device or the data file failed midway
    LEVELSET_CANCELLED = 6,
};

enum LevelsetVerb {
    VERB_CALIBRATION,
    VERB_FORCE_CALIBRATION,
    VERB_CLEAN,
    VERB_UNKNOWN,
};

// One Levelset at a time, in any session of the computer.
#define LEVELSET_INSTANCE_MUTEX "Global\\Velmora.Levelset"
#define LEVELSET_WINDOW_CLASS "Velmora Levelset"

// The verb that follows the program's name on `commandLine`: words compared
// without regard to case, blanks between them of any length.
LevelsetVerb VerbOfCommandLine(const char *commandLine);

// ---- The run, on its own thread ------------------------------------------

// What the run shares with its window.
struct RunContext {
    HWND Window;
    LevelsetVerb Verb;
    volatile LONG CancelRequested;
    volatile LONG PastCancelling; // 1 once the run commits its result and cannot stop
};

// Messages the run posts to its window.
const UINT WM_RUN_STEP = WM_APP + 1; // wParam: const char * of static text (or null), lParam: per cent
const UINT WM_RUN_DONE = WM_APP + 2; // wParam: LevelsetExit, lParam: const char * failure text (or null)

void ReportStep(RunContext *run, const char *text, int percent);
bool CancelRequested(const RunContext *run);

// The whole calibration: dark and white references, correction handed to
// the device, data file written. Returns a LevelsetExit; `failure` points to
// a static sentence for the window when the run failed.
int CalibrateScanner(RunContext *run, const char **failure);
// The cleaning sheet's passes through the transport.
int CleanRoller(RunContext *run, const char **failure);

// ---- The device ------------------------------------------------------------

// The scanner taken for this run: driver loaded from the program's folder and
// opened, the per-model driver-in-use mutex held (so the agent's button poll
// leaves the device alone), the device acquired. False, with the exit code
// and a sentence, when it cannot be had.
bool TakeScanner(RunContext *run, int *exitCode, const char **failure);
// Gives back everything TakeScanner took; safe to call at any point.
void GiveBackScanner(void);
// One command through the driver; true on status 0.
bool ScannerCommand(uint16_t command, void *data);
