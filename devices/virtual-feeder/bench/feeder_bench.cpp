// How fast the virtual scanner hands out pages: a 600 dpi A4 page in colour
// and in grey, read the way the agent reads it, from the synthetic test card
// (the device's own cost, which must stay negligible beside the agent's) and,
// when a picture is given, from a real sheet composed onto the backing.
//
//   feeder_bench.exe [PICTURE]
#include <windows.h>
#undef SC_CLOSE

#include <cstdio>
#include <string>
#include <vector>

#include "feeder_control.h"
#include "feedlink_protocol.h"

namespace {

FeedlinkEntry Entry = nullptr;
ScannerCommandBlock Block;

int16_t Send(uint16_t command, void *data = nullptr)
{
    Block.Command = command;
    if (command == SC_START)
        Block.TransferSize = SC_START_MAGIC;
    if (data)
        Block.Data = data;
    Entry(&Block);
    return Block.Status;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

// One A4 page at 600 dpi through the whole command sequence; returns the
// seconds from SC_START to the last line, or a negative number on failure.
double ReadOnePage(uint16_t type, uint64_t *bytes)
{
    std::vector<uint8_t> tables(3 * 256);
    for (size_t i = 0; i < tables.size(); ++i)
        tables[i] = uint8_t(i);
    Send(SC_ACQUIRE);
    ScanGeometry geometry = {};
    geometry.Image.ParameterBytes = SC_PARAMETER_BYTES;
    geometry.Image.PaperArea[2] = 2480;
    geometry.Image.PaperArea[3] = 3508;
    geometry.Image.XResolution = geometry.Image.YResolution = 600;
    geometry.Image.ImageType = type;
    if (Send(SC_GET_GEOMETRY, &geometry) != 0)
        return -1;
    ScanParameters parameters = geometry.Image;
    parameters.Tables = type == 2 ? tables.data() + 256 : tables.data();
    parameters.TableUse = type == 2 ? 0 : 1;
    parameters.Constant32 = 2;
    if (Send(SC_SET_PARAMS, &parameters) != 0)
        return -1;
    LARGE_INTEGER started, ended;
    QueryPerformanceCounter(&started);
    Send(SC_START);
    Send(SC_PREPARE_READ);
    const uint32_t block = Block.TransferCount / geometry.LineBytes;
    std::vector<uint8_t> buffer((size_t)block * geometry.LineBytes);
    uint32_t remaining = geometry.Lines;
    *bytes = 0;
    while (remaining > 0) {
        Block.Data = buffer.data();
        Block.TransferSize = (uint32_t)buffer.size();
        const int16_t status = Send(SC_READ);
        if (status != 0 && status != SC_STATUS_END_OF_PAGE)
            return -1;
        *bytes += (uint64_t)Block.TransferCount * geometry.LineBytes;
        if (status == SC_STATUS_END_OF_PAGE)
            break;
        remaining -= Block.TransferCount;
    }
    QueryPerformanceCounter(&ended);
    Send(SC_STOP);
    Send(SC_END_PAGE);
    Send(SC_RELEASE);
    return Seconds(started, ended);
}

void Measure(const char *what, uint16_t type, int pages)
{
    double best = 1e9;
    uint64_t bytes = 0;
    for (int page = 0; page < pages; ++page) {
        const double seconds = ReadOnePage(type, &bytes);
        if (seconds < 0) {
            printf("%-28s failed\n", what);
            return;
        }
        best = seconds < best ? seconds : best;
    }
    printf("%-28s %8.1f ms  %7.1f MB/s  (%llu bytes, best of %d)\n", what, best * 1000, bytes / best / 1e6,
           (unsigned long long)bytes, pages);
}

// A shaded sensor with a correction loaded: the device's cost once a
// calibration ran, which every later page pays.
bool UseCalibratedSensor()
{
    if (!feeder::SetSensor(FEEDER_SENSOR_SHADED) || Send(SC_ACQUIRE) != 0)
        return false;
    std::vector<ShadingCorrection> entries(FEEDER_SENSOR_ELEMENTS * FEEDER_SENSOR_CHANNELS,
                                           ShadingCorrection{uint16_t(2 * SHADING_DARK_ONE), 17000});
    CorrectionDownload download = {uint16_t(FEEDER_SENSOR_ELEMENTS), uint16_t(FEEDER_SENSOR_CHANNELS), entries.data()};
    const bool loaded = Send(SC_SET_CORRECTION, &download) == 0;
    Send(SC_RELEASE);
    return loaded;
}

} // namespace

int main(int argc, char **argv)
{
    char folder[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, folder, MAX_PATH);
    std::string path(folder, length);
    path = path.substr(0, path.find_last_of('\\') + 1) + "Feedlink.dll";
    HMODULE driver = LoadLibraryA(path.c_str());
    Entry = driver ? (FeedlinkEntry)GetProcAddress(driver, "FeedlinkCall") : nullptr;
    if (!Entry) {
        fprintf(stderr, "feeder_bench: %s cannot be loaded\n", path.c_str());
        return 1;
    }
    feeder::Reset();
    Send(SC_OPEN);
    feeder::SetSyntheticPage(true);
    Measure("synthetic A4 600 dpi colour", 3, 5);
    Measure("synthetic A4 600 dpi grey", 2, 5);
    feeder::SetSyntheticPage(false);
    if (argc > 1) {
        for (int type : {3, 2}) {
            if (!feeder::QueueSheet(argv[1])) {
                fprintf(stderr, "feeder_bench: %s cannot be queued\n", argv[1]);
                break;
            }
            Measure(type == 3 ? "sheet A4 600 dpi colour" : "sheet A4 600 dpi grey", (uint16_t)type, 1);
        }
        if (UseCalibratedSensor() && feeder::QueueSheet(argv[1]))
            Measure("sheet, calibrated sensor", 3, 1);
    }
    Send(SC_CLOSE);
    FreeLibrary(driver);
    feeder::Reset();
    return 0;
}
