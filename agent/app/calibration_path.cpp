// The calibration data file's path: documents folder, model folder, file name.
#include "calibration_path.h"

#include <shlobj.h>

#include <cstdio>

#include "settings.h"
#include "shared.h"

namespace {

int DocumentsFolder(char *folder)
{
    // Shared first, so every user of the computer sees one calibration; the
    // user's own folder only when the shared one does not exist at all.
    if (SHGetFolderPathA(nullptr, CSIDL_COMMON_DOCUMENTS, nullptr, SHGFP_TYPE_CURRENT, folder) == S_OK)
        return 1;
    return SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, folder) == S_OK;
}

// Module.ini's model name, in full: the folder name is not bound by the
// settings key's shorter model limit.
int ModelFolderName(char *model, DWORD capacity)
{
    model[0] = '\0';
    const char *iniPath = ModuleSibling(MODULE_INI_NAME);
    if (!iniPath)
        return 0;
    GetPrivateProfileStringA(MODULE_INI_SECTION, MODULE_INI_KEY, "", model, capacity, iniPath);
    return model[0] != '\0';
}

// A path cut short names some other file: refuse it rather than look there.
int Compose(char *path, const char *format, const char *first, const char *second)
{
    int length = snprintf(path, PATH_CAPACITY, format, first, second);
    if (length < 0 || length >= PATH_CAPACITY) {
        path[0] = '\0';
        return 0;
    }
    return 1;
}

} // namespace

int ComposeCalibrationFolder(char *folder)
{
    char documents[MAX_PATH];
    char model[PATH_CAPACITY];
    folder[0] = '\0';
    if (!DocumentsFolder(documents) || !ModelFolderName(model, sizeof model))
        return 0;
    return Compose(folder, "%s\\%s", documents, model);
}

int ComposeCalibrationDataPath(HKEY settingsKey, CalibrationNameRead mode, char *path)
{
    char folder[PATH_CAPACITY];
    if (!ComposeCalibrationFolder(folder)) {
        path[0] = '\0';
        return 0;
    }
    const SettingValue &value = Setting(SETTING_CalibrationFilename);
    char fileName[Setting(SETTING_CalibrationFilename).capacity];
    if (mode == CALIBRATION_NAME_WRITE_BACK)
        ReadTextSetting(settingsKey, SETTING_CalibrationFilename, fileName);
    else
        QueryStringSetting(settingsKey, value.name, value.textDefault, fileName, value.capacity);
    return Compose(path, "%s\\%s", folder, fileName);
}
