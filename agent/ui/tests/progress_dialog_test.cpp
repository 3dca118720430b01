// The progress dialog under Wine: the percentage and the bar drawn column by
// column and again after a cover, cancelling, and the message pump.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shared.h"
#include "test_support.h"
#include "ui.h"

namespace {

// Builds an in-memory dialog template (classic DLGTEMPLATE) control by control.
class TemplateBuilder {
public:
    TemplateBuilder(short width, short height)
    {
        DLGTEMPLATE header = {};
        header.style = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION;
        header.cx = width;
        header.cy = height;
        Append(&header, sizeof header);
        Word(0); // no menu
        Word(0); // standard class
        Word(0); // no title
        Word(8);
        Text(L"MS Shell Dlg");
    }
    void Control(WORD id, WORD classAtom, DWORD style, short x, short y, short cx, short cy, const wchar_t *text)
    {
        Align();
        DLGITEMTEMPLATE item = {};
        item.style = style | WS_CHILD | WS_VISIBLE;
        item.x = x;
        item.y = y;
        item.cx = cx;
        item.cy = cy;
        item.id = id;
        Append(&item, sizeof item);
        Word(0xFFFF);
        Word(classAtom);
        Text(text);
        Word(0); // no creation data
        ++reinterpret_cast<DLGTEMPLATE *>(bytes.data())->cdit;
    }
    const std::vector<BYTE> &Bytes() const { return bytes; }

private:
    void Append(const void *data, size_t size)
    {
        const BYTE *p = static_cast<const BYTE *>(data);
        bytes.insert(bytes.end(), p, p + size);
    }
    void Word(WORD value) { Append(&value, sizeof value); }
    void Text(const wchar_t *text) { Append(text, (wcslen(text) + 1) * sizeof(wchar_t)); }
    void Align()
    {
        while (bytes.size() % 4)
            bytes.push_back(0);
    }
    std::vector<BYTE> bytes;
};

const WORD BUTTON = 0x0080, STATIC = 0x0082;

INT_PTR CALLBACK ProbeProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

std::vector<BYTE> ProgressTemplate(short barWidth = 60)
{
    TemplateBuilder builder(220, 120);
    builder.Control(IDC_PROGRESS_FRAME, BUTTON, BS_GROUPBOX, 4, 4, 200, 60, L"");
    builder.Control(IDC_PROGRESS_TEXT, STATIC, SS_LEFT, 10, 10, 150, 10, L"");
    // A sunken static has a one-pixel edge: its drawing area is two pixels
    // smaller than the control, as the bar's arithmetic expects.
    builder.Control(IDC_PROGRESS_BAR, STATIC, SS_SUNKEN, 10, 30, barWidth, 12, L"");
    builder.Control(IDC_PROGRESS_PERCENT, STATIC, SS_RIGHT, 150, 30, 30, 8, L"0%");
    builder.Control(IDC_PROGRESS_CANCEL, STATIC, SS_LEFT, 10, 60, 180, 10, L"");
    return builder.Bytes();
}

// Copies the bare resource library and writes the template in as dialog 115.
class ProgressDialogTest : public testing::Test {
protected:
    void SetUp() override
    {
        AppInstance = GetModuleHandleA(nullptr);
        folder = testsupport::MakeScratchFolder("progress");
        ASSERT_FALSE(folder.empty());
    }
    void TearDown() override
    {
        CloseProgress();
        if (ResourceLibrary)
            FreeLibrary(ResourceLibrary);
        ResourceLibrary = nullptr;
        testsupport::RemoveTree(folder);
    }
    void UseTemplate(const std::vector<BYTE> *dialogTemplate)
    {
        std::string library = folder + "\\res" + std::to_string(++copies) + ".dll";
        ASSERT_TRUE(CopyFileA((testsupport::ProgramDirectory() + "progress_test_res.dll").c_str(), library.c_str(), FALSE));
        if (dialogTemplate) {
            HANDLE update = BeginUpdateResourceA(library.c_str(), FALSE);
            ASSERT_NE(update, nullptr);
            ASSERT_TRUE(UpdateResourceA(update, (LPCSTR)RT_DIALOG, MAKEINTRESOURCEA(IDD_PROGRESS),
                                        MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), (void *)dialogTemplate->data(),
                                        (DWORD)dialogTemplate->size()));
            ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
        }
        if (ResourceLibrary)
            FreeLibrary(ResourceLibrary);
        ResourceLibrary = LoadLibraryExA(library.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(ResourceLibrary, nullptr);
    }

