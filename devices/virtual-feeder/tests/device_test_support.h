// Helpers of the virtual scanner's Windows tests and the calibration tool's:
// the driver loaded the way the agent loads it, a device of the test's own,
// and the agent's transfer loop.
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
    int16_t Send(uint16_t command, void *data = nullptr);
    ScannerCommandBlock block;

private:
    HMODULE module_;
    FeedlinkEntry entry_;
};

// A fresh device whose feeder is a scratch folder; restores the default
// folder and a clean device on destruction.
class ScratchDevice {
public:
    ScratchDevice();
    ~ScratchDevice();
    std::string folder; // scratch files of the test (not the feeder)
    std::string feeder;
};

// The scan parameters the agent would send for an area at the origin.
ScanParameters MakeParameters(uint16_t width300, uint16_t height300, uint16_t dpi, uint16_t type, void *tables);

// The agent's transfer loop: SC_START, SC_PREPARE_READ, SC_READ until the
// page ends, SC_STOP, SC_END_PAGE. Returns the lines received in `rows` and
// each read's status and count in `reads`.
struct ReadRecord {
    int16_t Status;
    uint32_t Lines;
};
void ReadPage(Driver &driver, uint32_t lineBytes, uint32_t lines, std::vector<uint8_t> *rows,
              std::vector<ReadRecord> *reads);

} // namespace feedtest
