// The dialog templates as real dialogs under the window manager: every
// control the agent drives is there with the right kind, nothing overlaps,
// access keys are unique, and the message and icon helpers show what the
// library holds.
#include "library_fixture.h"

#include <commctrl.h>

#include <cctype>
#include <cstring>
#include <thread>
#include <vector>

#include "resource_ids.h"
#include "ui.h"

namespace {

INT_PTR CALLBACK QuietProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

enum Kind { STATIC_TEXT, PICTURE, BUTTON, CHECK_BOX, COMBO_LIST, SLIDER, EDIT };

const struct {
    WORD dialog;
    int control;
    Kind kind;
} CONTROLS[] = {
    {IDD_SETTINGS, IDOK, BUTTON},
    {IDD_SETTINGS, IDC_SETTINGS_SCAN_MODE, COMBO_LIST},
    {IDD_SETTINGS, IDC_SETTINGS_PAPER_SIZE, COMBO_LIST},
    {IDD_SETTINGS, IDC_SETTINGS_RESOLUTION, COMBO_LIST},
    {IDD_SETTINGS, IDC_SETTINGS_FORMAT, COMBO_LIST},
    {IDD_SETTINGS, IDC_SETTINGS_BRIGHTNESS, SLIDER},
    {IDD_SETTINGS, IDC_SETTINGS_CONTRAST, SLIDER},
    {IDD_SETTINGS, IDC_SETTINGS_GAMMA, SLIDER},
    {IDD_SETTINGS, IDC_SETTINGS_BRIGHTNESS_VALUE, STATIC_TEXT},
    {IDD_SETTINGS, IDC_SETTINGS_CONTRAST_VALUE, STATIC_TEXT},
    {IDD_SETTINGS, IDC_SETTINGS_GAMMA_VALUE, STATIC_TEXT},
    {IDD_SETTINGS, IDC_SETTINGS_AUTOCROP, CHECK_BOX},
    {IDD_SETTINGS, IDC_SETTINGS_AUTODESKEW, CHECK_BOX},
    {IDD_SETTINGS, IDC_SETTINGS_CONTINUOUS, CHECK_BOX},
    {IDD_SETTINGS, IDC_SETTINGS_ROTATE, COMBO_LIST},
    {IDD_SETTINGS, IDC_SETTINGS_SAVE_PATH, STATIC_TEXT},
    {IDD_SETTINGS, IDC_SETTINGS_BROWSE, BUTTON},
    {IDD_SETTINGS, IDC_SETTINGS_PREFIX, EDIT},
    {IDD_WARNING, IDC_WARNING_PICTURE_1, PICTURE},
    {IDD_WARNING, IDC_WARNING_PICTURE_2, PICTURE},
    {IDD_WARNING, IDC_WARNING_TEXT, STATIC_TEXT},
    {IDD_WARNING, IDC_WARNING_PICTURE_3, PICTURE},
    {IDD_WARNING, IDC_WARNING_CHECKBOX, CHECK_BOX},
    {IDD_WARNING, IDOK, BUTTON},
    {IDD_WAIT_PROMPT, IDC_WAIT_PROMPT_FRAME, STATIC_TEXT},
    {IDD_WAIT_PROMPT, IDC_WAIT_PROMPT_TEXT, STATIC_TEXT},
    {IDD_WAIT_PROMPT, IDOK, BUTTON},
    {IDD_INSERT_PAPER, IDC_INSERT_PAPER_PICTURE, PICTURE},
    {IDD_INSERT_PAPER, IDC_INSERT_PAPER_TEXT, STATIC_TEXT},
    {IDD_INSERT_PAPER, IDCANCEL, BUTTON},
    {IDD_PROGRESS, IDC_PROGRESS_FRAME, STATIC_TEXT},
    {IDD_PROGRESS, IDC_PROGRESS_TEXT, STATIC_TEXT},
    {IDD_PROGRESS, IDC_PROGRESS_BAR, STATIC_TEXT},
    {IDD_PROGRESS, IDC_PROGRESS_PERCENT, STATIC_TEXT},
    {IDD_PROGRESS, IDC_PROGRESS_CANCEL, STATIC_TEXT},
};

bool HasKind(HWND control, Kind kind)
{
    char name[64] = "";
    GetClassNameA(control, name, sizeof name);
    LONG style = GetWindowLongA(control, GWL_STYLE);
    switch (kind) {
    case STATIC_TEXT:
        return lstrcmpiA(name, "Static") == 0 && (style & SS_TYPEMASK) != SS_OWNERDRAW;
    case PICTURE:
        // Painted by the dialog; a static that draws itself would wipe it out.
        return lstrcmpiA(name, "Static") == 0 && (style & SS_TYPEMASK) == SS_OWNERDRAW;
    case BUTTON:
        return lstrcmpiA(name, "Button") == 0 && (style & BS_TYPEMASK) <= BS_DEFPUSHBUTTON;
    case CHECK_BOX:
        // The agent reads the state with BM_GETCHECK and never ticks it itself on a click.
        return lstrcmpiA(name, "Button") == 0 && (style & BS_TYPEMASK) == BS_AUTOCHECKBOX;
    case COMBO_LIST:
        return lstrcmpiA(name, "ComboBox") == 0 && (style & 3) == CBS_DROPDOWNLIST;
    case SLIDER:
        return lstrcmpiA(name, TRACKBAR_CLASSA) == 0;
    case EDIT:
        return lstrcmpiA(name, "Edit") == 0;
    }
    return false;
}

class Dialog {
public:
    explicit Dialog(WORD id)
    {
        LPCDLGTEMPLATEA found = LoadDialogTemplate(id);
        window_ = found ? CreateDialogIndirectParamA(AppInstance, found, nullptr, QuietProc, 0) : nullptr;
    }
    ~Dialog()
    {
        if (window_)
            DestroyWindow(window_);
    }
    HWND Window() const { return window_; }
    // A control's rectangle in the dialog's client coordinates.
    RECT ControlRect(int id) const
    {
        RECT rect = {};
        HWND control = GetDlgItem(window_, id);
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, window_, (POINT *)&rect, 2);
        return rect;
    }
    int Width(int id) const { return ControlRect(id).right - ControlRect(id).left; }
    int Height(int id) const { return ControlRect(id).bottom - ControlRect(id).top; }

private:
    HWND window_;
};

} // namespace