    static std::string Label()
    {
        char text[32] = "";
        GetDlgItemTextA(ProgressDialogWindow, IDC_PROGRESS_PERCENT, text, sizeof text);
        return text;
    }

    std::string folder;
    int copies = 0;
};

// The bar control whose drawing area is exactly 100 pixels wide: the
// template's width in dialog units is searched for, since pixels per dialog
// unit depend on the font.
std::vector<BYTE> TemplateWithHundredPixelBar(HINSTANCE instance)
{
    for (short units = 40; units < 120; ++units) {
        std::vector<BYTE> candidate = ProgressTemplate(units);
        HWND probe = CreateDialogIndirectParamA(instance, (LPCDLGTEMPLATEA)candidate.data(), nullptr, ProbeProc, 0);
        RECT rect = {};
        GetWindowRect(GetDlgItem(probe, IDC_PROGRESS_BAR), &rect);
        DestroyWindow(probe);
        if (rect.right - rect.left == 102)
            return candidate;
    }
    return {};
}

int PumpedMessages;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP)
        ++PumpedMessages;
    return DefWindowProcA(window, message, wParam, lParam);
}

COLORREF BarPixel(int x)
{
    HWND bar = GetDlgItem(ProgressDialogWindow, IDC_PROGRESS_BAR);
    HDC dc = GetDC(bar);
    COLORREF colour = GetPixel(dc, x, 2);
    ReleaseDC(bar, dc);
    return colour;
}

TEST_F(ProgressDialogTest, QuarterStepsFillLabelAndBar)
{
    std::vector<BYTE> dialogTemplate = TemplateWithHundredPixelBar(AppInstance);
    ASSERT_FALSE(dialogTemplate.empty()) << "no template width gives a 102-pixel bar";
    UseTemplate(&dialogTemplate);
    ProgressRequest request = {"Velmora", "Scanning", 1, 1, 1000};
    ASSERT_EQ(ShowProgress(&request), 1);
    const COLORREF unfilled = BarPixel(99);

    struct Step {
        const char *label;
        int lastFilled; // the last column drawn after the step
    } steps[] = {{"25%", 24}, {"50%", 49}, {"75%", 74}, {"100%", 99}};
    for (const Step &step : steps) {
        SCOPED_TRACE(step.label);
        Sleep(2 * PROGRESS_REFRESH_MS); // past the refresh interval, whatever the tick's grain
        EXPECT_EQ(StepProgress(250), 0);
        EXPECT_EQ(Label(), step.label);
        EXPECT_EQ(GetBValue(BarPixel(step.lastFilled)), 255);
        if (step.lastFilled < 99) {
            EXPECT_EQ(BarPixel(step.lastFilled + 1), unfilled);
        }
    }
    struct Column {
        int x, shade;
    } columns[] = {{0, 200}, {50, 73}, {78, 2}, {79, 0}, {99, 0}};
    for (const Column &column : columns)
        EXPECT_EQ(BarPixel(column.x), RGB(column.shade, column.shade, 255)) << "column " << column.x;

    // Overshooting the total keeps the label and the bar full.
    EXPECT_EQ(StepProgress(5000), 0);
    EXPECT_EQ(Label(), "100%");
    EXPECT_EQ(BarPixel(99), RGB(0, 0, 255));
}

