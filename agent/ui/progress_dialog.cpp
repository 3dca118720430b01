// The progress dialog: a small modeless window with a message, optionally a
// bar with a percentage and a cancel line. Every step also dispatches the
// thread's waiting messages, which is what keeps the agent responsive while
// a long operation runs on its only thread.
#include "ui.h"

#include <climits>
#include <cstdio>

#include "shared.h"

HWND ProgressDialogWindow;
int ProgressCancelled;

// One progress dialog at a time, owned by the thread running the job.
static struct {
    int cancelShown;
    unsigned count;
    unsigned total;
    int barWidth; // the drawing area inside the bar control
    int barHeight;
    HFONT boldFont;
    WNDPROC barProc;       // the bar control's own procedure, under ours
    unsigned shownPercent; // what the texts and the bar show now
    int shownColumns;
    DWORD lastRefresh; // when a step last showed the state and looked at the queue
} Progress;

// A page arrives in thousands of small blocks, and drawing the dialog costs
// far more than a block: a step shows the new state and looks at the queue
// only when PROGRESS_REFRESH_MS have passed since it last did, or when the
// work is complete. The bar still moves smoothly, the dialog repaints when
// uncovered, and Cancel and Esc are answered within a tenth of a second.

// Layout, in pixels of the dialog's client area.
const int MARGIN = 20;
const int FRAME_INSET = 10;
const int GAP_BELOW_TEXT = 10;

static SIZE ControlSize(HWND dialog, int id)
{
    RECT rect = {};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    SIZE size = {rect.right - rect.left, rect.bottom - rect.top};
    return size;
}

static void MoveControl(HWND dialog, int id, int x, int y, int width, int height)
{
    MoveWindow(GetDlgItem(dialog, id), x, y, width, height, TRUE);
}

// Gives the cancel line a bold copy of its font; on any failure it keeps its own.
static void MakeCancelLineBold(HWND control)
{
    HFONT font = (HFONT)SendMessageA(control, WM_GETFONT, 0, 0);
    if (!font)
        font = (HFONT)GetStockObject(SYSTEM_FONT);
    LOGFONTA description;
    if (!font || !GetObjectA(font, sizeof description, &description))
        return;
    description.lfWeight = FW_BOLD;
    Progress.boldFont = CreateFontIndirectA(&description);
    if (Progress.boldFont)
        SendMessageA(control, WM_SETFONT, (WPARAM)Progress.boldFont, TRUE);
}

static LRESULT CALLBACK BarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam);

static void OnProgressInit(HWND dialog, const ProgressRequest *request)
{
    SetWindowTextA(dialog, request->caption);
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);

    HWND message = GetDlgItem(dialog, IDC_PROGRESS_TEXT);
    int width = ControlSize(dialog, IDC_PROGRESS_TEXT).cx;
    int textHeight = MeasureWrappedText(message, request->text, width);
    MoveControl(dialog, IDC_PROGRESS_TEXT, MARGIN, MARGIN, width, textHeight);
    SetWindowTextA(message, request->text);

    int barHeight = 0;
    if (request->showBar) {
        SIZE bar = ControlSize(dialog, IDC_PROGRESS_BAR);
        int labelWidth = ControlSize(dialog, IDC_PROGRESS_PERCENT).cx;
        barHeight = bar.cy;
        Progress.barWidth = bar.cx - 2;
        Progress.barHeight = bar.cy - 2;
        MoveControl(dialog, IDC_PROGRESS_BAR, MARGIN, textHeight + 30, bar.cx, bar.cy);
        // The percentage is right-aligned with the message and as tall as the bar.
        MoveControl(dialog, IDC_PROGRESS_PERCENT, MARGIN + width - labelWidth, textHeight + 30, labelWidth, bar.cy);
        // The bar paints itself from the dialog's state, so a window that
        // covered it leaves it as it was rather than blank until the next step.
        HWND barControl = GetDlgItem(dialog, IDC_PROGRESS_BAR);
        Progress.barProc = (WNDPROC)SetWindowLongPtrA(barControl, GWLP_WNDPROC, (LONG_PTR)BarProc);
    } else {
        ShowWindow(GetDlgItem(dialog, IDC_PROGRESS_BAR), SW_HIDE);
        ShowWindow(GetDlgItem(dialog, IDC_PROGRESS_PERCENT), SW_HIDE);
    }

    MoveControl(dialog, IDC_PROGRESS_FRAME, FRAME_INSET, FRAME_INSET, width + 20, textHeight + barHeight + 30);

    int cancelHeight = 0;
    HWND cancelLine = GetDlgItem(dialog, IDC_PROGRESS_CANCEL);
    if (request->showCancel) {
        Progress.cancelShown = 1;
        cancelHeight = ControlSize(dialog, IDC_PROGRESS_CANCEL).cy;
        MoveControl(dialog, IDC_PROGRESS_CANCEL, MARGIN, textHeight + barHeight + 50, width, cancelHeight);
        char cancelText[ResourceStringCapacity(IDS_PROGRESS_CANCEL)] = "";
        LoadStringA(ResourceLibrary, IDS_PROGRESS_CANCEL, cancelText, sizeof cancelText);
        SetWindowTextA(cancelLine, cancelText);
        MakeCancelLineBold(cancelLine);
    } else {
        Progress.cancelShown = 0;
        ShowWindow(cancelLine, SW_HIDE);
    }

    int dialogWidth = width + 45;
    int dialogHeight = GetSystemMetrics(SM_CYCAPTION) + textHeight + barHeight + cancelHeight + 60;
    MoveWindow(dialog, (screenWidth - dialogWidth) / 2, (screenHeight - dialogHeight) / 2, dialogWidth, dialogHeight,
               TRUE);
    SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetActiveWindow(dialog);
    SetForegroundWindow(dialog);
}

static INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: OnProgressInit(dialog, (const ProgressRequest *)lParam); return TRUE;
    case WM_COMMAND:
        // Only IDCANCEL (Esc, or a template button with that id) cancels, and
        // only while cancelling is offered; the cancel line itself is just text.
        if (LOWORD(wParam) == IDCANCEL && Progress.cancelShown)
            ProgressCancelled = 1;
        return TRUE;
    case WM_ACTIVATE: BringWindowToTop(dialog); return FALSE;
    case WM_CLOSE: DestroyWindow(dialog); return TRUE;
    case WM_DESTROY:
        if (Progress.boldFont) {
            DeleteObject(Progress.boldFont);
            Progress.boldFont = nullptr;
        }
        ProgressDialogWindow = nullptr;
        return TRUE;
    case WM_TIMER: return TRUE;
    }
    return FALSE;
}

int ShowProgress(const ProgressRequest *request)
{
    ProgressCancelled = 0;
    LPCDLGTEMPLATEA dialogTemplate = LoadDialogTemplate(IDD_PROGRESS);
    if (!dialogTemplate)
        return 0;
    Progress.total = request->total;
    Progress.count = 0;
    Progress.barWidth = 0;
    Progress.barProc = nullptr;
    Progress.shownPercent = UINT_MAX;
    Progress.shownColumns = -1;
    // The first step always shows itself.
    Progress.lastRefresh = GetTickCount() - PROGRESS_REFRESH_MS;
    ProgressDialogWindow =
        CreateDialogIndirectParamA(AppInstance, dialogTemplate, nullptr, ProgressDialogProc, (LPARAM)request);
    if (ProgressDialogWindow) {
        ShowWindow(ProgressDialogWindow, SW_SHOWNORMAL);
        UpdateWindow(ProgressDialogWindow);
    }
    return 1;
}

// Shade of bar column x: from (200, 200, 255) at the left edge to pure blue,
// reached at about 78 % of the width and kept from there on.
static int ColumnShade(int x)
{
    int shade = 200 - x * 255 / Progress.barWidth;
    return shade < 0 ? 0 : shade;
}

static double ProgressFraction(void)
{
    // A zero total would divide by zero; callers promise at least 1.
    return Progress.total ? (double)Progress.count / (double)Progress.total : 1.0;
}

static int FilledColumns(void)
{
    double filledExact = Progress.barWidth * ProgressFraction();
    return filledExact >= Progress.barWidth ? Progress.barWidth : (int)filledExact;
}

// One pass over the bar: the filled columns in their shades through the
// device context's own brush (no GDI object per column), the rest blank.
static void PaintBar(HWND bar)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(bar, &paint);
    RECT client;
    GetClientRect(bar, &client);
    int filled = Progress.barWidth > 0 ? FilledColumns() : 0;
    HBRUSH shadeBrush = (HBRUSH)GetStockObject(DC_BRUSH);
    for (int x = 0; x < filled; ++x) {
        int shade = ColumnShade(x);
        SetDCBrushColor(dc, RGB(shade, shade, 255));
        RECT column = {x, 0, x + 1, Progress.barHeight};
        FillRect(dc, &column, shadeBrush);
    }
    RECT rest = {filled, 0, client.right, client.bottom};
    FillRect(dc, &rest, GetSysColorBrush(COLOR_WINDOW));
    EndPaint(bar, &paint);
}

static LRESULT CALLBACK BarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT) {
        PaintBar(bar);
        return 0;
    }
    return CallWindowProcA(Progress.barProc, bar, message, wParam, lParam);
}

// Redraws what moved.
static void ShowProgressState(void)
{
    HWND dialog = ProgressDialogWindow;
    double fraction = ProgressFraction();
    unsigned percent = fraction * 100 >= 100 ? 100 : (unsigned)(fraction * 100);
    int columns = Progress.barWidth > 0 ? FilledColumns() : 0;
    if (percent == Progress.shownPercent && columns == Progress.shownColumns)
        return;
    if (percent != Progress.shownPercent) {
        char label[16];
        snprintf(label, sizeof label, "%u%%", percent);
        SetDlgItemTextA(dialog, IDC_PROGRESS_PERCENT, label);
        Progress.shownPercent = percent;
    }
    Progress.shownColumns = columns;
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS_BAR);
    InvalidateRect(bar, nullptr, FALSE);
    UpdateWindow(bar);
}

int StepProgress(unsigned amount)
{
    Progress.count += amount;
    DWORD now = GetTickCount();
    if (ProgressDialogWindow && now - Progress.lastRefresh < PROGRESS_REFRESH_MS && Progress.count < Progress.total)
        return ProgressCancelled ? 1 : 0;
    Progress.lastRefresh = now;
    if (ProgressDialogWindow)
        ShowProgressState();
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD)) {
        // The quit message ends the thread's own loop and nothing else does:
        // taken here it would be lost and the agent would outlive its tray
        // window. Put it back and leave the rest of the queue to that loop.
        if (message.message == WM_QUIT) {
            PostQuitMessage((int)message.wParam);
            break;
        }
        if (ProgressDialogWindow && IsDialogMessageA(ProgressDialogWindow, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return ProgressCancelled ? 1 : 0;
}

void CloseProgress(void)
{
    ProgressCancelled = 0;
    if (ProgressDialogWindow)
        SendMessageA(ProgressDialogWindow, WM_CLOSE, 0, 0);
}
