// Helpers of the scanner layer's Windows tests: the virtual scanner loaded
// as the agent loads it, a private settings key, the device's trace as
// command names, sheet pictures and acquired files read back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "feeder_control.h"
#include "scanner_internal.h"

namespace scannertest {

// The trace as "SC_ACQUIRE SC_RELEASE ...", and its command entries; feed events left out.
std::string TracedCommands();
std::vector<FeederTraceEntry> TracedEntries(uint16_t only = 0xFFFF);
std::string Repeat(const std::string &word, int times);

// A 24-bit picture whose every pixel differs from its neighbours.
bool WriteSheetPicture(const std::string &path, int width, int height);

// A small job: the area at the origin, scanned at `dpi`.
ScanJobSettings MakeSettings(uint16_t type, uint16_t width300, uint16_t height300, uint16_t dpi);

// A bitmap file: its bytes, a header field, its rows turned back top line first.
struct AcquiredFile {
    std::string bytes;
    uint32_t Field(uint32_t offset) const;
    std::vector<uint8_t> RowsTopFirst(uint32_t lineBytes) const;
};
bool ReadAcquired(const std::string &path, AcquiredFile *file);

// A fresh virtual scanner with its driver probed and loaded and its trace
// cleared; a private registry key as SettingsKey; AppTitle unique to this
// process; a scratch folder holding a sheet picture.
class DeviceTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    bool LoadResources(); // VelmoraRes.dll from the program folder
    std::string folder_, keyPath_, sheet_, page_;
};

} // namespace scannertest
