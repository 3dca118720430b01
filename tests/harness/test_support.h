// Small helpers shared by the Windows test programs: scratch folders, whole
// files, registry fixtures, and running other programs (Windows or Linux).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace testsupport {

// The folder of the running test program, with its final backslash.
std::string ProgramDirectory();

// A new empty folder under the temporary folder, named after `tag`;
// removed with everything in it by RemoveTree.
std::string MakeScratchFolder(const char *tag);
void RemoveTree(const std::string &folder);

bool WriteWholeFile(const std::string &path, const std::string &bytes);
bool ReadWholeFile(const std::string &path, std::string *bytes);
bool FileExists(const std::string &path);

// Deletes a registry key with all its subkeys; missing keys are fine.
void DeleteRegistryTree(HKEY root, const std::string &path);
// Stores raw bytes of any type, for fixtures that hold what the agent would
// never write itself (wrong types, missing terminators).
bool SetRawValue(HKEY root, const std::string &path, const char *name, DWORD type, const void *data, DWORD size);
// Reads a value's type and bytes; false when it is missing.
bool GetRawValue(HKEY root, const std::string &path, const char *name, DWORD *type, std::string *data);
void DeleteRawValue(HKEY root, const std::string &path, const char *name);
// The bytes of a DWORD value, for SetRawValue.
inline std::string DwordBytes(DWORD value)
{
    return std::string((const char *)&value, sizeof value);
}
// A shell folder of the running user (a CSIDL_ value), "" when unknown.
std::string ShellFolder(int csidl);

// Looks again every 20 ms until `condition` holds; false when `timeoutMs`
// passed first.
template <typename Condition>
bool WaitUntil(DWORD timeoutMs, Condition condition)
{
    for (DWORD start = GetTickCount(); !condition(); Sleep(20))
        if (GetTickCount() - start >= timeoutMs)
            return false;
    return true;
}

// Runs a command line, waits for it, and returns its exit code (-1 when it
// could not start). Output goes where the test's own output goes.
int RunAndWait(const std::string &commandLine, DWORD timeoutMs = 120000);

// The Linux path of a Windows path (Wine maps drives onto the host), so a
// Linux-side reader can check what a Windows program wrote.
std::string UnixPath(const std::string &windowsPath);
// Runs a command through the host's /bin/sh and returns its exit code; its
// standard output is captured into `output` when given.
int RunHostShell(const std::string &script, std::string *output = nullptr);

// A visible top-level dialog (class "#32770") that `match` accepts, looked
// for until one appears or `waitMs` has passed; null when there is none.
HWND FindDialog(const std::function<bool(HWND)> &match, DWORD waitMs = 0);
// The visible dialog that `owner` owns, such as a folder browser or a
// message box it opened.
HWND FindOwnedDialog(HWND owner, DWORD waitMs = 0);

} // namespace testsupport
