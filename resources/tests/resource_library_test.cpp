// The built VelmoraRes.dll as the agent loads it: every string fits the
// buffer its reader has, and no two controls of a dialog (nor two items of
// the tray menu) share an access key, which would make Alt+key jump between
// them instead of reaching the one the user means.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "product_files.h"
#include "resource_ids.h"
#include "shared.h"
#include "test_support.h"
#include "ui.h"

namespace {

INT_PTR CALLBACK QuietProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

// Fails for an access key (the letter after a single '&') already in `seen`.
void ExpectNewAccessKey(const std::string &text, std::string *seen)
{
    size_t at = text.find('&');
    while (at != std::string::npos && text.compare(at, 2, "&&") == 0)
        at = text.find('&', at + 2);
    if (at == std::string::npos || at + 1 == text.size())
        return;
    char key = (char)tolower((unsigned char)text[at + 1]);
    EXPECT_EQ(seen->find(key), std::string::npos) << "'" << key << "' again in " << text;
    *seen += key;
}

TEST(ResourceLibrary, StringsFitTheirReadersAndAccessKeysAreUnique)
{
    AppInstance = GetModuleHandleA(nullptr);
    ResourceLibrary = LoadLibraryA((testsupport::ProgramDirectory() + RESOURCE_LIBRARY_FILE).c_str());
    ASSERT_NE(ResourceLibrary, nullptr) << "VelmoraRes.dll beside the test program";
    for (const ResourceStringReader &s : RESOURCE_STRING_READERS) {
        char text[4096] = "";
        int length = LoadStringA(ResourceLibrary, s.id, text, sizeof text);
        EXPECT_GT(length, 0) << "string " << s.id << " is missing";
        EXPECT_LT(length, s.capacity) << "string " << s.id << " is cut short: " << text;
    }

    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    size_t keys = 0;
    for (WORD id = IDD_SETTINGS; id <= IDD_PROGRESS; id++) {
        HWND dialog = CreateDialogIndirectParamA(AppInstance, LoadDialogTemplate(id), nullptr, QuietProc, 0);
        ASSERT_NE(dialog, nullptr) << "template " << id;
        std::string seen;
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            char text[256] = "";
            GetWindowTextA(child, text, sizeof text);
            ExpectNewAccessKey(text, &seen);
        }
        DestroyWindow(dialog);
        keys += seen.size();
    }
    EXPECT_GT(keys, 1u) << "the dialogs' controls carry access keys";
    HMENU menu = LoadMenuA(ResourceLibrary, MAKEINTRESOURCEA(IDM_TRAY));
    std::string seen;
    for (int position = 0; position < GetMenuItemCount(GetSubMenu(menu, 0)); position++) {
        char text[64] = "";
        GetMenuStringA(GetSubMenu(menu, 0), position, text, sizeof text, MF_BYPOSITION);
        ExpectNewAccessKey(text, &seen);
    }
    EXPECT_GT(seen.size(), 1u) << "the menu's items carry access keys";
    DestroyMenu(menu);
    FreeLibrary(ResourceLibrary);
}

} // namespace
