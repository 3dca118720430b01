// The scanner driver's command interface: the command block every command
// passes through, the data blocks some commands carry, and the command codes.
// Shared by the agent and by the virtual scanner, so both sides agree on
// every byte. The blocks hold 32-bit pointers: this only builds for the
// 32-bit Windows target.
#pragma once

#include <cstddef>
#include <cstdint>

// Named mutex of the program using the scanner: this prefix followed by the
// model name from Module.ini. While it exists the agent leaves the device alone.
#define DRIVER_IN_USE_MUTEX_PREFIX "9443FFBE-F26B-432e-9F9F-A603F3F9849F_"

// One sensor element's shading correction for one channel, as the
// calibration tool hands it to the device with SC_SET_CORRECTION and as the
// device keeps it: output = (raw - Dark / 64) x Gain / 16384. Portable, since
// the device's own state holds these entries too.
struct ShadingCorrection {
    uint16_t Dark; // the element's black level, 1/64 of a level
    uint16_t Gain; // 1/16384
};
const uint32_t SHADING_DARK_ONE = 64;
const uint32_t SHADING_GAIN_ONE = 16384;
static_assert(sizeof(ShadingCorrection) == 4, "correction entry is 4 bytes");

// SC_SET_REFERENCE: what the following SC_START ... SC_READ scans instead of
// a sheet, as raw sensor values (no correction; no paper is taken). The
// device goes back to sheets at SC_RELEASE and SC_CLOSE.
enum ReferenceTarget : uint16_t {
    REFERENCE_SHEET = 0,
    REFERENCE_WHITE = 1, // the white strip inside the transport
    REFERENCE_DARK = 2,  // lamp off
};

#if defined(_WIN32) && !defined(_WIN64)

// The system's headers define SC_CLOSE as the window menu's close command.
// They are read here first, so the macro cannot come back after this header,
// and the name is the driver's from here on; the window command keeps its
// value under SC_CLOSE_WINDOW.
#include <windows.h>
#undef SC_CLOSE
const WPARAM SC_CLOSE_WINDOW = 0xF060;

// Every command code with its name: the one list the enum, the trace's
// names and the control tool's arguments are made from.
#define FEEDLINK_COMMANDS(X)                                                                                           \
    X(SC_OPEN, 0)                                                                                                      \
    X(SC_CLOSE, 1)                                                                                                     \
    X(SC_GET_INFO, 2)                                                                                                  \
    X(SC_GET_EXTRA_INFO, 3)                                                                                            \
    X(SC_GET_TABLE_FORMAT, 6)                                                                                          \
    X(SC_SET_TABLE, 8)                                                                                                 \
    X(SC_GET_GEOMETRY, 9)                                                                                              \
    X(SC_GET_BUTTON, 10)                                                                                               \
    X(SC_TAKE_PAPER, 11)                                                                                               \
    X(SC_END_PAGE, 12)                                                                                                 \
    X(SC_PAPER_PRESENT, 13)                                                                                            \
    X(SC_ACQUIRE, 15)                                                                                                  \
    X(SC_SET_PARAMS, 16)                                                                                               \
    X(SC_START, 17)                                                                                                    \
    X(SC_READ, 18)                                                                                                     \
    X(SC_STOP, 19)                                                                                                     \
    X(SC_RELEASE, 20)                                                                                                  \
    X(SC_PREPARE_READ, 23)                                                                                             \
    X(SC_IS_PRESENT, 24)                                                                                               \
    /* calibration and cleaning, used by the calibration tool only */                                                  \
    X(SC_GET_SENSOR, 32)                                                                                               \
    X(SC_SET_REFERENCE, 33)                                                                                            \
    X(SC_SET_CORRECTION, 34)                                                                                           \
    X(SC_CLEAN_PASS, 35)

enum ScannerCommand : uint16_t {
#define FEEDLINK_COMMAND_CODE(name, code) name = code,
    FEEDLINK_COMMANDS(FEEDLINK_COMMAND_CODE)
#undef FEEDLINK_COMMAND_CODE
};

// Status of the final SC_READ of a page: its TransferCount lines still arrived.
const int16_t SC_STATUS_END_OF_PAGE = 4;
// Button code that asks for a scan.
const int16_t SC_BUTTON_SCAN = 2;
// Written into TransferSize with SC_START.
const uint32_t SC_START_MAGIC = 0x41230000u;

