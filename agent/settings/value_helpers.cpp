// The value helpers: every setting is read with a default, and a missing or
// unusable value is replaced by that default at once, so the registry ends up
// holding every setting the agent has consulted.
#include "settings.h"

#include <cstdlib>
#include <cstring>

namespace {

// The type is deliberately not looked at: whatever fits in four bytes is the
// number (shorter data zero-extended), anything longer fails with
// ERROR_MORE_DATA and counts as unusable.
int QueryStoredNumber(HKEY key, const char *name, int *number)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, nullptr, (BYTE *)&value, &size) != ERROR_SUCCESS)
        return 0;
    *number = (int)value;
    return 1;
}

bool InRange(int number, const SettingRange *range)
{
    return !range || (range->minimum <= number && number <= range->maximum);
}

// Reads stored text only when it fits with room for the terminator; the
// buffer is left untouched otherwise.
int QueryStoredText(HKEY key, const char *name, char *buffer, DWORD capacity)
{
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS || size >= capacity)
        return 0;
    // The value may have grown since its size was asked; offering one byte
    // less than the buffer keeps the terminator's place whatever is read.
    size = capacity - 1;
    if (RegQueryValueExA(key, name, nullptr, nullptr, (BYTE *)buffer, &size) != ERROR_SUCCESS)
        return 0;
    buffer[size] = '\0';
    return 1;
}

void CopyDefaultText(const char *defaultText, char *buffer, DWORD capacity)
{
    lstrcpynA(buffer, defaultText ? defaultText : "", (int)capacity);
}

} // namespace

int ReadDwordSetting(HKEY key, const char *name, int defaultValue, const SettingRange *range)
{
    int number = 0;
    if (QueryStoredNumber(key, name, &number) && InRange(number, range))
        return number;
    WriteDwordSetting(key, name, (DWORD)defaultValue);
    return defaultValue;
}

int QueryDwordSetting(HKEY key, const char *name, int defaultValue)
{
    int number = 0;
    return QueryStoredNumber(key, name, &number) ? number : defaultValue;
}

void ReadStringSetting(HKEY key, const char *name, const char *defaultText, char *buffer, DWORD capacity)
{
    if (capacity == 0)
        return;
    if (QueryStoredText(key, name, buffer, capacity))
        return;
    CopyDefaultText(defaultText, buffer, capacity);
    // Written back from the buffer, so a default longer than the buffer is
    // stored as the reader will accept it next time.
    WriteStringSetting(key, name, buffer);
}

int QueryStringSetting(HKEY key, const char *name, const char *defaultText, char *buffer, DWORD capacity)
{
    if (capacity == 0)
        return 0;
    if (QueryStoredText(key, name, buffer, capacity))
        return 1;
    CopyDefaultText(defaultText, buffer, capacity);
    return 0;
}

void WriteDwordSetting(HKEY key, const char *name, DWORD value)
{
    RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&value, sizeof value);
}

void WriteStringSetting(HKEY key, const char *name, const char *text)
{
    if (!text)
        text = "";
    size_t length = strlen(text);
    // Text is stored without its terminator, so a text one character shorter
    // than its reader's buffer still reads back. The registry quietly counts
    // a terminator in when the byte just past the data is zero, so the data
    // goes from a copy whose next byte is not.
    char *data = (char *)malloc(length + 1);
    if (!data)
        return;
    memcpy(data, text, length);
    data[length] = '.';
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)data, (DWORD)length);
    free(data);
}

int ReadNumberSetting(HKEY key, SettingId id)
{
    return ReadDwordSetting(key, Setting(id).name, Setting(id).numberDefault);
}

void ReadTextSetting(HKEY key, SettingId id, char *buffer)
{
    ReadStringSetting(key, Setting(id).name, Setting(id).textDefault, buffer, Setting(id).capacity);
}
