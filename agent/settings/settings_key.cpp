// Finds this installation's scanner instance in the per-user registry tree
// and opens its settings key; the same search serves the agent (which may
// create and repair keys) and the companion tools (which only read).
#include "settings.h"

#include <cstdio>
#include <cstring>

#include "shared.h"

namespace {

enum KeyAccess {
    ACCESS_READ_WRITE, // the agent: sync defaults, write back, create the settings key
    ACCESS_READ_ONLY,  // the companion tools: change nothing
};

REGSAM AccessRights(KeyAccess access)
{
    return access == ACCESS_READ_WRITE ? KEY_READ | KEY_WRITE : KEY_READ;
}

bool ToLongPath(const char *path, char *longPath)
{
    // A result as large as the buffer is the size it would need, not a path.
    DWORD length = GetLongPathNameA(path, longPath, PATH_CAPACITY);
    return length != 0 && length < PATH_CAPACITY;
}

// The instance's "System Directory"; empty when it has none. The agent
// stores an empty one where it was missing or unusable, the tools do not.
void ReadSystemDirectory(HKEY instance, KeyAccess access, char *directory)
{
    const SettingValue &value = Setting(SETTING_SystemDirectory);
    static_assert(Setting(SETTING_SystemDirectory).capacity == PATH_CAPACITY, "directory buffers are paths");
    memset(directory, 0, value.capacity);
    if (access == ACCESS_READ_WRITE)
        ReadTextSetting(instance, SETTING_SystemDirectory, directory);
    else
        QueryStringSetting(instance, value.name, value.textDefault, directory, value.capacity);
}

// Walks the instances downwards from the highest enumeration index. The
// first one that names any folder decides: this program's folder is a match,
// any other folder belongs to another installation and ends the search.
// On a match the instance stays open in *instance.
int FindProgramInstance(HKEY model, KeyAccess access, HKEY *instance)
{
    DWORD count = 0;
    DWORD longestName = 0;
    if (RegQueryInfoKeyA(model, nullptr, nullptr, nullptr, &count, &longestName, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS ||
        longestName >= PATH_CAPACITY)
        return 0;

    for (DWORD index = count; index-- > 0;) {
        char name[PATH_CAPACITY];
        DWORD nameLength = sizeof name;
        if (RegEnumKeyExA(model, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            continue;
        if (RegOpenKeyExA(model, name, 0, AccessRights(access), instance) != ERROR_SUCCESS) {
            *instance = nullptr;
            continue;
        }
        char directory[PATH_CAPACITY];
        ReadSystemDirectory(*instance, access, directory);
        if (directory[0] && IsProgramDirectory(directory))
            return 1;
        RegCloseKey(*instance);
        *instance = nullptr;
        if (directory[0])
            return 0;
    }
    return 0;
}

HKEY OpenInstanceSettings(HKEY instance, KeyAccess access)
{
    HKEY settings = nullptr;
    LONG status;
    if (access == ACCESS_READ_WRITE)
        status = RegCreateKeyExA(instance, SETTINGS_SUBKEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                                 nullptr, &settings, nullptr);
    else
        status = RegOpenKeyExA(instance, SETTINGS_SUBKEY, 0, KEY_READ, &settings);
    return status == ERROR_SUCCESS ? settings : nullptr;
}

// The one search behind both entry points. `instance` is where the chosen
// instance key is held while the search runs; it is closed and cleared
// before returning, so only the returned settings key stays open.
HKEY FindSettingsKey(KeyAccess access, HKEY *instance)
{
    char model[MODEL_NAME_CAPACITY];
    ReadModuleModelName(model);
    char modelKeyPath[PATH_CAPACITY];
    snprintf(modelKeyPath, sizeof modelKeyPath, "%s%s", MODEL_KEY_BASE, model);

    if (access == ACCESS_READ_WRITE)
        SyncMachineDefaults(modelKeyPath);

    HKEY userModel = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, modelKeyPath, 0, AccessRights(access), &userModel) != ERROR_SUCCESS)
        return nullptr;
    HKEY settings = nullptr;
    if (FindProgramInstance(userModel, access, instance)) {
        settings = OpenInstanceSettings(*instance, access);
        RegCloseKey(*instance);
        *instance = nullptr;
    }
    RegCloseKey(userModel);
    return settings;
}

} // namespace

int ReadModuleModelName(char *model)
{
    model[0] = '\0';
    const char *iniPath = ModuleSibling(MODULE_INI_NAME);
    if (!iniPath)
        return 0;
    GetPrivateProfileStringA(MODULE_INI_SECTION, MODULE_INI_KEY, "", model, MODEL_NAME_CAPACITY, iniPath);
    return model[0] != '\0';
}

bool IsProgramDirectory(const char *path)
{
    char directory[PATH_CAPACITY];
    DWORD length = GetModuleFileNameA(nullptr, directory, sizeof directory);
    // A cut-off module name would yield some other folder.
    if (length == 0 || length >= sizeof directory)
        return false;
    char *lastSeparator = strrchr(directory, '\\');
    if (!lastSeparator)
        return false;
    lastSeparator[1] = '\0';

    char longDirectory[PATH_CAPACITY];
    char longPath[PATH_CAPACITY];
    return ToLongPath(directory, longDirectory) && ToLongPath(path, longPath) &&
           lstrcmpiA(longDirectory, longPath) == 0;
}

int OpenSettingsKey(void)
{
    if (SettingsKey) {
        RegCloseKey(SettingsKey);
        SettingsKey = nullptr;
    }
    SettingsKey = FindSettingsKey(ACCESS_READ_WRITE, &ScannerInstanceKey);
    return SettingsKey != nullptr;
}

HKEY OpenSettingsKeyForReading(void)
{
    HKEY instance = nullptr;
    return FindSettingsKey(ACCESS_READ_ONLY, &instance);
}
