// The file-name prefix box: what a picture's name cannot hold never gets in.
#include "settings_dialog.h"

#include <cstring>

namespace {

// Characters a file name may not hold, and the blank.
const char REFUSED_CHARACTERS[] = " \"*/:<>?\\|";

bool IsRefusedCharacter(WPARAM character)
{
    return character != 0 && character < 0x100 && strchr(REFUSED_CHARACTERS, int(character)) != nullptr;
}

} // namespace

LRESULT CALLBACK PrefixEditFilter(HWND edit, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CHAR:
        if (IsRefusedCharacter(wParam))
            return 0;
        break;
    // No context menu, and no clipboard in either direction: a pasted text
    // would bypass the character filter.
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_COPY:
    case WM_PASTE: return 0;
    }
    return CallWindowProcA(SettingsDialog.prefixEditProc, edit, message, wParam, lParam);
}
