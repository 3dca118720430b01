// The settings store: finds and opens the per-user settings key at start-up,
// keeps the per-user copy of the machine defaults current, and reads and
// writes values with the read-a-default, write-it-back rule.
#pragma once

#include <windows.h>

#include "settings_table.h"

struct SettingRange {
    int minimum; // both ends inclusive, compared as signed numbers
    int maximum;
};

// Start-up, once ModulePath holds the program's own file name: syncs the
// machine defaults, finds the instance whose "System Directory" is this
// program's folder and opens (creating when absent) its "Velmora" key as
// SettingsKey. 1 when SettingsKey is open, 0 otherwise.
int OpenSettingsKey(void);
// Replaces the user's whole tree under `modelKeyPath` by the machine's when
// the first stamped machine instance (highest index first) carries a stamp
// the user's copy of that instance does not have.
void SyncMachineDefaults(const char *modelKeyPath);
// 1 when the destination received every value and every subkey of the source
// tree; 0 when the source cannot be opened, the destination cannot be
// created, a value could not be copied or a subkey copy failed.
int CopyKeyTree(HKEY sourceRoot, const char *sourcePath, HKEY destinationRoot, const char *destinationPath);
// True when `path` (with its final backslash, in any case, long or short
// form) names the folder of the running program. Missing folders never match.
bool IsProgramDirectory(const char *path);

// The value helpers. Readers return the stored value, or the default when it
// is missing or unusable; the Read* forms then store the default at once.
// The stored number, or the default when missing, longer than four bytes or
// outside `range`. The value's type is not looked at.
int ReadDwordSetting(HKEY key, const char *name, int defaultValue, const SettingRange *range = nullptr);
// Stored text is used only when it is shorter than `capacity`; a null
// default counts as empty. The buffer always ends up terminated.
void ReadStringSetting(HKEY key, const char *name, const char *defaultText, char *buffer, DWORD capacity);
// As ReadStringSetting without the write-back: 1 when the stored text was
// read, 0 when the default was copied.
int QueryStringSetting(HKEY key, const char *name, const char *defaultText, char *buffer, DWORD capacity);
// REG_DWORD, four bytes. Failures are ignored.
void WriteDwordSetting(HKEY key, const char *name, DWORD value);
// REG_SZ holding the characters without a terminating zero. Failures are ignored.
void WriteStringSetting(HKEY key, const char *name, const char *text);

// Table-driven forms: the value's own name, default and capacity.
int ReadNumberSetting(HKEY key, SettingId id);
// `buffer` holds at least Setting(id).capacity bytes.
void ReadTextSetting(HKEY key, SettingId id, char *buffer);

// Module.ini's "Module" entry from the program's folder (through ModulePath's
// tail) into a buffer of MODEL_NAME_CAPACITY bytes, cut to 19 characters.
// 1 when a name was found, 0 when it is empty or missing.
int ReadModuleModelName(char *model);

// Read-only lookups for the companion tools, which must never change a
// setting: the same instance search as OpenSettingsKey without the defaults
// sync, without creating anything and without write-back. Returns a KEY_READ
// handle of the instance's "Velmora" key (the caller closes it), or null.
HKEY OpenSettingsKeyForReading(void);
// The stored number, or the default when missing or unusable; never writes.
int QueryDwordSetting(HKEY key, const char *name, int defaultValue);
