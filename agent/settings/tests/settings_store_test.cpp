// The settings store against Wine's real registry: what the value helpers
// return and leave stored, the key tree copy, and finding the settings key.
// The installed agent's use of it is tested end to end.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings.h"
#include "shared.h"
#include "test_support.h"

using testsupport::SetRawValue;

namespace {

const char *const NAME = "Under Test";

const auto Dword = testsupport::DwordBytes;

// A value as "type:bytes", or "missing".
std::string Raw(HKEY root, const std::string &path, const char *name)
{
    DWORD type;
    std::string data;
    return testsupport::GetRawValue(root, path, name, &type, &data) ? std::to_string(type) + ":" + data : "missing";
}

bool KeyExists(HKEY root, const std::string &path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// A scratch key, and a model of its own: Module.ini naming it beside the
// program file ModulePath names, in a scratch folder.
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static unsigned counter;
        const std::string tag = std::to_string(GetCurrentProcessId() % 100000) + "-" + std::to_string(++counter);
        path = "Software\\Velmora Tests\\store " + tag;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
        modelKeyPath = MODEL_KEY_BASE "vm" + tag;
        programFolder = testsupport::MakeScratchFolder("settings");
        ASSERT_TRUE(testsupport::WriteWholeFile(programFolder + "\\" MODULE_INI_NAME, "[SYSTEM]\r\nModule=vm" + tag));
        snprintf(ModulePath, sizeof ModulePath, "%s\\Velmora.exe", programFolder.c_str());
        ModulePathTail = strrchr(ModulePath, '\\') + 1;
    }
    void TearDown() override
    {
        RegCloseKey(key);
        RegCloseKey(SettingsKey);
        SettingsKey = nullptr;
        testsupport::DeleteRegistryTree(HKEY_LOCAL_MACHINE, modelKeyPath);
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, modelKeyPath);
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, path);
        testsupport::RemoveTree(programFolder);
    }
    // REG_NONE: no value.
    void Store(DWORD type, const std::string &bytes)
    {
        RegDeleteValueA(key, NAME);
        if (type != REG_NONE) {
            ASSERT_TRUE(SetRawValue(HKEY_CURRENT_USER, path, NAME, type, bytes.data(), (DWORD)bytes.size()));
        }
    }
    // Instance i of the model is named "i": enumerated as it is named.
    std::string Instance(size_t i) const
    {
        return modelKeyPath + "\\" + std::to_string(i);
    }
    void SetText(HKEY root, const std::string &at, const char *name, const std::string &text)
    {
        ASSERT_TRUE(SetRawValue(root, at, name, REG_SZ, text.c_str(), (DWORD)text.size() + 1));
    }

    std::string path, modelKeyPath, programFolder;
    HKEY key = nullptr;
};

// ---- the value helpers ------------------------------------------------------

// The Query form answers the same and never writes; it knows no range.
TEST_F(StoreTest, NumbersAreReadOrTheDefaultIsWrittenBack)
{
    const std::string N = "4:"; // REG_DWORD
    const struct {
        DWORD type;
        std::string bytes;
        int defaultValue;
        SettingRange range; // none when both ends are 0
        int expected;
        std::string after;
    } cases[] = {
        {REG_NONE, "", 7, {}, 7, N + Dword(7)},
        {REG_DWORD, Dword(0xfffffffb), 7, {}, -5, N + Dword(0xfffffffb)},
        {REG_BINARY, "\x34\x12", 7, {}, 0x1234, "3:\x34\x12"},
        {REG_SZ, "12345", 9, {}, 9, N + Dword(9)},
        {REG_DWORD, Dword(101), 50, {0, 100}, 50, N + Dword(50)},
        {REG_DWORD, Dword(DWORD(-1)), 50, {0, 100}, 50, N + Dword(50)},
        {REG_DWORD, Dword(100), 50, {0, 100}, 100, N + Dword(100)},
        {REG_DWORD, Dword(0), 50, {0, 100}, 0, N + Dword(0)},
        {REG_DWORD, Dword(DWORD(-5)), 1, {-10, 10}, -5, N + Dword(DWORD(-5))},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        Store(c.type, c.bytes);
        const bool ranged = c.range.minimum || c.range.maximum;
        const std::string before = Raw(HKEY_CURRENT_USER, path, NAME);
        if (!ranged) {
            EXPECT_EQ(c.expected, QueryDwordSetting(key, NAME, c.defaultValue));
            EXPECT_EQ(before, Raw(HKEY_CURRENT_USER, path, NAME));
        }
        EXPECT_EQ(c.expected, ReadDwordSetting(key, NAME, c.defaultValue, ranged ? &c.range : nullptr));
        EXPECT_EQ(c.after, Raw(HKEY_CURRENT_USER, path, NAME));
    }
}

