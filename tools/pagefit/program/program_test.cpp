// Pagefit.exe as the agent starts it, under Wine: its own folder with
// Module.ini, the user's choices in a registry fixture, the bitmap's path
// unquoted after the program's. One table covers every exit code and every
// path the tool must handle; files are reached through wide long-path names
// so that the test itself can make and inspect paths past the system limit.
#include "bitmap_file.h"
#include "product_files.h"
#include "settings_table.h"
#include "synth.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

namespace {

using testsupport::WriteWholeFile;

std::string Bytes(const std::vector<uint8_t> &v)
{
    return std::string(v.begin(), v.end());
}

std::vector<uint8_t> Scan(bool photo)
{
    synth::Scene s;
    s.dpi = 150;
    s.width = 520;
    s.height = 640;
    s.photo = {260, 320, 375, 525, -0.09};
    s.hasPhoto = photo;
    s.backing[0] = s.backing[1] = s.backing[2] = 228;
    return synth::RenderScan(s);
}

// The wide long-path form of an absolute path, which no length limit stops.
std::wstring Wide(const std::string &path)
{
    std::wstring w = L"\\\\?\\";
    for (char c : path)
        w += wchar_t(static_cast<unsigned char>(c));
    return w;
}

bool WriteAnyPath(const std::string &path, const std::string &bytes)
{
    HANDLE f =
        CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(f, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == bytes.size();
}

bool ReadAnyPath(const std::string &path, std::string *bytes)
{
    HANDLE f = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(f, nullptr), got = 0;
    bytes->assign(size, '\0');
    BOOL ok = size == 0 || ReadFile(f, &(*bytes)[0], size, &got, nullptr);
    CloseHandle(f);
    return ok && got == size;
}

// Names in a folder (given with its final backslash), files and folders.
std::set<std::string> NamesIn(const std::string &folder)
{
    std::set<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((Wide(folder) + L"*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name;
        for (const wchar_t *c = found.cFileName; *c; c++)
            name += char(*c);
        if (name != "." && name != "..")
            names.insert(name);
    } while (FindNextFileW(h, &found));
    FindClose(h);
    return names;
}

void RemoveAnyTree(const std::string &folder)
{
    for (const std::string &name : NamesIn(folder)) {
        std::wstring path = Wide(folder + name);
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            RemoveAnyTree(folder + name + "\\");
        } else {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    }
    RemoveDirectoryW(Wide(folder).c_str());
}

enum Content { PHOTO, BLANK, GARBAGE, MISSING };
enum Choices { NO_SETTINGS, BOTH_OFF, BOTH_ON };
enum Form { AS_AGENT, QUOTED, NO_BITMAP };
enum Twist { PLAIN, READ_ONLY, LOG_BLOCKED };
// How the bitmap's path is made long: a deep folder with a name as short as
// the agent's temporary names, or a long name in the usual folder.
enum Length { USUAL, DEEP_FOLDER, LONG_NAME };

struct Case {
    const char *name;
    Content content;
    Choices choices;
    Form form;
    Twist twist;
    Length length;
    size_t pathLength; // characters in the bitmap's path, when made long
    PagefitExitCode exitCode;
    const char *logPart; // nullptr: no log may be left
    bool rewritten;
};

const Case CASES[] = {
    {"crop and deskew", PHOTO, BOTH_ON, AS_AGENT, PLAIN, USUAL, 0, PAGEFIT_DONE, "cropped and deskewed", true},
    {"no settings at all", PHOTO, NO_SETTINGS, AS_AGENT, PLAIN, USUAL, 0, PAGEFIT_DONE, "are off", false},
    {"both choices off", PHOTO, BOTH_OFF, AS_AGENT, PLAIN, USUAL, 0, PAGEFIT_DONE, "are off", false},
    {"blank sheet", BLANK, BOTH_ON, AS_AGENT, PLAIN, USUAL, 0, PAGEFIT_NO_ACTION, AUTOCROP_NO_ACTION_WORD, false},
    {"not a bitmap", GARBAGE, BOTH_ON, AS_AGENT, PLAIN, USUAL, 0, PAGEFIT_NOT_A_BITMAP, "not a bitmap", false},
    {"missing bitmap", MISSING, BOTH_ON, AS_AGENT, PLAIN, USUAL, 0, PAGEFIT_FILE_ERROR, "cannot open", false},
    {"read-only bitmap", PHOTO, BOTH_ON, AS_AGENT, READ_ONLY, USUAL, 0, PAGEFIT_FILE_ERROR, "read-only", false},
    {"log cannot be written", PHOTO, BOTH_ON, AS_AGENT, LOG_BLOCKED, USUAL, 0, PAGEFIT_FILE_ERROR, nullptr, true},
    {"path in quotation marks", PHOTO, BOTH_ON, QUOTED, PLAIN, USUAL, 0, PAGEFIT_DONE, "cropped and deskewed", true},
    {"no bitmap on the command line", PHOTO, BOTH_ON, NO_BITMAP, PLAIN, USUAL, 0, PAGEFIT_USAGE, nullptr, false},
    {"path of 257", PHOTO, BOTH_ON, AS_AGENT, PLAIN, DEEP_FOLDER, 257, PAGEFIT_DONE, "cropped and deskewed", true},
    {"path of 258", PHOTO, BOTH_ON, AS_AGENT, PLAIN, DEEP_FOLDER, 258, PAGEFIT_DONE, "cropped and deskewed", true},
    {"path of 259", PHOTO, BOTH_ON, AS_AGENT, PLAIN, DEEP_FOLDER, 259, PAGEFIT_DONE, "cropped and deskewed", true},
    {"path of 260", PHOTO, BOTH_ON, AS_AGENT, PLAIN, DEEP_FOLDER, 260, PAGEFIT_FILE_ERROR, nullptr, false},
    {"path of 280", PHOTO, BOTH_ON, AS_AGENT, PLAIN, DEEP_FOLDER, 280, PAGEFIT_FILE_ERROR, nullptr, false},
    {"long name in a short folder", PHOTO, BOTH_ON, AS_AGENT, PLAIN, LONG_NAME, 280, PAGEFIT_FILE_ERROR,
     "longer than the system allows", false},
};

class Program : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string built = testsupport::ProgramDirectory() + AUTOCROP_TOOL_FILE;
        if (!testsupport::FileExists(built))
            GTEST_SKIP() << AUTOCROP_TOOL_FILE " was not built";
        root = testsupport::MakeScratchFolder("pagefit program") + "\\";
        programFolder = root + "Velmora Tools\\";
        CreateDirectoryA(programFolder.c_str(), nullptr);
        program = programFolder + AUTOCROP_TOOL_FILE;
        ASSERT_TRUE(CopyFileA(built.c_str(), program.c_str(), FALSE));
        char name[32];
        snprintf(name, sizeof name, "PfTest%lu", GetCurrentProcessId());
        modelKey = std::string(MODEL_KEY_BASE) + name;
        ASSERT_TRUE(WriteWholeFile(programFolder + MODULE_INI_NAME,
                                   std::string("[" MODULE_INI_SECTION "]\r\n" MODULE_INI_KEY "=") + name + "\r\n"));
    }
    void TearDown() override
    {
        if (root.empty())
            return;
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, modelKey);
        RemoveAnyTree(root);
    }
    // The scanner instance whose agent lives in the program's folder, and an
    // unrelated one first, which the lookup must pass over.
    void Install(int crop, int deskew, bool writeDeskew = true)
    {
        std::string other = modelKey + "\\Another", mine = modelKey + "\\Scanner 1";
        std::string scan = "\\" SETTINGS_SUBKEY "\\" SCAN_SETTINGS_SUBKEY;
        std::string elsewhere = "C:\\windows\\";
        const char *directory = SettingName(SETTING_SystemDirectory);
        ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, other, directory, REG_SZ, elsewhere.c_str(),
                                             DWORD(elsewhere.size())));
        ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, other + scan, SettingName(SETTING_AutoCrop), REG_DWORD,
                                             &crop, 4));
        ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, mine, directory, REG_SZ, programFolder.c_str(),
                                             DWORD(programFolder.size())));
        ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, mine + scan, SettingName(SETTING_AutoCrop), REG_DWORD,
                                             &crop, 4));
        if (writeDeskew) {
            ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, mine + scan, SettingName(SETTING_AutoDeskew),
                                                 REG_DWORD, &deskew, 4));
        }
    }
    // A fresh folder for one case's bitmap, with its final backslash.
    std::string CaseFolder(const Case &c, int index, std::string *leaf)
    {
        std::string folder = root + "Scans " + std::to_string(index) + "\\";
        *leaf = "Tem1A2B.Bmp"; // as long as the agent's temporary names
        if (c.length == DEEP_FOLDER)
            folder += std::string(c.pathLength - folder.size() - 1 - leaf->size(), 'd') + "\\";
        if (c.length == LONG_NAME)
            *leaf = std::string(c.pathLength - folder.size() - 4, 'n') + ".Bmp";
        for (size_t at = root.size(); (at = folder.find('\\', at)) != std::string::npos; at++)
            CreateDirectoryW(Wide(folder.substr(0, at)).c_str(), nullptr);
        return folder;
    }
    std::string root, programFolder, program, modelKey;
};

