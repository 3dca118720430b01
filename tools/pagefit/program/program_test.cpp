// Pagefit.exe as the agent starts it, under Wine: its own folder with
// Module.ini, the user's choices in a registry fixture, the bitmap's path
// unquoted after the program's. One table covers every exit code and every
// path the tool must handle; paths past the system's limit name no file, so
// the test needs no long-path names of its own.
#include "bitmap_file.h"
#include "product_files.h"
#include "settings_table.h"
#include "synth.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using testsupport::ReadWholeFile;

// Names in a folder (given with its final backslash), files and folders.
std::set<std::string> NamesIn(const std::string &folder)
{
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "*").c_str(), &found);
    for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &found))
        if (found.cFileName[0] != '.')
            names.insert(found.cFileName);
    FindClose(h);
    return names;
}

enum Content { PHOTO, BLANK, GARBAGE, MISSING };
enum Choices { NO_SETTINGS, BOTH_OFF, BOTH_ON, CROP_ONLY, DESKEW_ONLY };
enum Form { AS_AGENT, QUOTED, NO_EXTENSION, NO_BITMAP };
enum Twist { PLAIN, READ_ONLY, HELD_OPEN, LOG_BLOCKED };

const struct Case {
    const char *name;
    Content content;
    Choices choices;
    Form form;
    Twist twist;
    PagefitExitCode exitCode;
    const char *logPart;   // nullptr: no log may be left
    size_t pathLength = 0; // characters in the bitmap's path through a deep folder, or 0
    bool longName = false; // made long by the file's own name instead
} CASES[] = {
    {"crop and deskew", PHOTO, BOTH_ON, AS_AGENT, PLAIN, PAGEFIT_DONE, "cropped and deskewed"},
    {"no settings at all", PHOTO, NO_SETTINGS, AS_AGENT, PLAIN, PAGEFIT_DONE, "are off"},
    {"both choices off", PHOTO, BOTH_OFF, AS_AGENT, PLAIN, PAGEFIT_DONE, "are off"},
    {"crop only, deskew unset", PHOTO, CROP_ONLY, AS_AGENT, PLAIN, PAGEFIT_DONE, "upright box"},
    {"deskew only", PHOTO, DESKEW_ONLY, AS_AGENT, PLAIN, PAGEFIT_DONE, "deskewed the page"},
    {"blank sheet", BLANK, BOTH_ON, AS_AGENT, PLAIN, PAGEFIT_NO_ACTION, AUTOCROP_NO_ACTION_WORD},
    {"not a bitmap", GARBAGE, BOTH_ON, AS_AGENT, PLAIN, PAGEFIT_NOT_A_BITMAP, "not a bitmap"},
    {"missing bitmap", MISSING, BOTH_ON, AS_AGENT, PLAIN, PAGEFIT_FILE_ERROR, "cannot open"},
    {"read-only bitmap", PHOTO, BOTH_ON, AS_AGENT, READ_ONLY, PAGEFIT_FILE_ERROR, "read-only"},
    {"bitmap held open", PHOTO, BOTH_ON, AS_AGENT, HELD_OPEN, PAGEFIT_FILE_ERROR, "cannot replace"},
    {"log cannot be written", PHOTO, BOTH_ON, AS_AGENT, LOG_BLOCKED, PAGEFIT_FILE_ERROR, nullptr},
    {"path in quotation marks", PHOTO, BOTH_ON, QUOTED, PLAIN, PAGEFIT_DONE, "cropped and deskewed"},
    {"program named without .exe", PHOTO, BOTH_ON, NO_EXTENSION, PLAIN, PAGEFIT_DONE, "cropped and deskewed"},
    {"no bitmap on the command line", PHOTO, BOTH_ON, NO_BITMAP, PLAIN, PAGEFIT_USAGE, nullptr},
    {"path of 259", PHOTO, BOTH_ON, AS_AGENT, PLAIN, PAGEFIT_DONE, "cropped and deskewed", 259},
    {"path of 260", MISSING, BOTH_ON, AS_AGENT, PLAIN, PAGEFIT_FILE_ERROR, nullptr, 260},
    {"long name in a short folder", MISSING, BOTH_ON, AS_AGENT, PLAIN, PAGEFIT_FILE_ERROR,
     "longer than the system allows", 280, true},
};

class Program : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = testsupport::MakeScratchFolder("pagefit program") + "\\";
        programFolder = root + "Velmora Tools\\";
        CreateDirectoryA(programFolder.c_str(), nullptr);
        program = programFolder + AUTOCROP_TOOL_FILE;
        ASSERT_TRUE(CopyFileA((testsupport::ProgramDirectory() + AUTOCROP_TOOL_FILE).c_str(), program.c_str(), FALSE));
        const std::string model = "PfTest" + std::to_string(GetCurrentProcessId());
        modelKey = std::string(MODEL_KEY_BASE) + model;
        instance = modelKey + "\\Scanner 1";
        ASSERT_TRUE(testsupport::WriteWholeFile(programFolder + MODULE_INI_NAME,
                                                "[" MODULE_INI_SECTION "]\r\n" MODULE_INI_KEY "=" + model + "\r\n"));
    }
    void TearDown() override
    {
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, modelKey);
        testsupport::RemoveTree(root);
    }
    // The choices of the scanner instance whose agent lives in the program's folder.
    void Install(Choices choices)
    {
        const DWORD crop = choices == BOTH_ON || choices == CROP_ONLY,
                    deskew = choices == BOTH_ON || choices == DESKEW_ONLY;
        ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, instance, SettingName(SETTING_SystemDirectory), REG_SZ,
                                             programFolder.c_str(), DWORD(programFolder.size())));
        ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, instance + SCAN, SettingName(SETTING_AutoCrop),
                                             REG_DWORD, &crop, 4));
        if (choices != CROP_ONLY) {
            ASSERT_TRUE(testsupport::SetRawValue(HKEY_CURRENT_USER, instance + SCAN, SettingName(SETTING_AutoDeskew),
                                                 REG_DWORD, &deskew, 4));
        }
    }
    const std::string SCAN = "\\" SETTINGS_SUBKEY "\\" SCAN_SETTINGS_SUBKEY;
    std::string root, programFolder, program, modelKey, instance;
};

