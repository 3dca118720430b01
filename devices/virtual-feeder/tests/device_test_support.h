// Helpers of the virtual scanner's Windows tests: the driver loaded the way
// the agent loads it, sheet pictures with known pixels, and feedctl.exe runs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "feeder_control.h"
#include "feedlink_protocol.h"

namespace feedtest {

// Feedlink.dll from the program folder, one command block, sent as the
// agent sends (null data leaves the block's data pointer as it was).
class Driver {
public:
    Driver();
    ~Driver();
    bool Loaded() const { return entry_ != nullptr; }
    int16_t Send(uint16_t command, void *data = nullptr);
    // One SC_READ into `buffer` of `bytes`; returns the status.
    int16_t Read(void *buffer, uint32_t bytes);
    ScannerCommandBlock block;

private:
    HMODULE module_;
    FeedlinkEntry entry_;
};

// Colour of sheet pixel (x, y) in the test pictures: every pixel differs
// from its neighbours in every channel.
void TestPixel(uint32_t x, uint32_t y, uint8_t rgb[3]);
// A 24-bit bottom-up BMP of TestPixel colours.
bool WriteTestBitmap(const std::string &path, uint32_t width, uint32_t height);

// A fresh device whose feeder is a scratch folder; restores the default
// folder and a clean device on destruction.
class ScratchDevice {
public:
    ScratchDevice();
    ~ScratchDevice();
    std::string folder;   // scratch files of the test (not the feeder)
    std::string feeder;
};

// Runs feedctl.exe from the program folder with `arguments`; returns its exit
// code and its standard output.
int RunFeedctl(const std::string &arguments, std::string *output = nullptr);

// The scan parameters the agent would send for an area at the origin.
ScanParameters MakeParameters(uint16_t width300, uint16_t height300, uint16_t dpi, uint16_t type, void *tables);

// The agent's transfer loop: SC_START, SC_PREPARE_READ, SC_READ until the
// page ends. Returns the lines received in `rows` and each read's status
// and count in `reads`.
struct ReadRecord {
    int16_t Status;
    uint32_t Lines;
};
void ReadPage(Driver &driver, uint32_t lineBytes, uint32_t lines, std::vector<uint8_t> *rows,
              std::vector<ReadRecord> *reads);

// Commands of the trace, in order (feed events left out).
std::vector<uint16_t> TracedCommands();

} // namespace feedtest