TEST_F(Program, EveryOutcomeAndPathHasItsExitCodeAndLog)
{
    int index = 0;
    for (const Case &c : CASES) {
        SCOPED_TRACE(c.name);
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, modelKey);
        if (c.choices != NO_SETTINGS)
            Install(c.choices == BOTH_ON, c.choices == BOTH_ON);
        std::string leaf, folder = CaseFolder(c, index++, &leaf), bitmap = folder + leaf;
        if (c.length != USUAL) {
            ASSERT_EQ(bitmap.size(), c.pathLength);
        }
        std::string before = c.content == PHOTO   ? Bytes(Scan(true))
                             : c.content == BLANK ? Bytes(Scan(false))
                                                  : std::string(5000, 'x');
        std::set<std::string> expected;
        if (c.content != MISSING) {
            ASSERT_TRUE(WriteAnyPath(bitmap, before));
            expected.insert(leaf);
        }
        if (c.twist == READ_ONLY)
            SetFileAttributesW(Wide(bitmap).c_str(), FILE_ATTRIBUTE_READONLY);
        if (c.twist == LOG_BLOCKED) {
            CreateDirectoryW(Wide(folder + AUTOCROP_LOG_FILE).c_str(), nullptr);
            expected.insert(AUTOCROP_LOG_FILE);
        }
        if (c.logPart)
            expected.insert(AUTOCROP_LOG_FILE);

        // As the agent builds it: "%s %s", neither quoted.
        std::string line = c.form == NO_BITMAP ? program
                           : c.form == QUOTED  ? program + " \"" + bitmap + "\""
                                               : program + " " + bitmap;
        EXPECT_EQ(testsupport::RunAndWait(line), int(c.exitCode));

        std::string log, after;
        bool logged = ReadAnyPath(folder + AUTOCROP_LOG_FILE, &log);
        EXPECT_EQ(logged, c.logPart != nullptr) << log;
        if (c.logPart) {
            EXPECT_NE(log.find(c.logPart), std::string::npos) << log;
        }
        // Nothing else beside the bitmap: no temporary file, named or garbled.
        EXPECT_EQ(NamesIn(folder), expected);
        if (c.content == MISSING)
            continue;
        ASSERT_TRUE(ReadAnyPath(bitmap, &after));
        if (c.rewritten) {
            int w = 0, h = 0;
            synth::LumaOf(std::vector<uint8_t>(after.begin(), after.end()), &w, &h);
            EXPECT_NEAR(w, 375, 2);
            EXPECT_NEAR(h, 525, 2);
        } else {
            EXPECT_TRUE(after == before);
        }
        if (c.twist == READ_ONLY) {
            EXPECT_TRUE(GetFileAttributesW(Wide(bitmap).c_str()) & FILE_ATTRIBUTE_READONLY);
        }
    }
}

