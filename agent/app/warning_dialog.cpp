// The scanner-missing warning shown at start-up: three pictures, a text the
// dialog sizes itself to, a check box that turns the warning off, and its
// own watch for the scanner being plugged in meanwhile.
#include "app.h"

#include <dbt.h>

#include "product_files.h"
#include "scanner.h"
#include "settings.h"
#include "shared.h"
#include "ui.h"

namespace {

// Layout in dialog client pixels; everything below the text moves down by
// the text's measured height.
const int DIALOG_WIDTH = 358;
const int BUTTON_CENTRE_WIDTH = 353; // the button centres on this, not on the dialog's width
const int SMALL_PICTURE_X = 15, SMALL_PICTURE_Y = 45;
const int WIDE_PICTURE_X = 78, WIDE_PICTURE_Y = 15;
const int TEXT_X = 20, TEXT_Y = 137, TEXT_WIDTH = 313, TEXT_FIRST_HEIGHT = 100;
const int LOWER_PICTURE_X = 76, LOWER_PICTURE_BELOW_TEXT = 152;
const int CHECKBOX_X = 20, CHECKBOX_BELOW_TEXT = 223;
const int BUTTON_BELOW_TEXT = 238;    // plus the check box's height
const int DIALOG_HEIGHT_BEYOND = 253; // plus caption, check box and button heights
const int TEXT_CAPACITY = 1024;
const COLORREF TRANSPARENT_WHITE = RGB(255, 255, 255);

struct WarningPicture {
    int control;
    int bitmapId;
    HBITMAP bitmap;
    int width, height;
};

// Painted in this order; only the small scanner picture is masked.
WarningPicture Pictures[] = {
    {IDC_WARNING_PICTURE_2, IDB_WARNING_CABLE, nullptr, 0, 0},
    {IDC_WARNING_PICTURE_1, IDB_WARNING_SCANNER, nullptr, 0, 0},
    {IDC_WARNING_PICTURE_3, IDB_WARNING_POWER, nullptr, 0, 0},
};

WarningPicture &Picture(int control)
{
    for (WarningPicture &picture : Pictures)
        if (picture.control == control)
            return picture;
    return Pictures[0];
}

void PlacePicture(HWND dialog, int control, int x, int y)
{
    WarningPicture &picture = Picture(control);
    picture.bitmap = LoadResourceBitmap(picture.bitmapId, &picture.width, &picture.height);
    MoveWindow(GetDlgItem(dialog, control), x, y, picture.width, picture.height, TRUE);
}

SIZE ControlSize(HWND control)
{
    RECT bounds = {};
    GetWindowRect(control, &bounds);
    SIZE size = {bounds.right - bounds.left, bounds.bottom - bounds.top};
    return size;
}

void PaintPicture(HWND dialog, const WarningPicture &picture)
{
    if (!picture.bitmap)
        return;
    HWND control = GetDlgItem(dialog, picture.control);
    HDC controlDc = GetDC(control);
    HDC memory = CreateCompatibleDC(controlDc);
    HGDIOBJ previous = SelectObject(memory, picture.bitmap);
    if (picture.control == IDC_WARNING_PICTURE_1)
        DrawMaskedBitmap(controlDc, memory, picture.width, picture.height, TRANSPARENT_WHITE);
    else
        BitBlt(controlDc, 0, 0, picture.width, picture.height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(control, controlDc);
}

void OnWarningInit(HWND dialog)
{
    SetWindowTextA(dialog, AppTitle);
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    char text[TEXT_CAPACITY] = "";
    LoadStringA(ResourceLibrary, IDS_WARNING_TEXT, text, sizeof text);

    PlacePicture(dialog, IDC_WARNING_PICTURE_1, SMALL_PICTURE_X, SMALL_PICTURE_Y);
    PlacePicture(dialog, IDC_WARNING_PICTURE_2, WIDE_PICTURE_X, WIDE_PICTURE_Y);

    HWND textControl = GetDlgItem(dialog, IDC_WARNING_TEXT);
    MoveWindow(textControl, TEXT_X, TEXT_Y, TEXT_WIDTH, TEXT_FIRST_HEIGHT, TRUE);
    int textHeight = MeasureWrappedText(textControl, text, ControlSize(textControl).cx);
    MoveWindow(textControl, TEXT_X, TEXT_Y, TEXT_WIDTH, textHeight, TRUE);
    SetWindowTextA(textControl, text);

    PlacePicture(dialog, IDC_WARNING_PICTURE_3, LOWER_PICTURE_X, textHeight + LOWER_PICTURE_BELOW_TEXT);

    char label[TEXT_CAPACITY] = "";
    LoadStringA(ResourceLibrary, IDS_WARNING_CHECKBOX, label, sizeof label);
    HWND checkBox = GetDlgItem(dialog, IDC_WARNING_CHECKBOX);
    SIZE checkSize = ControlSize(checkBox);
    MoveWindow(checkBox, CHECKBOX_X, textHeight + CHECKBOX_BELOW_TEXT, checkSize.cx, checkSize.cy, TRUE);
    SetWindowTextA(checkBox, label);

    HWND button = GetDlgItem(dialog, IDOK);
    SIZE buttonSize = ControlSize(button);
    MoveWindow(button, (BUTTON_CENTRE_WIDTH - buttonSize.cx) / 2, textHeight + BUTTON_BELOW_TEXT + checkSize.cy,
               buttonSize.cx, buttonSize.cy, TRUE);

    int dialogHeight =
        textHeight + DIALOG_HEIGHT_BEYOND + GetSystemMetrics(SM_CYCAPTION) + checkSize.cy + buttonSize.cy;
    MoveWindow(dialog, (screenWidth - DIALOG_WIDTH) / 2, (screenHeight - dialogHeight) / 2, DIALOG_WIDTH, dialogHeight,
               TRUE);
    SetDialogIcon(dialog);
    RegisterScannerNotifications(dialog);
}

void OnWarningPaint(HWND dialog)
{
    PAINTSTRUCT paint;
    BeginPaint(dialog, &paint);
    for (const WarningPicture &picture : Pictures)
        PaintPicture(dialog, picture);
    EndPaint(dialog, &paint);
}

void OnWarningCommand(HWND dialog, WORD command)
{
    switch (command) {
    case IDOK: {
        int silenced = SendDlgItemMessageA(dialog, IDC_WARNING_CHECKBOX, BM_GETCHECK, 0, 0) != 0;
        WriteDwordSetting(SettingsKey, SettingName(SETTING_EnableWarning), silenced ? 0 : 1);
        EndDialog(dialog, IDOK);
        break;
    }
    case IDCANCEL: EndDialog(dialog, IDCANCEL); break;
    }
}

void OnWarningDeviceChange(WPARAM event, LPARAM lParam)
{
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE)
        return;
    if (IsWindows2000OrLater()) {
        const DEV_BROADCAST_HDR *header = (const DEV_BROADCAST_HDR *)lParam;
        if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
            !MatchesScannerVidPid(((const DEV_BROADCAST_DEVICEINTERFACE_A *)header)->dbcc_name))
            return;
    }
    const char *driverPath = ModuleSibling(SCANNER_DRIVER_FILE);
    if (event == DBT_DEVICEARRIVAL && driverPath && (ProbeScanner(driverPath) & 0xFFFF) == PROBE_READY) {
        SetScannerConnected(1);
        return;
    }
    SetScannerConnected(0);
    UnloadScannerDriver();
}

