// The progress dialog of the real resource library under Wine: the
// percentage and the bar drawn column by column, cancelling, and the
// message pump.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "product_files.h"
#include "shared.h"
#include "test_support.h"
#include "ui.h"

namespace {

class ProgressDialogTest : public testing::Test {
protected:
    void SetUp() override
    {
        AppInstance = GetModuleHandleA(nullptr);
        ResourceLibrary = LoadLibraryExA((testsupport::ProgramDirectory() + RESOURCE_LIBRARY_FILE).c_str(), nullptr,
                                         LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(ResourceLibrary, nullptr);
    }
    void TearDown() override
    {
        CloseProgress();
    }
};

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
    ProgressRequest request = {"Velmora", "Scanning", 1, 1, 1000};
    ASSERT_EQ(ShowProgress(&request), 1);
    // The bar's width is the control's less a one-pixel edge on either side;
    // only the columns inside the control's client area can be seen.
    RECT rect = {}, client = {};
    GetWindowRect(GetDlgItem(ProgressDialogWindow, IDC_PROGRESS_BAR), &rect);
    GetClientRect(GetDlgItem(ProgressDialogWindow, IDC_PROGRESS_BAR), &client);
    const int width = rect.right - rect.left - 2, seen = client.right < width ? client.right : width;
    const COLORREF unfilled = BarPixel(0);
    for (int step = 1; step <= 5; ++step) { // the fifth overshoots the total
        int quarters = step < 4 ? step : 4;
        Sleep(2 * PROGRESS_REFRESH_MS); // past the refresh interval, whatever the tick's grain
        EXPECT_EQ(StepProgress(250), 0);
        char label[32];
        GetDlgItemTextA(ProgressDialogWindow, IDC_PROGRESS_PERCENT, label, sizeof label);
        EXPECT_EQ(std::string(label), std::to_string(25 * quarters) + "%");
        int filled = width * quarters / 4;
        EXPECT_EQ(GetBValue(BarPixel((filled < seen ? filled : seen) - 1)), 255) << step;
        EXPECT_TRUE(filled >= seen || BarPixel(filled) == unfilled) << step;
    }
    // From (200, 200, 255) at the left edge to pure blue, reached at 200/255
    // of the width and kept from there on.
    int wrong = 0;
    for (int x = 0; x < seen; ++x) {
        int shade = 200 - x * 255 / width;
        wrong += BarPixel(x) != (shade > 0 ? RGB(shade, shade, 255) : RGB(0, 0, 255));
    }
    EXPECT_EQ(wrong, 0);
}

// A window dragged over the dialog and away leaves the bar as it was. Wine
// keeps each window's pixels in a surface of its own and may ask for no
// repaint when the cover goes, so the invalidation Windows makes then is
// made here as well.
TEST_F(ProgressDialogTest, AnUncoveredBarShowsItsProgressAgain)
{
    ProgressRequest request = {"Velmora", "Scanning", 1, 1, 100};
    ASSERT_EQ(ShowProgress(&request), 1);
    EXPECT_EQ(StepProgress(50), 0);
    std::vector<COLORREF> shown;
    for (int x = 0; x < 100; ++x)
        shown.push_back(BarPixel(x));
    ASSERT_NE(shown[0], shown[99]) << "half the bar is filled";
    RECT area;
    GetWindowRect(ProgressDialogWindow, &area);
    HWND cover =
        CreateWindowExA(WS_EX_TOPMOST, "Static", "", WS_POPUP | WS_VISIBLE | SS_BLACKRECT, area.left, area.top,
                        area.right - area.left, area.bottom - area.top, nullptr, nullptr, AppInstance, nullptr);
    ASSERT_NE(cover, nullptr);
    UpdateWindow(cover);
    DestroyWindow(cover);
    RedrawWindow(ProgressDialogWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    for (int x = 0; x < 100; ++x)
        ASSERT_EQ(BarPixel(x), shown[x]) << "column " << x;
}

TEST_F(ProgressDialogTest, EscapeCancelsOnlyWhenOfferedAndStaysReported)
{
    for (int offered : {0, 1}) {
        ProgressRequest request = {"Velmora", "Scanning", offered, 1, 100};
        ASSERT_EQ(ShowProgress(&request), 1);
        PostMessageA(ProgressDialogWindow, WM_KEYDOWN, VK_ESCAPE, 0);
        EXPECT_EQ(StepProgress(1) + StepProgress(1), 2 * offered) << "a cancel stays reported";
        EXPECT_NE(ProgressDialogWindow, nullptr) << "cancelling never closes the dialog";
        CloseProgress();
        EXPECT_EQ(ProgressCancelled, 0);
    }
}

// The step empties the thread's queue, with or without a dialog to show; a
// quit posted meanwhile (the tray window's end) must still reach the loop
// that waits for it.
TEST_F(ProgressDialogTest, StepsPumpTheQueueButLeaveTheQuitMessage)
{
    const HMODULE resources = ResourceLibrary;
    for (HMODULE library : {resources, GetModuleHandleA(nullptr)}) { // the second has no dialog template
        ResourceLibrary = library;
        ProgressRequest request = {"Velmora", "Scanning", 1, 1, 10};
        EXPECT_EQ(ShowProgress(&request), library == resources ? 1 : 0);
        PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
        EXPECT_EQ(StepProgress(1), 0);
        MSG message = {};
        EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_APP, WM_APP, PM_REMOVE)) << "the queue was not pumped";
        PostQuitMessage(7);
        Sleep(2 * PROGRESS_REFRESH_MS);
        EXPECT_EQ(StepProgress(1), 0);
        ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit was swallowed";
        EXPECT_EQ(message.wParam, WPARAM(7));
        CloseProgress();
    }
}

} // namespace
