// Finding and opening the settings key against Wine's real registry: the
// model name from Module.ini, the program-folder test, the downward instance
// walk, the machine-defaults sync and the read-only search of the tools.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "registry_fixture.h"
#include "settings.h"
#include "shared.h"
#include "test_support.h"

using settingstest::KeyExists;
using settingstest::ModelTest;
using settingstest::ValueExists;
using testsupport::GetRawValue;
using testsupport::ProgramDirectory;
using testsupport::SetRawValue;

namespace {

const char *const SYSTEM_DIRECTORY = SettingName(SETTING_SystemDirectory);
const char *const TIME_STAMP = SettingName(SETTING_TimeStamp);

std::string WithoutFinalBackslash(std::string path)
{
    path.pop_back();
    return path;
}

// --- Module.ini -------------------------------------------------------------

struct ModelNameCase {
    const char *what;
    const char *contents; // null: no Module.ini at all
    const char *expected;
};

const ModelNameCase MODEL_NAME_CASES[] = {
    {"25 characters are cut to 19", "[SYSTEM]\r\nModule=ABCDEFGHIJKLMNOPQRSTUVWXY\r\n", "ABCDEFGHIJKLMNOPQRS"},
    {"19 characters are kept", "[SYSTEM]\r\nModule=ABCDEFGHIJKLMNOPQRS\r\n", "ABCDEFGHIJKLMNOPQRS"},
    {"section and key in another case", "[system]\r\nmodule=DS-20\r\n", "DS-20"},
    {"other entries around it", "[OTHER]\r\nModule=no\r\n[SYSTEM]\r\nVersion=3\r\nModule=DS-30\r\n", "DS-30"},
    {"no such section", "[OTHER]\r\nModule=DS-40\r\n", ""},
    {"no such key", "[SYSTEM]\r\nModel=DS-50\r\n", ""},
    {"no file", nullptr, ""},
};

TEST_F(ModelTest, ModelNameComesFromModuleIniBesideTheProgram)
{
    int folderNumber = 0;
    for (const ModelNameCase &c : MODEL_NAME_CASES) {
        SCOPED_TRACE(c.what);
        // A folder per case: the profile reader may cache a file it has read.
        std::string folder = programFolder + "\\case" + std::to_string(++folderNumber);
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        if (c.contents) {
            ASSERT_TRUE(testsupport::WriteWholeFile(folder + "\\Module.ini", c.contents));
        }
        snprintf(ModulePath, sizeof ModulePath, "%s\\Velmora.exe", folder.c_str());
        ModulePathTail = strrchr(ModulePath, '\\') + 1;

        char name[MODEL_NAME_CAPACITY + 4];
        memset(name, 'X', sizeof name);
        EXPECT_EQ(c.expected[0] ? 1 : 0, ReadModuleModelName(name));
        EXPECT_STREQ(c.expected, name);
    }
}

// --- the instance walk ------------------------------------------------------

// What an instance's "System Directory" holds.
enum Directory { NONE, THIS_PROGRAM, OTHER_FOLDER, NO_BACKSLASH, MISSING_FOLDER, TOO_LONG, EMPTY };

struct WalkCase {
    const char *what;
    std::vector<Directory> byIndex; // by enumeration index, lowest first
    int expected;
    int stopIndex; // where the walk ends; -1 when it passes every instance
};

const WalkCase WALK_CASES[] = {
    {"the only instance is ours", {THIS_PROGRAM}, 1, 0},
    {"a higher index names another installation", {THIS_PROGRAM, OTHER_FOLDER}, 0, 1},
    {"the higher index is ours", {OTHER_FOLDER, THIS_PROGRAM}, 1, 1},
    {"instances without a folder are skipped", {OTHER_FOLDER, THIS_PROGRAM, NONE}, 1, 1},
    {"a stored empty folder is skipped", {THIS_PROGRAM, EMPTY}, 1, 0},
    {"an unreadably long folder is skipped", {THIS_PROGRAM, TOO_LONG}, 1, 0},
    {"no instance names a folder", {NONE, NONE}, 0, -1},
    {"our folder without its final backslash is another", {THIS_PROGRAM, NO_BACKSLASH}, 0, 1},
    {"a missing folder is another", {THIS_PROGRAM, MISSING_FOLDER}, 0, 1},
};

class InstanceWalkTest : public ModelTest {
protected:
    // Creates one user instance per entry and returns their names by
    // enumeration index. They are created in the reverse of their name order
    // so that neither creation nor name order can stand in for the index.
    std::vector<std::string> MakeInstances(HKEY root, size_t count)
    {
        for (size_t i = count; i-- > 0;) {
            HKEY instance;
            EXPECT_EQ(ERROR_SUCCESS,
                      RegCreateKeyExA(root, InstancePath("Instance " + std::string(1, (char)('A' + i))).c_str(), 0,
                                      nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &instance, nullptr));
            RegCloseKey(instance);
        }
        std::vector<std::string> names;
        HKEY model;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, modelKeyPath.c_str(), 0, KEY_READ, &model));
        for (DWORD index = 0;; ++index) {
            char name[MAX_PATH];
            DWORD length = sizeof name;
            if (RegEnumKeyExA(model, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            names.push_back(name);
        }
        RegCloseKey(model);
        EXPECT_EQ(count, names.size());
        return names;
    }

    std::string DirectoryText(Directory directory)
    {
        switch (directory) {
        case THIS_PROGRAM: return ProgramDirectory();
        case OTHER_FOLDER: return programFolder + "\\";
        case NO_BACKSLASH: return WithoutFinalBackslash(ProgramDirectory());
        case MISSING_FOLDER: return programFolder + "\\missing\\";
        case TOO_LONG: return "C:\\" + std::string(280, 'x') + "\\";
        default: return "";
        }
    }
};

TEST_F(InstanceWalkTest, WalksDownwardByEnumerationIndexAndTheFirstFolderDecides)
{
    for (const WalkCase &c : WALK_CASES) {
        SCOPED_TRACE(c.what);
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, modelKeyPath);
        std::vector<std::string> names = MakeInstances(HKEY_CURRENT_USER, c.byIndex.size());
        ASSERT_EQ(c.byIndex.size(), names.size());
        for (size_t i = 0; i < names.size(); ++i)
            if (c.byIndex[i] != NONE)
                SetText(HKEY_CURRENT_USER, names[i], SYSTEM_DIRECTORY, DirectoryText(c.byIndex[i]));

        EXPECT_EQ(c.expected, OpenSettingsKey());
        EXPECT_EQ(c.expected != 0, SettingsKey != nullptr);
        EXPECT_EQ(nullptr, ScannerInstanceKey);

        for (int i = 0; i < (int)names.size(); ++i) {
            SCOPED_TRACE("instance at index " + std::to_string(i));
            const std::string instance = InstancePath(names[i]);
            EXPECT_EQ(c.expected == 1 && i == c.stopIndex, KeyExists(HKEY_CURRENT_USER, instance + "\\" SETTINGS_SUBKEY));
            DWORD type = 0;
            std::string stored;
            bool present = GetRawValue(HKEY_CURRENT_USER, instance, SYSTEM_DIRECTORY, &type, &stored);
            bool passed = i > c.stopIndex;
            if (c.byIndex[i] == NONE || c.byIndex[i] == TOO_LONG) {
                // Passed over: repaired to an empty folder; below the stop: untouched.
                if (passed) {
                    ASSERT_TRUE(present);
                    EXPECT_EQ((DWORD)REG_SZ, type);
                    EXPECT_EQ("", stored);
                } else {
                    EXPECT_EQ(c.byIndex[i] == TOO_LONG, present);
                }
            }
        }
        if (SettingsKey) {
            RegCloseKey(SettingsKey);
            SettingsKey = nullptr;
        }
    }
}