// Stored text counts only when it is shorter than the buffer (8 bytes here);
// text is written back without a terminator.
TEST_F(StoreTest, TextIsReadOrTheDefaultIsWrittenBack)
{
    const DWORD CAPACITY = 8;
    const struct {
        DWORD type;
        std::string bytes;
        const char *defaultText, *expected;
        bool fromStore;
        std::string after;
    } cases[] = {
        {REG_NONE, "", "abc", "abc", false, "1:abc"},
        {REG_NONE, "", nullptr, "", false, "1:"},
        {REG_SZ, std::string("hello\0", 6), "abc", "hello", true, std::string("1:hello\0", 8)},
        {REG_SZ, "seven77", "abc", "seven77", true, "1:seven77"},
        {REG_SZ, std::string("seven77\0", 8), "abc", "abc", false, "1:abc"},
        {REG_SZ, "", "abc", "", true, "1:"},
        {REG_NONE, "", "default text", "default", false, "1:default"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        Store(c.type, c.bytes);
        const std::string before = Raw(HKEY_CURRENT_USER, path, NAME);
        char buffer[CAPACITY + 1];
        memset(buffer, 'X', sizeof buffer);
        EXPECT_EQ(c.fromStore ? 1 : 0, QueryStringSetting(key, NAME, c.defaultText, buffer, CAPACITY));
        EXPECT_STREQ(c.expected, buffer);
        EXPECT_EQ(before, Raw(HKEY_CURRENT_USER, path, NAME));
        memset(buffer, 'X', sizeof buffer);
        ReadStringSetting(key, NAME, c.defaultText, buffer, CAPACITY);
        EXPECT_STREQ(c.expected, buffer);
        EXPECT_EQ('X', buffer[CAPACITY]) << "wrote past the buffer";
        EXPECT_EQ(c.after, Raw(HKEY_CURRENT_USER, path, NAME));
    }
}

// ---- the key tree copy ------------------------------------------------------

// Every value of `path` as its name, type and bytes, through the wide functions.
std::vector<std::string> WideValues(const std::string &path)
{
    std::vector<std::string> values;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    std::vector<wchar_t> name(16384);
    char data[256];
    DWORD nameLength, type, size;
    for (DWORD i = 0; nameLength = 16384, size = sizeof data,
               RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, (BYTE *)data, &size) == 0;
         ++i)
        values.push_back(std::string((const char *)name.data(), nameLength * 2) + "|" + std::to_string(type) + "|" +
                         std::string(data, size));
    RegCloseKey(key);
    return values;
}

