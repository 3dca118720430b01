// Small questions about the system: its version and the ImageFolio install.
#include "app.h"

#include "settings.h"
#include "shared.h"

int IsWindows2000OrLater(void)
{
    OSVERSIONINFOEXA extended = {};
    extended.dwOSVersionInfoSize = sizeof extended;
    if (GetVersionExA((OSVERSIONINFOA *)&extended))
        return extended.dwMajorVersion >= 5;
    OSVERSIONINFOA plain = {};
    plain.dwOSVersionInfoSize = sizeof plain;
    if (GetVersionExA(&plain))
        return plain.dwMajorVersion >= 5;
    return 0;
}

// The App Paths entry's default value; 0 when the key or value is missing.
static int ReadImageFolioPath(char *buffer, DWORD size)
{
    if (size == 0)
        return 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, IMAGEFOLIO_APP_PATH_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    // One byte short of the buffer, so the text always ends in a terminator
    // even when the stored value carries none.
    DWORD length = size - 1;
    LONG status = RegQueryValueExA(key, nullptr, nullptr, nullptr, (BYTE *)buffer, &length);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return 0;
    buffer[length] = '\0';
    return 1;
}

int IsImageFolioInstalled(void)
{
    char path[PATH_CAPACITY];
    if (!ReadImageFolioPath(path, sizeof path))
        return 0;
    // GetFileAttributes rather than OpenFile, whose record holds only 128
    // characters of path.
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int GetImageFolioPath(char *buffer, DWORD size)
{
    if (!IsImageFolioInstalled())
        return 0;
    return ReadImageFolioPath(buffer, size);
}
