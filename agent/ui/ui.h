// Dialog support: access to the resource library (templates, messages, the
// dialogs' icon) and the progress dialog shared by long operations.
#pragma once

#include <windows.h>

#include "resource_ids.h"

// The buffer each resource string is read into: a longer text is cut short
// on screen. Readers size their buffers from this table and the resource
// library's tests check every string against it.
struct ResourceStringReader {
    UINT id;
    int capacity;
};
const int RESOURCE_MESSAGE_CAPACITY = 1040; // any string shown by ShowResourceMessage
const int RESOURCE_ITEM_CAPACITY = 40;      // the settings dialog's list items
inline constexpr ResourceStringReader RESOURCE_STRING_READERS[] = {
    {IDS_APP_TITLE, 30}, // also the tray window's title while the settings are open
    {IDS_TRAY_TIP, 64},
    {IDS_EXIT_QUESTION, 260},
    {IDS_CALIBRATION_NOTICE, RESOURCE_MESSAGE_CAPACITY},
    {IDS_CALIBRATION_DONE, RESOURCE_MESSAGE_CAPACITY},
    {IDS_DRIVER_MISSING, RESOURCE_MESSAGE_CAPACITY},
    {IDS_WARNING_TEXT, 1024},
    {IDS_DEVICE_BUSY, RESOURCE_MESSAGE_CAPACITY},
    {IDS_WARNING_CHECKBOX, 1024},
    {IDS_INSERT_PAPER, 1024},
    {IDS_PROGRESS_SCANNING, RESOURCE_MESSAGE_CAPACITY},
    {IDS_PROGRESS_CANCEL, 40},
    {IDS_CONTINUOUS_PROMPT, 1024},
    {IDS_PROGRESS_TONE, 260},
    {IDS_IMAGEFOLIO_MISSING, RESOURCE_MESSAGE_CAPACITY},
    {IDS_SCAN_KEPT, RESOURCE_MESSAGE_CAPACITY}, // the kept bitmap's path follows it
    {IDS_ROTATE_NONE, RESOURCE_ITEM_CAPACITY},
    {IDS_ROTATE_90, RESOURCE_ITEM_CAPACITY},
    {IDS_ROTATE_270, RESOURCE_ITEM_CAPACITY},
    {IDS_ROTATE_180, RESOURCE_ITEM_CAPACITY},
    {IDS_SCAN_MODE_COLOUR, RESOURCE_ITEM_CAPACITY},
    {IDS_FORMAT_JPEG, RESOURCE_ITEM_CAPACITY},
    {IDS_BROWSE_TITLE, 60},
    {IDS_PAPER_SIZE, 60},
    {IDS_RESCAN_NOTICE, RESOURCE_MESSAGE_CAPACITY},
};
// The reader's capacity of string `id`; -1 (no valid buffer size) for an id
// missing from the table, so a reader of an unlisted string does not build.
constexpr int ResourceStringCapacity(UINT id)
{
    for (const ResourceStringReader &reader : RESOURCE_STRING_READERS)
        if (reader.id == id)
            return reader.capacity;
    return -1;
}

// The locked dialog template with that id from ResourceLibrary, or null.
LPCDLGTEMPLATEA LoadDialogTemplate(WORD id);
// A message box with the resource string `stringId`, caption AppTitle.
int ShowResourceMessage(HWND owner, UINT stringId, UINT flags);
// Gives a dialog icon 106 in both sizes.
void SetDialogIcon(HWND dialog);
// Bitmap `id` from ResourceLibrary with its size; null and 0 by 0 when missing.
HBITMAP LoadResourceBitmap(WORD id, int *width, int *height);

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
// A step shows the new state and takes the dialog's messages at most this
// often (and always once the work is complete).
const DWORD PROGRESS_REFRESH_MS = 30;
void CloseProgress(void);

// The progress dialog's window while it exists (tests and screenshots look at it).
extern HWND ProgressDialogWindow;
extern int ProgressCancelled;
