// The agent's process-wide state and the ModulePath helpers.
#include "shared.h"

#include <cstring>

char ModulePath[PATH_CAPACITY];
char *ModulePathTail = ModulePath;

HINSTANCE AppInstance;
HMODULE ResourceLibrary;
char AppTitle[PATH_CAPACITY];
char PagefitPath[PATH_CAPACITY];

HWND TrayWindow;
HWND SettingsDialogWindow;

int ScanEnabled;
int ScannerConnected;
int SessionActive;
int WarningEnabled;
int SessionSwitchSupported;

HANDLE SwitchUserEvent;
HKEY SettingsKey;
HKEY ScannerInstanceKey;

int InitModulePath(void)
{
    DWORD length = GetModuleFileNameA(nullptr, ModulePath, sizeof ModulePath);
    // A name that fills the buffer was cut: no sibling path built on it is right.
    if (length == 0 || length >= sizeof ModulePath) {
        ModulePath[0] = '\0';
        ModulePathTail = ModulePath;
        return 0;
    }
    char *lastSeparator = strrchr(ModulePath, '\\');
    ModulePathTail = lastSeparator ? lastSeparator + 1 : ModulePath;
    return 1;
}

const char *ModuleSibling(const char *fileName)
{
    size_t room = sizeof ModulePath - (size_t)(ModulePathTail - ModulePath);
    size_t length = strlen(fileName);
    if (length >= room)
        return nullptr;
    memcpy(ModulePathTail, fileName, length + 1);
    return ModulePath;
}
