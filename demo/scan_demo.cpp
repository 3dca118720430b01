// velmora_scan_demo.exe: what the tray agent does when the scanner's button
// is pressed, without the tray: start-up's share (settings key, resource
// library, the auto-crop tool's path, the scanner probe), then the real scan
// job. Prints the pictures the job saved and where each stage's time went.
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>

#include "naming.h"
#include "product_files.h"
#include "scan_job.h"
#include "scanner.h"
#include "settings.h"
#include "shared.h"
#include "ui.h"

namespace {

int Fail(const char *what)
{
    fprintf(stderr, "scan demo: %s\n", what);
    return 1;
}

std::set<std::string> PicturesIn(const std::string &folder)
{
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.insert(folder + "\\" + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

} // namespace

int main()
{
    AppInstance = GetModuleHandleA(nullptr);
    if (!InitModulePath())
        return Fail("program path too long");
    if (!OpenSettingsKey())
        return Fail("no scanner instance names this folder (run it from a folder VelmoraSetup.exe installed)");
    ResourceLibrary = LoadLibraryA(ModuleSibling(RESOURCE_LIBRARY_FILE));
    if (!ResourceLibrary)
        return Fail(RESOURCE_LIBRARY_FILE " missing");
    LoadStringA(ResourceLibrary, IDS_APP_TITLE, AppTitle, sizeof AppTitle);
    lstrcpynA(PagefitPath, ModuleSibling(AUTOCROP_TOOL_FILE), sizeof PagefitPath);
    if (ProbeScanner(ModuleSibling(SCANNER_DRIVER_FILE)) != PROBE_READY)
        return Fail("no scanner answers (is the virtual scanner plugged in?)");

    // The job may fall back to the default folder; both are watched.
    OutputSettings output;
    if (!ReadOutputSettings(&output))
        return Fail("scan settings missing");
    char defaultFolder[PATH_CAPACITY];
    GetDefaultSaveFolder(defaultFolder);
    std::set<std::string> before = PicturesIn(output.SavePath);
    std::set<std::string> beforeDefault = PicturesIn(defaultFolder);

    LARGE_INTEGER start, end, frequency;
    QueryPerformanceCounter(&start);
    int ran = RunScanJob();
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    UnloadScannerDriver();
    if (!ran)
        return Fail("image library missing");

    int saved = 0;
    std::set<std::string> after = PicturesIn(output.SavePath);
    if (lstrcmpiA(output.SavePath, defaultFolder) != 0) {
        before.insert(beforeDefault.begin(), beforeDefault.end());
        for (const std::string &name : PicturesIn(defaultFolder))
            after.insert(name);
    }
    for (const std::string &name : after)
        if (!before.count(name)) {
            printf("saved %s\n", name.c_str());
            ++saved;
        }
    const PageStageTimes &t = LastPageTimes;
    printf("last page, ms: acquisition %.0f, auto-crop %.0f, tone %.0f, save %.0f, viewer %.0f; whole job %.0f\n",
           t.acquisition, t.autoCrop, t.tone, t.save, t.viewer,
           double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart));
    return saved ? 0 : Fail("the page was not saved");
}
