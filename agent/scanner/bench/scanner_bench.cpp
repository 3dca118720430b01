// Acquires A4 pages at 600 dpi (colour and grey) from the virtual scanner in
// its pre-rendered mode, so the device costs next to nothing, behind the
// real progress dialog, and compares the time with CopyFileA of a file of
// the same size; splits the cost of a block into the device, the progress
// step and the file work, and reports the process's peak memory after a
// small page and after the large ones.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bitmap_layout.h"
#include "feeder_control.h"
#include "scanner.h"
#include "product_files.h"
#include "shared.h"
#include "ui.h"

namespace {

const int ROUNDS = 5;
const char *BENCH_KEY = "Software\\Velmora scanner bench";

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

struct Peaks {
    double pagefileMiB;
    double workingSetMiB;
};

Peaks PeakMemory()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return {counters.PeakPagefileUsage / 1048576.0, counters.PeakWorkingSetSize / 1048576.0};
}

ScanJobSettings A4Settings(uint16_t type, uint16_t dpi)
{
    ScanJobSettings settings = {};
    settings.PaperArea[2] = 2480; // 210 mm in 1/300 inch
    settings.PaperArea[3] = 3508; // 297 mm
    settings.DeviceXResolution = settings.DeviceYResolution = dpi;
    settings.XResolution = settings.YResolution = dpi;
    settings.AcquireType = settings.OutputType = type;
    settings.Gamma = 100;
    return settings;
}

uint64_t FileBytes(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

// The device alone: the same commands and blocks as an acquisition, with
// the lines dropped instead of written, so its cost can be told apart.
double DeviceOnlySeconds(uint16_t type, uint32_t *blocks, uint32_t *lineBytes, uint32_t *lines)
{
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    ScanJobSettings settings = A4Settings(type, 600);
    ScanGeometry geometry = {};
    geometry.Image.ParameterBytes = SC_PARAMETER_BYTES;
    memcpy(geometry.Image.PaperArea, settings.PaperArea, sizeof settings.PaperArea);
    geometry.Image.XResolution = geometry.Image.YResolution = 600;
    geometry.Image.ImageType = type;
    ScanParameters parameters = geometry.Image;
    SendScannerCommand(SC_ACQUIRE, nullptr);
    SendScannerCommand(SC_GET_GEOMETRY, &geometry);
    SendScannerCommand(SC_SET_PARAMS, &parameters);
    SendScannerCommand(SC_START, nullptr);
    SendScannerCommand(SC_PREPARE_READ, nullptr);
    uint32_t blockLines = ScannerBlock.TransferCount / geometry.LineBytes;
    std::vector<uint8_t> block((size_t)blockLines * geometry.LineBytes);
    *blocks = 0;
    *lineBytes = geometry.LineBytes;
    *lines = geometry.Lines;
    for (;;) {
        ScannerBlock.Data = block.data();
        ScannerBlock.TransferSize = (uint32_t)block.size();
        ++*blocks;
        if (!SendScannerCommand(SC_READ, nullptr))
            break;
    }
    SendScannerCommand(SC_STOP, nullptr);
    SendScannerCommand(SC_END_PAGE, nullptr);
    SendScannerCommand(SC_RELEASE, nullptr);
    QueryPerformanceCounter(&end);
    return Seconds(start, end);
}

// The progress dialog alone: shown for the page and stepped once a block,
// as the acquisition does.
double ProgressOnlySeconds(uint32_t lines, uint32_t blockLines)
{
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    ProgressRequest request = {"Velmora", "Scanning", 1, 1, lines};
    ShowProgress(&request);
    for (uint32_t done = 0; done < lines; done += blockLines)
        StepProgress(blockLines < lines - done ? blockLines : lines - done);
    CloseProgress();
    QueryPerformanceCounter(&end);
    return Seconds(start, end);
}

// Best of ROUNDS: the least disturbed run on a shared machine.
bool Measure(const char *name, uint16_t type, const std::string &folder)
{
    std::string page = folder + "\\page.bmp", copy = folder + "\\copy.bmp";
    double bestAcquire = 1e9, bestCopy = 1e9, bestDevice = 1e9, bestProgress = 1e9;
    uint32_t blocks = 0, lineBytes = 0, lines = 0;
    for (int round = 0; round < ROUNDS; round++) {
        double device = DeviceOnlySeconds(type, &blocks, &lineBytes, &lines);
        if (device < bestDevice)
            bestDevice = device;
        double progress = ProgressOnlySeconds(lines, blocks ? (lines + blocks - 1) / blocks : lines);
        if (progress < bestProgress)
            bestProgress = progress;
        // Both the page and the copy start without a file of their name, as
        // a job's fresh temporary name does.
        DeleteFileA(page.c_str());
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        int acquired = AcquireToBitmap(A4Settings(type, 600), page.c_str());
        QueryPerformanceCounter(&end);
        if (!acquired) {
            std::printf("%s: acquisition failed\n", name);
            return false;
        }
        if (Seconds(start, end) < bestAcquire)
            bestAcquire = Seconds(start, end);
        DeleteFileA(copy.c_str());
        QueryPerformanceCounter(&start);
        BOOL copied = CopyFileA(page.c_str(), copy.c_str(), FALSE);
        QueryPerformanceCounter(&end);
        if (!copied) {
            std::printf("%s: copy failed\n", name);
            return false;
        }
        if (Seconds(start, end) < bestCopy)
            bestCopy = Seconds(start, end);
    }
    Peaks peaks = PeakMemory();
    // The file work: the acquisition less the device and the progress dialog.
    double files = bestAcquire - bestDevice - bestProgress;
    std::printf("%-18s %6.1f MiB  %5u blocks  acquire %6.1f ms  copy %6.1f ms  acquire/copy %4.2f\n"
                "    per block: device %6.1f us  progress %6.1f us  file work %6.1f us"
                "  (page: device %5.1f ms, progress %5.1f ms, file work %5.1f ms)\n"
                "    peak private %5.1f MiB  peak working set %5.1f MiB\n",
                name, FileBytes(page) / 1048576.0, blocks, bestAcquire * 1000, bestCopy * 1000, bestAcquire / bestCopy,
                bestDevice * 1e6 / blocks, bestProgress * 1e6 / blocks, files * 1e6 / blocks, bestDevice * 1000,
                bestProgress * 1000, files * 1000, peaks.pagefileMiB, peaks.workingSetMiB);
    DeleteFileA(page.c_str());
    DeleteFileA(copy.c_str());
    return true;
}

} // namespace

