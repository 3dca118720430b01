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

HWND WaitForDialog()
{
    for (int waited = 0; waited < 10000; waited += 20, Sleep(20)) {
        HWND dialog = FindWindowA("#32770", AppTitle);
        if (dialog && IsWindowVisible(dialog))
            return dialog;
    }
    return nullptr;
}

// A control's rectangle in its dialog's client coordinates.
RECT Placed(HWND dialog, int id)
{
    RECT rect = {};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    MapWindowPoints(nullptr, dialog, (POINT *)&rect, 2);
    return rect;
}

bool EndsWith(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class DialogsTest : public scannertest::DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        ASSERT_TRUE(LoadResources()) << "VelmoraRes.dll is missing from the program folder";
    }
};

TEST_F(DialogsTest, InsertPaperLayoutAndAnswers)
{
    struct Case {
        const char *name;
        void (*answer)(HWND dialog, const std::string &sheet);
        int result;
    } cases[] = {
        // The 200 ms paper check sees the sheet and the scan starts.
        {"a sheet is fed", [](HWND, const std::string &sheet) { feeder::QueueSheet(sheet); }, 1},
        {"Cancel", [](HWND d, const std::string &) { PostMessageA(GetDlgItem(d, IDCANCEL), BM_CLICK, 0, 0); }, 0},
        {"Esc", [](HWND d, const std::string &) { PostMessageA(d, WM_KEYDOWN, VK_ESCAPE, 0); }, 0},
        {"close box", [](HWND d, const std::string &) { PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE_WINDOW, 0); }, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(feeder::Reset() && feeder::ClearTrace());
        DeleteFileA(page_.c_str());
        RECT window = {}, picture = {}, text = {}, button = {};
        TEXTMETRICA metrics = {};
        char caption[PATH_CAPACITY] = "";
        std::thread user([&] {
            HWND dialog = WaitForDialog();
            if (!dialog)
                return;
            GetWindowRect(dialog, &window);
            picture = Placed(dialog, IDC_INSERT_PAPER_PICTURE);
            text = Placed(dialog, IDC_INSERT_PAPER_TEXT);
            button = Placed(dialog, IDCANCEL);
            GetWindowTextA(dialog, caption, sizeof caption);
            HWND label = GetDlgItem(dialog, IDC_INSERT_PAPER_TEXT);
            HDC dc = GetDC(label);
            SelectObject(dc, (HFONT)SendMessageA(label, WM_GETFONT, 0, 0));
            GetTextMetricsA(dc, &metrics);
            ReleaseDC(label, dc);
            Sleep(300); // at least one paper check finds the feeder empty
            c.answer(dialog, sheet_);
        });
        int result = c.result ? AcquireToBitmap(scannertest::MakeSettings(SCAN_TYPE_GREY, 300, 300, 100), page_.c_str())
                              : WaitForPaper();
        user.join();
        ASSERT_STREQ(caption, AppTitle) << "no dialog appeared";
        EXPECT_EQ(result, c.result);

        // Fixed places; the text as tall as its wrapped lines, the button
        // centred below it, the dialog centred on the screen.
        int textHeight = text.bottom - text.top, lineHeight = metrics.tmHeight + metrics.tmExternalLeading;
        int buttonHeight = button.bottom - button.top;
        int height = GetSystemMetrics(SM_CYCAPTION) + buttonHeight + textHeight + 156;
        EXPECT_EQ(picture.left == 15 && picture.top == 15 && picture.right == 354 && picture.bottom == 111, true);
        EXPECT_EQ(text.left == 20 && text.top == 126 && text.right == 350, true);
        EXPECT_EQ(textHeight > 0 && textHeight % lineHeight == 0, true) << textHeight << " for lines of " << lineHeight;
        EXPECT_EQ(button.left, 184 - (button.right - button.left) / 2);
        EXPECT_EQ(button.top, textHeight + 141);
        EXPECT_EQ(window.right - window.left, 374);
        EXPECT_EQ(window.bottom - window.top, height);
        EXPECT_EQ(window.left, (GetSystemMetrics(SM_CXSCREEN) - 374) / 2);
        EXPECT_EQ(window.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);

        // One bracket, polls while open; the sheet taken only when fed, and then scanned.
        std::string commands = TracedCommands();
        EXPECT_EQ(commands.rfind("SC_ACQUIRE SC_PAPER_PRESENT SC_PAPER_PRESENT", 0), 0u) << commands;
        if (c.result)
            EXPECT_NE(commands.find("SC_PAPER_PRESENT SC_TAKE_PAPER SC_RELEASE SC_ACQUIRE SC_GET_GEOMETRY"),
                      std::string::npos) << commands;
        else
            EXPECT_TRUE(EndsWith(commands, "SC_PAPER_PRESENT SC_RELEASE")) << commands;
        EXPECT_EQ(commands.find("SC_TAKE_PAPER") != std::string::npos, c.result == 1) << commands;
        EXPECT_EQ(testsupport::FileExists(page_), c.result == 1);
    }
}

TEST_F(DialogsTest, CancelledPageIsDeleted)
{
    // A slow device, so the page is still running when Esc arrives.
    ASSERT_TRUE(feeder::SetSyntheticPage(true) && feeder::SetLinesPerSecond(150));
    ASSERT_TRUE(feeder::SetTransferSize(200 * 10) && feeder::ClearTrace());
    bool found = false;
    std::thread user([&] {
        HWND progress = WaitForDialog();
        if ((found = progress != nullptr))
            PostMessageA(progress, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    int result = AcquireToBitmap(scannertest::MakeSettings(SCAN_TYPE_GREY, 600, 450, 100), page_.c_str());
    user.join();
    ASSERT_TRUE(found) << "no progress dialog appeared";
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(testsupport::FileExists(page_)) << "a cancelled page leaves no file";
    std::string commands = TracedCommands();
    EXPECT_TRUE(EndsWith(commands, "SC_READ SC_STOP SC_END_PAGE SC_RELEASE")) << commands;
    EXPECT_LT(scannertest::TracedEntries(SC_READ).size(), 15u) << "stopped before the page's 15 blocks";
    EXPECT_EQ(FindWindowA("#32770", AppTitle), nullptr) << "the progress dialog is closed";
}

} // namespace
