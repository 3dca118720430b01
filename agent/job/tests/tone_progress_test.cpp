// The tone pass behind the real progress dialog of VelmoraRes.dll: while rows
// are processed the dialog shows the tone message under the agent's title
// and the thread's other windows still get their messages; afterwards the
// dialog is gone.
#include <windows.h>
#include <gtest/gtest.h>

#include "resource_ids.h"
#include "shared.h"
#include "test_support.h"
#include "tone.h"
#include "tone_test_bitmaps.h"
#include "ui.h"

namespace {

// What a window of the agent saw when its message was dispatched mid-pass.
struct {
    int calls;
    bool visible;
    char caption[PATH_CAPACITY], text[PATH_CAPACITY];
} Seen;

LRESULT CALLBACK ObserverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_APP)
        return DefWindowProcA(window, message, wParam, lParam);
    ++Seen.calls;
    Seen.visible = ProgressDialogWindow && IsWindowVisible(ProgressDialogWindow);
    GetWindowTextA(ProgressDialogWindow, Seen.caption, sizeof Seen.caption);
    GetDlgItemTextA(ProgressDialogWindow, IDC_PROGRESS_TEXT, Seen.text, sizeof Seen.text);
    return 0;
}

TEST(ToneProgress, DialogShowsTheToneMessageWhileRowsArePassed)
{
    ResourceLibrary = LoadLibraryA((testsupport::ProgramDirectory() + "VelmoraRes.dll").c_str());
    ASSERT_NE(ResourceLibrary, nullptr);
    AppInstance = GetModuleHandleA(nullptr);
    char toneText[PATH_CAPACITY];
    ASSERT_GT(LoadStringA(ResourceLibrary, IDS_APP_TITLE, AppTitle, sizeof AppTitle), 0);
    ASSERT_GT(LoadStringA(ResourceLibrary, IDS_PROGRESS_TONE, toneText, sizeof toneText), 0);

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ObserverProc;
    windowClass.hInstance = AppInstance;
    windowClass.lpszClassName = "ToneProgressObserver";
    RegisterClassA(&windowClass);
    HWND observer = CreateWindowA(windowClass.lpszClassName, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, AppInstance, nullptr);
    std::string folder = testsupport::MakeScratchFolder("tone-progress"), path = folder + "\\page.bmp", after;
    ASSERT_TRUE(testsupport::WriteWholeFile(path, tonetest::MakeGreyRamp(120, 350)));

    // Waiting before the pass starts, so only a progress step can dispatch it.
    PostMessageA(observer, WM_APP, 0, 0);
    ScanJobSettings settings = {};
    settings.AutoCrop = 1;
    settings.AcquireType = SCAN_TYPE_GREY;
    settings.OutputType = SCAN_TYPE_LINE_ART;
    settings.Gamma = 140;
    EXPECT_EQ(PostProcessBitmap(settings, path.c_str()), 1);

    EXPECT_EQ(Seen.calls, 1);
    EXPECT_TRUE(Seen.visible);
    EXPECT_STREQ(Seen.caption, AppTitle);
    EXPECT_STREQ(Seen.text, toneText);
    EXPECT_EQ(ProgressDialogWindow, nullptr) << "the dialog outlived the pass";
    ASSERT_TRUE(testsupport::ReadWholeFile(path, &after));
    EXPECT_EQ(after.size(), 62u + 16 * 350) << "the pass did not run to the end";

    DestroyWindow(observer);
    testsupport::RemoveTree(folder);
}

} // namespace