void OnWarningDestroy(void)
{
    for (WarningPicture &picture : Pictures) {
        if (picture.bitmap)
            DeleteObject(picture.bitmap);
        picture.bitmap = nullptr;
    }
    UnregisterScannerNotifications();
}

} // namespace

void DrawMaskedBitmap(HDC destination, HDC source, int width, int height, COLORREF transparent)
{
    COLORREF oldText = SetTextColor(destination, RGB(0, 0, 0));
    COLORREF oldBackground = SetBkColor(destination, RGB(255, 255, 255));
    HDC maskDc = CreateCompatibleDC(destination);
    HBITMAP mask = CreateBitmap(width, height, 1, 1, nullptr);
    HGDIOBJ previous = SelectObject(maskDc, mask);
    // Copying colour to monochrome turns the background colour white and
    // every other colour black.
    COLORREF oldSourceBackground = SetBkColor(source, transparent);
    BitBlt(maskDc, 0, 0, width, height, source, 0, 0, SRCCOPY);
    SetBkColor(source, oldSourceBackground);
    // Where the mask is white the two XORs cancel and the destination stays
    // as it was; where it is black the AND clears it and the second XOR
    // leaves the source.
    BitBlt(destination, 0, 0, width, height, source, 0, 0, SRCINVERT);
    BitBlt(destination, 0, 0, width, height, maskDc, 0, 0, SRCAND);
    BitBlt(destination, 0, 0, width, height, source, 0, 0, SRCINVERT);
    SelectObject(maskDc, previous);
    DeleteObject(mask);
    DeleteDC(maskDc);
    SetTextColor(destination, oldText);
    SetBkColor(destination, oldBackground);
}

INT_PTR CALLBACK ScannerWarningDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: OnWarningInit(dialog); return 0;
    case WM_PAINT: OnWarningPaint(dialog); return 0;
    case WM_DRAWITEM:
        // The picture controls are owner-drawn: when one repaints on its own
        // it asks here, and gets the same picture.
        for (const WarningPicture &picture : Pictures)
            if ((UINT)picture.control == wParam)
                PaintPicture(dialog, picture);
        return TRUE;
    case WM_COMMAND: OnWarningCommand(dialog, LOWORD(wParam)); return 0;
    case WM_DEVICECHANGE: OnWarningDeviceChange(wParam, lParam); return 0;
    case WM_DESTROY: OnWarningDestroy(); return 0;
    }
    return 0;
}
