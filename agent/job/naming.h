// Where and under which name a scanned page is saved: the job's output
// choices, the save folder with its fallback under the desktop, directory
// creation, and the next free numbered picture name.
#pragma once

#include <windows.h>

#include <cstdint>

#include "naming_core.h"
#include "scan_types.h"

// Filled once per job and used for every page of it.
struct OutputSettings {
    uint16_t Format;              // OutputFormat code
    char SavePath[PATH_CAPACITY]; // as a rule without a trailing backslash
    char Prefix[PATH_CAPACITY];
};

// 1, or 0 when the "Setting" subkey cannot be opened. A stored folder that
// cannot be written to is replaced by the default folder, in memory and in
// the registry; a missing save folder is created.
int ReadOutputSettings(OutputSettings *settings);

// The desktop folder joined with "Folder Name"; `folder` holds PATH_CAPACITY bytes.
void GetDefaultSaveFolder(char *folder);

// True when a file can be created in `folder`; nothing is left behind.
bool IsFolderWritable(const char *folder);
bool IsDirectory(const char *path);

// Creates the missing directories along `path`, parents first; failures
// (an existing directory among them) are ignored.
void CreateFolderPath(const char *path);

// Fills `name` with the lowest-numbered picture name that does not exist in
// `folder`. Returns 1, or 0 with `name` empty when the name would not fit in
// `capacity` bytes: the page then has no name and is not saved.
int MakeOutputName(uint32_t format, const char *prefix, const char *folder, char *name, size_t capacity);

// The directory walk in progress; CreateFolderPath clears it when done.
extern FolderWalk FolderCreation;