TEST_F(InstanceWalkTest, SettingsKeyIsTheChosenInstancesVelmoraKeyAndKeepsItsValues)
{
    std::vector<std::string> names = MakeInstances(HKEY_CURRENT_USER, 2);
    SetText(HKEY_CURRENT_USER, names[1], SYSTEM_DIRECTORY, ProgramDirectory());
    const std::string settings = InstancePath(names[1]) + "\\" SETTINGS_SUBKEY;

    ASSERT_EQ(1, OpenSettingsKey());
    WriteDwordSetting(SettingsKey, SettingName(SETTING_FirstStartup), 1);
    RegCloseKey(SettingsKey);
    SettingsKey = nullptr;
    DWORD type;
    std::string stored;
    ASSERT_TRUE(GetRawValue(HKEY_CURRENT_USER, settings, SettingName(SETTING_FirstStartup), &type, &stored));

    // A second start opens the same key without recreating it.
    ASSERT_EQ(1, OpenSettingsKey());
    EXPECT_EQ(1, ReadNumberSetting(SettingsKey, SETTING_FirstStartup));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, modelKeyPath));
}

// --- machine defaults -------------------------------------------------------

const char *const NO_STAMP = "<no stamp>";
const char *const NO_INSTANCE = "<no instance>";

struct StampCase {
    const char *what;
    std::vector<const char *> machine; // stamps by enumeration index; NO_STAMP
    std::vector<const char *> user;    // the same instances' user stamps; NO_STAMP, NO_INSTANCE
    bool replaced;
};

