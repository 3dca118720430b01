// Waiting for a sheet: the paper check and the insert-paper dialog, which
// polls the feeder every 200 ms and starts the scan as soon as a sheet is fed.
#include "scanner_internal.h"

#include "resource_ids.h"
#include "shared.h"
#include "ui.h"

// Layout of template 114, in pixels; the text's height is measured.
enum InsertPaperLayout {
    PAPER_DIALOG_WIDTH = 374,
    PAPER_PICTURE_X = 15,
    PAPER_PICTURE_Y = 15,
    PAPER_PICTURE_WIDTH = 339,
    PAPER_PICTURE_HEIGHT = 96,
    PAPER_TEXT_X = 20,
    PAPER_TEXT_Y = 126,
    PAPER_TEXT_WIDTH = 330,
    PAPER_TEXT_HEIGHT = 70,
    PAPER_BUTTON_CENTRE_X = 184,
    PAPER_BUTTON_GAP_Y = 141, // below the top of the text area
    PAPER_DIALOG_EXTRA_HEIGHT = 156,
};

// What the dialog keeps for painting.
static struct {
    HBITMAP picture;
    int width;
    int height;
} InsertPaper;

int CheckPaperTick(UINT_PTR timerId)
{
    if (timerId != PAPER_POLL_TIMER_ID)
        return 0;
    if (!SendScannerCommand(SC_PAPER_PRESENT, nullptr))
        return 0;
    SendScannerCommand(SC_TAKE_PAPER, nullptr);
    return 1;
}

static void OnInsertPaperInit(HWND dialog)
{
    char text[ResourceStringCapacity(IDS_INSERT_PAPER)] = "";
    LoadStringA(ResourceLibrary, IDS_INSERT_PAPER, text, sizeof text);
    InsertPaper.picture = LoadResourceBitmap(IDB_INSERT_PAPER, &InsertPaper.width, &InsertPaper.height);

    MoveWindow(GetDlgItem(dialog, IDC_INSERT_PAPER_PICTURE), PAPER_PICTURE_X, PAPER_PICTURE_Y, PAPER_PICTURE_WIDTH,
               PAPER_PICTURE_HEIGHT, FALSE);

    HWND label = GetDlgItem(dialog, IDC_INSERT_PAPER_TEXT);
    MoveWindow(label, PAPER_TEXT_X, PAPER_TEXT_Y, PAPER_TEXT_WIDTH, PAPER_TEXT_HEIGHT, FALSE);
    int textHeight = MeasureWrappedText(label, text, PAPER_TEXT_WIDTH);
    MoveWindow(label, PAPER_TEXT_X, PAPER_TEXT_Y, PAPER_TEXT_WIDTH, textHeight, FALSE);
    SetWindowTextA(label, text);

    HWND cancel = GetDlgItem(dialog, IDCANCEL);
    RECT button = {};
    GetWindowRect(cancel, &button);
    int buttonWidth = button.right - button.left;
    int buttonHeight = button.bottom - button.top;
    MoveWindow(cancel, PAPER_BUTTON_CENTRE_X - buttonWidth / 2, textHeight + PAPER_BUTTON_GAP_Y, buttonWidth,
               buttonHeight, FALSE);

    int height = GetSystemMetrics(SM_CYCAPTION) + buttonHeight + textHeight + PAPER_DIALOG_EXTRA_HEIGHT;
    SetWindowPos(dialog, nullptr, (GetSystemMetrics(SM_CXSCREEN) - PAPER_DIALOG_WIDTH) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, PAPER_DIALOG_WIDTH, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);

    SetWindowTextA(dialog, AppTitle);
    SetDialogIcon(dialog);
    SetTimer(dialog, PAPER_POLL_TIMER_ID, POLL_INTERVAL_MS, nullptr);
}

// The picture at its own size in the top-left corner of the picture control.
static void DrawInsertPaperPicture(HDC target)
{
    if (!InsertPaper.picture)
        return;
    HDC source = CreateCompatibleDC(target);
    HGDIOBJ previous = SelectObject(source, InsertPaper.picture);
    BitBlt(target, 0, 0, InsertPaper.width, InsertPaper.height, source, 0, 0, SRCCOPY);
    SelectObject(source, previous);
    DeleteDC(source);
}

static void OnInsertPaperPaint(HWND dialog)
{
    PAINTSTRUCT paint;
    BeginPaint(dialog, &paint);
    EndPaint(dialog, &paint);
    HWND pictureControl = GetDlgItem(dialog, IDC_INSERT_PAPER_PICTURE);
    HDC target = GetDC(pictureControl);
    DrawInsertPaperPicture(target);
    ReleaseDC(pictureControl, target);
}

static void OnInsertPaperTimer(HWND dialog, UINT_PTR timerId)
{
    // Stopped while the tick runs: the check talks to the device, and a
    // slow answer must not queue up further ticks behind it.
    KillTimer(dialog, PAPER_POLL_TIMER_ID);
    if (CheckPaperTick(timerId) == 1)
        EndDialog(dialog, 1);
    SetTimer(dialog, PAPER_POLL_TIMER_ID, POLL_INTERVAL_MS, nullptr);
}

static void OnInsertPaperDestroy(HWND dialog)
{
    if (InsertPaper.picture)
        DeleteObject(InsertPaper.picture);
    InsertPaper.picture = nullptr;
    KillTimer(dialog, PAPER_POLL_TIMER_ID);
}

INT_PTR CALLBACK InsertPaperDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: OnInsertPaperInit(dialog); return FALSE; // no default focus
    case WM_PAINT: OnInsertPaperPaint(dialog); return TRUE;
    case WM_DRAWITEM: // an owner-drawn picture control repaints itself through us
        if (wParam != IDC_INSERT_PAPER_PICTURE)
            return FALSE;
        DrawInsertPaperPicture(((const DRAWITEMSTRUCT *)lParam)->hDC);
        return TRUE;
    case WM_TIMER: OnInsertPaperTimer(dialog, wParam); return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: EndDialog(dialog, 1); return TRUE;
        case IDCANCEL: // also Esc and the close box
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY: OnInsertPaperDestroy(dialog); return FALSE;
    }
    return FALSE;
}

int WaitForPaper(void)
{
    if (!SendScannerCommand(SC_ACQUIRE, nullptr))
        return 0;
    int result = 1;
    if (!SendScannerCommand(SC_PAPER_PRESENT, nullptr)) {
        // Without the template the scan goes ahead: the device reports a
        // missing sheet itself.
        LPCDLGTEMPLATEA dialogTemplate = LoadDialogTemplate(IDD_INSERT_PAPER);
        if (dialogTemplate)
            result = (int)DialogBoxIndirectParamA(AppInstance, dialogTemplate, nullptr, InsertPaperDialog, 0);
    }
    SendScannerCommand(SC_RELEASE, nullptr);
    return result;
}
