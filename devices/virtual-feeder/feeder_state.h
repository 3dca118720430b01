// The virtual scanner's state as every process sees it: the driver DLL inside
// the agent, the tests and feedctl.exe all map the same named block, so a
// button pressed from the command line reaches the agent's next poll.
//
// Layout rules, because other builds of the DLL may map the same block:
// - fixed-width fields only, no pointers (addresses are kept as 32-bit
//   numbers for the trace), little-endian as on every target;
// - FEEDER_STATE_VERSION changes whenever a field moves or changes meaning;
//   a process that finds another version or size refuses the block rather
//   than misreading it (the control API reports the failure);
// - every access holds the block: its LockHolder word names the thread that
//   does (the named mutex FEEDER_LOCK_NAME only guards the first mapping).
//
// Portable: no Windows header, so the rendering and transfer rules that read
// these records also build natively.
#pragma once

#include <cstddef>
#include <cstdint>

#include "feedlink_protocol.h"
#include "product_files.h"

// Names of the shared objects. The block is backed by FEEDER_STATE_FILE in the
// device's data folder, so what feedctl.exe sets survives until the agent
// starts, as the settings of a real device would.
#define FEEDER_STATE_NAME "Velmora.VirtualFeeder.State"
#define FEEDER_LOCK_NAME "Velmora.VirtualFeeder.Lock"
#define FEEDER_STATE_FILE "device-state.bin"
// Under the common application data folder.
#define FEEDER_DATA_FOLDER "Velmora\\Virtual Feeder"
// Sheets waiting in the feeder live in this subfolder of the data folder
// unless the folder is overridden; taken sheets move to the subfolder
// FEEDER_SCANNED_FOLDER and undecodable ones to FEEDER_REJECTED_FOLDER of
// the feeder folder.
#define FEEDER_SHEETS_FOLDER "Sheets"
#define FEEDER_SCANNED_FOLDER "Scanned"
#define FEEDER_REJECTED_FOLDER "Rejected"
// A sheet `photo.png` may carry its placement in `photo.png.placement`.
#define FEEDER_PLACEMENT_SUFFIX ".placement"
// The agent's driver-in-use mutex: this prefix followed by the model name.
#define FEEDER_IN_USE_MUTEX_PREFIX DRIVER_IN_USE_MUTEX_PREFIX
// Substring of the still-image interface name the plug and unplug broadcasts
// carry unless another is configured.
#define FEEDER_DEFAULT_VID_PID "VID_F0E5&PID_5CA7"

const uint32_t FEEDER_STATE_MAGIC = 0x52444656u; // "VFDR"
const uint32_t FEEDER_STATE_VERSION = 3;

const uint32_t FEEDER_FAULT_SLOTS = 8;
const uint32_t FEEDER_TRACE_CAPACITY = 4096;
const uint32_t FEEDER_DETAIL_CAPACITY = 48;
const uint32_t FEEDER_MODEL_CAPACITY = 64;
const uint32_t FEEDER_VID_PID_CAPACITY = 32;
// Three tables of at most 4096 16-bit entries.
const uint32_t FEEDER_MAX_TABLE_ENTRIES = 4096;
const uint32_t FEEDER_TABLE_STORE_BYTES = 3 * FEEDER_MAX_TABLE_ENTRIES * 2;

// The contact sensor: one element per 1/600 inch across the widest glass.
const uint32_t FEEDER_SENSOR_DPI = 600;
const uint32_t FEEDER_SENSOR_ELEMENTS = 5100;
const uint32_t FEEDER_SENSOR_CHANNELS = 3;
// Passes of the cleaning sheet that clean a dirty roller.
const uint32_t FEEDER_CLEANING_PASSES = 3;
// The fixed pattern of a device nobody gave another seed.
const uint32_t FEEDER_DEFAULT_SENSOR_SEED = 0x5EED0001u;

// How the sensor reads. A real one has a gain and an offset per element and
// channel, so an uncorrected page shows faint vertical stripes; the ideal one
// reads every column alike and delivers exactly the composed sheet, for
// checks of exact pixel values. A fresh or reset device is ideal.
enum FeederSensorModel : uint32_t {
    FEEDER_SENSOR_IDEAL = 0,
    FEEDER_SENSOR_SHADED = 1,
};