const StampCase STAMP_CASES[] = {
    {"equal but for case", {"V1.0a"}, {"v1.0A"}, false},
    {"different", {"V1.0"}, {"V1.1"}, true},
    {"different by a trailing blank", {"V1.0"}, {"V1.0 "}, true},
    {"user instance missing", {"V1.0"}, {NO_INSTANCE}, true},
    {"user instance without a stamp", {"V1.0"}, {NO_STAMP}, true},
    {"both empty", {""}, {""}, false},
    {"no machine instance is stamped", {NO_STAMP, NO_STAMP}, {"a", "b"}, false},
    {"an unstamped higher instance is passed over", {"V2", NO_STAMP}, {"v2", "x"}, false},
    {"the stamped lower instance decides", {"V2", NO_STAMP}, {"V1", "x"}, true},
    {"only the highest stamped instance decides", {"V1", "V2"}, {"old", "V2"}, false},
    {"the highest stamped instance differs", {"V1", "V2"}, {"V1", "old"}, true},
};

class MachineDefaultsTest : public InstanceWalkTest {
protected:
    void Arrange(const StampCase &c)
    {
        std::vector<std::string> names = MakeInstances(HKEY_LOCAL_MACHINE, c.machine.size());
        ASSERT_EQ(c.machine.size(), names.size());
        for (size_t i = 0; i < names.size(); ++i) {
            SetText(HKEY_LOCAL_MACHINE, names[i], "Machine Only", "from the installer");
            if (c.machine[i] != NO_STAMP)
                SetText(HKEY_LOCAL_MACHINE, names[i], TIME_STAMP, c.machine[i]);
            if (c.user[i] == NO_INSTANCE)
                continue;
            ASSERT_TRUE(SetRawValue(HKEY_CURRENT_USER, InstancePath(names[i]) + "\\" SETTINGS_SUBKEY, "Marker",
                                    REG_DWORD, "\1\0\0\0", 4));
            if (c.user[i] != NO_STAMP)
                SetText(HKEY_CURRENT_USER, names[i], TIME_STAMP, c.user[i]);
        }
        SetText(HKEY_CURRENT_USER, "User Only", "Marker", "mine");
        machineNames = names;
    }