// Every type byte for byte: text without a terminator, of odd length and
// outside any code page, and a name too long for a short list buffer with
// the values after it. The bytes past each datum are not zero, so the
// registry counts no terminator in.
TEST_F(StoreTest, KeyTreeCopiesEveryValueAndKeyExactly)
{
    const struct {
        std::wstring name;
        DWORD type;
        std::string bytes;
    } values[] = {
        {L"", REG_SZ, std::string((const char *)L"x", 4)},
        {std::wstring(400, L'n'), REG_SZ, std::string((const char *)L"long", 10)},
        {L"No Terminator", REG_SZ, std::string((const char *)L"abc", 6)},
        {L"Odd", REG_SZ, std::string("a\0b", 3)},
        {L"\x4e2d", REG_EXPAND_SZ, std::string((const char *)L"\x4e2d\x00e9", 6)},
        {L"Several", REG_MULTI_SZ, std::string((const char *)L"one\0two\0", 18)},
        {L"Binary", REG_BINARY, std::string("\0\xff\x80", 3)},
        {L"Number", REG_DWORD, "\x78\x56\x34\x12"},
        {L"Empty", REG_SZ, ""},
    };
    for (const char *below : {"\\source", "\\source\\Child\\Deep"}) {
        HKEY at;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, (path + below).c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &at, nullptr));
        for (const auto &value : values) {
            const std::string data = value.bytes + "~~";
            RegSetValueExW(at, value.name.c_str(), 0, value.type, (const BYTE *)data.data(), value.bytes.size());
        }
        RegCloseKey(at);
    }
    ASSERT_EQ(9u, WideValues(path + "\\source").size());

    EXPECT_EQ(
        1, CopyKeyTree(HKEY_CURRENT_USER, (path + "\\source").c_str(), HKEY_CURRENT_USER, (path + "\\copy").c_str()));
    EXPECT_EQ(WideValues(path + "\\source"), WideValues(path + "\\copy"));
    EXPECT_EQ(WideValues(path + "\\source"), WideValues(path + "\\copy\\Child\\Deep"));
}

// A subkey that cannot be made (a volatile key of that name is already in
// the destination, and a volatile key takes no lasting subkey) is reported,
// and every key after it still arrives.
TEST_F(StoreTest, KeyTreeCopyGoesOnPastAFailedSubkey)
{
    SetText(HKEY_CURRENT_USER, path + "\\copy", "Value", "lasting"); // or no subkey could be made
    HKEY made;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, (path + "\\copy\\A").c_str(), 0, nullptr,
                                             REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &made, nullptr));
    RegCloseKey(made);
    for (const char *below : {"\\A", "\\A\\Deep", "\\B", "\\B\\Deep", "\\C"})
        SetText(HKEY_CURRENT_USER, path + "\\source" + below, "Value", "copied");

    EXPECT_EQ(
        0, CopyKeyTree(HKEY_CURRENT_USER, (path + "\\source").c_str(), HKEY_CURRENT_USER, (path + "\\copy").c_str()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, path + "\\copy\\A\\Deep"));
    for (const char *below : {"\\A", "\\B", "\\B\\Deep", "\\C"})
        EXPECT_EQ(Raw(HKEY_CURRENT_USER, path + "\\copy" + below, "Value"),
                  Raw(HKEY_CURRENT_USER, path + "\\source\\C", "Value"))
            << below;
}

// ---- finding the settings key ----------------------------------------------

