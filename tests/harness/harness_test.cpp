// Checks the ground every Windows test stands on: a 32-bit Windows process in
// a prefix of its own, with the registry and file system a test can use.
#include <windows.h>
#include <gtest/gtest.h>

TEST(Harness, RunsAsThirtyTwoBitWindowsProgram)
{
    EXPECT_EQ(sizeof(void *), 4u);
    BOOL wow64 = TRUE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_FALSE(wow64) << "a 64-bit prefix would move 32-bit registry writes to Wow6432Node";
}

TEST(Harness, RegistryWritesReadBack)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Velmora Harness Test", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    DWORD value = 0x12345678, read = 0, size = sizeof read, type = 0;
    EXPECT_EQ(RegSetValueExA(key, "Value", 0, REG_DWORD, (const BYTE *)&value, sizeof value), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "Value", nullptr, &type, (BYTE *)&read, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(read, value);
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Velmora Harness Test"), ERROR_SUCCESS);
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
