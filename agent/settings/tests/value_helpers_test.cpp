// The value helpers against Wine's real registry: what each reader returns
// for what is stored, and what is stored afterwards.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "registry_fixture.h"
#include "settings.h"
#include "test_support.h"

using settingstest::ScratchKeyTest;
using settingstest::ValueExists;
using testsupport::GetRawValue;
using testsupport::SetRawValue;

namespace {

const char *const NAME = "Under Test";

std::string Dword(DWORD value)
{
    return std::string((const char *)&value, sizeof value);
}

struct Stored {
    bool present;
    DWORD type;
    std::string bytes;
};

const Stored MISSING = {false, REG_NONE, ""};

class ValueHelpersTest : public ScratchKeyTest {
protected:
    void Store(const Stored &stored)
    {
        if (!stored.present)
            return;
        // The registry counts a terminator into text whose next byte is
        // zero; a non-zero byte past the data keeps "without" truly without.
        const std::string data = stored.bytes + '~';
        ASSERT_TRUE(SetRawValue(HKEY_CURRENT_USER, path, NAME, stored.type, data.data(),
                                (DWORD)stored.bytes.size()));
    }
    void ExpectStored(const Stored &expected)
    {
        DWORD type = REG_NONE;
        std::string bytes;
        bool present = GetRawValue(HKEY_CURRENT_USER, path, NAME, &type, &bytes);
        ASSERT_EQ(expected.present, present);
        if (!present)
            return;
        EXPECT_EQ(expected.type, type);
        EXPECT_EQ(expected.bytes, bytes);
    }
};

struct NumberCase {
    const char *what;
    Stored before;
    int defaultValue;
    bool ranged;
    SettingRange range;
    int expected;
    Stored after; // what ReadDwordSetting leaves stored
};

const NumberCase NUMBER_CASES[] = {
    {"missing: default written back", MISSING, 7, false, {}, 7, {true, REG_DWORD, Dword(7)}},
    {"stored number", {true, REG_DWORD, Dword(42)}, 7, false, {}, 42, {true, REG_DWORD, Dword(42)}},
    {"negative number is signed", {true, REG_DWORD, Dword(0xfffffffb)}, 7, false, {}, -5,
     {true, REG_DWORD, Dword(0xfffffffb)}},
    {"short data of another type is zero-extended and kept", {true, REG_BINARY, std::string("\x34\x12", 2)}, 7,
     false, {}, 0x1234, {true, REG_BINARY, std::string("\x34\x12", 2)}},
    {"empty data reads as zero", {true, REG_BINARY, ""}, 7, false, {}, 0, {true, REG_BINARY, ""}},
    {"text of more than four bytes", {true, REG_SZ, std::string("12345\0", 6)}, 9, false, {}, 9,
     {true, REG_DWORD, Dword(9)}},
    {"five bytes of binary", {true, REG_BINARY, std::string("\1\2\3\4\5", 5)}, -3, false, {}, -3,
     {true, REG_DWORD, Dword((DWORD)-3)}},
    {"a 64-bit number", {true, REG_QWORD, std::string("\1\0\0\0\0\0\0\0", 8)}, 11, false, {}, 11,
     {true, REG_DWORD, Dword(11)}},
    {"above the range", {true, REG_DWORD, Dword(101)}, 50, true, {0, 100}, 50, {true, REG_DWORD, Dword(50)}},
    {"below the range", {true, REG_DWORD, Dword((DWORD)-1)}, 50, true, {0, 100}, 50, {true, REG_DWORD, Dword(50)}},
    {"upper end is inside", {true, REG_DWORD, Dword(100)}, 50, true, {0, 100}, 100, {true, REG_DWORD, Dword(100)}},
    {"lower end is inside", {true, REG_DWORD, Dword(0)}, 50, true, {0, 100}, 0, {true, REG_DWORD, Dword(0)}},
    {"range compares signed", {true, REG_DWORD, Dword((DWORD)-5)}, 1, true, {-10, 10}, -5,
     {true, REG_DWORD, Dword((DWORD)-5)}},
};

TEST_F(ValueHelpersTest, ReadDwordSettingReturnsStoredNumberOrWritesDefaultBack)
{
    for (const NumberCase &c : NUMBER_CASES) {
        SCOPED_TRACE(c.what);
        RegDeleteValueA(key, NAME);
        Store(c.before);
        EXPECT_EQ(c.expected, ReadDwordSetting(key, NAME, c.defaultValue, c.ranged ? &c.range : nullptr));
        ExpectStored(c.after);
    }
}

TEST_F(ValueHelpersTest, QueryDwordSettingNeverWrites)
{
    for (const NumberCase &c : NUMBER_CASES) {
        if (c.ranged)
            continue;
        SCOPED_TRACE(c.what);
        RegDeleteValueA(key, NAME);
        Store(c.before);
        EXPECT_EQ(c.expected, QueryDwordSetting(key, NAME, c.defaultValue));
        ExpectStored(c.before);
    }
}

struct TextCase {
    const char *what;
    Stored before;
    const char *defaultText;
    const char *expected;
    bool fromStore; // QueryStringSetting's answer
    Stored after;   // what ReadStringSetting leaves stored
};

const DWORD TEXT_CAPACITY = 8;

const TextCase TEXT_CASES[] = {
    {"missing: default written back without terminator", MISSING, "abc", "abc", false, {true, REG_SZ, "abc"}},
    {"missing with an absent default: stored empty", MISSING, nullptr, "", false, {true, REG_SZ, ""}},
    {"stored with terminator", {true, REG_SZ, std::string("hello\0", 6)}, "abc", "hello", true,
     {true, REG_SZ, std::string("hello\0", 6)}},
    {"stored without terminator", {true, REG_SZ, "hello"}, "abc", "hello", true, {true, REG_SZ, "hello"}},
    {"one byte shorter than the buffer", {true, REG_SZ, "seven77"}, "abc", "seven77", true,
     {true, REG_SZ, "seven77"}},
    {"as long as the buffer", {true, REG_SZ, std::string("seven77\0", 8)}, "abc", "abc", false,
     {true, REG_SZ, "abc"}},
    {"longer than the buffer", {true, REG_SZ, "much longer text"}, "abc", "abc", false, {true, REG_SZ, "abc"}},
    {"stored empty is not missing", {true, REG_SZ, ""}, "abc", "", true, {true, REG_SZ, ""}},
    {"type is not looked at", {true, REG_BINARY, "ABC"}, "abc", "ABC", true, {true, REG_BINARY, "ABC"}},
    {"default longer than the buffer is cut", MISSING, "default text", "default", false,
     {true, REG_SZ, "default"}},
};

TEST_F(ValueHelpersTest, ReadStringSettingReturnsStoredTextOrWritesDefaultBack)
{
    for (const TextCase &c : TEXT_CASES) {
        SCOPED_TRACE(c.what);
        RegDeleteValueA(key, NAME);
        Store(c.before);
        char buffer[TEXT_CAPACITY + 4];
        memset(buffer, 'X', sizeof buffer);
        ReadStringSetting(key, NAME, c.defaultText, buffer, TEXT_CAPACITY);
        EXPECT_STREQ(c.expected, buffer);
        EXPECT_EQ('X', buffer[TEXT_CAPACITY]) << "wrote past the capacity";
        ExpectStored(c.after);
    }
}

TEST_F(ValueHelpersTest, QueryStringSettingTellsStoredFromDefaultAndNeverWrites)
{
    for (const TextCase &c : TEXT_CASES) {
        SCOPED_TRACE(c.what);
        RegDeleteValueA(key, NAME);
        Store(c.before);
        char buffer[TEXT_CAPACITY + 4];
        memset(buffer, 'X', sizeof buffer);
        EXPECT_EQ(c.fromStore ? 1 : 0, QueryStringSetting(key, NAME, c.defaultText, buffer, TEXT_CAPACITY));
        EXPECT_STREQ(c.expected, buffer);
        ExpectStored(c.before);
    }
}

// The longest text a reader accepts must survive being written and read: a
// stored terminator would make it one byte too long and lose it.
TEST_F(ValueHelpersTest, WrittenTextOfCapacityMinusOneReadsBack)
{
    const std::string longest(259, 'p');
    WriteStringSetting(key, NAME, longest.c_str());
    ExpectStored({true, REG_SZ, longest});
    char buffer[260];
    ReadStringSetting(key, NAME, "fallback", buffer, sizeof buffer);
    EXPECT_EQ(longest, buffer);
    // One byte more leaves no room for the terminator: the text is not cut, the default stands.
    WriteStringSetting(key, NAME, (longest + "q").c_str());
    ReadStringSetting(key, NAME, "fallback", buffer, sizeof buffer);
    EXPECT_STREQ("fallback", buffer);
}

TEST_F(ValueHelpersTest, WriteDwordSettingReplacesAnyType)
{
    ASSERT_TRUE(SetRawValue(HKEY_CURRENT_USER, path, NAME, REG_SZ, "text", 5));
    WriteDwordSetting(key, NAME, 0x80000001u);
    ExpectStored({true, REG_DWORD, Dword(0x80000001u)});
}

// A key opened for reading only (the image library's location) must yield
// the default without anything being created.
TEST_F(ValueHelpersTest, ReadOnlyKeyGivesDefaultAndStaysUnchanged)
{
    HKEY readOnly;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &readOnly));
    char text[260];
    memset(text, 'X', sizeof text);
    ReadStringSetting(readOnly, NAME, nullptr, text, sizeof text);
    EXPECT_STREQ("", text);
    EXPECT_EQ(4, ReadDwordSetting(readOnly, "Number Under Test", 4));
    RegCloseKey(readOnly);
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, path, NAME));
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, path, "Number Under Test"));
}

