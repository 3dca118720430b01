// Settings lookup through the agent's own settings store, read-only.
#include "user_choices.h"

#include <windows.h>

#include "settings.h"
#include "settings_table.h"

pagefit::Options ReadUserChoices()
{
    pagefit::Options options;
    HKEY velmora = OpenSettingsKeyForReading();
    if (!velmora)
        return options;
    HKEY setting = nullptr;
    if (RegOpenKeyExA(velmora, SCAN_SETTINGS_SUBKEY, 0, KEY_READ, &setting) == ERROR_SUCCESS) {
        options.crop = QueryDwordSetting(setting, SettingName(SETTING_AutoCrop), 0) != 0;
        options.deskew = QueryDwordSetting(setting, SettingName(SETTING_AutoDeskew), 0) != 0;
        RegCloseKey(setting);
    }
    RegCloseKey(velmora);
    return options;
}
