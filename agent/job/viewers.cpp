// Showing a saved picture: the program the shell has for its type, or the
// ImageFolio application, started and steered through its windows.
#include "scan_job.h"

#include <shellapi.h>

#include <cstdio>
#include <cstring>

#include "imagefolio.h"
#include "settings.h"

namespace {

// ImageFolio's windows are looked for this often, and for at most this long
// each: a copy of ImageFolio that never shows the picture must not hold the
// job (and with it the scanner's button) forever.
const DWORD IMAGEFOLIO_POLL_MS = 200;
const DWORD IMAGEFOLIO_WAIT_LIMIT_MS = 30000;
// Its show command is sent with a limit of the same length, for the same reason.
const UINT IMAGEFOLIO_COMMAND_TIMEOUT_MS = 30000;
const char APP_PATH_DEFAULT_VALUE[] = "";
// ShellExecute reports a failure with a value of at most this.
const INT_PTR SHELL_EXECUTE_ERROR_LIMIT = 32;

bool FileExists(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The picture's window sits among the children of the main window's first child.
HWND FindPictureWindow(HWND main, const char *title)
{
    HWND client = GetWindow(main, GW_CHILD);
    return client ? FindWindowExA(client, nullptr, nullptr, title) : nullptr;
}

} // namespace

void OpenInDefaultViewer(const char *picture)
{
    if (!FileExists(picture))
        return;
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, (LPCSTR)IDC_WAIT));
    HINSTANCE opened = ShellExecuteA(nullptr, "open", picture, nullptr, nullptr, SW_SHOWNORMAL);
    // A shell that cannot take a path at the very length limit (quoted, it
    // no longer fits its buffers) still opens the same file by its short name.
    char shortPath[PATH_CAPACITY];
    if ((INT_PTR)opened <= SHELL_EXECUTE_ERROR_LIMIT) {
        DWORD length = GetShortPathNameA(picture, shortPath, sizeof shortPath);
        if (length && length < sizeof shortPath && strcmp(shortPath, picture) != 0)
            ShellExecuteA(nullptr, "open", shortPath, nullptr, nullptr, SW_SHOWNORMAL);
    }
    SetCursor(previous);
}

void OpenInImageFolio(const char *program, const char *picture)
{
    if (!FileExists(picture))
        return;
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, (LPCSTR)IDC_WAIT));
    char commandLine[2 * PATH_CAPACITY + 2];
    snprintf(commandLine, sizeof commandLine, "%s %s", program, picture);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // The program is named as the application, so a blank in its folder's
    // name cannot make the system run some other program.
    if (!program[0] ||
        !CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        SetCursor(previous);
        OpenInDefaultViewer(picture);
        return;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    const char *slash = strrchr(picture, '\\');
    char title[PATH_CAPACITY + 8];
    snprintf(title, sizeof title, IMAGEFOLIO_TITLE_FORMAT, slash ? slash + 1 : picture);

    HWND main = nullptr;
    DWORD start = GetTickCount();
    while (!(main = FindWindowA(IMAGEFOLIO_MAIN_CLASS, nullptr)) && GetTickCount() - start < IMAGEFOLIO_WAIT_LIMIT_MS)
        Sleep(IMAGEFOLIO_POLL_MS);
    if (main) {
        start = GetTickCount();
        while (!FindPictureWindow(main, title) && GetTickCount() - start < IMAGEFOLIO_WAIT_LIMIT_MS)
            Sleep(IMAGEFOLIO_POLL_MS);
        DWORD_PTR answer = 0;
        SendMessageTimeoutA(main, WM_COMMAND, IMAGEFOLIO_SHOW_COMMAND, IMAGEFOLIO_SHOW_COMMAND_PARAM, SMTO_NORMAL,
                            IMAGEFOLIO_COMMAND_TIMEOUT_MS, &answer);
    }
    SetCursor(previous);
}

int IsImageFolioInstalled(void)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, IMAGEFOLIO_APP_PATH_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    char path[PATH_CAPACITY];
    int read = QueryStringSetting(key, APP_PATH_DEFAULT_VALUE, "", path, sizeof path);
    RegCloseKey(key);
    return read && FileExists(path) ? 1 : 0;
}

int GetImageFolioPath(char *buffer, DWORD size)
{
    if (!IsImageFolioInstalled())
        return 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, IMAGEFOLIO_APP_PATH_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    QueryStringSetting(key, APP_PATH_DEFAULT_VALUE, "", buffer, size);
    RegCloseKey(key);
    return 1;
}
