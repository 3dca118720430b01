// Access to the resource library (dialog templates, messages, the icon every
// dialog of the agent carries) and the text measurement the self-sizing
// dialogs share.
#include "ui.h"

#include "shared.h"

LPCDLGTEMPLATEA LoadDialogTemplate(WORD id)
{
    HRSRC found = FindResourceA(ResourceLibrary, MAKEINTRESOURCEA(id), (LPCSTR)RT_DIALOG);
    if (!found)
        return nullptr;
    HGLOBAL loaded = LoadResource(ResourceLibrary, found);
    if (!loaded)
        return nullptr;
    return (LPCDLGTEMPLATEA)LockResource(loaded);
}

int ShowResourceMessage(HWND owner, UINT stringId, UINT flags)
{
    char text[RESOURCE_MESSAGE_CAPACITY] = "";
    // A missing string shows as an empty box rather than no box at all.
    LoadStringA(ResourceLibrary, stringId, text, sizeof text);
    return MessageBoxA(owner, text, AppTitle, flags);
}

void SetDialogIcon(HWND dialog)
{
    // The icon holds both sizes; each slot gets the one drawn for it.
    HICON big = LoadIconA(ResourceLibrary, MAKEINTRESOURCEA(IDI_CONNECTED));
    HICON small = (HICON)LoadImageA(ResourceLibrary, MAKEINTRESOURCEA(IDI_CONNECTED), IMAGE_ICON,
                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED);
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, (LPARAM)(small ? small : big));
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)big);
}

int MeasureWrappedText(HWND control, const char *text, int width)
{
    HDC dc = GetDC(control);
    HFONT font = (HFONT)SendMessageA(control, WM_GETFONT, 0, 0);
    HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    RECT bounds = {0, 0, width, 0};
    DrawTextA(dc, text, -1, &bounds, DT_CALCRECT | DT_WORDBREAK | DT_EXTERNALLEADING);
    if (previous)
        SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return bounds.bottom - bounds.top;
}

HBITMAP LoadResourceBitmap(WORD id, int *width, int *height)
{
    HBITMAP bitmap = LoadBitmapA(ResourceLibrary, MAKEINTRESOURCEA(id));
    BITMAP info = {};
    if (!bitmap || !GetObjectA(bitmap, sizeof info, &info))
        info.bmWidth = info.bmHeight = 0;
    *width = info.bmWidth;
    *height = info.bmHeight;
    return bitmap;
}
