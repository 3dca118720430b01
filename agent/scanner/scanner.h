// The scanner layer: the driver's command interface, presence, button and
// paper polling, and the acquisition of one page into a bitmap file. What
// other folders of the agent may call.
#pragma once

#include <windows.h>

#include "bitmap_header.h"
#include "scan_types.h"

#include "feedlink_protocol.h"
#include "product_files.h"

// Timers owned by the tray window and by the insert-paper dialog; both tick every 200 ms.
const UINT_PTR BUTTON_POLL_TIMER_ID = 4096;
const UINT_PTR PAPER_POLL_TIMER_ID = 4097;
const UINT POLL_INTERVAL_MS = 200;

#define SCANNER_DRIVER_ENTRY "FeedlinkCall"

// The loaded driver; both null while unloaded.
struct ScannerDriverRecord {
    HMODULE module;
    FeedlinkEntry entry;
};
extern ScannerDriverRecord ScannerDriver;
// The one command block every command passes through.
extern ScannerCommandBlock ScannerBlock;

// Outcomes of ProbeScanner.
enum ProbeResult : uint16_t {
    PROBE_READY = 0,          // driver opened, scanner present and answering; stays loaded
    PROBE_DEVICE_REFUSED = 1, // SC_ACQUIRE refused
    PROBE_DRIVER_MISSING = 2, // no driver file
    PROBE_NOT_CONNECTED = 4,  // device not ready or not connected
    PROBE_DRIVER_BROKEN = 8,  // the library does not load or lacks its entry
};

// Driver commands.
int SendScannerCommand(unsigned code, void *data);
void UnloadScannerDriver(void);
uint16_t ProbeScanner(const char *driverPath);

// Presence, button and paper.
int IsScannerPresent(void);
void WaitScannerIdle(void);
int16_t PollScanButton(HWND window, UINT_PTR timerId);
int WaitForPaper(void);
int TakePaperEvent(void);

// Bitmap file writer.
int AllocBitmapHeader(ScanBitmap *bitmap);
int WriteBitmapHeader(HANDLE file, ScanBitmap *bitmap);
int FinishBitmapHeader(HANDLE file, ScanBitmap *bitmap, uint32_t linesReceived);
void FreeBitmapHeader(ScanBitmap *bitmap);

// One page from the scanner into a bottom-up bitmap file at `path`: 1 when a
// page was written (possibly shorter than announced), 0 when there was no
// paper, the user cancelled (the file is then already deleted) or a step failed.
int AcquireToBitmap(ScanJobSettings settings, const char *path);
