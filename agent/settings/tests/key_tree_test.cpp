// CopyKeyTree against Wine's real registry: every value type byte for byte,
// empty data, nested keys, and the failures it must report.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "registry_fixture.h"
#include "settings.h"
#include "test_support.h"

using settingstest::GetWideRawValue;
using settingstest::KeyExists;
using settingstest::ScratchKeyTest;

namespace {

struct RawValue {
    std::wstring name;
    DWORD type;
    std::string bytes;
};

std::string Wide(const std::wstring &text, bool terminated)
{
    return std::string((const char *)text.c_str(), (text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t));
}

// What an installer may leave: every type, with and without terminators,
// empty data, text outside any code page and text of odd byte length.
const std::vector<RawValue> &AllKinds()
{
    static const std::vector<RawValue> values = {
        {L"", REG_SZ, Wide(L"unnamed default", true)},
        {L"Text", REG_SZ, Wide(L"C:\\Scanner\\", true)},
        {L"Text Without Terminator", REG_SZ, Wide(L"abc", false)},
        {L"Text Of Odd Length", REG_SZ, std::string("a\0b", 3)},
        {L"Wide Text \x4e2d\x6587", REG_SZ, Wide(L"\x4e2d\x6587 \x00e9\x0416", true)},
        {L"Expandable", REG_EXPAND_SZ, Wide(L"%TEMP%\\x", true)},
        {L"Several", REG_MULTI_SZ, std::string((const char *)L"one\0two\0", 18)},
        {L"Binary", REG_BINARY, std::string("\0\xff\x10\x80", 4)},
        {L"Number", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
        {L"Big Endian", REG_DWORD_BIG_ENDIAN, std::string("\x12\x34\x56\x78", 4)},
        {L"Wide Number", REG_QWORD, std::string("\1\2\3\4\5\6\7\x08", 8)},
        {L"No Type", REG_NONE, std::string("\x01", 1)},
        {L"Empty Text", REG_SZ, ""},
        {L"Empty Binary", REG_BINARY, ""},
        {L"Empty Number", REG_DWORD, ""},
    };
    return values;
}

void SetWideRaw(HKEY root, const std::string &path, const RawValue &value)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    // The registry counts a terminator into text whose next character is
    // zero; non-zero bytes past the data keep the fixture exactly as given.
    const std::string data = value.bytes + "~~";
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, value.name.c_str(), 0, value.type, (const BYTE *)data.data(),
                                            (DWORD)value.bytes.size()));
    RegCloseKey(key);
}

void CountEntries(HKEY root, const std::string &path, DWORD *subkeys, DWORD *values)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, subkeys, nullptr, nullptr, values,
                                              nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(key);
}

class KeyTreeTest : public ScratchKeyTest {
protected:
    std::string Source(const std::string &below = "") const { return path + "\\source" + below; }
    std::string Copy(const std::string &below = "") const { return path + "\\copy" + below; }

    // Stored values must be exactly as the fixture wrote them: a failed set
    // would make a copy test pass vacuously.
    void ExpectValues(const std::string &at, const std::vector<RawValue> &values)
    {
        for (const RawValue &value : values) {
            SCOPED_TRACE(std::string(value.name.begin(), value.name.end()) + " under " + at);
            DWORD type = 0;
            std::string bytes;
            ASSERT_TRUE(GetWideRawValue(HKEY_CURRENT_USER, at, value.name.c_str(), &type, &bytes));
            EXPECT_EQ(value.type, type);
            EXPECT_EQ(value.bytes, bytes);
        }
    }
};

TEST_F(KeyTreeTest, CopiesEveryValueTypeByteForByte)
{
    for (const RawValue &value : AllKinds())
        SetWideRaw(HKEY_CURRENT_USER, Source(), value);
    ExpectValues(Source(), AllKinds());

    EXPECT_EQ(1, CopyKeyTree(HKEY_CURRENT_USER, Source().c_str(), HKEY_CURRENT_USER, Copy().c_str()));

    ExpectValues(Copy(), AllKinds());
    DWORD subkeys = 99, values = 0;
    CountEntries(HKEY_CURRENT_USER, Copy(), &subkeys, &values);
    EXPECT_EQ(0u, subkeys);
    EXPECT_EQ(AllKinds().size(), values);
}

// A value name too long for a small enumeration buffer must neither be lost
// nor end the copy of the values after it.
TEST_F(KeyTreeTest, LongValueNamesAndTheValuesAfterThemArrive)
{
    const std::vector<RawValue> values = {
        {std::wstring(400, L'n'), REG_SZ, Wide(L"long name", true)},
        {L"After", REG_DWORD, std::string("\1\0\0\0", 4)},
    };
    for (const RawValue &value : values)
        SetWideRaw(HKEY_CURRENT_USER, Source(), value);

    EXPECT_EQ(1, CopyKeyTree(HKEY_CURRENT_USER, Source().c_str(), HKEY_CURRENT_USER, Copy().c_str()));
    ExpectValues(Copy(), values);
}

TEST_F(KeyTreeTest, MissingSourceFailsAndCreatesNothing)
{
    EXPECT_EQ(0, CopyKeyTree(HKEY_CURRENT_USER, Source().c_str(), HKEY_CURRENT_USER, Copy().c_str()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Copy()));
}

// A volatile key cannot hold a lasting subkey: the destination itself, or a
// subkey of it, cannot be created.
TEST_F(KeyTreeTest, ReportsDestinationsThatCannotBeCreated)
{
    HKEY volatileKey;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, (path + "\\volatile").c_str(), 0, nullptr,
                                             REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &volatileKey, nullptr));
    RegCloseKey(volatileKey);
    const RawValue top = {L"Top", REG_SZ, Wide(L"top", true)};
    SetWideRaw(HKEY_CURRENT_USER, Source(), top);
    SetWideRaw(HKEY_CURRENT_USER, Source("\\Child"), top);

    // The destination below a volatile key.
    EXPECT_EQ(0, CopyKeyTree(HKEY_CURRENT_USER, Source().c_str(), HKEY_CURRENT_USER,
                             (path + "\\volatile\\copy").c_str()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, path + "\\volatile\\copy"));

    // The destination is the volatile key itself: its values arrive, its
    // subkey cannot, and the copy says so.
    EXPECT_EQ(0, CopyKeyTree(HKEY_CURRENT_USER, Source().c_str(), HKEY_CURRENT_USER, (path + "\\volatile").c_str()));
    ExpectValues(path + "\\volatile", {top});
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, path + "\\volatile\\Child"));
}

// One subkey that cannot be created (here below a volatile key the
// destination already has) is reported, and every key after it still arrives.
TEST_F(KeyTreeTest, AFailedSubkeyEndsNothingAfterIt)
{
    const RawValue value = {L"Value", REG_SZ, Wide(L"copied", true)};
    SetWideRaw(HKEY_CURRENT_USER, Copy(), value); // a lasting key, or no subkey could be made
    HKEY volatileKey;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, (Copy() + "\\A").c_str(), 0, nullptr,
                                             REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &volatileKey, nullptr));
    RegCloseKey(volatileKey);
    for (const char *key : {"\\A", "\\A\\Deep", "\\B", "\\B\\Deep", "\\C"})
        SetWideRaw(HKEY_CURRENT_USER, Source(key), value);

    EXPECT_EQ(0, CopyKeyTree(HKEY_CURRENT_USER, Source().c_str(), HKEY_CURRENT_USER, Copy().c_str()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Copy("\\A\\Deep")));
    for (const char *key : {"\\A", "\\B", "\\B\\Deep", "\\C"})
        ExpectValues(Copy(key), {value});
}

} // namespace
