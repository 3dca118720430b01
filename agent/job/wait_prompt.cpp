// The small prompt that stays on screen while continuous scanning waits for
// the next sheet: "insert the next photo, or click Done".
#include "scan_job.h"

#include "shared.h"
#include "ui.h"

HWND WaitPromptWindow;
int WaitPromptStop;
char WaitPromptText[WAIT_PROMPT_TEXT_CAPACITY];

namespace {

// Layout around the measured text, in pixels: the frame sits 10 from the
// dialog's edge and the text 10 inside the frame; the button sits 10 below
// the frame.
const int FRAME_MARGIN = 10;
const int TEXT_MARGIN = 20;
const int FRAME_GROWTH = 20;
const int BUTTON_CENTRE_SLACK = 40;
const int BUTTON_TOP_BELOW_TEXT = 40;
const int DIALOG_EXTRA_WIDTH = 45;
const int DIALOG_EXTRA_HEIGHT = 55;

int Width(const RECT &r)
{
    return r.right - r.left;
}
int Height(const RECT &r)
{
    return r.bottom - r.top;
}

void LayOutPrompt(HWND dialog, const char *text)
{
    HWND frame = GetDlgItem(dialog, IDC_WAIT_PROMPT_FRAME);
    HWND label = GetDlgItem(dialog, IDC_WAIT_PROMPT_TEXT);
    HWND button = GetDlgItem(dialog, IDOK);
    RECT labelRect = {}, buttonRect = {}, dialogRect = {};
    GetWindowRect(label, &labelRect);
    GetWindowRect(button, &buttonRect);
    int w = Width(labelRect);
    int h = MeasureWrappedText(label, text, w);
    SetWindowTextA(label, text);
    int bw = Width(buttonRect), bh = Height(buttonRect);

    MoveWindow(frame, FRAME_MARGIN, FRAME_MARGIN, w + FRAME_GROWTH, h + FRAME_GROWTH, TRUE);
    MoveWindow(label, TEXT_MARGIN, TEXT_MARGIN, w, h, TRUE);
    MoveWindow(button, (w - bw + BUTTON_CENTRE_SLACK) / 2, h + BUTTON_TOP_BELOW_TEXT, bw, bh, TRUE);

    GetWindowRect(dialog, &dialogRect);
    int width = w + DIALOG_EXTRA_WIDTH;
    int height = GetSystemMetrics(SM_CYCAPTION) + bh + h + DIALOG_EXTRA_HEIGHT;
    MoveWindow(dialog, dialogRect.left, dialogRect.top, width, height, TRUE);

    RECT desktop = {};
    GetWindowRect(GetDesktopWindow(), &desktop);
    int left = desktop.left + (Width(desktop) - width) / 2;
    int top = desktop.top + (Height(desktop) - height) / 2;
    // A prompt larger than the screen stays where it is rather than losing
    // its caption above the screen's top.
    if (left >= 0 && top >= 0)
        MoveWindow(dialog, left, top, width, height, TRUE);
}

void OnPromptInit(HWND dialog, const char *text)
{
    lstrcpynA(WaitPromptText, text ? text : "", sizeof WaitPromptText);
    LayOutPrompt(dialog, WaitPromptText);
    SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetActiveWindow(dialog);
    SetForegroundWindow(dialog);
    SetWindowTextA(dialog, AppTitle);
}

} // namespace

INT_PTR CALLBACK WaitPromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: OnPromptInit(dialog, (const char *)lParam); return TRUE;
    case WM_COMMAND:
        // Esc (IDCANCEL) must not end a session of feeding photos: only Done does.
        if (LOWORD(wParam) == IDOK)
            WaitPromptStop = 1;
        return TRUE;
    case WM_CLOSE: DestroyWindow(dialog); return TRUE;
    case WM_ACTIVATE: BringWindowToTop(dialog); return TRUE;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(dialog, &paint);
        EndPaint(dialog, &paint);
        return TRUE;
    }
    case WM_DESTROY: return TRUE;
    }
    return FALSE;
}

int ShowWaitPrompt(const char *text)
{
    WaitPromptStop = 0;
    LPCDLGTEMPLATEA dialogTemplate = LoadDialogTemplate(IDD_WAIT_PROMPT);
    if (!dialogTemplate)
        return 0;
    WaitPromptWindow = CreateDialogIndirectParamA(AppInstance, dialogTemplate, nullptr, WaitPromptProc, (LPARAM)text);
    ShowWindow(WaitPromptWindow, SW_SHOWNORMAL);
    UpdateWindow(WaitPromptWindow);
    return 1;
}

void CloseWaitPrompt(void)
{
    WaitPromptStop = 0;
    // The handle is forgotten once closed: a later close must not reach
    // another window that was given the same handle value.
    if (WaitPromptWindow)
        SendMessageA(WaitPromptWindow, WM_CLOSE, 0, 0);
    WaitPromptWindow = nullptr;
}

int PumpWaitPrompt(const char *text, int *stop)
{
    if (lstrcmpiA(text, WaitPromptText) != 0) {
        SetDlgItemTextA(WaitPromptWindow, IDC_WAIT_PROMPT_TEXT, text);
        lstrcpynA(WaitPromptText, text, sizeof WaitPromptText);
    }
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        // The quit message belongs to the thread's own loop: put it back, and
        // stop feeding, since the agent is going away.
        if (message.message == WM_QUIT) {
            PostQuitMessage((int)message.wParam);
            WaitPromptStop = 1;
            break;
        }
        if (WaitPromptWindow && IsDialogMessageA(WaitPromptWindow, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    *stop = WaitPromptStop;
    if (SwitchUserEvent && WaitForSingleObject(SwitchUserEvent, 0) == WAIT_OBJECT_0) {
        WaitPromptStop = 1;
        *stop = 1;
    }
    return 1;
}

bool WaitPromptStopRequested(const char *text)
{
    int stop = 0;
    PumpWaitPrompt(text, &stop);
    return stop == 1;
}
