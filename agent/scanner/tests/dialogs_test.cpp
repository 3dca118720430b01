// The insert-paper and progress dialogs driven from a second thread as a
// user would: found by class and caption, measured against the layout rules,
// answered by feeding a sheet, Cancel, Esc or the close box.
#include "scanner_test_support.h"

#include <functional>
#include <thread>

#include "resource_ids.h"
#include "shared.h"
#include "test_support.h"

using scannertest::TracedCommands;

namespace {

HWND WaitForDialog(DWORD timeoutMs = 10000)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
        HWND dialog = FindWindowA("#32770", AppTitle);
        if (dialog && IsWindowVisible(dialog))
            return dialog;
        Sleep(20);
    }
    return nullptr;
}

// A control's rectangle in its dialog's client coordinates.
RECT ClientRectOf(HWND dialog, int id)
{
    RECT rect = {};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    MapWindowPoints(nullptr, dialog, (POINT *)&rect, 2);
    return rect;
}

struct PaperDialogSeen {
    bool found = false;
    RECT window = {}, picture = {}, text = {}, button = {};
    int lineHeight = 0;
    char caption[PATH_CAPACITY] = "";
};

PaperDialogSeen Measure(HWND dialog)
{
    PaperDialogSeen seen;
    seen.found = true;
    GetWindowRect(dialog, &seen.window);
    seen.picture = ClientRectOf(dialog, IDC_INSERT_PAPER_PICTURE);
    seen.text = ClientRectOf(dialog, IDC_INSERT_PAPER_TEXT);
    seen.button = ClientRectOf(dialog, IDCANCEL);
    GetWindowTextA(dialog, seen.caption, sizeof seen.caption);
    HWND label = GetDlgItem(dialog, IDC_INSERT_PAPER_TEXT);
    HDC dc = GetDC(label);
    HGDIOBJ previous = SelectObject(dc, (HFONT)SendMessageA(label, WM_GETFONT, 0, 0));
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc, &metrics);
    seen.lineHeight = metrics.tmHeight + metrics.tmExternalLeading;
    SelectObject(dc, previous);
    ReleaseDC(label, dc);
    return seen;
}

class DialogsTest : public scannertest::DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        ASSERT_TRUE(LoadResources()) << "VelmoraRes.dll is missing from the program folder";
        sheet_ = folder_ + "\\sheet.bmp";
        ASSERT_TRUE(scannertest::WriteSheetPicture(sheet_, 60, 40));
    }
    std::string sheet_;
};

