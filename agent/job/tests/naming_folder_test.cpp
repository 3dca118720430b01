// Save folders and picture names under Wine, on real folders and a real
// registry key.
//
// A read-only attribute does not stop writes into a folder (under Wine as on
// Windows), and the tests run as root, whom Unix permission bits do not stop
// either: an unwritable folder is made immutable (chattr +i) on the Linux
// side through the host bridge. A drive letter that is not mapped gives the
// other kind of unusable folder.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "naming.h"
#include "settings.h"
#include "shared.h"
#include "test_support.h"

using testsupport::FileExists;

namespace {

class NamingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = testsupport::MakeScratchFolder("naming");
        keyPath_ = "Software\\Velmora Tests\\Naming " + std::to_string(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                  &SettingsKey, nullptr),
                  ERROR_SUCCESS);
        folderName_ = "Velmora naming test " + std::to_string(GetCurrentProcessId());
        WriteStringSetting(SettingsKey, SettingName(SETTING_FolderName), folderName_.c_str());
        char profile[MAX_PATH] = "";
        GetEnvironmentVariableA("USERPROFILE", profile, sizeof profile);
        desktop_ = std::string(profile) + "\\Desktop";
        locked_ = folder_ + "\\locked";
        CreateDirectoryA(locked_.c_str(), nullptr);
        lockedMade_ = testsupport::RunHostShell("chattr +i '" + testsupport::UnixPath(locked_) + "'") == 0;
        DWORD drives = GetLogicalDrives();
        for (char letter = 'Y'; letter > 'D' && noDrive_.empty(); --letter)
            if (!(drives & (1u << (letter - 'A'))))
                noDrive_ = std::string(1, letter) + ":\\Photos";
    }
    void TearDown() override
    {
        if (lockedMade_)
            testsupport::RunHostShell("chattr -i '" + testsupport::UnixPath(locked_) + "'");
        RegCloseKey(SettingsKey);
        SettingsKey = nullptr;
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, keyPath_);
        testsupport::RemoveTree(DefaultFolder());
        testsupport::RemoveTree(folder_);
    }

    std::string DefaultFolder() const { return desktop_ + "\\" + folderName_; }
    std::string ScanKey() const { return keyPath_ + "\\" + SCAN_SETTINGS_SUBKEY; }
    // The stored bytes of a scan setting; "(missing)" when there is none.
    std::string Stored(SettingId id, DWORD *type = nullptr)
    {
        DWORD storedType = 0;
        std::string data;
        if (!testsupport::GetRawValue(HKEY_CURRENT_USER, ScanKey(), SettingName(id), &storedType, &data))
            return "(missing)";
        if (type)
            *type = storedType;
        return type == nullptr || *type != REG_DWORD ? std::string(data.c_str()) : data;
    }
    void Store(SettingId id, const std::string &text)
    {
        testsupport::SetRawValue(HKEY_CURRENT_USER, ScanKey(), SettingName(id), REG_SZ, text.data(), DWORD(text.size()));
    }

    std::string folder_, keyPath_, folderName_, desktop_, locked_, noDrive_;
    bool lockedMade_ = false;
};

TEST_F(NamingTest, NextPictureNameIsTheLowestFreeNumber)
{
    struct Case {
        std::vector<const char *> files;
        const char *folder; // a directory that carries a picture's name
        uint32_t format;
        const char *prefix, *expected;
    } cases[] = {
        {{}, nullptr, 1, "Image", "Image00001.jpg"},
        {{"Image00001.jpg", "Image00003.jpg"}, nullptr, 1, "Image", "Image00002.jpg"},
        {{"Image00001.jpg", "Image00003.jpg"}, nullptr, 0, "Image", "Image00001.bmp"},
        {{"Holiday.199900001.jpg", "Holiday.199900002"}, nullptr, 1, "Holiday.1999", "Holiday.199900002.jpg"},
        {{"IMAGE00001.TIF"}, "Image00002.tif", 2, "Image", "Image00003.tif"},
        {{"Image00001.bmp"}, nullptr, 9, "Image", "Image00002.bmp"},
    };
    for (const Case &c : cases) {
        std::string folder = folder_ + "\\" + std::to_string(&c - cases);
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        for (const char *file : c.files)
            ASSERT_TRUE(testsupport::WriteWholeFile(folder + "\\" + file, "picture"));
        ASSERT_TRUE(!c.folder || CreateDirectoryA((folder + "\\" + c.folder).c_str(), nullptr));
        char name[PATH_CAPACITY];
        EXPECT_EQ(MakeOutputName(c.format, c.prefix, folder.c_str(), name, sizeof name), 1) << c.expected;
        EXPECT_EQ(std::string(name), folder + "\\" + c.expected);
    }
    // A name the file system refuses cannot be probed; it is not guessed at.
    char name[PATH_CAPACITY] = "untouched";
    EXPECT_EQ(MakeOutputName(1, "Scan<1>", folder_.c_str(), name, sizeof name), 0);
    EXPECT_EQ(name[0], '\0');
}

