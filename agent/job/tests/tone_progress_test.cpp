// The tone pass behind the real progress dialog of VelmoraRes.dll: while the
// rows are processed the dialog shows the tone message under the agent's
// title and the thread's other windows keep receiving their messages; once
// the pass ends the dialog is gone.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "resource_ids.h"
#include "shared.h"
#include "test_support.h"
#include "tone.h"
#include "tone_test_bitmaps.h"
#include "ui.h"

namespace {

// What a window of the agent saw of the progress dialog when one of its
// messages was dispatched from inside the pass.
struct Observation {
    int calls;
    bool dialogVisible;
    std::string caption;
    std::string text;
};
Observation Seen;

const UINT LOOK_AT_PROGRESS = WM_APP + 1;

LRESULT CALLBACK ObserverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != LOOK_AT_PROGRESS)
        return DefWindowProcA(window, message, wParam, lParam);
    ++Seen.calls;
    HWND dialog = ProgressDialogWindow;
    Seen.dialogVisible = dialog && IsWindowVisible(dialog);
    char text[PATH_CAPACITY] = "";
    if (dialog) {
        GetWindowTextA(dialog, text, sizeof text);
        Seen.caption = text;
        GetDlgItemTextA(dialog, IDC_PROGRESS_TEXT, text, sizeof text);
        Seen.text = text;
    }
    return 0;
}

TEST(ToneProgress, DialogShowsTheToneMessageWhileRowsArePassed)
{
    std::string library = testsupport::ProgramDirectory() + "VelmoraRes.dll";
    ResourceLibrary = LoadLibraryA(library.c_str());
    ASSERT_NE(ResourceLibrary, nullptr) << library;
    AppInstance = GetModuleHandleA(nullptr);
    ASSERT_GT(LoadStringA(ResourceLibrary, IDS_APP_TITLE, AppTitle, sizeof AppTitle), 0);
    char toneText[PATH_CAPACITY];
    ASSERT_GT(LoadStringA(ResourceLibrary, IDS_PROGRESS_TONE, toneText, sizeof toneText), 0);

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ObserverProc;
    windowClass.hInstance = AppInstance;
    windowClass.lpszClassName = "ToneProgressObserver";
    ASSERT_TRUE(RegisterClassA(&windowClass));
    HWND observer = CreateWindowA("ToneProgressObserver", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  AppInstance, nullptr);
    ASSERT_NE(observer, nullptr);

    std::string folder = testsupport::MakeScratchFolder("tone-progress");
    std::string path = folder + "\\page.bmp";
    ASSERT_TRUE(testsupport::WriteWholeFile(path, tonetest::MakeGreyRamp(120, 350)));

    // Waiting before the pass starts, so only a progress step can dispatch it.
    PostMessageA(observer, LOOK_AT_PROGRESS, 0, 0);
    ScanJobSettings settings = {};
    settings.AutoCrop = 1;
    settings.AcquireType = SCAN_TYPE_GREY;
    settings.OutputType = SCAN_TYPE_LINE_ART;
    settings.Gamma = 140;
    EXPECT_EQ(PostProcessBitmap(settings, path.c_str()), 1);

    EXPECT_EQ(Seen.calls, 1);
    EXPECT_TRUE(Seen.dialogVisible);
    EXPECT_EQ(Seen.caption, AppTitle);
    EXPECT_EQ(Seen.text, toneText);
    EXPECT_EQ(ProgressDialogWindow, nullptr) << "the dialog outlived the pass";

    // And the pass itself ran to the end behind it.
    std::string after;
    ASSERT_TRUE(testsupport::ReadWholeFile(path, &after));
    EXPECT_EQ(after.size(), 62u + 16 * 350);

    DestroyWindow(observer);
    testsupport::RemoveTree(folder);
    FreeLibrary(ResourceLibrary);
    ResourceLibrary = nullptr;
}

} // namespace
