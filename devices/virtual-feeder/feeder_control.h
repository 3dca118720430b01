// Control of the virtual sheet-fed scanner from another process: tests and
// feedctl.exe script the device the agent drives through Feedlink.dll
// (sheets, button, presence, faults, speed) and read back what it saw.
//
// Every call maps the shared block of feeder_state.h on first use and holds
// its lock only for the call. Calls return false when the block cannot be
// mapped (or has another layout version) or an argument is unusable; they
// never throw. Link the static library `feeder_control`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "feeder_state.h"

namespace feeder {

// Where a sheet lies in the feeder and what the device shows around it.
struct Placement {
    int32_t X300 = 150; // sheet's top-left corner from the scan origin, 1/300 inch
    int32_t Y300 = 150;
    double SkewDegrees = 0.0;       // clockwise turn about the sheet's centre; kept to 1/1000 degree
    uint32_t BackingRgb = 0x202020; // 0xRRGGBB
    uint32_t SheetDpi = 0;          // picture pixels per inch of paper; 0: the file's own, else 300
};

// ---- Whole device -------------------------------------------------------

// A clean device: plugged in, button up, device free, no faults, empty trace,
// default transfer size, speed and table shape, synthetic mode off, no sheet
// in the transport, and every file deleted from the feeder folder and its
// scanned and rejected subfolders (everything in them belongs to the device:
// point the folder at a folder of its own). The feeder folder choice and the
// VID/PID are configuration and stay as they are; a feedctl.exe holding the
// in-use mutex lets go.
bool Reset();

// A copy of the whole block, for status displays and tests that look at a
// field no call below returns.
bool Snapshot(FeederState *state);

// ---- Feeder -------------------------------------------------------------

// The folder sheets wait in; empty restores the default under the common
// application data folder. It is created when missing.
bool SetFeederFolder(const std::string &folder);
std::string FeederFolder();

// Copies a picture (BMP, PNG, JPEG, TIFF; anything the imaging component
// decodes) into the feeder behind the sheets already waiting, under the next
// name in order, with a placement file when `placement` is given. The
// original is never touched. `queuedPath` receives the copy's path.
bool QueueSheet(const std::string &picturePath, const Placement *placement = nullptr,
                std::string *queuedPath = nullptr);

// Picture files waiting in the feeder (decodable or not), in the order the
// device takes them.
std::vector<std::string> WaitingSheets();

// Placement for sheets that carry no placement file.
bool SetDefaultPlacement(const Placement &placement);

// Synthetic mode: the device scans a generated test card that fills the
// requested area (paper always present, nothing decoded, rows rendered once
// per page and copied), so a benchmark measures the agent, not the device.
bool SetSyntheticPage(bool on);

// ---- Button and presence ------------------------------------------------

// The button goes down: the next `polls` SC_GET_BUTTON calls report `code`,
// then it is up again (status 0).
bool PressButton(int16_t code = 2, uint32_t polls = 1);

// Connects or disconnects the device without telling anyone; SC_OPEN,
// SC_IS_PRESENT and every device command fail while it is unplugged.
bool SetPlugged(bool plugged);

// The substring of the interface name the broadcasts carry.
bool SetVidPid(const std::string &vidPid);
std::string VidPid();

// What Plug and Play would do: sends WM_DEVICECHANGE DBT_DEVICEARRIVAL or
// DBT_DEVICEREMOVECOMPLETE with a still-image DEV_BROADCAST_DEVICEINTERFACE_A
// (its name holding the VID/PID) to every top-level window with
// SendMessageTimeout. Returns the number of windows that answered in time.
int BroadcastDeviceChange(bool arrival, unsigned timeoutMs = 2000);

// SetPlugged followed by the matching broadcast.
bool Plug();
bool Unplug();

// ---- Faults -------------------------------------------------------------

// The `nthCall`-th call of `command` from now (1 = the next) fails with
// `status`; once. Up to FEEDER_FAULT_SLOTS at a time.
bool InjectFault(uint16_t command, uint32_t nthCall, int16_t status);
// Every SC_ACQUIRE fails with FEED_STATUS_BUSY while on.
bool SetRefuseAcquire(bool on);
// Every page ends with status 4 once `lines` lines have been delivered.
bool SetEndPageAfter(uint32_t lines);
// Every page's SC_READ fails with `status` once `lines` lines have been delivered.
bool SetFailReadAfter(uint32_t lines, int16_t status);
// Clears all of the above.
bool ClearFaults();

// ---- Device characteristics ----------------------------------------------

// Bytes SC_PREPARE_READ answers, exactly as given even when smaller than a
// line (for testing a reader's refusal); 0 restores the device's own choice
// (whole lines filling 64 KiB, at least one line).
bool SetTransferSize(uint32_t bytes);
// Mechanical speed for demos: SC_READ takes as long as `lines` per second
// allows; 0 (the default) costs no time.
bool SetLinesPerSecond(uint32_t lines);
// The lookup-table shape SC_GET_TABLE_FORMAT reports (entries 2..4096,
// max value at least 1). The default is three byte tables of 256 entries,
// maximum 255, grey table 4.
bool SetTableShape(const FeederTableShape &shape);

// ---- Sensor and roller -------------------------------------------------

// The sensor's model and, for a shaded one, the seed of its fixed pattern
// (0 keeps the present seed). Changing either drops the device's correction,
// which was measured for another pattern.
bool SetSensor(FeederSensorModel model, uint32_t seed = 0);
// The roller draws its streak once `pages` sheets left the transport since
// it was last cleaned; 0: it never gets dirty. The page count starts again.
bool SetRollerDirtAfter(uint32_t pages);

// ---- The agent's "in use" mutex ----------------------------------------

// Creates and holds the per-model driver-in-use mutex in this process, as
// another scanning program would; ReleaseInUseMutex closes it.
bool HoldInUseMutex(const std::string &model);
bool ReleaseInUseMutex();
std::string InUseMutexName(const std::string &model);

// ---- Trace --------------------------------------------------------------

// Every command and feed event since the last clear, oldest first. When more
// than FEEDER_TRACE_CAPACITY were recorded the oldest are gone; the entries'
// Sequence numbers tell.
std::vector<FeederTraceEntry> ReadTrace();
bool ClearTrace();
// FNV-1a (32 bit), the checksum trace entries carry for tables.
uint32_t TableChecksum(const void *bytes, uint32_t count);
// "SC_READ", "SC_SET_PARAMS", ... or the number, for messages.
std::string CommandName(uint16_t command);

// ---- Rendering ----------------------------------------------------------

// A page as the device delivers it: rows top line first, LineBytes each
// (1-bit line art with the first pixel in the top bit and 1 = white, 8-bit
// grey, 24-bit blue-green-red), padded to 4 bytes.
struct RenderedPage {
    uint16_t ImageType = 0;
    uint32_t PixelsPerLine = 0;
    uint32_t LineBytes = 0;
    uint32_t Lines = 0;
    std::vector<uint8_t> Rows;
};

// The page the device delivers for its current sheet (the one in the
// transport, or the last one scanned) with the parameters of the last
// accepted SC_SET_PARAMS and the tables it read at SC_START. False when no
// scan was configured or the sheet cannot be decoded.
bool RenderCurrentPage(RenderedPage *page);

// The same rendering for any picture file and scan, without the device. Of
// `setup` it reads the area, resolutions, type, brightness, contrast and the
// tables (TableCount of TableShape in Tables); the line size, line count and
// pixels per line are computed here as SC_GET_GEOMETRY would. False for a
// scan the device refuses or a file that cannot be decoded.
bool RenderSheetFile(const std::string &picturePath, const Placement &placement, const FeederScanSetup &setup,
                     RenderedPage *page);

} // namespace feeder