TEST_F(ProgressDialogTest, AnUncoveredBarShowsItsProgressAgain)
{
    std::vector<BYTE> dialogTemplate = TemplateWithHundredPixelBar(AppInstance);
    ASSERT_FALSE(dialogTemplate.empty());
    UseTemplate(&dialogTemplate);
    ProgressRequest request = {"Velmora", "Scanning", 1, 1, 100};
    ASSERT_EQ(ShowProgress(&request), 1);
    EXPECT_EQ(StepProgress(50), 0);
    std::vector<COLORREF> shown;
    for (int x = 0; x < 100; ++x)
        shown.push_back(BarPixel(x));
    ASSERT_NE(shown[0], shown[99]) << "half the bar is filled";

    // A window over the dialog, then gone. Wine keeps each window's pixels
    // in a surface of its own and may ask for no repaint when the cover
    // goes, so the invalidation Windows makes then is made here as well.
    RECT area;
    GetWindowRect(ProgressDialogWindow, &area);
    HWND cover = CreateWindowExA(WS_EX_TOPMOST, "Static", "", WS_POPUP | WS_VISIBLE | SS_BLACKRECT, area.left,
                                 area.top, area.right - area.left, area.bottom - area.top, nullptr, nullptr,
                                 AppInstance, nullptr);
    ASSERT_NE(cover, nullptr);
    UpdateWindow(cover);
    DestroyWindow(cover);
    RedrawWindow(ProgressDialogWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    for (int x = 0; x < 100; ++x)
        ASSERT_EQ(BarPixel(x), shown[x]) << "column " << x;
}

TEST_F(ProgressDialogTest, EscapeCancelsOnlyWhenOfferedAndStaysReported)
{
    std::vector<BYTE> dialogTemplate = ProgressTemplate();
    UseTemplate(&dialogTemplate);
    struct Case {
        int showCancel, expected;
    } cases[] = {{0, 0}, {1, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "cancel offered " << c.showCancel);
        ProgressRequest request = {"Velmora", "Scanning", c.showCancel, 1, 100};
        ASSERT_EQ(ShowProgress(&request), 1);
        // A command from the cancel line itself is not a cancel.
        SendMessageA(ProgressDialogWindow, WM_COMMAND, MAKEWPARAM(IDC_PROGRESS_CANCEL, BN_CLICKED), 0);
        EXPECT_EQ(StepProgress(1), 0);
        PostMessageA(ProgressDialogWindow, WM_KEYDOWN, VK_ESCAPE, 0);
        Sleep(2 * PROGRESS_REFRESH_MS); // past the refresh interval, whatever the tick's grain
        EXPECT_EQ(StepProgress(1), c.expected);
        EXPECT_EQ(StepProgress(1), c.expected) << "a cancel stays reported";
        EXPECT_NE(ProgressDialogWindow, nullptr) << "cancelling never closes the dialog";
        CloseProgress();
        EXPECT_EQ(ProgressCancelled, 0);
        EXPECT_EQ(ProgressDialogWindow, nullptr);
    }
}

TEST_F(ProgressDialogTest, QuitMessageOutlivesTheStep)
{
    // The step empties the thread's queue; a quit posted meanwhile (the tray
    // window's end) must still reach the loop that waits for it, with and
    // without a dialog.
    std::vector<BYTE> dialogTemplate = ProgressTemplate();
    const struct {
        const std::vector<BYTE> *dialogTemplate;
        int exitCode;
    } cases[] = {{&dialogTemplate, 7}, {nullptr, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "with dialog " << (c.dialogTemplate != nullptr));
        UseTemplate(c.dialogTemplate);
        ProgressRequest request = {"Velmora", "Scanning", 1, 1, 10};
        ShowProgress(&request);
        PostQuitMessage(c.exitCode);
        EXPECT_EQ(StepProgress(1), 0);
        MSG message = {};
        ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit was swallowed";
        EXPECT_EQ(message.wParam, (WPARAM)c.exitCode);
        CloseProgress();
    }
}

TEST_F(ProgressDialogTest, WithoutTemplateNothingIsDrawnButMessagesFlow)
{
    UseTemplate(nullptr);
    ProgressRequest request = {"Velmora", "Scanning", 1, 1, 10};
    EXPECT_EQ(ShowProgress(&request), 0);
    EXPECT_EQ(ProgressDialogWindow, nullptr);

    // The steps still pump the thread's queue.
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = CountingProc;
    windowClass.hInstance = AppInstance;
    windowClass.lpszClassName = "VelmoraPumpProbe";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "VelmoraPumpProbe", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, AppInstance,
                                  nullptr);
    ASSERT_NE(window, nullptr);
    PumpedMessages = 0;
    PostMessageA(window, WM_APP, 0, 0);
    PostMessageA(window, WM_APP, 0, 0);
    EXPECT_EQ(StepProgress(20), 0);
    EXPECT_EQ(PumpedMessages, 2);
    DestroyWindow(window);
    CloseProgress();
}

} // namespace
