// Keeps each user's copy of the installer's machine-wide defaults current:
// when the installer's version stamp changes, the user's whole model tree is
// replaced by a fresh copy.
#include "settings.h"

#include <shlwapi.h>

#include "shared.h"

namespace {

static_assert(Setting(SETTING_TimeStamp).capacity == PATH_CAPACITY, "stamps are read into path buffers");

// The user's stamp for the same instance; false when it cannot be read.
bool UserStampMatches(const char *modelKeyPath, const char *instanceName, const char *machineStamp)
{
    HKEY userModel = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, modelKeyPath, 0, KEY_READ, &userModel) != ERROR_SUCCESS)
        return false;
    HKEY userInstance = nullptr;
    LONG status = RegOpenKeyExA(userModel, instanceName, 0, KEY_ALL_ACCESS, &userInstance);
    RegCloseKey(userModel);
    if (status != ERROR_SUCCESS)
        return false;
    char userStamp[PATH_CAPACITY];
    int stamped =
        QueryStringSetting(userInstance, SettingName(SETTING_TimeStamp), Setting(SETTING_TimeStamp).textDefault,
                           userStamp, Setting(SETTING_TimeStamp).capacity);
    RegCloseKey(userInstance);
    return stamped && lstrcmpiA(userStamp, machineStamp) == 0;
}

} // namespace

void SyncMachineDefaults(const char *modelKeyPath)
{
    HKEY machineModel = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, modelKeyPath, 0, KEY_READ, &machineModel) != ERROR_SUCCESS)
        return;
    DWORD count = 0;
    if (RegQueryInfoKeyA(machineModel, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        count = 0;

    // Only the stamped instance with the highest index decides.
    for (DWORD index = count; index-- > 0;) {
        char name[PATH_CAPACITY];
        DWORD nameLength = sizeof name;
        if (RegEnumKeyExA(machineModel, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            continue;
        HKEY machineInstance = nullptr;
        if (RegOpenKeyExA(machineModel, name, 0, KEY_READ, &machineInstance) != ERROR_SUCCESS)
            continue;
        char machineStamp[PATH_CAPACITY];
        int stamped =
            QueryStringSetting(machineInstance, SettingName(SETTING_TimeStamp), Setting(SETTING_TimeStamp).textDefault,
                               machineStamp, Setting(SETTING_TimeStamp).capacity);
        RegCloseKey(machineInstance);
        if (!stamped)
            continue;
        if (!UserStampMatches(modelKeyPath, name, machineStamp)) {
            SHDeleteKeyA(HKEY_CURRENT_USER, modelKeyPath);
            CopyKeyTree(HKEY_LOCAL_MACHINE, modelKeyPath, HKEY_CURRENT_USER, modelKeyPath);
        }
        break;
    }
    RegCloseKey(machineModel);
}
