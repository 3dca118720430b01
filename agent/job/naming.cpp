// Output choices of a job, save folders and the next free picture name.
#include "naming.h"

#include <shlobj.h>

#include <climits>
#include <cstdio>

#include "settings.h"
#include "shared.h"

FolderWalk FolderCreation;

namespace {

const char TEMP_FILE_PREFIX[] = "tmp";

// Whether `path` certainly names nothing. Any other failure than "not
// found" (a name the file system refuses, a folder we may not look into)
// cannot rule out an existing picture.
enum NameState { NAME_FREE, NAME_TAKEN, NAME_UNKNOWN };

NameState ProbeName(const char *path)
{
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
        return NAME_TAKEN;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? NAME_FREE : NAME_UNKNOWN;
}

} // namespace

void GetDefaultSaveFolder(char *folder)
{
    char desktop[PATH_CAPACITY] = "";
    SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_DESKTOP, FALSE);
    char name[PATH_CAPACITY] = "";
    ReadTextSetting(SettingsKey, SETTING_FolderName, name);
    int length = snprintf(folder, PATH_CAPACITY, "%s\\%s", desktop, name);
    // A folder name too long to join would be cut into some other folder's
    // name; the desktop itself is the honest fallback.
    if (length < 0 || size_t(length) >= PATH_CAPACITY)
        snprintf(folder, PATH_CAPACITY, "%s\\", desktop);
}

bool IsFolderWritable(const char *folder)
{
    char probe[PATH_CAPACITY];
    if (!GetTempFileNameA(folder, TEMP_FILE_PREFIX, 0, probe))
        return false;
    // Creating the empty file can succeed where writing cannot; opening it
    // again for writing settles it.
    HANDLE file = CreateFileA(probe, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    bool writable = file != INVALID_HANDLE_VALUE;
    if (writable)
        CloseHandle(file);
    DeleteFileA(probe);
    return writable;
}

bool IsDirectory(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void CreateFolderPath(const char *path)
{
    BeginFolderWalk(&FolderCreation, path);
    const char *directory;
    while (NextFolderLevel(&FolderCreation, &directory)) {
        if (directory)
            CreateDirectoryA(directory, nullptr);
    }
}

int MakeOutputName(uint32_t format, const char *prefix, const char *folder, char *name, size_t capacity)
{
    const char *extension = FormatExtension(format);
    for (unsigned number = 1; number <= unsigned(INT_MAX); ++number) {
        if (!FormatPictureName(name, capacity, folder, prefix, number, extension))
            return 0;
        switch (ProbeName(name)) {
        case NAME_FREE: return 1;
        case NAME_TAKEN: continue;
        case NAME_UNKNOWN:
            // Asking again for the next number would give the same answer
            // for every name: no name is better than a guess or a hang.
            name[0] = '\0';
            return 0;
        }
    }
    name[0] = '\0';
    return 0;
}

int ReadOutputSettings(OutputSettings *settings)
{
    HKEY key;
    if (RegOpenKeyExA(SettingsKey, SCAN_SETTINGS_SUBKEY, 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS)
        return 0;
    settings->Prefix[0] = '\0';
    char defaultFolder[PATH_CAPACITY];
    GetDefaultSaveFolder(defaultFolder);

    settings->Format = uint16_t(ReadNumberSetting(key, SETTING_Format));
    ReadTextSetting(key, SETTING_Prefix, settings->Prefix);
    // The only text setting whose default is worked out at run time.
    ReadStringSetting(key, SettingName(SETTING_SavePath), defaultFolder, settings->SavePath,
                      Setting(SETTING_SavePath).capacity);

    // A folder that does not exist fails here too: only the default folder
    // is ever created, never a stored one that has gone.
    if (!IsFolderWritable(settings->SavePath)) {
        lstrcpynA(settings->SavePath, defaultFolder, sizeof settings->SavePath);
        WriteStringSetting(key, SettingName(SETTING_SavePath), defaultFolder);
    }
    if (!IsDirectory(settings->SavePath))
        CreateFolderPath(settings->SavePath);
    RegCloseKey(key);
    return 1;
}
