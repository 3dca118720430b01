// Helpers of the scanner layer's Windows tests: the virtual scanner loaded
// the way the agent loads it, a private settings key, the device's trace as
// command names, sheet pictures and the acquired page read back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "feeder_control.h"
#include "scanner_internal.h"

namespace scannertest {

std::string DriverPath();

// The trace's commands as "SC_ACQUIRE SC_RELEASE ...", feed events left out.
std::string TracedCommands();
// The trace's command entries, feed events left out.
std::vector<FeederTraceEntry> TracedEntries();
std::string Repeat(const std::string &words, int times);

// A 24-bit picture whose every pixel differs from its neighbours.
bool WriteSheetPicture(const std::string &path, int width, int height);

// A fresh virtual scanner, the driver probed and loaded, the trace cleared;
// a private registry key as SettingsKey; AppTitle unique to this process so
// other windows are never mistaken for ours; a scratch folder.
class DeviceTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The "Inside Gamma" value as stored now; false when missing.
    bool StoredInsideGamma(DWORD *type, DWORD *value);
    void SetInsideGamma(DWORD value);
    // Loads VelmoraRes.dll from the program folder as the resource library;
    // false when it has not been built.
    bool LoadResources();

    std::string folder_;
    std::string keyPath_;
    HMODULE resources_ = nullptr;
};

// A small job's settings: the area at the origin, `dpi` on the device.
ScanJobSettings MakeSettings(uint16_t type, uint16_t width300, uint16_t height300, uint16_t dpi);

// An acquired bitmap file split into its header and its rows in file order.
struct AcquiredFile {
    std::string bytes;
    uint32_t headerSize = 0;
    uint32_t width = 0, height = 0, bits = 0, imageSize = 0, fileSize = 0;
    uint32_t xPerMetre = 0, coloursUsed = 0;
};
bool ReadAcquired(const std::string &path, AcquiredFile *file);

// The device's rows top line first, from the file's bottom-up rows.
std::vector<uint8_t> RowsTopFirst(const AcquiredFile &file, uint32_t lineBytes);

// Expands delivered rows into packed 8-bit RGB as a picture reader shows them.
std::vector<uint8_t> RowsAsRgb(const feeder::RenderedPage &page);

} // namespace scannertest