TEST_F(Program, EveryOutcomeAndPathHasItsExitCodeAndLog)
{
    int index = 0;
    for (const Case &c : CASES) {
        SCOPED_TRACE(c.name);
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, modelKey);
        if (c.choices != NO_SETTINGS)
            Install(c.choices);
        std::string folder = root + "Scans " + std::to_string(index++) + "\\", leaf = "Tem1A2B.Bmp";
        CreateDirectoryA(folder.c_str(), nullptr);
        if (c.pathLength && !c.longName) {
            folder += std::string(c.pathLength - folder.size() - 1 - leaf.size(), 'd') + "\\";
            CreateDirectoryA(folder.c_str(), nullptr);
        }
        if (c.longName)
            leaf = std::string(c.pathLength - folder.size() - 4, 'n') + ".Bmp";
        const std::string bitmap = folder + leaf;
        EXPECT_EQ(bitmap.size(), c.pathLength ? c.pathLength : bitmap.size());
        std::vector<uint8_t> scan;
        if (c.content != GARBAGE) {
            synth::Scene s;
            s.dpi = 150, s.width = 520, s.height = 640, s.hasPhoto = c.content == PHOTO;
            s.photo = {260, 320, 375, 525, -0.09};
            s.backing[0] = s.backing[1] = s.backing[2] = 228;
            scan = synth::RenderScan(s);
        }
        std::string before = c.content == GARBAGE ? std::string(5000, 'x') : std::string(scan.begin(), scan.end());
        std::set<std::string> expected;
        if (c.content != MISSING) {
            ASSERT_TRUE(testsupport::WriteWholeFile(bitmap, before));
            expected.insert(leaf);
        }
        if (c.twist == READ_ONLY)
            SetFileAttributesA(bitmap.c_str(), FILE_ATTRIBUTE_READONLY);
        if (c.twist == LOG_BLOCKED)
            CreateDirectoryA((folder + AUTOCROP_LOG_FILE).c_str(), nullptr);
        if (c.logPart || c.twist == LOG_BLOCKED)
            expected.insert(AUTOCROP_LOG_FILE);
        // Another program holds the bitmap open, sharing neither deletion nor writing.
        HANDLE holder = c.twist != HELD_OPEN ? INVALID_HANDLE_VALUE
                                             : CreateFileA(bitmap.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                           OPEN_EXISTING, 0, nullptr);

        // As the agent builds it: "%s %s", neither quoted.
        std::string line = c.form == NO_BITMAP      ? program
                           : c.form == QUOTED       ? program + " \"" + bitmap + "\""
                           : c.form == NO_EXTENSION ? program.substr(0, program.size() - 4) + " " + bitmap
                                                    : program + " " + bitmap;
        EXPECT_EQ(testsupport::RunAndWait(line), int(c.exitCode));
        CloseHandle(holder);

        std::string log, after;
        EXPECT_EQ(ReadWholeFile(folder + AUTOCROP_LOG_FILE, &log), c.logPart != nullptr) << log;
        EXPECT_NE(log.find(c.logPart ? c.logPart : ""), std::string::npos) << log;
        // The agent asks for a new scan on this word alone.
        EXPECT_EQ(log.find(AUTOCROP_NO_ACTION_WORD) != std::string::npos, c.exitCode == PAGEFIT_NO_ACTION) << log;
        // Nothing else beside the bitmap: no temporary file, named or garbled.
        EXPECT_EQ(NamesIn(folder), expected);
        if (c.choices == CROP_ONLY) {
            DWORD type;
            EXPECT_FALSE(testsupport::GetRawValue(HKEY_CURRENT_USER, instance + SCAN, SettingName(SETTING_AutoDeskew),
                                                  &type, &after))
                << "settings are only read";
        }
        if (c.content == MISSING)
            continue;
        ASSERT_TRUE(ReadWholeFile(bitmap, &after));
        if (c.twist == LOG_BLOCKED || (c.exitCode == PAGEFIT_DONE && c.choices >= BOTH_ON)) {
            // Cropped alone: the upright box around the print turned by 0.09;
            // deskewed alone: the whole page.
            int w = 0, h = 0;
            synth::LumaOf(std::vector<uint8_t>(after.begin(), after.end()), &w, &h);
            EXPECT_NEAR(w, c.choices == CROP_ONLY ? 421 : c.choices == DESKEW_ONLY ? 520 : 375, 2);
            EXPECT_NEAR(h, c.choices == CROP_ONLY ? 557 : c.choices == DESKEW_ONLY ? 640 : 525, 2);
        } else {
            EXPECT_TRUE(after == before);
        }
        EXPECT_EQ(GetFileAttributesA(bitmap.c_str()) & FILE_ATTRIBUTE_READONLY, c.twist == READ_ONLY ? 1u : 0u);
    }
}

} // namespace