TEST_F(NamingTest, NameLongerThan260BytesIsNotMade)
{
    std::string deep = folder_;
    while (deep.size() < PATH_CAPACITY - 60) {
        deep += "\\" + std::string(30, 'd');
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    }
    // "\Image00001.jpg" after `longest` makes 259 characters; after `tooLong`, 260.
    std::string tooLong = deep + "\\" + std::string(PATH_CAPACITY - deep.size() - 16, 'x');
    std::string longest = tooLong.substr(0, tooLong.size() - 1);
    ASSERT_TRUE(CreateDirectoryA(tooLong.c_str(), nullptr) && CreateDirectoryA(longest.c_str(), nullptr));
    struct {
        char name[PATH_CAPACITY];
        char guard[16];
    } out;
    memset(&out, '#', sizeof out);
    EXPECT_EQ(MakeOutputName(1, "Image", tooLong.c_str(), out.name, sizeof out.name), 0);
    EXPECT_EQ(out.name[0], '\0');
    EXPECT_EQ(std::string(out.guard, 16), std::string(16, '#'));
    EXPECT_EQ(MakeOutputName(1, std::string(250, 'p').c_str(), folder_.c_str(), out.name, sizeof out.name), 0);
    ASSERT_EQ(MakeOutputName(1, "Image", longest.c_str(), out.name, sizeof out.name), 1);
    EXPECT_TRUE(testsupport::WriteWholeFile(out.name, "picture")) << "the longest name is a usable one";
    ASSERT_EQ(MakeOutputName(1, "Image", longest.c_str(), out.name, sizeof out.name), 1);
    EXPECT_EQ(std::string(out.name), longest + "\\Image00002.jpg");
}

TEST_F(NamingTest, FirstRunStoresDefaultsAndCreatesTheDefaultFolder)
{
    OutputSettings settings;
    EXPECT_EQ(ReadOutputSettings(&settings), 0) << "read without the scan settings key";
    HKEY scanKey;
    ASSERT_EQ(RegCreateKeyExA(SettingsKey, SCAN_SETTINGS_SUBKEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &scanKey, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(scanKey);
    memset(&settings, 'z', sizeof settings);
    ASSERT_EQ(ReadOutputSettings(&settings), 1);
    EXPECT_EQ(settings.Format, 0);
    EXPECT_STREQ(settings.Prefix, "Image");
    EXPECT_EQ(std::string(settings.SavePath), DefaultFolder());
    EXPECT_TRUE(IsDirectory(DefaultFolder().c_str())) << "default folder not made on the desktop";
    DWORD prefixType = 0, pathType = 0, formatType = 0;
    EXPECT_EQ(Stored(SETTING_Prefix, &prefixType), "Image");
    EXPECT_EQ(Stored(SETTING_SavePath, &pathType), DefaultFolder());
    EXPECT_EQ(Stored(SETTING_Format, &formatType), std::string(4, '\0'));
    EXPECT_EQ(prefixType + pathType, DWORD(2 * REG_SZ));
    EXPECT_EQ(formatType, DWORD(REG_DWORD));
}

TEST_F(NamingTest, UnusableStoredFolderIsReplacedByTheDefault)
{
    ASSERT_TRUE(lockedMade_) << "chattr +i through the host bridge failed";
    struct Case {
        std::string stored;
        bool kept;
    } cases[] = {{folder_, true}, {locked_, false}, {folder_ + "\\gone", false}, {noDrive_, false}};
    for (const Case &c : cases) {
        Store(SETTING_SavePath, c.stored);
        Store(SETTING_Prefix, "Scan");
        DWORD format = 0x10003;
        testsupport::SetRawValue(HKEY_CURRENT_USER, ScanKey(), SettingName(SETTING_Format), REG_DWORD, &format, 4);
        OutputSettings settings;
        ASSERT_EQ(ReadOutputSettings(&settings), 1) << c.stored;
        std::string expected = c.kept ? c.stored : DefaultFolder();
        EXPECT_EQ(std::string(settings.SavePath), expected);
        EXPECT_EQ(Stored(SETTING_SavePath), expected);
        EXPECT_STREQ(settings.Prefix, "Scan");
        EXPECT_EQ(settings.Format, 3) << "low 16 bits of the stored format";
    }
    EXPECT_FALSE(FileExists(folder_ + "\\gone")) << "a stored folder that has gone was made again";
}

TEST_F(NamingTest, DefaultFolderIsTheDesktopJoinedWithFolderName)
{
    struct Case {
        std::string folderName, expected;
    } cases[] = {{folderName_, DefaultFolder()}, {"", desktop_ + "\\"},
                 {std::string(PATH_CAPACITY - 10, 'n'), desktop_ + "\\"}}; // too long to join: not a cut name
    for (const Case &c : cases) {
        WriteStringSetting(SettingsKey, SettingName(SETTING_FolderName), c.folderName.c_str());
        char folder[PATH_CAPACITY];
        GetDefaultSaveFolder(folder);
        EXPECT_EQ(std::string(folder), c.expected) << c.folderName.size();
    }
}

} // namespace
