// Dialog support: access to the resource library (templates, messages, the
// dialogs' icon) and the progress dialog shared by long operations.
#pragma once

#include <windows.h>

#include "resource_ids.h"

// The locked dialog template with that id from ResourceLibrary, or null.
LPCDLGTEMPLATEA LoadDialogTemplate(WORD id);
// A message box with the resource string `stringId`, caption AppTitle.
int ShowResourceMessage(HWND owner, UINT stringId, UINT flags);
// Gives a dialog icon 106 in both sizes.
void SetDialogIcon(HWND dialog);

// Height of `text` word-wrapped at `width` in the control's own font, as the
// dialogs that size themselves to their text measure it.
int MeasureWrappedText(HWND control, const char *text, int width);

struct ProgressRequest {
    const char *caption;
    const char *text;
    int showCancel;
    int showBar;
    unsigned total; // the count that means 100 %; at least 1
};

// 0 when the template is missing; 1 otherwise, whether or not the window came up.
int ShowProgress(const ProgressRequest *request);
// Adds `amount`, redraws, dispatches the thread's waiting messages;
// 1 once the user has cancelled.
int StepProgress(unsigned amount);
void CloseProgress(void);

// The progress dialog's window while it exists (tests and screenshots look at it).
extern HWND ProgressDialogWindow;
extern int ProgressCancelled;
