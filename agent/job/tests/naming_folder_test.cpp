// Save folders and picture names under Wine, on real folders and a real
// registry key: the next free name, folder creation, writability, and the
// output settings with their fallback to the default folder.
//
// A folder marked read-only stays writable under Wine (as on Windows, the
// attribute means nothing for folders), and the tests run as root, for whom
// Unix permission bits mean nothing either. An unwritable folder is made on
// the Linux side with the immutable attribute (chattr +i), through the host
// bridge; folders on a drive letter that is not mapped are the other kind.
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
using testsupport::GetRawValue;
using testsupport::RunHostShell;
using testsupport::UnixPath;

namespace {

// A folder the running user cannot create files in, for as long as it lives.
class UnwritableFolder {
public:
    explicit UnwritableFolder(const std::string &path) : unixPath_(UnixPath(path))
    {
        CreateDirectoryA(path.c_str(), nullptr);
        made_ = !unixPath_.empty() && RunHostShell("chattr +i '" + unixPath_ + "'") == 0;
    }
    ~UnwritableFolder()
    {
        if (made_)
            RunHostShell("chattr -i '" + unixPath_ + "'");
    }
    bool Made() const { return made_; }

private:
    std::string unixPath_;
    bool made_ = false;
};

std::string UnmappedDriveFolder()
{
    DWORD drives = GetLogicalDrives();
    for (char letter = 'Q'; letter <= 'Y'; ++letter)
        if (!(drives & (1u << (letter - 'A'))))
            return std::string(1, letter) + ":\\Photos";
    return std::string();
}

class NamingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = testsupport::MakeScratchFolder("naming");
        ASSERT_FALSE(folder_.empty());
        char key[128];
        snprintf(key, sizeof key, "Software\\Velmora Tests\\Naming %lu", GetCurrentProcessId());
        keyPath_ = key;
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, keyPath_);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &SettingsKey,
                                  nullptr),
                  ERROR_SUCCESS);
        char name[64];
        snprintf(name, sizeof name, "Velmora naming test %lu", GetCurrentProcessId());
        folderName_ = name;
        WriteStringSetting(SettingsKey, SettingName(SETTING_FolderName), name);
        char profile[MAX_PATH] = "";
        GetEnvironmentVariableA("USERPROFILE", profile, sizeof profile);
        desktop_ = std::string(profile) + "\\Desktop";
    }
    void TearDown() override
    {
        RegCloseKey(SettingsKey);
        SettingsKey = nullptr;
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, keyPath_);
        testsupport::RemoveTree(DefaultFolder());
        testsupport::RemoveTree(folder_);
    }

    std::string Path(const std::string &name) const { return folder_ + "\\" + name; }
    std::string DefaultFolder() const { return desktop_ + "\\" + folderName_; }
    std::string ScanKeyPath() const { return keyPath_ + "\\" + SCAN_SETTINGS_SUBKEY; }

    void CreateScanKey()
    {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(SettingsKey, SCAN_SETTINGS_SUBKEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void StoreScanText(SettingId id, const std::string &text)
    {
        testsupport::SetRawValue(HKEY_CURRENT_USER, ScanKeyPath(), SettingName(id), REG_SZ, text.data(),
                                 DWORD(text.size()));
    }
    // The stored text of a scan setting, and whether it is a REG_SZ.
    std::string StoredScanText(SettingId id, bool *isText = nullptr)
    {
        DWORD type = 0;
        std::string data;
        if (!GetRawValue(HKEY_CURRENT_USER, ScanKeyPath(), SettingName(id), &type, &data))
            return "(missing)";
        if (isText)
            *isText = type == REG_SZ;
        return std::string(data.c_str());
    }

    std::string folder_, keyPath_, folderName_, desktop_;
};

struct NameCase {
    const char *what;
    std::vector<const char *> files;
    std::vector<const char *> folders;
    uint32_t format;
    const char *prefix;
    const char *expected;
};

TEST_F(NamingTest, NextPictureNameIsTheLowestFreeNumber)
{
    const NameCase cases[] = {
        {"empty folder", {}, {}, 1, "Image", "Image00001.jpg"},
        {"gap is filled", {"Image00001.jpg", "Image00003.jpg"}, {}, 1, "Image", "Image00002.jpg"},
        {"other format has its own numbers", {"Image00001.jpg", "Image00003.jpg"}, {}, 0, "Image", "Image00001.bmp"},
        {"after a run", {"Image00001.tif", "Image00002.tif"}, {}, 2, "Image", "Image00003.tif"},
        {"png", {"Image00001.png"}, {}, 3, "Image", "Image00002.png"},
        {"prefix with a dot", {"Holiday.199900001.jpg"}, {}, 1, "Holiday.1999", "Holiday.199900002.jpg"},
        {"same name without extension does not count", {"Holiday.199900001"}, {}, 1, "Holiday.1999",
         "Holiday.199900001.jpg"},
        {"a folder with a picture's name is taken", {}, {"Image00001.jpg"}, 1, "Image", "Image00002.jpg"},
        {"unknown format saves as BMP", {"Image00001.bmp"}, {}, 9, "Image", "Image00002.bmp"},
        {"letter case does not make a name free", {"IMAGE00001.JPG"}, {}, 1, "Image", "Image00002.jpg"},
    };
    for (const NameCase &c : cases) {
        std::string folder = Path(std::to_string(&c - cases));
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
        for (const char *file : c.files)
            ASSERT_TRUE(testsupport::WriteWholeFile(folder + "\\" + file, "picture")) << c.what;
        for (const char *sub : c.folders)
            ASSERT_TRUE(CreateDirectoryA((folder + "\\" + sub).c_str(), nullptr)) << c.what;
        char name[NAME_CAPACITY];
        EXPECT_EQ(MakeOutputName(c.format, c.prefix, folder.c_str(), name, sizeof name), 1) << c.what;
        EXPECT_EQ(std::string(name), folder + "\\" + c.expected) << c.what;
    }
}

TEST_F(NamingTest, NameLongerThan260BytesIsNotMade)
{
    // Nest folders until "\Image00001.jpg" after them needs exactly 260 bytes
    // with its terminator, then one character less.
    const std::string tail = "\\Image00001.jpg";
    std::string deep = folder_;
    while (deep.size() + tail.size() < NAME_CAPACITY - 40) {
        deep += "\\" + std::string(30, 'd');
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr)) << deep;
    }
    std::string tooLong = deep + "\\" + std::string(NAME_CAPACITY - deep.size() - tail.size() - 1, 'x');
    std::string longest = tooLong.substr(0, tooLong.size() - 1);
    ASSERT_TRUE(CreateDirectoryA(tooLong.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(longest.c_str(), nullptr));

    struct Guarded {
        char name[NAME_CAPACITY];
        char guard[16];
    } out;
    memset(&out, '#', sizeof out);
    EXPECT_EQ(MakeOutputName(1, "Image", tooLong.c_str(), out.name, sizeof out.name), 0);
    EXPECT_EQ(out.name[0], '\0');
    EXPECT_EQ(std::string(out.guard, sizeof out.guard), std::string(sizeof out.guard, '#'));
    EXPECT_EQ(MakeOutputName(1, std::string(250, 'p').c_str(), folder_.c_str(), out.name, sizeof out.name), 0);
    EXPECT_EQ(out.name[0], '\0');

    ASSERT_EQ(MakeOutputName(1, "Image", longest.c_str(), out.name, sizeof out.name), 1);
    EXPECT_EQ(strlen(out.name), NAME_CAPACITY - 1);
    // The longest name is a usable one: a picture can be written under it.
    EXPECT_TRUE(testsupport::WriteWholeFile(out.name, "picture"));
    ASSERT_EQ(MakeOutputName(1, "Image", longest.c_str(), out.name, sizeof out.name), 1);
    EXPECT_EQ(std::string(out.name), longest + "\\Image00002.jpg");
}