// The walk goes down from the highest enumeration index and the first
// instance naming any folder decides; what it passes is repaired.
TEST_F(StoreTest, InstanceWalkGoesDownAndTheFirstFolderDecides)
{
    enum { NONE, OURS, OTHER, NO_BACKSLASH, MISSING, TOO_LONG, EMPTY };
    const std::string ours = testsupport::ProgramDirectory();
    const std::string texts[] = {"",
                                 ours,
                                 programFolder + "\\",
                                 ours.substr(0, ours.size() - 1),
                                 programFolder + "\\missing\\",
                                 "C:\\" + std::string(280, 'x') + "\\",
                                 ""};
    const struct {
        std::vector<int> byIndex;
        int expected;
        int stopIndex; // where the walk ends; -1 when it passes every instance
    } cases[] = {
        {{OURS}, 1, 0},          {{OURS, OTHER}, 0, 1},    {{OTHER, OURS}, 1, 1}, {{OTHER, OURS, NONE}, 1, 1},
        {{OURS, EMPTY}, 1, 0},   {{OURS, TOO_LONG}, 1, 0}, {{NONE, NONE}, 0, -1}, {{OURS, NO_BACKSLASH}, 0, 1},
        {{OURS, MISSING}, 0, 1},
    };
    const char *const DIRECTORY = SettingName(SETTING_SystemDirectory);
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, modelKeyPath);
        for (size_t i = 0; i < c.byIndex.size(); ++i)
            SetText(HKEY_CURRENT_USER, Instance(i), c.byIndex[i] == NONE ? "Other" : DIRECTORY, texts[c.byIndex[i]]);

        EXPECT_EQ(c.expected, OpenSettingsKey());
        EXPECT_EQ(nullptr, ScannerInstanceKey);
        RegCloseKey(SettingsKey);
        SettingsKey = nullptr;
        for (int i = 0; i < (int)c.byIndex.size(); ++i) {
            EXPECT_EQ(c.expected && i == c.stopIndex, KeyExists(HKEY_CURRENT_USER, Instance(i) + "\\" SETTINGS_SUBKEY));
            // An unusable folder passed over is repaired to an empty one; all else is untouched.
            const int kind = c.byIndex[i];
            const bool repaired = (kind == NONE || kind == TOO_LONG) && i > c.stopIndex;
            EXPECT_EQ(Raw(HKEY_CURRENT_USER, Instance(i), DIRECTORY), repaired       ? "1:"
                                                                      : kind == NONE ? "missing"
                                                                                     : "1:" + texts[kind] + '\0')
                << i;
        }
    }
}

// Only the highest stamped machine instance decides; on a difference the
// user's whole model tree is replaced by a copy of the machine's.
TEST_F(StoreTest, MachineDefaultsFollowTheHighestStampedInstance)
{
    const char *const NO_STAMP = "<no stamp>";
    const char *const NO_INSTANCE = "<no instance>";
    const struct {
        std::vector<const char *> machine, user; // stamps by enumeration index
        bool replaced;
    } cases[] = {
        {{"V1.0a"}, {"v1.0A"}, false},          {{"V1.0"}, {"V1.1"}, true},
        {{"V1.0"}, {NO_INSTANCE}, true},        {{"V1.0"}, {NO_STAMP}, true},
        {{"V2", NO_STAMP}, {"v2", "x"}, false}, {{"V2", NO_STAMP}, {"V1", "x"}, true},
        {{"V1", "V2"}, {"old", "V2"}, false},   {{"V1", "V2"}, {"V1", "old"}, true},
    };
    const char *const STAMP = SettingName(SETTING_TimeStamp);
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        testsupport::DeleteRegistryTree(HKEY_LOCAL_MACHINE, modelKeyPath);
        testsupport::DeleteRegistryTree(HKEY_CURRENT_USER, modelKeyPath);
        for (size_t i = 0; i < c.machine.size(); ++i) {
            SetText(HKEY_LOCAL_MACHINE, Instance(i), c.machine[i] == NO_STAMP ? "Machine" : STAMP, c.machine[i]);
            if (c.user[i] != NO_INSTANCE)
                SetText(HKEY_CURRENT_USER, Instance(i), c.user[i] == NO_STAMP ? "Mine" : STAMP, c.user[i]);
        }
        SetText(HKEY_CURRENT_USER, modelKeyPath + "\\User Only", "Mine", "");

        SyncMachineDefaults(modelKeyPath.c_str());

        EXPECT_EQ(!c.replaced, KeyExists(HKEY_CURRENT_USER, modelKeyPath + "\\User Only"));
        for (size_t i = 0; i < c.machine.size(); ++i) {
            const std::string machine = Raw(HKEY_LOCAL_MACHINE, Instance(i), STAMP);
            const bool stamped = c.user[i] != NO_INSTANCE && c.user[i] != NO_STAMP;
            const std::string user = stamped ? "1:" + std::string(c.user[i]) + '\0' : "missing";
            EXPECT_EQ(Raw(HKEY_CURRENT_USER, Instance(i), STAMP), c.replaced ? machine : user) << i;
        }
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, modelKeyPath + "\\User Only")) << "the machine's tree was written";
    }
}

} // namespace
