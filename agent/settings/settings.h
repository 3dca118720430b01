// The settings store: finds and opens the per-user settings key at start-up,
// keeps the per-user copy of the machine defaults current, and reads and
// writes values with the read-a-default, write-it-back rule.
#pragma once

#include <windows.h>

#include "settings_table.h"

struct SettingRange {
    int minimum;
    int maximum;
};

// Start-up: 1 when SettingsKey is open.
int OpenSettingsKey(void);
void SyncMachineDefaults(const char *modelKeyPath);
int CopyKeyTree(HKEY sourceRoot, const char *sourcePath, HKEY destinationRoot, const char *destinationPath);
bool IsProgramDirectory(const char *path);

// The value helpers.
int ReadDwordSetting(HKEY key, const char *name, int defaultValue, const SettingRange *range = nullptr);
void ReadStringSetting(HKEY key, const char *name, const char *defaultText, char *buffer, DWORD capacity);
int QueryStringSetting(HKEY key, const char *name, const char *defaultText, char *buffer, DWORD capacity);
void WriteDwordSetting(HKEY key, const char *name, DWORD value);
void WriteStringSetting(HKEY key, const char *name, const char *text);

// Table-driven forms: the value's own name, default and capacity.
int ReadNumberSetting(HKEY key, SettingId id);
// `buffer` holds at least Setting(id).capacity bytes.
void ReadTextSetting(HKEY key, SettingId id, char *buffer);

// Module.ini's model name into a buffer of MODEL_NAME_CAPACITY bytes (empty when missing).
int ReadModuleModelName(char *model);

// Read-only lookups for the companion tools, which must never change a
// setting: the same instance search as OpenSettingsKey without the defaults
// sync, without creating anything and without write-back. Returns a KEY_READ
// handle of the instance's "Velmora" key, or null.
HKEY OpenSettingsKeyForReading(void);
// The stored number, or the default when missing or unusable; never writes.
int QueryDwordSetting(HKEY key, const char *name, int defaultValue);