TEST_F(DialogsTest, InsertPaperLayoutAndAnswers)
{
    struct Case {
        const char *name;
        std::function<void(HWND)> answer;
        int result;
        bool taken;
    } cases[] = {
        {"a sheet is fed", [&](HWND) { feeder::QueueSheet(sheet_); }, 1, true},
        {"Cancel", [](HWND dialog) { PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0); }, 0, false},
        {"Esc", [](HWND dialog) { PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0); }, 0, false},
        {"close box", [](HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(feeder::Reset());
        ASSERT_TRUE(feeder::ClearTrace());
        PaperDialogSeen seen;
        std::thread user([&] {
            HWND dialog = WaitForDialog();
            if (!dialog)
                return;
            seen = Measure(dialog);
            Sleep(300); // at least one paper poll finds the feeder empty
            c.answer(dialog);
        });
        int result = WaitForPaper();
        user.join();
        ASSERT_TRUE(seen.found) << "no dialog appeared";
        EXPECT_EQ(result, c.result);

        // Layout: fixed places, text as tall as its lines, button below it,
        // the dialog centred on the screen.
        int textHeight = seen.text.bottom - seen.text.top;
        int buttonWidth = seen.button.right - seen.button.left;
        int buttonHeight = seen.button.bottom - seen.button.top;
        int height = GetSystemMetrics(SM_CYCAPTION) + buttonHeight + textHeight + 156;
        EXPECT_EQ(seen.picture.left, 15);
        EXPECT_EQ(seen.picture.top, 15);
        EXPECT_EQ(seen.picture.right - seen.picture.left, 339);
        EXPECT_EQ(seen.picture.bottom - seen.picture.top, 96);
        EXPECT_EQ(seen.text.left, 20);
        EXPECT_EQ(seen.text.top, 126);
        EXPECT_EQ(seen.text.right - seen.text.left, 330);
        ASSERT_GT(seen.lineHeight, 0);
        EXPECT_GT(textHeight, 0);
        EXPECT_EQ(textHeight % seen.lineHeight, 0) << "whole lines of the measured text";
        EXPECT_EQ(seen.button.left, 184 - buttonWidth / 2);
        EXPECT_EQ(seen.button.top, textHeight + 141);
        EXPECT_EQ(seen.window.right - seen.window.left, 374);
        EXPECT_EQ(seen.window.bottom - seen.window.top, height);
        EXPECT_EQ(seen.window.left, (GetSystemMetrics(SM_CXSCREEN) - 374) / 2);
        EXPECT_EQ(seen.window.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
        EXPECT_STREQ(seen.caption, AppTitle);

        // Commands: one bracket; polls while open; the sheet taken only when fed.
        std::string commands = TracedCommands();
        std::string opening = "SC_ACQUIRE SC_PAPER_PRESENT SC_PAPER_PRESENT";
        EXPECT_EQ(commands.substr(0, opening.size()), opening) << commands;
        std::string closing = c.taken ? "SC_PAPER_PRESENT SC_TAKE_PAPER SC_RELEASE" : "SC_PAPER_PRESENT SC_RELEASE";
        ASSERT_GE(commands.size(), closing.size());
        EXPECT_EQ(commands.substr(commands.size() - closing.size()), closing) << commands;
        EXPECT_EQ(commands.find("SC_TAKE_PAPER") != std::string::npos, c.taken) << commands;
        EXPECT_EQ(feeder::WaitingSheets().size(), 0u);
        EXPECT_EQ(FindWindowA("#32770", AppTitle), nullptr) << "the dialog is gone";
    }
}

TEST_F(DialogsTest, SheetFedWhileTheDialogIsOpenIsScanned)
{
    std::string page = folder_ + "\\page.bmp";
    std::thread user([&] {
        if (WaitForDialog())
            feeder::QueueSheet(sheet_);
    });
    int result = AcquireToBitmap(scannertest::MakeSettings(SCAN_TYPE_COLOUR, 300, 300, 100), page.c_str());
    user.join();
    ASSERT_EQ(result, 1);
    std::string commands = TracedCommands();
    std::string scan = "SC_TAKE_PAPER SC_RELEASE SC_ACQUIRE SC_GET_GEOMETRY";
    EXPECT_NE(commands.find(scan), std::string::npos) << commands;
    scannertest::AcquiredFile file;
    ASSERT_TRUE(scannertest::ReadAcquired(page, &file));
    EXPECT_EQ(file.height, 100u);
    feeder::RenderedPage rendered;
    ASSERT_TRUE(feeder::RenderCurrentPage(&rendered));
    EXPECT_TRUE(scannertest::RowsTopFirst(file, rendered.LineBytes) == rendered.Rows);
}

TEST_F(DialogsTest, CancelledPageIsDeleted)
{
    // A slow device, so the page is still running when Esc arrives.
    ASSERT_TRUE(feeder::SetSyntheticPage(true));
    ASSERT_TRUE(feeder::SetLinesPerSecond(150));
    ASSERT_TRUE(feeder::SetTransferSize(200 * 10));
    ASSERT_TRUE(feeder::ClearTrace());
    std::string page = folder_ + "\\page.bmp";
    bool found = false;
    std::thread user([&] {
        HWND progress = WaitForDialog();
        found = progress != nullptr;
        if (found)
            PostMessageA(progress, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    int result = AcquireToBitmap(scannertest::MakeSettings(SCAN_TYPE_GREY, 600, 450, 100), page.c_str());
    user.join();
    ASSERT_TRUE(found) << "no progress dialog appeared";
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(testsupport::FileExists(page)) << "a cancelled page leaves no file";
    std::string commands = TracedCommands();
    std::string closing = "SC_READ SC_STOP SC_END_PAGE SC_RELEASE";
    ASSERT_GE(commands.size(), closing.size());
    EXPECT_EQ(commands.substr(commands.size() - closing.size()), closing) << commands;
    size_t reads = 0;
    for (size_t at = commands.find("SC_READ"); at != std::string::npos; at = commands.find("SC_READ", at + 1))
        reads++;
    EXPECT_LT(reads, 15u) << "the page stopped before its 15 blocks";
    EXPECT_EQ(FindWindowA("#32770", AppTitle), nullptr) << "the progress dialog is closed";
}

} // namespace
