// One page from the scanner to a saved picture: the temporary bitmap, the
// auto-crop tool and its request to scan again, the tone pass, the save, and
// the rescue of a scan that cannot be saved where it was meant to go.
#include "scan_job.h"

#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "image_library.h"
#include "product_files.h"
#include "scanner.h"
#include "settings.h"
#include "shared.h"
#include "tone.h"
#include "ui.h"

PageStageTimes LastPageTimes;

namespace {

// The system uses the first three letters of the prefix.
const char TEMPORARY_PREFIX[] = "Temp";
const DWORD TOOL_WAIT_SLICE_MS = 10;
// The tool writes one line; a log this large is not one of its logs.
const DWORD LOG_READ_LIMIT = 1u << 20;
// The message, two line ends and the kept bitmap's path.
const UINT SCAN_KEPT_MESSAGE_CAPACITY = RESOURCE_MESSAGE_CAPACITY + 2 + PATH_CAPACITY;

// Milliseconds since `start` (a QueryPerformanceCounter reading).
double ElapsedMs(const LARGE_INTEGER &start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

LARGE_INTEGER Now(void)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

// A unique name in the temporary folder ending in .Bmp: the system makes an
// empty "...tmp" file, which is deleted at once; its name with the first
// letter of the extension turned into B is the bitmap's.
bool MakeTemporaryBitmapName(char *name)
{
    char folder[PATH_CAPACITY];
    DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder || !GetTempFileNameA(folder, TEMPORARY_PREFIX, 0, name)) {
        name[0] = '\0';
        return false;
    }
    DeleteFileA(name);
    size_t nameLength = strlen(name);
    if (nameLength < 3) {
        name[0] = '\0';
        return false;
    }
    name[nameLength - 3] = 'B';
    return true;
}

// Keeps the thread's windows answering while a tool runs.
void DispatchWaitingMessages(void)
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        // Taken here, the quit message would be lost to the thread's own loop.
        if (message.message == WM_QUIT) {
            PostQuitMessage((int)message.wParam);
            return;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Runs the auto-crop tool on the bitmap and waits for it without a limit:
// it rewrites the bitmap, which must not be read while it does. True when
// the tool ran.
bool RunAutoCropTool(const char *bitmap)
{
    if (!PagefitPath[0])
        return false;
    char commandLine[2 * PATH_CAPACITY + 2];
    snprintf(commandLine, sizeof commandLine, "%s %s", PagefitPath, bitmap);
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, (LPCSTR)IDC_WAIT));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // The tool is named as the application, so a blank in the program
    // folder's name cannot make the system run some other program.
    bool started =
        CreateProcessA(PagefitPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    if (started) {
        CloseHandle(process.hThread);
        while (WaitForSingleObject(process.hProcess, TOOL_WAIT_SLICE_MS) == WAIT_TIMEOUT)
            DispatchWaitingMessages();
        CloseHandle(process.hProcess);
    }
    SetCursor(previous);
    return started;
}

// True when the tool's log beside the bitmap asks for the sheet to be
// scanned again. The log is searched over exactly its size: it carries no
// terminator.
bool LogAsksForRescan(const char *bitmap)
{
    std::string log(bitmap);
    size_t slash = log.rfind('\\');
    log = log.substr(0, slash == std::string::npos ? 0 : slash + 1) + AUTOCROP_LOG_FILE;
    HANDLE file = CreateFileA(log.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(file, nullptr);
    std::string text;
    if (size != INVALID_FILE_SIZE && size <= LOG_READ_LIMIT) {
        text.resize(size);
        DWORD read = 0;
        if (!size || !ReadFile(file, &text[0], size, &read, nullptr))
            read = 0;
        text.resize(read);
    }
    CloseHandle(file);
    return text.find(AUTOCROP_NO_ACTION_WORD) != std::string::npos;
}

// Scans into `bitmap` (a fresh temporary name) and runs the tool until it
// is content; 1 with the page in `bitmap`, 0 when a scan failed or was
// cancelled.
int AcquireCroppedPage(const ScanJobSettings &settings, char *bitmap)
{
    LARGE_INTEGER start = Now();
    int acquired = MakeTemporaryBitmapName(bitmap) && AcquireToBitmap(settings, bitmap);
    LastPageTimes.acquisition += ElapsedMs(start);
    while (acquired) {
        start = Now();
        // Without a run of the tool a log beside the bitmap is an earlier
        // page's: read, an old "scan again" would never let any page through.
        bool rescan = RunAutoCropTool(bitmap) && LogAsksForRescan(bitmap);
        LastPageTimes.autoCrop += ElapsedMs(start);
        if (!rescan)
            return 1;
        ShowResourceMessage(nullptr, IDS_RESCAN_NOTICE, 0);
        DeleteFileA(bitmap);
        start = Now();
        acquired = MakeTemporaryBitmapName(bitmap) && AcquireToBitmap(settings, bitmap);
        LastPageTimes.acquisition += ElapsedMs(start);
    }
    return 0;
}

// The user's prefix, then the default one: a prefix no file name can hold
// (typed into the registry by hand) must not keep a scan from being saved.
const char *RescuePrefix(const OutputSettings *output, int attempt)
{
    return attempt == 0 ? output->Prefix : Setting(SETTING_Prefix).textDefault;
}
const int RESCUE_PREFIXES = 2;

// Saves the bitmap as the next free picture in the default save folder,
// creating the folder when it is missing. `picture` receives the name.
bool SaveInDefaultFolder(const ScanJobSettings &settings, const OutputSettings *output, const char *bitmap,
                         char *picture)
{
    char folder[PATH_CAPACITY];
    GetDefaultSaveFolder(folder);
    if (!IsDirectory(folder))
        CreateFolderPath(folder);
    for (int attempt = 0; attempt < RESCUE_PREFIXES; ++attempt) {
        char name[PATH_CAPACITY];
        if (MakeOutputName(output->Format, RescuePrefix(output, attempt), folder, name, sizeof name) &&
            ConvertAndSave(output->Format, settings.Rotate, bitmap, name, settings.XResolution)) {
            lstrcpynA(picture, name, PATH_CAPACITY);
            return true;
        }
    }
    return false;
}

// Moves the bitmap out of the temporary folder to a name of its own in the
// user's pictures or documents folder. `kept` receives where the scan now
// is: that name, or the temporary name itself when no move worked.
void KeepScannedBitmap(const OutputSettings *output, const char *bitmap, char *kept)
{
    lstrcpynA(kept, bitmap, PATH_CAPACITY);
    const int folders[] = {CSIDL_MYPICTURES, CSIDL_PERSONAL};
    for (int id : folders) {
        char folder[PATH_CAPACITY] = "";
        if (!SHGetSpecialFolderPathA(nullptr, folder, id, FALSE) || !folder[0])
            continue;
        for (int attempt = 0; attempt < RESCUE_PREFIXES; ++attempt) {
            char name[PATH_CAPACITY];
            // Never over an existing file, and across volumes by copying.
            if (MakeOutputName(OUTPUT_BMP, RescuePrefix(output, attempt), folder, name, sizeof name) &&
                MoveFileExA(bitmap, name, MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
                lstrcpynA(kept, name, PATH_CAPACITY);
                return;
            }
        }
    }
}

void TellScanKept(const char *where)
{
    char text[SCAN_KEPT_MESSAGE_CAPACITY] = "";
    int length = LoadStringA(ResourceLibrary, IDS_SCAN_KEPT, text, RESOURCE_MESSAGE_CAPACITY);
    // The path is appended, never used as a format: a folder may hold a '%'.
    snprintf(text + length, sizeof text - size_t(length), "\n\n%s", where);
    MessageBoxA(nullptr, text, AppTitle, MB_OK | MB_ICONWARNING);
}

} // namespace

int ScanAndSavePage(ScanJobSettings settings, const OutputSettings *output, char *picture)
{
    LastPageTimes = PageStageTimes();
    char bitmap[PATH_CAPACITY] = "";
    int saved = 0;
    if (AcquireCroppedPage(settings, bitmap)) {
        LARGE_INTEGER start = Now();
        if (settings.AutoCrop && PostProcessingWanted(settings))
            PostProcessBitmap(settings, bitmap);
        LastPageTimes.tone = ElapsedMs(start);

        start = Now();
        // A scan is never lost: where the user's folder fails (gone, full,
        // read-only, the name taken meanwhile, the library refusing), the
        // default folder is tried, and after that the bitmap itself is kept.
        saved = picture[0] && ConvertAndSave(output->Format, settings.Rotate, bitmap, picture, settings.XResolution);
        if (!saved)
            saved = SaveInDefaultFolder(settings, output, bitmap, picture);
        LastPageTimes.save = ElapsedMs(start);
        if (!saved) {
            char kept[PATH_CAPACITY];
            KeepScannedBitmap(output, bitmap, kept);
            TellScanKept(kept);
            // The bitmap now is the user's scan, wherever it lies.
            bitmap[0] = '\0';
        }
    }
    if (bitmap[0])
        DeleteFileA(bitmap);
    return saved;
}