// Statuses the device answers besides 0 (success) and 4 (end of page). All
// failures are negative, so a failing SC_GET_BUTTON never reads as a button
// held down.
enum FeederStatus : int16_t {
    FEED_STATUS_OK = 0,
    FEED_STATUS_END_OF_PAGE = 4,
    FEED_STATUS_UNPLUGGED = -1,    // the scanner is not connected
    FEED_STATUS_NOT_OPEN = -2,     // SC_OPEN has not succeeded in this process
    FEED_STATUS_BUSY = -3,         // SC_ACQUIRE refused: taken by another process, or refused on request
    FEED_STATUS_NOT_ACQUIRED = -4, // the command needs the device taken with SC_ACQUIRE
    FEED_STATUS_NO_PAPER = -5,     // no sheet waits in the feeder
    FEED_STATUS_BAD_REQUEST = -6,  // absurd or unsupported parameters, missing data block
    FEED_STATUS_NOT_SCANNING = -7, // SC_PREPARE_READ or SC_READ outside SC_START ... SC_STOP
    FEED_STATUS_BAD_SHEET = -8,    // the sheet in the transport cannot be decoded
    FEED_STATUS_UNKNOWN_COMMAND = -9,
    FEED_STATUS_NO_STATE = -10, // the shared block cannot be mapped
};

// Trace entries that are not commands carry one of these in Command.
enum FeederEvent : uint16_t {
    FEED_EVENT_SHEET_SKIPPED = 0x101, // Detail: the sheet's file name; it moved to the rejected folder
    FEED_EVENT_SHEET_FED = 0x102,     // Detail: the sheet's file name; it moved into the transport
};

// Where a sheet lies on the device and what shows around it.
struct FeederPlacement {
    int32_t X300; // sheet's top-left corner from the scan origin, 1/300 inch
    int32_t Y300;
    int32_t SkewMilliDegrees; // clockwise turn of the sheet about its centre
    uint32_t BackingRgb;      // 0xRRGGBB of the device's backing around the sheet
    uint32_t SheetDpi;        // the picture's pixels per inch on paper; 0: the file's own, else 300
};

// The lookup-table shape SC_GET_TABLE_FORMAT reports.
struct FeederTableShape {
    uint16_t MaxValue;
    uint16_t Channels;
    uint16_t EntryBytes;
    uint16_t Entries;
    uint16_t GreyTable;
    uint16_t Unused;
};

// One injected failure: the NthCall-th call of Command from now fails with Status.
struct FeederFault {
    uint16_t Command;
    int16_t Status;
    uint32_t NthCall; // 1 = the next call; 0 = slot free
    uint32_t CallsSeen;
    uint32_t Fired; // 1 once it has failed its call
};

// The sensor and the transport's roller.
struct FeederSensorState {
    uint32_t Model;              // FeederSensorModel
    uint32_t Seed;               // the device's fixed pattern of gains and offsets
    uint32_t DirtAfterPages;     // the roller draws a streak once this many pages passed; 0: never
    uint32_t PagesSinceCleaning; // pages that left the transport since the roller was last clean
    uint32_t CleaningPassesRun;  // cleaning passes since the roller was last clean
    uint32_t Target;             // ReferenceTarget of the next SC_START
    uint32_t CorrectionValid;    // 1: Correction is applied to every page
    uint32_t CorrectionsLoaded;  // counts accepted SC_SET_CORRECTION, so a test can tell
    ShadingCorrection Correction[FEEDER_SENSOR_ELEMENTS * FEEDER_SENSOR_CHANNELS];
};

// The scan the device was configured for by the last accepted SC_SET_PARAMS,
// after its own adjustments, with the tables it read at SC_START.
struct FeederScanSetup {
    uint32_t Valid;        // 1 after an accepted SC_SET_PARAMS
    uint16_t PaperArea[4]; // as adjusted by the device
    uint16_t XResolution;
    uint16_t YResolution;
    uint16_t ImageType;
    uint16_t Option;
    int16_t Brightness; // -127..127 after clamping
    int16_t Contrast;
    uint32_t LineBytes;
    uint32_t Lines;
    uint32_t PixelsPerLine;
    uint32_t Target;             // ReferenceTarget this page reads, fixed at SC_START
    uint32_t Streak;             // 1: the dirty roller streaks this page, fixed at SC_START
    uint32_t TableCount;         // 0 (no table pointer), 1 or 3 tables held in Tables
    FeederTableShape TableShape; // shape the tables were read with
    uint8_t Tables[FEEDER_TABLE_STORE_BYTES];
};

