// Helpers shared by the Windows test programs.
#include "test_support.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace testsupport {

std::string ProgramDirectory()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string result(path, length);
    return result.substr(0, result.rfind('\\') + 1);
}

std::string MakeScratchFolder(const char *tag)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    for (unsigned attempt = 0;; ++attempt) {
        char folder[MAX_PATH];
        snprintf(folder, sizeof folder, "%svelmora-%s-%lu-%u", temp, tag, GetCurrentProcessId(), attempt);
        if (CreateDirectoryA(folder, nullptr))
            return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::string();
    }
}

void RemoveTree(const std::string &folder)
{
    if (folder.empty())
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(folder.c_str());
}

bool WriteWholeFile(const std::string &path, const std::string &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool ReadWholeFile(const std::string &path, std::string *bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(file, nullptr);
    bytes->assign(size, '\0');
    DWORD read = 0;
    BOOL ok = size == 0 || ReadFile(file, &(*bytes)[0], size, &read, nullptr);
    CloseHandle(file);
    return ok && read == size;
}

bool FileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void DeleteRegistryTree(HKEY root, const std::string &path)
{
    SHDeleteKeyA(root, path.c_str());
}

bool SetRawValue(HKEY root, const std::string &path, const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    // Wine adds a terminator to string data when the byte after it is zero;
    // a fixture that means "no terminator" passes a copy followed by a non-zero byte.
    std::string bytes((const char *)data, size);
    bytes.push_back('\x7f');
    LONG status = RegSetValueExA(key, name, 0, type, (const BYTE *)bytes.data(), size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool GetRawValue(HKEY root, const std::string &path, const char *name, DWORD *type, std::string *data)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LONG status = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        data->assign(size, '\0');
        status = RegQueryValueExA(key, name, nullptr, type, size ? (BYTE *)&(*data)[0] : nullptr, &size);
        data->resize(size);
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

void DeleteRawValue(HKEY root, const std::string &path, const char *name)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
}

std::string ShellFolder(int csidl)
{
    char path[MAX_PATH] = "";
    return SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) == S_OK ? path : "";
}

int RunAndWait(const std::string &commandLine, DWORD timeoutMs)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    // A console program started from a test gets no console of its own: under
    // Wine a new console from a console-less parent can hang the child.
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process))
        return -1;
    int code = -1;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        code = (int)exitCode;
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

std::string UnixPath(const std::string &windowsPath)
{
    // Wine exports this from kernel32 for exactly this purpose.
    typedef char *(__cdecl * ToUnix)(const WCHAR *);
    static ToUnix toUnix = (ToUnix)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    if (!toUnix)
        return std::string();
    WCHAR wide[MAX_PATH * 2];
    MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH * 2);
    char *unix = toUnix(wide);
    if (!unix)
        return std::string();
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

int RunHostShell(const std::string &script, std::string *output)
{
    // The host bridge started by the test fixture runs the script on Linux
    // (see scripts/host-bridge): drop a request, wait for its exit code.
    static LONG counter = 0;
    const std::string bridge = "C:\\velmora-host-bridge\\";
    char name[64];
    snprintf(name, sizeof name, "%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&counter));
    std::string base = bridge + name;
    if (!WriteWholeFile(base + ".part", script + "\n") ||
        !MoveFileA((base + ".part").c_str(), (base + ".request").c_str()))
        return -1;
    std::string code;
    if (!WaitUntil(600000, [&] { return ReadWholeFile(base + ".rc", &code) && !code.empty(); }))
        return -1;
    if (output) {
        output->clear();
        ReadWholeFile(base + ".out", output);
    }
    DeleteFileA((base + ".rc").c_str());
    DeleteFileA((base + ".out").c_str());
    DeleteFileA((base + ".running").c_str());
    return atoi(code.c_str());
}

namespace {
BOOL CALLBACK MatchDialog(HWND window, LPARAM context)
{
    auto *search = reinterpret_cast<std::pair<const std::function<bool(HWND)> *, HWND> *>(context);
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") || !IsWindowVisible(window) || !(*search->first)(window))
        return TRUE;
    search->second = window;
    return FALSE;
}
} // namespace

HWND FindDialog(const std::function<bool(HWND)> &match, DWORD waitMs)
{
    std::pair<const std::function<bool(HWND)> *, HWND> search(&match, nullptr);
    WaitUntil(waitMs, [&] { return EnumWindows(MatchDialog, (LPARAM)&search), search.second != nullptr; });
    return search.second;
}

HWND FindOwnedDialog(HWND owner, DWORD waitMs)
{
    return FindDialog([owner](HWND window) { return GetWindow(window, GW_OWNER) == owner; }, waitMs);
}

} // namespace testsupport