class ResourceDialogsTest : public LibraryTest {
protected:
    static void SetUpTestSuite()
    {
        LibraryTest::SetUpTestSuite();
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
    }
};

TEST_F(ResourceDialogsTest, EveryControlTheAgentDrivesIsThereWithItsKind)
{
    for (const auto &c : CONTROLS) {
        Dialog dialog(c.dialog);
        ASSERT_NE(dialog.Window(), nullptr) << "template " << c.dialog;
        HWND control = GetDlgItem(dialog.Window(), c.control);
        ASSERT_NE(control, nullptr) << "template " << c.dialog << " control " << c.control;
        EXPECT_TRUE(HasKind(control, c.kind)) << "template " << c.dialog << " control " << c.control;
    }
}

namespace {

// The letter after a single '&' in a control's or item's text, or 0.
char Mnemonic(const char *text)
{
    for (const char *p = text; *p; p++)
        if (*p == '&') {
            if (p[1] != '&')
                return (char)tolower((unsigned char)p[1]);
            p++;
        }
    return 0;
}

} // namespace

TEST_F(ResourceDialogsTest, AccessKeysAreUniqueWithinEachDialogAndTheMenu)
{
    // Two controls sharing an Alt key make it jump between them instead of
    // reaching the one the user means.
    for (WORD id = IDD_SETTINGS; id <= IDD_PROGRESS; id++) {
        SCOPED_TRACE(id);
        Dialog dialog(id);
        ASSERT_NE(dialog.Window(), nullptr);
        std::string seen;
        for (HWND child = GetWindow(dialog.Window(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            char text[256] = "";
            GetWindowTextA(child, text, sizeof text);
            char key = Mnemonic(text);
            if (!key)
                continue;
            EXPECT_EQ(seen.find(key), std::string::npos) << "'" << key << "' again in " << text;
            seen += key;
        }
    }

    HMENU menu = LoadMenuA(ResourceLibrary, MAKEINTRESOURCEA(IDM_TRAY));
    ASSERT_NE(menu, nullptr);
    HMENU tray = GetSubMenu(menu, 0);
    std::string seen;
    for (int position = 0; position < GetMenuItemCount(tray); position++) {
        char text[64] = "";
        GetMenuStringA(tray, position, text, sizeof text, MF_BYPOSITION);
        char key = Mnemonic(text);
        if (!key)
            continue;
        EXPECT_EQ(seen.find(key), std::string::npos) << "'" << key << "' again in " << text;
        seen += key;
    }
    DestroyMenu(menu);
}

namespace {

struct SeenBox {
    HWND window;
    char caption[300];
    char text[1100];
};

BOOL CALLBACK FindOwnBox(HWND window, LPARAM param)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char name[32] = "";
    GetClassNameA(window, name, sizeof name);
    if (process != GetCurrentProcessId() || std::strcmp(name, "#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    ((SeenBox *)param)->window = window;
    return FALSE;
}

// Waits for this process's message box, reads it and presses `button`.
void AnswerBox(SeenBox *seen, int button)
{
    for (int tries = 0; tries < 500 && !seen->window; tries++) {
        EnumWindows(FindOwnBox, (LPARAM)seen);
        if (!seen->window)
            Sleep(20);
    }
    if (!seen->window)
        return;
    GetWindowTextA(seen->window, seen->caption, sizeof seen->caption);
    // The message box keeps its text in the static with id 0xFFFF.
    GetDlgItemTextA(seen->window, 0xFFFF, seen->text, sizeof seen->text);
    PostMessageA(seen->window, WM_COMMAND, button, 0);
}

} // namespace

TEST_F(ResourceDialogsTest, ResourceMessageShowsTheStringUnderTheAppTitle)
{
    const struct {
        UINT id;
        UINT flags;
        int button;
        const char *expectedText; // null: the library's string
    } cases[] = {
        {IDS_EXIT_QUESTION, MB_YESNO, IDNO, nullptr},
        {IDS_RESCAN_NOTICE, 0, IDOK, nullptr},
        {IDS_CALIBRATION_NOTICE, MB_ICONINFORMATION, IDOK, nullptr},
        {999, MB_OK, IDOK, ""}, // a missing string still shows a box, empty
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.id);
        SeenBox seen = {};
        std::thread driver(AnswerBox, &seen, c.button);
        int answer = ShowResourceMessage(nullptr, c.id, c.flags);
        driver.join();
        ASSERT_NE(seen.window, nullptr) << "no message box appeared";
        EXPECT_EQ(answer, c.button);
        EXPECT_STREQ(seen.caption, AppTitle);
        std::string expected = c.expectedText ? c.expectedText : LoadText(c.id);
        EXPECT_EQ(std::string(seen.text), expected);
    }
}

TEST_F(ResourceDialogsTest, DialogIconHasBothSizes)
{
    Dialog dialog(IDD_WARNING);
    ASSERT_NE(dialog.Window(), nullptr);
    SetDialogIcon(dialog.Window());
    const struct {
        WPARAM slot;
        int metric;
    } slots[] = {{ICON_SMALL, SM_CXSMICON}, {ICON_BIG, SM_CXICON}};
    for (const auto &s : slots) {
        HICON icon = (HICON)SendMessageA(dialog.Window(), WM_GETICON, s.slot, 0);
        ASSERT_NE(icon, nullptr) << s.slot;
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP mask = {};
        GetObjectA(info.hbmMask, sizeof mask, &mask);
        EXPECT_EQ(mask.bmWidth, GetSystemMetrics(s.metric)) << s.slot;
        DeleteObject(info.hbmMask);
        if (info.hbmColor)
            DeleteObject(info.hbmColor);
    }
}
