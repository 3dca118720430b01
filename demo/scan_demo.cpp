// velmora_scan_demo.exe: one sheet from the scanner to a saved picture,
// through the product's own pieces in the order a scan job uses them:
// settings key, resource library, driver probe, output name, acquisition
// behind the progress dialog, the auto-crop tool and its log, tone
// processing, and the image library's save. Prints the picture's path.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "image_library.h"
#include "naming.h"
#include "scanner.h"
#include "settings.h"
#include "shared.h"
#include "tone.h"
#include "ui.h"

namespace {

int Fail(const char *what)
{
    fprintf(stderr, "scan demo: %s\n", what);
    return 1;
}

// The job's scan settings from the "Setting" and "Paper Size" keys.
bool ReadDemoJobSettings(ScanJobSettings *job)
{
    HKEY scan, paper;
    if (RegOpenKeyExA(SettingsKey, SCAN_SETTINGS_SUBKEY, 0, KEY_READ | KEY_WRITE, &scan) != ERROR_SUCCESS)
        return false;
    if (RegOpenKeyExA(SettingsKey, PAPER_SIZE_SUBKEY, 0, KEY_READ | KEY_WRITE, &paper) != ERROR_SUCCESS) {
        RegCloseKey(scan);
        return false;
    }
    memset(job, 0, sizeof *job);
    const int resolution = ReadNumberSetting(scan, SETTING_Resolution);
    job->XResolution = job->YResolution = (uint16_t)resolution;
    job->DeviceXResolution = job->DeviceYResolution = (uint16_t)(resolution == 100 ? 300 : resolution);
    job->Brightness = (int16_t)(254 * ReadNumberSetting(scan, SETTING_Brightness) / 100 - 127);
    job->Contrast = (int16_t)(254 * ReadNumberSetting(scan, SETTING_Contrast) / 100 - 127);
    job->Gamma = (uint16_t)ReadNumberSetting(scan, SETTING_Gamma);
    job->AutoCrop = ReadNumberSetting(scan, SETTING_AutoCrop);
    job->AutoDeskew = ReadNumberSetting(scan, SETTING_AutoDeskew);
    job->Rotate = (uint16_t)ReadNumberSetting(scan, SETTING_Rotate);
    switch (ReadNumberSetting(scan, SETTING_ScanMode) & 0xFFFF) {
    case 1: job->AcquireType = job->OutputType = SCAN_TYPE_GREY; break;
    case 2: job->AcquireType = job->OutputType = SCAN_TYPE_COLOUR; break;
    default:
        job->OutputType = SCAN_TYPE_LINE_ART;
        job->AcquireType = (job->AutoCrop || job->AutoDeskew) ? SCAN_TYPE_GREY : SCAN_TYPE_LINE_ART;
    }
    char size[64];
    ReadTextSetting(paper, SETTING_PaperSizeArea, size);
    unsigned area[4] = {};
    sscanf(size, "%u,%u,%u,%u", &area[0], &area[1], &area[2], &area[3]);
    for (int i = 0; i < 4; ++i)
        job->PaperArea[i] = (uint16_t)area[i];
    RegCloseKey(paper);
    RegCloseKey(scan);
    return true;
}

// A temporary bitmap name in the user's temporary folder, ending in .Bmp.
bool MakeTemporaryBitmapName(char *name)
{
    char folder[MAX_PATH];
    if (!GetTempPathA(sizeof folder, folder) || !GetTempFileNameA(folder, "Temp", 0, name))
        return false;
    DeleteFileA(name);
    size_t length = strlen(name);
    if (length < 3)
        return false;
    name[length - 3] = 'B';
    return true;
}

// Runs the auto-crop tool on the bitmap and waits for it, keeping this
// thread's windows alive; then answers whether its log asks for a rescan.
bool RunAutoCrop(const char *bitmap)
{
    char commandLine[2 * MAX_PATH + 2];
    snprintf(commandLine, sizeof commandLine, "%s %s", PagefitPath, bitmap);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        while (WaitForSingleObject(process.hProcess, 10) == WAIT_TIMEOUT) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    std::string log = bitmap;
    log = log.substr(0, log.rfind('\\') + 1) + "Pagefit.log";
    HANDLE file = CreateFileA(log.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char text[4096] = "";
    DWORD read = 0;
    ReadFile(file, text, sizeof text - 1, &read, nullptr);
    CloseHandle(file);
    text[read] = '\0';
    printf("auto-crop: %s", text);
    return strstr(text, "noaction") != nullptr;
}

} // namespace

int main()
{
    AppInstance = GetModuleHandleA(nullptr);
    if (!InitModulePath())
        return Fail("program path too long");
    if (!OpenSettingsKey())
        return Fail("no scanner instance names this folder (run installer/setup-prefix)");
    ResourceLibrary = LoadLibraryA(ModuleSibling("VelmoraRes.dll"));
    if (!ResourceLibrary)
        return Fail("VelmoraRes.dll missing");
    LoadStringA(ResourceLibrary, IDS_APP_TITLE, AppTitle, sizeof AppTitle);
    snprintf(PagefitPath, sizeof PagefitPath, "%s", ModuleSibling("Pagefit.exe"));
    if (ProbeScanner(ModuleSibling(SCANNER_DRIVER_FILE)) != PROBE_READY)
        return Fail("no scanner answers (is the virtual scanner plugged in?)");

    ScanJobSettings job;
    OutputSettings output;
    char picture[MAX_PATH];
    if (!ReadDemoJobSettings(&job) || !ReadOutputSettings(&output))
        return Fail("scan settings missing");
    if (!LoadImageLibrary())
        return Fail("image library missing");
    if (!MakeOutputName(output.Format, output.Prefix, output.SavePath, picture, sizeof picture))
        return Fail("no free picture name in the save folder");

    int saved = 0;
    char bitmap[MAX_PATH];
    if (MakeTemporaryBitmapName(bitmap) && AcquireToBitmap(job, bitmap)) {
        if (RunAutoCrop(bitmap))
            printf("the auto-crop tool found no photo on the sheet\n");
        else {
            if (job.AutoCrop)
                PostProcessBitmap(job, bitmap);
            saved = ConvertAndSave(output.Format, job.Rotate, bitmap, picture, job.XResolution);
        }
    }
    DeleteFileA(bitmap);
    UnloadImageLibrary();
    UnloadScannerDriver();
    if (!saved)
        return Fail("the page was not saved");
    printf("saved %s\n", picture);
    return 0;
}
