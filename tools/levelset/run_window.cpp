// Levelset's window: what the run is doing, its progress and a Cancel
// button that turns into Close when a run fails. The run itself works on a
// thread of its own and posts its steps here.
#include <windows.h>
#include <commctrl.h>

#include "levelset.h"
#include "resource_ids.h"

namespace {

// Client layout, in pixels of the system's scaled desktop.
const int CLIENT_WIDTH = 400;
const int CLIENT_HEIGHT = 118;
const int MARGIN = 14;
const int TEXT_HEIGHT = 34;
const int BAR_TOP = 54;
const int BAR_HEIGHT = 18;
const int BUTTON_WIDTH = 88;
const int BUTTON_HEIGHT = 26;
// The finished window stays this long so its last step can be read.
const UINT DONE_PAUSE_MS = 500;
const UINT_PTR DONE_TIMER_ID = 1;

struct RunWindowState {
    RunContext Run;
    HWND Status;
    HWND Bar;
    HWND Button;
    HANDLE Thread;
    HFONT Font;
    bool Finished;
    int Result;
};
RunWindowState Window;

DWORD WINAPI RunThread(LPVOID)
{
    const char *failure = nullptr;
    const int result =
        Window.Run.Verb == VERB_CLEAN ? CleanRoller(&Window.Run, &failure) : CalibrateScanner(&Window.Run, &failure);
    PostMessageA(Window.Run.Window, WM_RUN_DONE, (WPARAM)result, (LPARAM)failure);
    return 0;
}

HFONT MessageFont(void)
{
    NONCLIENTMETRICSA metrics = {};
    // The record grew after Windows XP; the older size still gets the font.
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        metrics.cbSize = sizeof metrics - sizeof metrics.iPaddedBorderWidth;
        if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0))
            return nullptr;
    }
    return CreateFontIndirectA(&metrics.lfMessageFont);
}

HWND Child(HWND parent, const char *className, const char *text, DWORD style, int x, int y, int width, int height,
           int id)
{
    HWND child = CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
                                 (HMENU)(INT_PTR)id, (HINSTANCE)GetWindowLongPtrA(parent, GWLP_HINSTANCE), nullptr);
    if (child && Window.Font)
        SendMessageA(child, WM_SETFONT, (WPARAM)Window.Font, FALSE);
    return child;
}

LRESULT OnCreate(HWND window)
{
    Window.Run.Window = window;
    Window.Font = MessageFont();
    const int inner = CLIENT_WIDTH - 2 * MARGIN;
    const char *first =
        Window.Run.Verb == VERB_CLEAN ? "Preparing the cleaning run..." : "Preparing the calibration...";
    Window.Status = Child(window, "STATIC", first, SS_LEFT | SS_NOPREFIX, MARGIN, MARGIN, inner, TEXT_HEIGHT, -1);
    Window.Bar = Child(window, PROGRESS_CLASSA, "", PBS_SMOOTH, MARGIN, BAR_TOP, inner, BAR_HEIGHT, -1);
    Window.Button =
        Child(window, "BUTTON", "Cancel", BS_DEFPUSHBUTTON | WS_TABSTOP, CLIENT_WIDTH - MARGIN - BUTTON_WIDTH,
              CLIENT_HEIGHT - MARGIN - BUTTON_HEIGHT, BUTTON_WIDTH, BUTTON_HEIGHT, IDCANCEL);
    if (!Window.Status || !Window.Bar || !Window.Button)
        return -1;
    SendMessageA(Window.Bar, PBM_SETRANGE32, 0, 100);
    Window.Thread = CreateThread(nullptr, 0, RunThread, nullptr, 0, nullptr);
    return Window.Thread ? 0 : -1;
}

void OnStep(const char *text, int percent)
{
    if (text)
        SetWindowTextA(Window.Status, text);
    SendMessageA(Window.Bar, PBM_SETPOS, (WPARAM)percent, 0);
    // Past the point where stopping would part the device from its file,
    // Cancel has nothing left to stop.
    if (Window.Run.PastCancelling)
        EnableWindow(Window.Button, FALSE);
}

void OnCancel(HWND window)
{
    if (Window.Finished) {
        DestroyWindow(window);
        return;
    }
    // Once the correction is being stored, stopping would part the device
    // and the file; the run is a moment from its end anyway.
    if (Window.Run.PastCancelling || Window.Run.CancelRequested)
        return;
    InterlockedExchange(&Window.Run.CancelRequested, 1);
    SetWindowTextA(Window.Status, "Cancelling...");
    EnableWindow(Window.Button, FALSE);
}

void OnDone(HWND window, int result, const char *failure)
{
    WaitForSingleObject(Window.Thread, INFINITE);
    CloseHandle(Window.Thread);
    Window.Thread = nullptr;
    Window.Finished = true;
    Window.Result = result;
    if (result == LEVELSET_DONE) {
        SetTimer(window, DONE_TIMER_ID, DONE_PAUSE_MS, nullptr);
        EnableWindow(Window.Button, FALSE);
        return;
    }
    if (result == LEVELSET_CANCELLED) {
        DestroyWindow(window);
        return;
    }
    // A failure stays on screen until it has been read.
    SetWindowTextA(Window.Status, failure ? failure : "The run failed.");
    SetWindowTextA(Window.Button, "Close");
    EnableWindow(Window.Button, TRUE);
    SetFocus(Window.Button);
    MessageBeep(MB_ICONWARNING);
}

LRESULT CALLBACK RunWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: return OnCreate(window);
    case WM_RUN_STEP: OnStep((const char *)wParam, (int)lParam); return 0;
    case WM_RUN_DONE: OnDone(window, (int)wParam, (const char *)lParam); return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
            OnCancel(window);
        return 0;
    case WM_CLOSE: OnCancel(window); return 0;
    case WM_TIMER:
        if (wParam == DONE_TIMER_ID)
            DestroyWindow(window);
        return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

void ReportStep(RunContext *run, const char *text, int percent)
{
    PostMessageA(run->Window, WM_RUN_STEP, (WPARAM)text, (LPARAM)percent);
}

bool CancelRequested(const RunContext *run)
{
    return run->CancelRequested != 0;
}

int RunWithWindow(HINSTANCE instance, LevelsetVerb verb)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = RunWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PROGRAM));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = LEVELSET_WINDOW_CLASS;
    if (!RegisterClassA(&windowClass))
        return LEVELSET_FAILED;
    Window.Run.Verb = verb;
    Window.Result = LEVELSET_FAILED;
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame = {0, 0, CLIENT_WIDTH, CLIENT_HEIGHT};
    AdjustWindowRect(&frame, style, FALSE);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    const char *title = verb == VERB_CLEAN ? "Levelset - Cleaning the scanner" : "Levelset - Calibrating the scanner";
    HWND window = CreateWindowExA(0, LEVELSET_WINDOW_CLASS, title, style, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                                  (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr, nullptr,
                                  instance, nullptr);
    if (!window)
        return LEVELSET_FAILED;
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (Window.Font)
        DeleteObject(Window.Font);
    return Window.Result;
}