// One command as the device saw it. Which fields mean something depends on
// the command:
// - every entry: Sequence, ProcessId, Command, Status, DataAddress,
//   TransferSize and TransferCount as the block held them after the call;
// - SC_SET_TABLE: TableAddress, Brightness, Contrast of the TableDownload,
//   TableChecksum and TableBytes of the one table read through it;
// - SC_SET_PARAMS: every ScanParameters field (TableAddress = its table
//   pointer) and the checksum of the tables the type will read there;
// - SC_GET_GEOMETRY: the requested area, resolutions, type and option, and
//   the answer's LineBytes and Lines;
// - SC_READ: LineBytes of the page and FirstLine, the page line the
//   delivered block starts at;
// - SC_GET_TABLE_FORMAT: the reported Entries in Lines and EntryBytes in LineBytes;
// - SC_GET_BUTTON: the code in Status;
// - feed events: Detail names the sheet file.
struct FeederTraceEntry {
    uint32_t Sequence; // 1-based, counted since the trace was last cleared
    uint32_t ProcessId;
    uint16_t Command; // command code or FeederEvent
    int16_t Status;
    uint32_t DataAddress;
    uint32_t TransferSize;
    uint32_t TransferCount;
    uint32_t TableAddress;
    uint32_t TableChecksum; // FNV-1a (32 bit) of the table bytes
    uint32_t TableBytes;
    int16_t Brightness;
    int16_t Contrast;
    uint16_t PaperArea[4];
    uint16_t XResolution;
    uint16_t YResolution;
    uint16_t ImageType;
    uint16_t Option;
    uint16_t TableUse;
    uint16_t Constant32;
    uint32_t ParameterBytes;
    uint32_t LineBytes;
    uint32_t Lines;
    uint32_t FirstLine;
    uint32_t Microseconds; // when it was recorded: the performance counter in microseconds, modulo 2^32
    char Detail[FEEDER_DETAIL_CAPACITY];
};

// The whole block.
struct FeederState {
    uint32_t Magic;
    uint32_t Version;
    uint32_t Size;      // sizeof(FeederState) of the writer
    uint32_t Resets;    // counts Reset calls, so a test can tell a fresh device
    int32_t LockHolder; // id of the thread holding the block, 0 when free

    // Connection and button.
    uint32_t Plugged; // 0: SC_OPEN, SC_IS_PRESENT and every device command fail
    char VidPid[FEEDER_VID_PID_CAPACITY];
    int16_t ButtonCode; // reported by SC_GET_BUTTON while ButtonPolls > 0
    uint16_t Reserved0;
    uint32_t ButtonPolls; // SC_GET_BUTTON calls left that still see the button down

    // The device taken with SC_ACQUIRE, by process id (0: free).
    uint32_t AcquiredBy;

    // Device characteristics.
    uint32_t TransferBytes;  // answered by SC_PREPARE_READ; 0: the device's own choice
    uint32_t LinesPerSecond; // mechanical speed; 0: as fast as the reader asks
    FeederTableShape TableShape;
    uint16_t MaxWidth300; // largest area the glass covers
    uint16_t MaxHeight300;

    // Faults.
    FeederFault Faults[FEEDER_FAULT_SLOTS];
    uint32_t RefuseAcquire; // 1: every SC_ACQUIRE fails with FEED_STATUS_BUSY
    uint32_t EndPageEarly;  // 1: pages end (status 4) once EndPageAfterLines lines arrived
    uint32_t EndPageAfterLines;
    uint32_t FailReadEarly; // 1: SC_READ fails with FailReadStatus once FailReadAfterLines arrived
    uint32_t FailReadAfterLines;
    int16_t FailReadStatus;
    uint16_t Reserved1;

    // Feeder.
    char FeederFolder[PATH_CAPACITY]; // empty: the default under the data folder
    uint32_t NextSheetNumber;         // names of queued copies: sheet-NNNNNN
    uint32_t Synthetic;               // 1: a generated test card instead of sheet files, always present
    FeederPlacement DefaultPlacement; // for sheets without a placement file

    // The sheet in the transport (taken, or fed at SC_START) and, once the
    // page has left, the last one scanned, so its page can be rendered again.
    uint32_t SheetInTransport;
    uint32_t CurrentSheetValid;
    uint32_t CurrentSheetSynthetic;
    char CurrentSheet[PATH_CAPACITY];
    FeederPlacement CurrentPlacement;

    // The scan in progress or last configured.
    uint32_t Scanning; // between SC_START and SC_STOP
    uint32_t LinesDelivered;
    uint32_t PageEnded;
    FeederScanSetup Setup;

    FeederSensorState Sensor;

    // The in-use mutex held on request by feedctl.exe, which stays running
    // until asked to let go.
    uint32_t MutexHolderPid;
    uint32_t MutexReleaseRequested;
    char MutexModel[FEEDER_MODEL_CAPACITY];

    // Trace ring: entry k (1-based sequence) lives at (k - 1) % capacity.
    uint32_t TraceCount; // entries written since the last clear
    FeederTraceEntry Trace[FEEDER_TRACE_CAPACITY];
};

// Sizes are part of the versioned layout: a change here must bump the version.
static_assert(sizeof(FeederPlacement) == 20, "placement record layout");
static_assert(sizeof(FeederTableShape) == 12, "table shape record layout");
static_assert(sizeof(FeederFault) == 16, "fault record layout");
static_assert(sizeof(FeederTraceEntry) == 128, "trace entry layout");
static_assert(offsetof(FeederState, Trace) % 4 == 0, "trace is word aligned");
