// Copies a registry key with its values and subkeys to any depth; used to
// give each user a private copy of the installer's machine-wide defaults.
#include "settings.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The wide registry functions copy every value exactly as stored: through the
// ANSI ones, text outside the code page would come back as '?' and text data
// of odd length would be cut.

// Value names may be up to 16383 characters; a shorter buffer would end the
// value copy at the first long name and quietly drop every value after it.
const DWORD VALUE_NAME_CAPACITY = 16384;
// Key names are at most 255 characters.
const DWORD SUBKEY_NAME_CAPACITY = 300;

bool IsTextType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

int CopyValue(HKEY source, HKEY destination, const WCHAR *name)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(source, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return 0;
    // Two spare bytes past the data: the registry counts a terminator into
    // text whose next character is zero, so they are set to a non-zero
    // character to keep text stored without one byte for byte.
    BYTE *data = (BYTE *)calloc(size + sizeof(WCHAR), 1);
    if (!data)
        return 0;
    int copied = 0;
    if (RegQueryValueExW(source, name, nullptr, &type, data, &size) == ERROR_SUCCESS) {
        if (IsTextType(type))
            memset(data + size, 0xff, sizeof(WCHAR));
        copied = RegSetValueExW(destination, name, 0, type, data, size) == ERROR_SUCCESS;
    }
    free(data);
    return copied;
}

// Every value is attempted; the result says whether all of them arrived.
int CopyValues(HKEY source, HKEY destination, WCHAR *nameBuffer)
{
    int result = 1;
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = VALUE_NAME_CAPACITY;
        LONG status = RegEnumValueW(source, index, nameBuffer, &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        // A name too long to list is skipped like a value that fails to copy;
        // any other error would repeat at every index.
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
            return 0;
        if (status == ERROR_MORE_DATA || !CopyValue(source, destination, nameBuffer))
            result = 0;
    }
    return result;
}

DWORD CountSubkeys(HKEY key)
{
    DWORD count = 0;
    for (;; ++count) {
        WCHAR name[SUBKEY_NAME_CAPACITY];
        DWORD nameLength = SUBKEY_NAME_CAPACITY;
        if (RegEnumKeyExW(key, count, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return count;
    }
}

int CopyTree(HKEY sourceRoot, const WCHAR *sourcePath, HKEY destinationRoot, const WCHAR *destinationPath,
             WCHAR *valueNameBuffer)
{
    HKEY source = nullptr;
    if (RegOpenKeyExW(sourceRoot, sourcePath, 0, KEY_READ, &source) != ERROR_SUCCESS)
        return 0;
    HKEY destination = nullptr;
    if (RegCreateKeyExW(destinationRoot, destinationPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                        nullptr, &destination, nullptr) != ERROR_SUCCESS) {
        RegCloseKey(source);
        return 0;
    }

    int result = CopyValues(source, destination, valueNameBuffer);

    // Counted before copying, so the walk is over the subkeys the source had
    // when the copy began. A subkey that fails is reported but ends nothing:
    // the user's old tree is already gone, and every instance after it must
    // still arrive or the agent could never open its own.
    DWORD count = CountSubkeys(source);
    for (DWORD index = 0; index < count; ++index) {
        WCHAR name[SUBKEY_NAME_CAPACITY];
        DWORD nameLength = SUBKEY_NAME_CAPACITY;
        if (RegEnumKeyExW(source, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
            !CopyTree(source, name, destination, name, valueNameBuffer))
            result = 0;
    }

    RegCloseKey(destination);
    RegCloseKey(source);
    return result;
}

int ToWide(const char *text, std::vector<WCHAR> *wide)
{
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return 0;
    wide->assign((size_t)length, L'\0');
    return MultiByteToWideChar(CP_ACP, 0, text, -1, wide->data(), length) == length;
}

} // namespace

int CopyKeyTree(HKEY sourceRoot, const char *sourcePath, HKEY destinationRoot, const char *destinationPath)
{
    std::vector<WCHAR> source, destination;
    if (!ToWide(sourcePath, &source) || !ToWide(destinationPath, &destination))
        return 0;
    // One buffer serves the whole tree: each key's values are copied before
    // its subkeys are entered.
    WCHAR *valueName = (WCHAR *)malloc(VALUE_NAME_CAPACITY * sizeof(WCHAR));
    if (!valueName)
        return 0;
    int result = CopyTree(sourceRoot, source.data(), destinationRoot, destination.data(), valueName);
    free(valueName);
    return result;
}