// Optional argument: the transfer block the device offers, in bytes (its
// own choice, 64 KiB, when absent).
int main(int argc, char **argv)
{
    uint32_t transferBytes = argc > 1 ? (uint32_t)strtoul(argv[1], nullptr, 10) : 0;
    if (!InitModulePath() || !ModuleSibling(RESOURCE_LIBRARY_FILE))
        return 1;
    // The progress dialog comes from the resource library, as in the agent.
    ResourceLibrary = LoadLibraryA(ModulePath);
    if (!ResourceLibrary || !ModuleSibling(SCANNER_DRIVER_FILE))
        return 1;
    std::string driver = ModulePath;
    if (!feeder::Reset() || !feeder::SetSyntheticPage(true) || !feeder::SetTransferSize(transferBytes)) {
        std::printf("the virtual scanner's state cannot be mapped\n");
        return 1;
    }
    if (ProbeScanner(driver.c_str()) != PROBE_READY) {
        std::printf("the virtual scanner does not answer\n");
        return 1;
    }
    RegCreateKeyExA(HKEY_CURRENT_USER, BENCH_KEY, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &SettingsKey, nullptr);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string folder = std::string(temp) + "velmora-scanner-bench";
    CreateDirectoryA(folder.c_str(), nullptr);

    // A small page first: the peaks after it are the baseline the large
    // pages must not raise.
    std::string small = folder + "\\small.bmp";
    AcquireToBitmap(A4Settings(SCAN_TYPE_GREY, 100), small.c_str());
    DeleteFileA(small.c_str());
    Peaks baseline = PeakMemory();
    std::printf("transfer block: %s\n", transferBytes ? std::to_string(transferBytes).c_str() : "the device's own");
    std::printf("after a 100 dpi grey A4 page:  peak private %5.1f MiB  peak working set %5.1f MiB\n",
                baseline.pagefileMiB, baseline.workingSetMiB);

    bool ok =
        Measure("600 dpi colour A4", SCAN_TYPE_COLOUR, folder) && Measure("600 dpi grey A4", SCAN_TYPE_GREY, folder);

    UnloadScannerDriver();
    feeder::Reset();
    RegCloseKey(SettingsKey);
    RegDeleteKeyA(HKEY_CURRENT_USER, BENCH_KEY);
    RemoveDirectoryA(folder.c_str());
    return ok ? 0 : 1;
}