// Every row's default must come back from its own write-back unchanged, or
// the setting would be rewritten on every read.
TEST_F(ValueHelpersTest, EveryTableDefaultSurvivesItsWriteBack)
{
    for (int i = 0; i < SETTING_COUNT; ++i) {
        SettingId id = (SettingId)i;
        const SettingValue &row = Setting(id);
        SCOPED_TRACE(row.name);
        DWORD type;
        std::string bytes;
        if (row.kind == SETTING_NUMBER) {
            EXPECT_EQ(row.numberDefault, ReadNumberSetting(key, id));
            ASSERT_TRUE(GetRawValue(HKEY_CURRENT_USER, path, row.name, &type, &bytes));
            EXPECT_EQ((DWORD)REG_DWORD, type);
            EXPECT_EQ(Dword((DWORD)row.numberDefault), bytes);
            EXPECT_EQ(row.numberDefault, ReadNumberSetting(key, id));
        } else {
            const std::string expected = row.textDefault ? row.textDefault : "";
            std::string buffer(row.capacity, 'X');
            ReadTextSetting(key, id, &buffer[0]);
            EXPECT_EQ(expected, buffer.c_str());
            ASSERT_TRUE(GetRawValue(HKEY_CURRENT_USER, path, row.name, &type, &bytes));
            EXPECT_EQ((DWORD)REG_SZ, type);
            EXPECT_EQ(expected, bytes);
            // Read again: now from the store, which must have accepted it.
            EXPECT_EQ(1, QueryStringSetting(key, row.name, "not the default", &buffer[0], row.capacity));
            EXPECT_EQ(expected, buffer.c_str());
        }
    }
}

TEST(SettingTable, EveryValueNameIsUniqueWithinItsKey)
{
    for (int i = 0; i < SETTING_COUNT; ++i)
        for (int j = i + 1; j < SETTING_COUNT; ++j)
            if (SettingTable[i].place == SettingTable[j].place) {
                EXPECT_STRNE(SettingTable[i].name, SettingTable[j].name);
            }
}

} // namespace