const uint32_t SC_GET_INFO_BYTES = 32;
const uint32_t SC_GET_EXTRA_INFO_BYTES = 40;

struct ScannerCommandBlock {
    uint16_t Command;
    int16_t Status;         // set by the driver; 0 = success
    void *Data;             // the command's data block
    uint32_t TransferSize;  // bytes asked for by SC_READ
    uint32_t TransferCount; // the driver's answer
};

struct TableFormat {
    uint16_t MaxValue;
    uint16_t Channels;   // 3: three tables; otherwise one
    uint16_t EntryBytes; // 1: byte entries; otherwise 16-bit entries
    uint16_t Entries;
    uint16_t GreyTable; // with three tables, the one grey scans use: 3, 4 or 5
    uint16_t Unused;
};

struct TableDownload {
    void *Table;
    uint16_t Brightness;
    uint16_t Contrast;
};

struct ScanParameters {
    uint32_t Reserved0;
    void *Tables;            // null for line art; grey table; or all three tables
    uint32_t ParameterBytes; // SC_PARAMETER_BYTES: the bytes that follow
    uint16_t PaperArea[4];   // 1/300 inch; [2] width, [3] height
    uint16_t XResolution;
    uint16_t YResolution;
    uint16_t ImageType;
    uint16_t Option;
    uint16_t Reserved28;
    uint16_t TableUse;   // 2 line art, 0 grey, 1 colour
    uint16_t Constant32; // 2
    uint16_t Brightness;
    uint16_t Contrast;
    uint16_t Reserved38;
};

// What ParameterBytes must hold: the bytes of the block after it.
const uint32_t SC_PARAMETER_BYTES = 28;

struct ScanGeometry {
    uint32_t Result0;
    uint32_t LineBytes;
    uint32_t Lines;
    ScanParameters Image;
};

// SC_GET_SENSOR: the sensor a correction is made for. A correction holds
// Elements x Channels entries, element by element, red, green, blue.
struct SensorInfo {
    uint16_t Dpi; // the sensor's own resolution across the glass
    uint16_t Elements;
    uint16_t Channels;
    uint16_t CleaningPasses; // SC_CLEAN_PASS runs that clean the roller
};

// SC_SET_REFERENCE: what the following SC_START ... SC_READ scans, with the
// target of ReferenceTarget above.
struct ReferenceRequest {
    uint16_t Target;
    uint16_t Reserved;
};

// SC_SET_CORRECTION: the device applies these to every later page, until
// replaced. Elements 0 with no entries removes the correction.
struct CorrectionDownload {
    uint16_t Elements;
    uint16_t Channels;
    const ShadingCorrection *Entries;
};

// The driver's one entry; its return value carries nothing the agent uses.
typedef int(__stdcall *FeedlinkEntry)(ScannerCommandBlock *block);

// A wrong target or packing must fail the build, not corrupt the device.
static_assert(sizeof(void *) == 4, "the driver blocks assume 4-byte pointers");
static_assert(sizeof(ScannerCommandBlock) == 16, "command block is 16 bytes");
static_assert(offsetof(ScannerCommandBlock, Data) == 4, "command block layout");
static_assert(offsetof(ScannerCommandBlock, TransferCount) == 12, "command block layout");
static_assert(sizeof(TableFormat) == 12, "table format block is 12 bytes");
static_assert(sizeof(TableDownload) == 8, "table download block is 8 bytes");
static_assert(sizeof(ScanParameters) == 40, "scan parameters block is 40 bytes");
static_assert(offsetof(ScanParameters, PaperArea) == 12, "scan parameters layout");
static_assert(offsetof(ScanParameters, Brightness) == 34, "scan parameters layout");
static_assert(sizeof(ScanParameters) - offsetof(ScanParameters, PaperArea) == SC_PARAMETER_BYTES,
              "ParameterBytes counts the rest of the block");
static_assert(sizeof(ScanGeometry) == 52, "geometry block is 52 bytes");
static_assert(offsetof(ScanGeometry, Image) == 12, "geometry block layout");
static_assert(sizeof(SensorInfo) == 8, "sensor block is 8 bytes");
static_assert(sizeof(CorrectionDownload) == 8, "correction block is 8 bytes");

#endif
