// Stands in for the agent in the setup's tests. Copied into the install
// folder and run from there, it does what the agent does with the settings
// at start-up (OpenSettingsKey: sync the machine defaults to the user, find
// the instance whose "System Directory" is this folder) and what a scan job
// does with the image library (LoadImageLibrary), with the agent's own code.
//
//   settings_probe show                  every setting the user's copy holds,
//                                        one "Name=value" line each
//   settings_probe set NAME NUMBER       stores a scan setting, as the settings
//                                        dialog does
//   settings_probe agent-window MS       waits up to MS milliseconds for a
//                                        running agent's tray window
//   settings_probe agent-dialog MS       waits as long for a dialog of the
//                                        running agent (its settings dialog)
// Exit codes: 0 done; 1 OpenSettingsKey failed (agent-window: no window);
// 2 the image library did not load; 3 bad arguments.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app.h"
#include "image_library.h"
#include "settings.h"
#include "shared.h"

namespace {

// The user's key holding the settings of `place`, or null; close it unless it is SettingsKey.
HKEY OpenPlace(SettingPlace place)
{
    const char *subkey = place == PLACE_SCAN    ? SCAN_SETTINGS_SUBKEY
                         : place == PLACE_PAPER ? PAPER_SIZE_SUBKEY
                                                : nullptr;
    HKEY key = place == PLACE_SETTINGS ? SettingsKey : nullptr;
    if (subkey && RegOpenKeyExA(SettingsKey, subkey, 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS)
        key = nullptr;
    return key;
}

// Prints every stored value as it is, so a wrong type shows.
int Show(void)
{
    for (int id = 0; id < SETTING_COUNT; id++) {
        const SettingValue &value = Setting((SettingId)id);
        HKEY key = OpenPlace(value.place);
        BYTE data[300];
        DWORD type = 0, size = sizeof data - 1, number = 0;
        if (key && RegQueryValueExA(key, value.name, nullptr, &type, data, &size) == ERROR_SUCCESS) {
            data[size] = 0;
            memcpy(&number, data, size < 4 ? size : 4);
            if (type == REG_DWORD && size == 4)
                printf("%s=%lu\n", value.name, (unsigned long)number);
            else if (type == REG_SZ)
                printf("%s=\"%s\"\n", value.name, (const char *)data);
            else
                printf("%s=<type %lu, %lu bytes>\n", value.name, (unsigned long)type, (unsigned long)size);
        }
        if (key && key != SettingsKey)
            RegCloseKey(key);
    }
    int loaded = LoadImageLibrary();
    printf("image library: %s\n", loaded ? "loaded" : "not loaded");
    if (loaded)
        UnloadImageLibrary();
    return loaded ? 0 : 2;
}

int Set(const char *name, const char *number)
{
    for (int id = 0; id < SETTING_COUNT; id++) {
        const SettingValue &value = Setting((SettingId)id);
        if (value.kind != SETTING_NUMBER || value.place != PLACE_SCAN || strcmp(value.name, name) != 0)
            continue;
        HKEY key = OpenPlace(PLACE_SCAN);
        if (!key)
            return 1;
        WriteDwordSetting(key, name, (DWORD)strtoul(number, nullptr, 10));
        RegCloseKey(key);
        return 0;
    }
    return 3;
}

// Waits for the running agent's tray window, or for a visible dialog of its process.
int WaitForAgent(bool dialog, DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += 100) {
        HWND agent = FindWindowA(TRAY_WINDOW_CLASS, nullptr), found = nullptr;
        DWORD process = 0, owner = 0;
        if (agent && !dialog)
            return 0;
        if (agent && GetWindowThreadProcessId(agent, &process))
            while ((found = FindWindowExA(nullptr, found, "#32770", nullptr)))
                if (GetWindowThreadProcessId(found, &owner) && owner == process && IsWindowVisible(found))
                    return 0;
        if (waited >= timeoutMs)
            return 1;
        Sleep(100);
    }
}

} // namespace

int main(int argc, char **argv)
{
    // These look at windows only: the settings stay as the agent left them.
    if (argc == 3 && (strcmp(argv[1], "agent-window") == 0 || strcmp(argv[1], "agent-dialog") == 0))
        return WaitForAgent(strcmp(argv[1], "agent-dialog") == 0, strtoul(argv[2], nullptr, 10));
    if (!InitModulePath() || !OpenSettingsKey()) {
        printf("settings key: not found\n");
        return 1;
    }
    int status = 3;
    if (argc == 2 && strcmp(argv[1], "show") == 0)
        status = Show();
    else if (argc == 4 && strcmp(argv[1], "set") == 0)
        status = Set(argv[2], argv[3]);
    RegCloseKey(SettingsKey);
    fflush(stdout);
    return status;
}
