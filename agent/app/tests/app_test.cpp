// The agent shell's pieces its end-to-end scenarios cannot see: tooltip
// cutting and a tool run's message pump and program naming.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "app.h"
#include "test_support.h"

namespace {

class ToolRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = testsupport::MakeScratchFolder("app");
    }
    void TearDown() override
    {
        testsupport::RemoveTree(folder);
    }
    std::string folder;
};

TEST(TrayTip, KeepsWholeCharactersWithinTheRecord)
{
    // In code page 932 0x82 leads a two-byte character.
    const std::string a58 = std::string(58, 'a'), wide = a58 + "\x82\xa0\x82\xa0";
    const struct {
        UINT codePage;
        std::string title, model, expected;
    } cases[] = {
        {1252, "Velmora", std::string(80, 'M'), "Velmora - " + std::string(53, 'M')},
        {932, "T", wide, "T - " + a58}, // the character that would straddle the end is left out whole
        {932, "", wide, " - " + a58 + "\x82\xa0"},
    };
    for (const auto &c : cases) {
        char tip[TRAY_TIP_CAPACITY];
        ComposeTrayTipInCodePage(c.codePage, c.title.c_str(), c.model.c_str(), tip);
        EXPECT_EQ(std::string(tip), c.expected);
    }
}

int TimerTicks;
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD)
{
    ++TimerTicks;
}

// The recording stand-in runs while its hold file is there.
std::string HoldFile;
DWORD WINAPI ReleaseTool(LPVOID)
{
    Sleep(600);
    DeleteFileA(HoldFile.c_str());
    return 0;
}

// Messages are dispatched while the tool runs. The program is named on its
// own, so a folder with blanks in the line starts nothing else.
TEST_F(ToolRun, DispatchesMessagesAndStartsTheNamedProgram)
{
    const std::string tools = folder + "\\Scanner Tools", tool = tools + "\\Levelset.exe";
    CreateDirectoryA(tools.c_str(), nullptr);
    for (const std::string &copy : {tool, folder + "\\Scanner.exe"}) // the second where the line's first word leads
        ASSERT_TRUE(CopyFileA((testsupport::ProgramDirectory() + "recording_tool.exe").c_str(), copy.c_str(), FALSE));
    HoldFile = tools + "\\tool-hold";
    testsupport::WriteWholeFile(HoldFile, "");
    HANDLE release = CreateThread(nullptr, 0, ReleaseTool, nullptr, 0, nullptr);
    TimerTicks = 0;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, CountTick);
    EXPECT_EQ(RunToolAndWait(tool.c_str(), (tool + " Clean").c_str()), 1);
    KillTimer(nullptr, timer);
    WaitForSingleObject(release, INFINITE);
    CloseHandle(release);
    EXPECT_GE(TimerTicks, 3) << "messages were not dispatched during the run";
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, (LPCSTR)IDC_ARROW));
    std::string recorded;
    testsupport::ReadWholeFile(tools + "\\tool-record.txt", &recorded);
    EXPECT_EQ(recorded, tool + " Clean\n");
    EXPECT_FALSE(testsupport::FileExists(folder + "\\tool-record.txt")) << "another program ran";
    EXPECT_EQ(RunToolAndWait((folder + "\\missing.exe").c_str(), "missing.exe Clean"), 0);
}

} // namespace
