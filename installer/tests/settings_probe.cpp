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

HKEY OpenPlace(SettingPlace place) {
    const char *subkey = nullptr;
    switch (place) {
    case PLACE_SETTINGS:
        return SettingsKey;
    case PLACE_SCAN:
        subkey = SCAN_SETTINGS_SUBKEY;
        break;
    case PLACE_PAPER:
        subkey = PAPER_SIZE_SUBKEY;
        break;
    default:
        return nullptr;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExA(SettingsKey, subkey, 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

void ClosePlace(HKEY key) {
    if (key && key != SettingsKey)
        RegCloseKey(key);
}

// Prints the stored value as it is, so a wrong type shows.
void PrintStoredValue(HKEY key, const char *name) {
    BYTE data[300];
    DWORD type = 0, size = sizeof data - 1;
    if (RegQueryValueExA(key, name, nullptr, &type, data, &size) != ERROR_SUCCESS)
        return;
    if (type == REG_DWORD && size == 4) {
        DWORD number;
        memcpy(&number, data, 4);
        printf("%s=%lu\n", name, (unsigned long)number);
    } else if (type == REG_SZ) {
        data[size] = 0;
        printf("%s=\"%s\"\n", name, (const char *)data);
    } else {
        printf("%s=<type %lu, %lu bytes>\n", name, (unsigned long)type, (unsigned long)size);
    }
}

int Show(void) {
    for (int id = 0; id < SETTING_COUNT; id++) {
        const SettingValue &value = Setting((SettingId)id);
        HKEY key = OpenPlace(value.place);
        if (!key)
            continue;
        PrintStoredValue(key, value.name);
        ClosePlace(key);
    }
    if (!LoadImageLibrary()) {
        printf("image library: not loaded\n");
        return 2;
    }
    UnloadImageLibrary();
    printf("image library: loaded\n");
    return 0;
}

int Set(const char *name, const char *number) {
    for (int id = 0; id < SETTING_COUNT; id++) {
        const SettingValue &value = Setting((SettingId)id);
        if (value.kind != SETTING_NUMBER || value.place != PLACE_SCAN || strcmp(value.name, name) != 0)
            continue;
        HKEY key = OpenPlace(PLACE_SCAN);
        if (!key)
            return 1;
        WriteDwordSetting(key, name, (DWORD)strtoul(number, nullptr, 10));
        ClosePlace(key);
        return 0;
    }
    return 3;
}

int WaitForAgentWindow(DWORD timeoutMs) {
    for (DWORD waited = 0;; waited += 100) {
        if (FindWindowA(TRAY_WINDOW_CLASS, nullptr))
            return 0;
        if (waited >= timeoutMs)
            return 1;
        Sleep(100);
    }
}

struct DialogSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindVisibleDialog(HWND window, LPARAM lParam) {
    DialogSearch *search = (DialogSearch *)lParam;
    char className[16];
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == search->process && IsWindowVisible(window) && GetClassNameA(window, className, sizeof className) &&
        strcmp(className, "#32770") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

int WaitForAgentDialog(DWORD timeoutMs) {
    for (DWORD waited = 0;; waited += 100) {
        HWND agent = FindWindowA(TRAY_WINDOW_CLASS, nullptr);
        DialogSearch search = {0, nullptr};
        if (agent && GetWindowThreadProcessId(agent, &search.process)) {
            EnumWindows(FindVisibleDialog, (LPARAM)&search);
            if (search.found)
                return 0;
        }
        if (waited >= timeoutMs)
            return 1;
        Sleep(100);
    }
}

} // namespace

int main(int argc, char **argv) {
    // These look at windows only: the settings stay as the agent left them.
    if (argc == 3 && strcmp(argv[1], "agent-window") == 0)
        return WaitForAgentWindow(strtoul(argv[2], nullptr, 10));
    if (argc == 3 && strcmp(argv[1], "agent-dialog") == 0)
        return WaitForAgentDialog(strtoul(argv[2], nullptr, 10));
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
