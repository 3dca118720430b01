// Save folders and picture names under Wine, on real folders and a real
// registry key. An unwritable folder is made immutable (chattr +i) on the
// Linux side through the host bridge: the tests run as root, whom neither a
// read-only attribute nor Unix permission bits stop.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "naming.h"
#include "settings.h"
#include "shared.h"
#include "test_support.h"

namespace {

class NamingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = testsupport::MakeScratchFolder("naming");
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (std::string(KEY) + "\\" SCAN_SETTINGS_SUBKEY).c_str(), 0, nullptr,
                                  0, KEY_ALL_ACCESS, nullptr, &scanKey_, nullptr),
                  ERROR_SUCCESS);
        RegOpenKeyExA(HKEY_CURRENT_USER, KEY, 0, KEY_ALL_ACCESS, &SettingsKey);
        WriteStringSetting(SettingsKey, SettingName(SETTING_FolderName), "Velmora naming test");
    }
    void TearDown() override
    {
        testsupport::RunHostShell("chattr -i '" + testsupport::UnixPath(folder_ + "\\locked") + "' 2>/dev/null");
        RegCloseKey(scanKey_);
        RegCloseKey(SettingsKey);
        SettingsKey = nullptr;
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, KEY);
        testsupport::RemoveTree(desktop_ + "Velmora naming test");
        testsupport::RemoveTree(folder_);
    }

    static constexpr const char *KEY = "Software\\Velmora Tests\\Naming";
    std::string folder_, desktop_ = std::string(getenv("USERPROFILE")) + "\\Desktop\\";
    HKEY scanKey_ = nullptr;
};

// The lowest free number; a name the file system refuses cannot be probed
// and is not guessed at.
TEST_F(NamingTest, NextPictureNameIsTheLowestFreeNumber)
{
    for (const char *taken : {"\\Image00001.jpg", "\\Image00004.jpg", "\\Image00002.jpg\\"})
        ASSERT_TRUE(taken[strlen(taken) - 1] == '\\' ? CreateDirectoryA((folder_ + taken).c_str(), nullptr)
                                                     : testsupport::WriteWholeFile(folder_ + taken, "picture"));
    char name[PATH_CAPACITY] = "untouched";
    EXPECT_EQ(MakeOutputName(OUTPUT_JPEG, "Image", folder_.c_str(), name, sizeof name), 1);
    EXPECT_EQ(std::string(name), folder_ + "\\Image00003.jpg");
    EXPECT_EQ(MakeOutputName(OUTPUT_JPEG, "Scan<1>", folder_.c_str(), name, sizeof name), 0);
    EXPECT_STREQ(name, "");
}

TEST_F(NamingTest, StoredFolderIsKeptOnlyWhileWritableAndOnlyTheDefaultIsMade)
{
    std::string locked = folder_ + "\\locked", defaultFolder = desktop_ + "Velmora naming test";
    CreateDirectoryA(locked.c_str(), nullptr);
    ASSERT_EQ(testsupport::RunHostShell("chattr +i '" + testsupport::UnixPath(locked) + "'"), 0);
    const std::pair<std::string, bool> cases[] = {
        {"", false}, {folder_, true}, {locked, false}, {folder_ + "\\gone", false}};
    for (const auto &c : cases) {
        RegDeleteValueA(scanKey_, SettingName(SETTING_SavePath));
        if (!c.first.empty())
            WriteStringSetting(scanKey_, SettingName(SETTING_SavePath), c.first.c_str());
        testsupport::RemoveTree(defaultFolder);
        OutputSettings settings;
        ASSERT_EQ(ReadOutputSettings(&settings), 1) << c.first;
        std::string expected = c.second ? c.first : defaultFolder;
        char stored[PATH_CAPACITY];
        QueryStringSetting(scanKey_, SettingName(SETTING_SavePath), "", stored, sizeof stored);
        EXPECT_EQ(std::string(settings.SavePath) + "|" + stored, expected + "|" + expected);
        EXPECT_EQ(IsDirectory(defaultFolder.c_str()), !c.second) << c.first;
    }
    // A folder name too long to join with the desktop gives the desktop, not a cut name.
    WriteStringSetting(SettingsKey, SettingName(SETTING_FolderName), std::string(PATH_CAPACITY - 10, 'n').c_str());
    char folder[PATH_CAPACITY];
    GetDefaultSaveFolder(folder);
    EXPECT_EQ(std::string(folder), desktop_);
}

} // namespace