TEST_F(NamingTest, NameThatCannotBeProbedIsNotGuessed)
{
    // The file system refuses the name, so whether it exists is unknown.
    char name[NAME_CAPACITY] = "untouched";
    EXPECT_EQ(MakeOutputName(1, "Scan<1>", folder_.c_str(), name, sizeof name), 0);
    EXPECT_EQ(name[0], '\0');
}

TEST_F(NamingTest, FolderTests)
{
    std::string file = Path("picture.jpg");
    ASSERT_TRUE(testsupport::WriteWholeFile(file, "x"));
    UnwritableFolder locked(Path("locked"));
    if (!locked.Made())
        GTEST_SKIP() << "the Linux side cannot make a folder immutable here (chattr +i)";
    std::string missingDrive = UnmappedDriveFolder();
    ASSERT_FALSE(missingDrive.empty());

    struct Case {
        std::string path;
        bool directory, writable;
    } cases[] = {
        {folder_, true, true},
        {file, false, false},
        {Path("missing"), false, false},
        {Path("locked"), true, false},
        {missingDrive, false, false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(IsDirectory(c.path.c_str()), c.directory) << c.path;
        EXPECT_EQ(IsFolderWritable(c.path.c_str()), c.writable) << c.path;
    }
    // The probe file is gone again.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(Path("tmp*").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "left behind: " << found.cFileName;
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}

TEST_F(NamingTest, CreateFolderPathMakesParentsFirst)
{
    struct Case {
        std::string path;
        std::string mustExist;
    } cases[] = {
        {Path("a\\b\\c"), Path("a\\b\\c")},
        {Path("trailing\\x\\"), Path("trailing\\x")},
        {Path("a\\b\\c\\d"), Path("a\\b\\c\\d")}, // existing levels are no obstacle
        // Long-path syntax starts like a network path; its levels are made too.
        {"\\\\?\\" + Path("long syntax\\y"), Path("long syntax\\y")},
    };
    for (const Case &c : cases) {
        CreateFolderPath(c.path.c_str());
        EXPECT_TRUE(IsDirectory(c.mustExist.c_str())) << c.path;
        EXPECT_EQ(FolderCreation.depth, 0u) << c.path;
        EXPECT_EQ(FolderCreation.built[0], '\0') << c.path;
    }
}

TEST_F(NamingTest, CreateFolderPathOnNetworkStylePathsCreatesNothingLocally)
{
    // No such server: every level fails harmlessly, and none of them may
    // turn into a folder at the root of the current drive.
    CreateFolderPath("\\\\velmora-no-server\\scans\\1987");
    EXPECT_FALSE(FileExists("\\velmora-no-server"));
    EXPECT_FALSE(FileExists("C:\\velmora-no-server"));
    EXPECT_FALSE(FileExists("\\scans"));
    EXPECT_EQ(FolderCreation.depth, 0u);
}

TEST_F(NamingTest, CreateFolderPathStopsAtFilesAndAtTheLengthLimit)
{
    ASSERT_TRUE(testsupport::WriteWholeFile(Path("blocker"), "keep me"));
    CreateFolderPath(Path("blocker\\sub").c_str());
    std::string kept;
    ASSERT_TRUE(testsupport::ReadWholeFile(Path("blocker"), &kept));
    EXPECT_EQ(kept, "keep me");

    std::string level(60, 'L');
    std::string path = folder_;
    std::vector<std::string> levels;
    while (path.size() < 400) {
        path += "\\" + level;
        levels.push_back(path);
    }
    CreateFolderPath(path.c_str());
    for (const std::string &made : levels)
        EXPECT_EQ(IsDirectory(made.c_str()), made.size() < NAME_CAPACITY) << made.size() << " characters";
    EXPECT_EQ(FolderCreation.depth, 0u);
}

TEST_F(NamingTest, OutputSettingsNeedTheScanSettingsKey)
{
    OutputSettings settings;
    EXPECT_EQ(ReadOutputSettings(&settings), 0);
}

TEST_F(NamingTest, FirstRunStoresDefaultsAndCreatesTheDefaultFolder)
{
    CreateScanKey();
    OutputSettings settings;
    memset(&settings, 'z', sizeof settings);
    ASSERT_EQ(ReadOutputSettings(&settings), 1);
    EXPECT_EQ(settings.Format, 0);
    EXPECT_STREQ(settings.Prefix, "Image");
    EXPECT_EQ(std::string(settings.SavePath), DefaultFolder());
    EXPECT_TRUE(IsDirectory(DefaultFolder().c_str())) << "default folder not created on the desktop";

    bool isText = false;
    EXPECT_EQ(StoredScanText(SETTING_Prefix, &isText), "Image");
    EXPECT_TRUE(isText);
    EXPECT_EQ(StoredScanText(SETTING_SavePath, &isText), DefaultFolder());
    EXPECT_TRUE(isText);
    DWORD type = 0;
    std::string format;
    ASSERT_TRUE(GetRawValue(HKEY_CURRENT_USER, ScanKeyPath(), SettingName(SETTING_Format), &type, &format));
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(format, std::string(4, '\0'));
}

TEST_F(NamingTest, UnusableStoredFolderIsReplacedByTheDefault)
{
    UnwritableFolder locked(Path("locked"));
    if (!locked.Made())
        GTEST_SKIP() << "the Linux side cannot make a folder immutable here (chattr +i)";
    struct Case {
        const char *what;
        std::string stored;
        bool kept;
    } cases[] = {
        {"writable folder", folder_, true},
        {"read-only folder", Path("locked"), false},
        {"missing folder", Path("gone"), false},
        {"folder on a drive that is not there", UnmappedDriveFolder(), false},
    };
    for (const Case &c : cases) {
        CreateScanKey();
        StoreScanText(SETTING_SavePath, c.stored);
        StoreScanText(SETTING_Prefix, "Scan");
        OutputSettings settings;
        ASSERT_EQ(ReadOutputSettings(&settings), 1) << c.what;
        std::string expected = c.kept ? c.stored : DefaultFolder();
        EXPECT_EQ(std::string(settings.SavePath), expected) << c.what;
        EXPECT_EQ(StoredScanText(SETTING_SavePath), expected) << c.what;
        EXPECT_STREQ(settings.Prefix, "Scan") << c.what;
        EXPECT_TRUE(IsDirectory(settings.SavePath)) << c.what;
    }
    // The missing stored folder was replaced, not created.
    EXPECT_FALSE(FileExists(Path("gone")));
}

TEST_F(NamingTest, FormatKeepsTheLow16Bits)
{
    CreateScanKey();
    DWORD stored = 0x10003;
    testsupport::SetRawValue(HKEY_CURRENT_USER, ScanKeyPath(), SettingName(SETTING_Format), REG_DWORD, &stored, 4);
    OutputSettings settings;
    ASSERT_EQ(ReadOutputSettings(&settings), 1);
    EXPECT_EQ(settings.Format, 3);
}

TEST_F(NamingTest, DefaultFolderIsTheDesktopJoinedWithFolderName)
{
    struct Case {
        std::string folderName;
        std::string expected;
    } cases[] = {
        {folderName_, DefaultFolder()},
        {"", desktop_ + "\\"},
        // Too long to join within 260 bytes: the desktop, not a cut name.
        {std::string(NAME_CAPACITY - 10, 'n'), desktop_ + "\\"},
    };
    for (const Case &c : cases) {
        WriteStringSetting(SettingsKey, SettingName(SETTING_FolderName), c.folderName.c_str());
        char folder[NAME_CAPACITY];
        GetDefaultSaveFolder(folder);
        EXPECT_EQ(std::string(folder), c.expected) << "folder name of " << c.folderName.size();
    }
}

} // namespace
