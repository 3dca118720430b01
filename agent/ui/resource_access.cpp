// Access to the resource library: dialog templates, messages and the icon
// every dialog of the agent carries.
#include "ui.h"

#include "shared.h"

// Room for the longest message the resource library holds.
const int MESSAGE_CAPACITY = 1040;

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
    char text[MESSAGE_CAPACITY] = "";
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