TEST_F(Program, FindsItselfByItsShortName)
{
    Install(1, 0);
    std::string folder = root + "Short Name\\", bitmap = folder + "Vel 9F.Bmp";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(WriteWholeFile(bitmap, Bytes(Scan(true))));
    char shortName[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(program.c_str(), shortName, MAX_PATH), 0u);
    EXPECT_EQ(testsupport::RunAndWait(std::string(shortName) + " " + bitmap), int(PAGEFIT_DONE));
    std::string log;
    testsupport::ReadWholeFile(folder + AUTOCROP_LOG_FILE, &log);
    EXPECT_NE(log.find("cropped to the photo's upright box"), std::string::npos) << log;
}

TEST_F(Program, OnlyReadsTheSettings)
{
    Install(1, 0, false);
    std::string folder = root + "Read Only Settings\\", bitmap = folder + "Vel 9F.Bmp";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(WriteWholeFile(bitmap, Bytes(Scan(false))));
    EXPECT_EQ(testsupport::RunAndWait(program + " " + bitmap), int(PAGEFIT_NO_ACTION));
    // The missing choice was not written back, and no key was made for it.
    DWORD type;
    std::string data;
    std::string settings = modelKey + "\\Scanner 1\\" SETTINGS_SUBKEY;
    EXPECT_FALSE(testsupport::GetRawValue(HKEY_CURRENT_USER, settings + "\\" SCAN_SETTINGS_SUBKEY,
                                          SettingName(SETTING_AutoDeskew), &type, &data));
    HKEY key;
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, (settings + "\\" PAPER_SIZE_SUBKEY).c_str(), 0, KEY_READ, &key),
              ERROR_SUCCESS);
}

} // namespace
