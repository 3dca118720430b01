// Checks the ground every Windows test stands on: a 32-bit Windows process
// whose files the Linux-side readers can see.
#include <windows.h>
#include <gtest/gtest.h>

TEST(Harness, RunsAsThirtyTwoBitWindowsProgram)
{
    EXPECT_EQ(sizeof(void *), 4u);
    BOOL wow64 = TRUE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_FALSE(wow64) << "a 64-bit prefix would move 32-bit registry writes to Wow6432Node";
}

#include "test_support.h"

TEST(Harness, HostToolsAreReachable)
{
    // Linux-side readers (ImageMagick above all) check what Windows code wrote.
    std::string output;
    ASSERT_EQ(testsupport::RunHostShell("echo $((6 * 7))", &output), 0);
    EXPECT_EQ(output, "42\n");
    std::string folder = testsupport::MakeScratchFolder("harness");
    ASSERT_FALSE(folder.empty());
    ASSERT_TRUE(testsupport::WriteWholeFile(folder + "\\probe.txt", "seen from Linux"));
    ASSERT_EQ(testsupport::RunHostShell("cat '" + testsupport::UnixPath(folder + "\\probe.txt") + "'", &output), 0);
    EXPECT_EQ(output, "seen from Linux");
    testsupport::RemoveTree(folder);
}
