// The insert-paper and progress dialogs driven from a second thread as a
// user would: found by class and caption, answered by feeding a sheet,
// Cancel, Esc or the close box.
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

TEST_F(DialogsTest, InsertPaperAnswers)
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
        char caption[PATH_CAPACITY] = "";
        std::thread user([&] {
            HWND dialog = WaitForDialog();
            if (!dialog)
                return;
            GetWindowTextA(dialog, caption, sizeof caption);
            Sleep(300); // at least one paper check finds the feeder empty
            c.answer(dialog, sheet_);
        });
        int result = c.result ? AcquireToBitmap(scannertest::MakeSettings(SCAN_TYPE_GREY, 300, 300, 100), page_.c_str())
                              : WaitForPaper();
        user.join();
        ASSERT_STREQ(caption, AppTitle) << "no dialog appeared";
        EXPECT_EQ(result, c.result);

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