    void ExpectReplaced(const StampCase &c)
    {
        EXPECT_EQ(!c.replaced, KeyExists(HKEY_CURRENT_USER, InstancePath("User Only")));
        for (size_t i = 0; i < machineNames.size(); ++i) {
            SCOPED_TRACE("instance at index " + std::to_string(i));
            const std::string instance = InstancePath(machineNames[i]);
            EXPECT_EQ(c.replaced, ValueExists(HKEY_CURRENT_USER, instance, "Machine Only"));
            bool hadUserSettings = c.user[i] != NO_INSTANCE;
            EXPECT_EQ(hadUserSettings && !c.replaced,
                      ValueExists(HKEY_CURRENT_USER, instance + "\\" SETTINGS_SUBKEY, "Marker"));
        }
        // The machine's tree is never written.
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, InstancePath("User Only")));
    }

    std::vector<std::string> machineNames;
};

TEST_F(MachineDefaultsTest, TheHighestStampedInstanceDecidesAndReplacementIsTotal)
{
    for (const StampCase &c : STAMP_CASES) {
        SCOPED_TRACE(c.what);
        testsupport::DeleteRegistryTree(HKEY_LOCAL_MACHINE, modelKeyPath);
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, modelKeyPath);
        Arrange(c);
        SyncMachineDefaults(modelKeyPath.c_str());
        ExpectReplaced(c);
    }
}

TEST_F(MachineDefaultsTest, MissingMachineKeyLeavesTheUserTreeAlone)
{
    SetText(HKEY_CURRENT_USER, "User Only", "Marker", "mine");
    SyncMachineDefaults(modelKeyPath.c_str());
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, InstancePath("User Only"), "Marker"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, modelKeyPath));
}

// A first start: the user has nothing yet, the installer's instance names
// this program's folder.
TEST_F(MachineDefaultsTest, FirstStartCopiesTheDefaultsAndOpensTheUsersSettings)
{
    SetText(HKEY_LOCAL_MACHINE, "0000", TIME_STAMP, "2024-01-01");
    SetText(HKEY_LOCAL_MACHINE, "0000", SYSTEM_DIRECTORY, ProgramDirectory());
    ASSERT_TRUE(SetRawValue(HKEY_LOCAL_MACHINE, InstancePath("0000") + "\\" SETTINGS_SUBKEY "\\" PAPER_SIZE_SUBKEY,
                            SettingName(SETTING_PaperSizeArea), REG_SZ, "0,0,850,1100", 13));

    ASSERT_EQ(1, OpenSettingsKey());
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, InstancePath("0000") + "\\" SETTINGS_SUBKEY "\\" PAPER_SIZE_SUBKEY,
                            SettingName(SETTING_PaperSizeArea)));
    WriteDwordSetting(SettingsKey, SettingName(SETTING_EnableWarning), 1);
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, InstancePath("0000") + "\\" SETTINGS_SUBKEY,
                            SettingName(SETTING_EnableWarning)));
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, InstancePath("0000") + "\\" SETTINGS_SUBKEY,
                             SettingName(SETTING_EnableWarning)));
}

// A machine tree without any stamp is never copied, so a user without a tree
// of their own has no settings key.
TEST_F(MachineDefaultsTest, UnstampedDefaultsAreNeverCopied)
{
    SetText(HKEY_LOCAL_MACHINE, "0000", SYSTEM_DIRECTORY, ProgramDirectory());
    EXPECT_EQ(0, OpenSettingsKey());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, modelKeyPath));
}

// --- the tools' read-only search ---------------------------------------------

TEST_F(MachineDefaultsTest, ReadOnlySearchDoesNotCreateTheSettingsKey)
{
    SetText(HKEY_CURRENT_USER, "0000", SYSTEM_DIRECTORY, ProgramDirectory());
    EXPECT_EQ(nullptr, OpenSettingsKeyForReading());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, InstancePath("0000") + "\\" SETTINGS_SUBKEY));
}

} // namespace
