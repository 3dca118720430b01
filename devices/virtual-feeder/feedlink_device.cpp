// Feedlink.dll: the virtual sheet-fed scanner behind the driver's one entry.
// Each command checks its preconditions, applies an injected fault when one
// is due, acts on the shared state and leaves a trace entry.
#include <windows.h>

#include <cstring>
#include <string>

#include "feeder_queue.h"
#include "feedlink_protocol.h"
#include "page_render.h"
#include "shared_block.h"
#include "sheet_decode.h"
#include "transfer_plan.h"

using namespace feeder;

namespace {

// What the device keeps inside the process that loaded it: the decoded
// sheet and the renderer stay here because they hold pointers of this
// process, and SC_OPEN is per loaded driver.
struct LoadedDevice {
    bool Opened = false;
    std::string SheetPath; // the file `Sheet` was decoded from
    SheetImage Sheet;
    PageRenderer Renderer;
    bool RendererReady = false;
    const void *ScanTables = nullptr; // the caller's table pointer of the last SC_SET_PARAMS
};
LoadedDevice Device;

// Lines of transport one cleaning pass moves: a long page at 300 dpi.
const uint32_t CLEANING_PASS_LINES = 4200;

// Preconditions a command has beyond a connected device.
enum Needs : unsigned {
    NEEDS_NOTHING = 0,
    NEEDS_PLUGGED = 1,
    NEEDS_OPEN = 2 | NEEDS_PLUGGED,
    NEEDS_ACQUIRED = 4 | NEEDS_OPEN,
};

struct CommandCall {
    ScannerCommandBlock *Block;
    FeederState *State;
    FeederTraceEntry *Trace;
    uint32_t SleepMs; // mechanical time of the call, spent after the lock is let go
};

typedef int16_t (*CommandHandler)(CommandCall &call);

// True when `bytes` bytes at `address` lie in committed memory this process
// may read (or write): a stray pointer from a caller fails its command
// instead of bringing the host program down.
bool MemoryUsable(const void *address, size_t bytes, bool write)
{
    if (!address)
        return false;
    const uint8_t *cursor = static_cast<const uint8_t *>(address);
    const uint8_t *end = cursor + bytes;
    while (cursor < end) {
        MEMORY_BASIC_INFORMATION info;
        if (!VirtualQuery(cursor, &info, sizeof info) || info.State != MEM_COMMIT ||
            (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)))
            return false;
        const DWORD writable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
        const DWORD readable = writable | PAGE_READONLY | PAGE_EXECUTE_READ;
        if (!(info.Protect & (write ? writable : readable)))
            return false;
        cursor = static_cast<const uint8_t *>(info.BaseAddress) + info.RegionSize;
    }
    return true;
}

uint32_t Address(const void *pointer)
{
    return (uint32_t)(uintptr_t)pointer;
}

bool AcquiredHere(const FeederState &state)
{
    return state.AcquiredBy == GetCurrentProcessId();
}

void StopScan(FeederState *state)
{
    state->Scanning = 0;
    Device.RendererReady = false;
}

// Reads the scan's tables through the caller's pointer into the shared
// setup, so another process renders with exactly what the device used.
int16_t ReadScanTables(FeederState *state, const void *tables, FeederTraceEntry *trace)
{
    FeederScanSetup &setup = state->Setup;
    setup.TableShape = state->TableShape;
    setup.TableCount = 0;
    if (!tables)
        return FEED_STATUS_OK;
    const uint32_t count = setup.ImageType == IMAGE_COLOUR && state->TableShape.Channels == 3 ? 3 : 1;
    const uint32_t bytes = count * TableBytes(state->TableShape);
    if (bytes > FEEDER_TABLE_STORE_BYTES || !MemoryUsable(tables, bytes, false))
        return FEED_STATUS_BAD_REQUEST;
    memcpy(setup.Tables, tables, bytes);
    setup.TableCount = count;
    if (trace) {
        trace->TableChecksum = Checksum32(tables, bytes);
        trace->TableBytes = bytes;
    }
    return FEED_STATUS_OK;
}

int16_t OnOpen(CommandCall &)
{
    Device.Opened = true;
    return FEED_STATUS_OK;
}

int16_t OnClose(CommandCall &call)
{
    if (AcquiredHere(*call.State)) {
        call.State->AcquiredBy = 0;
        call.State->Sensor.Target = REFERENCE_SHEET;
        StopScan(call.State);
    }
    Device.Opened = false;
    return FEED_STATUS_OK;
}

int16_t OnGetInfo(CommandCall &call)
{
    uint8_t *info = static_cast<uint8_t *>(call.Block->Data);
    if (!MemoryUsable(info, SC_GET_INFO_BYTES, true))
        return FEED_STATUS_BAD_REQUEST;
    memset(info, 0, SC_GET_INFO_BYTES);
    memcpy(info, "VFDR", 4);
    const uint16_t words[4] = {uint16_t(FEEDER_STATE_VERSION), MAX_DPI, call.State->MaxWidth300,
                               call.State->MaxHeight300};
    memcpy(info + 4, words, sizeof words);
    lstrcpynA(reinterpret_cast<char *>(info + 12), "Virtual Feeder", SC_GET_INFO_BYTES - 12);
    return FEED_STATUS_OK;
}

int16_t OnGetExtraInfo(CommandCall &call)
{
    char *info = static_cast<char *>(call.Block->Data);
    if (!MemoryUsable(info, SC_GET_EXTRA_INFO_BYTES, true))
        return FEED_STATUS_BAD_REQUEST;
    memset(info, 0, SC_GET_EXTRA_INFO_BYTES);
    snprintf(info, SC_GET_EXTRA_INFO_BYTES, "serial VF-%08X firmware 1.0", 1u);
    return FEED_STATUS_OK;
}

int16_t OnGetTableFormat(CommandCall &call)
{
    TableFormat *format = static_cast<TableFormat *>(call.Block->Data);
    if (!MemoryUsable(format, sizeof *format, true))
        return FEED_STATUS_BAD_REQUEST;
    const FeederTableShape &shape = call.State->TableShape;
    *format = TableFormat{shape.MaxValue, shape.Channels, shape.EntryBytes, shape.Entries, shape.GreyTable, 0};
    call.Trace->Lines = shape.Entries;
    call.Trace->LineBytes = shape.EntryBytes;
    return FEED_STATUS_OK;
}

int16_t OnSetTable(CommandCall &call)
{
    const TableDownload *download = static_cast<const TableDownload *>(call.Block->Data);
    if (!MemoryUsable(download, sizeof *download, false))
        return FEED_STATUS_BAD_REQUEST;
    call.Trace->TableAddress = Address(download->Table);
    call.Trace->Brightness = (int16_t)download->Brightness;
    call.Trace->Contrast = (int16_t)download->Contrast;
    const uint32_t bytes = TableBytes(call.State->TableShape);
    if (!MemoryUsable(download->Table, bytes, false))
        return FEED_STATUS_BAD_REQUEST;
    call.Trace->TableChecksum = Checksum32(download->Table, bytes);
    call.Trace->TableBytes = bytes;
    return FEED_STATUS_OK;
}

void TraceRequest(FeederTraceEntry *trace, const ScanParameters &image)
{
    memcpy(trace->PaperArea, image.PaperArea, sizeof trace->PaperArea);
    trace->XResolution = image.XResolution;
    trace->YResolution = image.YResolution;
    trace->ImageType = image.ImageType;
    trace->Option = image.Option;
}

ScanRequest RequestOf(const ScanParameters &image)
{
    ScanRequest request;
    memcpy(request.PaperArea, image.PaperArea, sizeof request.PaperArea);
    request.XResolution = image.XResolution;
    request.YResolution = image.YResolution;
    request.ImageType = image.ImageType;
    return request;
}

int16_t OnGetGeometry(CommandCall &call)
{
    ScanGeometry *geometry = static_cast<ScanGeometry *>(call.Block->Data);
    if (!MemoryUsable(geometry, sizeof *geometry, true))
        return FEED_STATUS_BAD_REQUEST;
    TraceRequest(call.Trace, geometry->Image);
    FeederScanSetup planned = {};
    const int16_t status =
        PlanScan(RequestOf(geometry->Image), call.State->MaxWidth300, call.State->MaxHeight300, &planned);
    // A refused area answers an empty page, so a reader that ignores the
    // status still finds nothing to read.
    geometry->Result0 = 0;
    geometry->LineBytes = status == FEED_STATUS_OK ? planned.LineBytes : 0;
    geometry->Lines = status == FEED_STATUS_OK ? planned.Lines : 0;
    if (status == FEED_STATUS_OK) {
        ScanParameters &image = geometry->Image;
        const uint16_t option = image.Option;
        memset(&image, 0, sizeof image);
        image.ParameterBytes = SC_PARAMETER_BYTES;
        memcpy(image.PaperArea, planned.PaperArea, sizeof image.PaperArea);
        image.XResolution = planned.XResolution;
        image.YResolution = planned.YResolution;
        image.ImageType = planned.ImageType;
        image.Option = option;
    }
    call.Trace->LineBytes = geometry->LineBytes;
    call.Trace->Lines = geometry->Lines;
    return status;
}

int16_t OnGetButton(CommandCall &call)
{
    FeederState *state = call.State;
    if (state->ButtonPolls == 0)
        return 0;
    --state->ButtonPolls;
    return state->ButtonCode;
}

int16_t OnTakePaper(CommandCall &call)
{
    FeederState *state = call.State;
    if (state->SheetInTransport)
        return FEED_STATUS_OK;
    if (state->Synthetic) {
        state->SheetInTransport = 1;
        state->CurrentSheetValid = 1;
        state->CurrentSheetSynthetic = 1;
        return FEED_STATUS_OK;
    }
    return FindSheet(state, true);
}

int16_t OnEndPage(CommandCall &call)
{
    StopScan(call.State);
    // Every sheet that leaves the transport rubs a little more onto the roller.
    if (call.State->SheetInTransport) {
        ++call.State->Sensor.PagesSinceCleaning;
        call.State->Sensor.CleaningPassesRun = 0;
    }
    call.State->SheetInTransport = 0;
    return FEED_STATUS_OK;
}

int16_t OnPaperPresent(CommandCall &call)
{
    if (call.State->Synthetic || call.State->SheetInTransport)
        return FEED_STATUS_OK;
    return FindSheet(call.State, false);
}

int16_t OnAcquire(CommandCall &call)
{
    FeederState *state = call.State;
    if (state->RefuseAcquire)
        return FEED_STATUS_BUSY;
    if (state->AcquiredBy != 0 && !AcquiredHere(*state) && ProcessAlive(state->AcquiredBy))
        return FEED_STATUS_BUSY;
    // A calibration tool that died with a reference selected must not leave
    // the next holder scanning the white strip instead of its sheet.
    if (!AcquiredHere(*state))
        state->Sensor.Target = REFERENCE_SHEET;
    state->AcquiredBy = GetCurrentProcessId();
    return FEED_STATUS_OK;
}

int16_t OnSetParams(CommandCall &call)
{
    const ScanParameters *parameters = static_cast<const ScanParameters *>(call.Block->Data);
    if (!MemoryUsable(parameters, sizeof *parameters, false))
        return FEED_STATUS_BAD_REQUEST;
    FeederTraceEntry *trace = call.Trace;
    TraceRequest(trace, *parameters);
    trace->TableAddress = Address(parameters->Tables);
    trace->ParameterBytes = parameters->ParameterBytes;
    trace->TableUse = parameters->TableUse;
    trace->Constant32 = parameters->Constant32;
    trace->Brightness = (int16_t)parameters->Brightness;
    trace->Contrast = (int16_t)parameters->Contrast;
    if (parameters->ParameterBytes != SC_PARAMETER_BYTES)
        return FEED_STATUS_BAD_REQUEST;
    FeederState *state = call.State;
    StopScan(state);
    state->Setup.Valid = 0;
    FeederScanSetup planned = {};
    const int16_t status = PlanScan(RequestOf(*parameters), state->MaxWidth300, state->MaxHeight300, &planned);
    if (status != FEED_STATUS_OK)
        return status;
    FeederScanSetup &setup = state->Setup;
    memcpy(setup.PaperArea, planned.PaperArea, sizeof setup.PaperArea);
    setup.XResolution = planned.XResolution;
    setup.YResolution = planned.YResolution;
    setup.ImageType = planned.ImageType;
    setup.Option = parameters->Option;
    setup.Brightness = (int16_t)parameters->Brightness;
    setup.Contrast = (int16_t)parameters->Contrast;
    setup.LineBytes = planned.LineBytes;
    setup.Lines = planned.Lines;
    setup.PixelsPerLine = planned.PixelsPerLine;
    const int16_t tables = ReadScanTables(state, parameters->Tables, trace);
    if (tables != FEED_STATUS_OK)
        return tables;
    Device.ScanTables = parameters->Tables;
    setup.Valid = 1;
    return FEED_STATUS_OK;
}

// The page's picture in this process: decoded once per sheet file.
bool LoadCurrentSheet(const FeederState &state)
{
    const std::string path(state.CurrentSheet, strnlen(state.CurrentSheet, PATH_CAPACITY));
    if (path == Device.SheetPath && Device.Sheet.Width != 0)
        return true;
    Device.SheetPath.clear();
    Device.Sheet = SheetImage();
    if (!DecodeSheet(path, &Device.Sheet))
        return false;
    Device.SheetPath = path;
    return true;
}

int16_t BeginPage(FeederState *state)
{
    Device.RendererReady = true;
    state->Scanning = 1;
    state->LinesDelivered = 0;
    state->PageEnded = 0;
    return FEED_STATUS_OK;
}

// A reference is read where it lies inside the transport: no sheet moves,
// no table shapes it.
int16_t StartReference(FeederState *state)
{
    state->Setup.Streak = 0;
    state->Setup.TableCount = 0;
    if (!Device.Renderer.PrepareReference(state->Setup, &state->Sensor))
        return FEED_STATUS_BAD_REQUEST;
    return BeginPage(state);
}

int16_t OnStart(CommandCall &call)
{
    FeederState *state = call.State;
    StopScan(state);
    if (!state->Setup.Valid)
        return FEED_STATUS_BAD_REQUEST;
    FeederSensorState &sensor = state->Sensor;
    state->Setup.Target = sensor.Target;
    if (sensor.Target != REFERENCE_SHEET)
        return StartReference(state);
    state->Setup.Streak = sensor.DirtAfterPages && sensor.PagesSinceCleaning >= sensor.DirtAfterPages;
    // Like a real feeder, starting pulls in the next sheet when none was taken.
    if (!state->SheetInTransport) {
        const int16_t fed = OnTakePaper(call);
        if (fed != FEED_STATUS_OK)
            return fed;
    }
    // The tables may have been reshaped since the parameters came; the
    // pointer is good until the scan stops, so the page uses them as they are now.
    const int16_t tables = ReadScanTables(state, Device.ScanTables, nullptr);
    if (tables != FEED_STATUS_OK)
        return tables;
    bool prepared;
    if (state->CurrentSheetSynthetic) {
        prepared = Device.Renderer.PrepareSynthetic(state->Setup, &sensor);
    } else {
        if (!LoadCurrentSheet(*state))
            return FEED_STATUS_BAD_SHEET;
        prepared = Device.Renderer.PrepareSheet(&Device.Sheet, state->CurrentPlacement, state->Setup, &sensor);
    }
    if (!prepared)
        return FEED_STATUS_BAD_REQUEST;
    return BeginPage(state);
}

int16_t OnPrepareRead(CommandCall &call)
{
    if (!call.State->Scanning || !Device.RendererReady)
        return FEED_STATUS_NOT_SCANNING;
    call.Block->TransferCount = PreferredTransferBytes(call.State->TransferBytes, call.State->Setup.LineBytes);
    return FEED_STATUS_OK;
}

int16_t OnRead(CommandCall &call)
{
    FeederState *state = call.State;
    ScannerCommandBlock *block = call.Block;
    block->TransferCount = 0;
    if (!state->Scanning || !Device.RendererReady)
        return FEED_STATUS_NOT_SCANNING;
    PageProgress page;
    page.LineBytes = state->Setup.LineBytes;
    page.Lines = state->Setup.Lines;
    page.Delivered = state->LinesDelivered;
    page.EndEarly = state->EndPageEarly != 0;
    page.EndAfter = state->EndPageAfterLines;
    page.FailEarly = state->FailReadEarly != 0;
    page.FailAfter = state->FailReadAfterLines;
    page.FailStatus = state->FailReadStatus;
    call.Trace->LineBytes = page.LineBytes;
    call.Trace->FirstLine = page.Delivered;
    const ReadOutcome outcome = PlanRead(page, block->TransferSize);
    if (outcome.Lines > 0) {
        const size_t bytes = (size_t)outcome.Lines * page.LineBytes;
        if (!MemoryUsable(block->Data, bytes, true))
            return FEED_STATUS_BAD_REQUEST;
        Device.Renderer.Render(page.Delivered, outcome.Lines, static_cast<uint8_t *>(block->Data));
        state->LinesDelivered += outcome.Lines;
        block->TransferCount = outcome.Lines;
        if (state->LinesPerSecond)
            call.SleepMs = (uint32_t)((uint64_t)outcome.Lines * 1000 / state->LinesPerSecond);
    }
    if (outcome.Status == FEED_STATUS_END_OF_PAGE)
        state->PageEnded = 1;
    return outcome.Status;
}

int16_t OnStop(CommandCall &call)
{
    StopScan(call.State);
    return FEED_STATUS_OK;
}

int16_t OnRelease(CommandCall &call)
{
    if (AcquiredHere(*call.State)) {
        call.State->AcquiredBy = 0;
        call.State->Sensor.Target = REFERENCE_SHEET;
        StopScan(call.State);
    }
    return FEED_STATUS_OK;
}

int16_t OnIsPresent(CommandCall &)
{
    return FEED_STATUS_OK;
}

int16_t OnGetSensor(CommandCall &call)
{
    SensorInfo *info = static_cast<SensorInfo *>(call.Block->Data);
    if (!MemoryUsable(info, sizeof *info, true))
        return FEED_STATUS_BAD_REQUEST;
    *info = SensorInfo{uint16_t(FEEDER_SENSOR_DPI), uint16_t(FEEDER_SENSOR_ELEMENTS), uint16_t(FEEDER_SENSOR_CHANNELS),
                       uint16_t(FEEDER_CLEANING_PASSES)};
    return FEED_STATUS_OK;
}

int16_t OnSetReference(CommandCall &call)
{
    const ReferenceRequest *request = static_cast<const ReferenceRequest *>(call.Block->Data);
    if (!MemoryUsable(request, sizeof *request, false))
        return FEED_STATUS_BAD_REQUEST;
    call.Trace->Option = request->Target;
    if (request->Target != REFERENCE_SHEET && request->Target != REFERENCE_WHITE && request->Target != REFERENCE_DARK)
        return FEED_STATUS_BAD_REQUEST;
    StopScan(call.State);
    call.State->Sensor.Target = request->Target;
    return FEED_STATUS_OK;
}

int16_t OnSetCorrection(CommandCall &call)
{
    const CorrectionDownload *download = static_cast<const CorrectionDownload *>(call.Block->Data);
    if (!MemoryUsable(download, sizeof *download, false))
        return FEED_STATUS_BAD_REQUEST;
    FeederSensorState &sensor = call.State->Sensor;
    if (download->Elements == 0 && !download->Entries) {
        sensor.CorrectionValid = 0;
        return FEED_STATUS_OK;
    }
    const uint32_t bytes = sizeof sensor.Correction;
    if (download->Elements != FEEDER_SENSOR_ELEMENTS || download->Channels != FEEDER_SENSOR_CHANNELS ||
        !MemoryUsable(download->Entries, bytes, false))
        return FEED_STATUS_BAD_REQUEST;
    // A gain of zero would blank its column for good: refuse the table
    // rather than keep half of it.
    for (uint32_t i = 0; i < FEEDER_SENSOR_ELEMENTS * FEEDER_SENSOR_CHANNELS; ++i)
        if (download->Entries[i].Gain == 0)
            return FEED_STATUS_BAD_REQUEST;
    memcpy(sensor.Correction, download->Entries, bytes);
    sensor.CorrectionValid = 1;
    ++sensor.CorrectionsLoaded;
    call.Trace->TableAddress = Address(download->Entries);
    call.Trace->TableChecksum = Checksum32(download->Entries, bytes);
    call.Trace->TableBytes = bytes;
    return FEED_STATUS_OK;
}

// One pass of the cleaning sheet through the transport; enough passes in a
// row leave the roller clean.
int16_t OnCleanPass(CommandCall &call)
{
    FeederState *state = call.State;
    StopScan(state);
    FeederSensorState &sensor = state->Sensor;
    if (++sensor.CleaningPassesRun >= FEEDER_CLEANING_PASSES) {
        sensor.PagesSinceCleaning = 0;
        sensor.CleaningPassesRun = 0;
    }
    call.Trace->Lines = sensor.CleaningPassesRun;
    // A pass moves a whole page length through, at the mechanical speed.
    if (state->LinesPerSecond)
        call.SleepMs = (uint32_t)((uint64_t)CLEANING_PASS_LINES * 1000 / state->LinesPerSecond);
    return FEED_STATUS_OK;
}

struct CommandRule {
    uint16_t Code;
    unsigned Needs;
    CommandHandler Handler;
};

// Release and close always succeed, so a caller can clean up after any failure.
const CommandRule COMMANDS[] = {
    {SC_OPEN, NEEDS_PLUGGED, OnOpen},
    {SC_CLOSE, NEEDS_NOTHING, OnClose},
    {SC_GET_INFO, NEEDS_OPEN, OnGetInfo},
    {SC_GET_EXTRA_INFO, NEEDS_OPEN, OnGetExtraInfo},
    {SC_GET_TABLE_FORMAT, NEEDS_ACQUIRED, OnGetTableFormat},
    {SC_SET_TABLE, NEEDS_ACQUIRED, OnSetTable},
    {SC_GET_GEOMETRY, NEEDS_ACQUIRED, OnGetGeometry},
    {SC_GET_BUTTON, NEEDS_OPEN, OnGetButton},
    {SC_TAKE_PAPER, NEEDS_ACQUIRED, OnTakePaper},
    {SC_END_PAGE, NEEDS_ACQUIRED, OnEndPage},
    {SC_PAPER_PRESENT, NEEDS_ACQUIRED, OnPaperPresent},
    {SC_ACQUIRE, NEEDS_OPEN, OnAcquire},
    {SC_SET_PARAMS, NEEDS_ACQUIRED, OnSetParams},
    {SC_START, NEEDS_ACQUIRED, OnStart},
    {SC_READ, NEEDS_ACQUIRED, OnRead},
    {SC_STOP, NEEDS_ACQUIRED, OnStop},
    {SC_RELEASE, NEEDS_NOTHING, OnRelease},
    {SC_PREPARE_READ, NEEDS_ACQUIRED, OnPrepareRead},
    {SC_IS_PRESENT, NEEDS_OPEN, OnIsPresent},
    {SC_GET_SENSOR, NEEDS_OPEN, OnGetSensor},
    {SC_SET_REFERENCE, NEEDS_ACQUIRED, OnSetReference},
    {SC_SET_CORRECTION, NEEDS_ACQUIRED, OnSetCorrection},
    {SC_CLEAN_PASS, NEEDS_ACQUIRED, OnCleanPass},
};

const CommandRule *FindRule(uint16_t code)
{
    for (const CommandRule &rule : COMMANDS)
        if (rule.Code == code)
            return &rule;
    return nullptr;
}

// Counts the call against every armed fault of its command; true (with the
// status) when one comes due now.
bool FaultDue(FeederState *state, uint16_t command, int16_t *status)
{
    bool due = false;
    for (FeederFault &fault : state->Faults) {
        if (fault.NthCall == 0 || fault.Fired || fault.Command != command)
            continue;
        if (++fault.CallsSeen == fault.NthCall && !due) {
            fault.Fired = 1;
            *status = fault.Status;
            due = true;
        }
    }
    return due;
}

int16_t Dispatch(CommandCall &call)
{
    FeederState *state = call.State;
    const uint16_t code = call.Block->Command;
    int16_t injected = 0;
    if (FaultDue(state, code, &injected)) {
        if (code == SC_READ || code == SC_PREPARE_READ)
            call.Block->TransferCount = 0;
        return injected;
    }
    const CommandRule *rule = FindRule(code);
    if (!rule)
        return FEED_STATUS_UNKNOWN_COMMAND;
    if ((rule->Needs & NEEDS_PLUGGED) && !state->Plugged)
        return FEED_STATUS_UNPLUGGED;
    if ((rule->Needs & (NEEDS_OPEN & ~NEEDS_PLUGGED)) && !Device.Opened)
        return FEED_STATUS_NOT_OPEN;
    if ((rule->Needs & (NEEDS_ACQUIRED & ~NEEDS_OPEN)) && !AcquiredHere(*state))
        return FEED_STATUS_NOT_ACQUIRED;
    return rule->Handler(call);
}

} // namespace

// Unloading the driver (the agent does at every unplug) gives back the
// mapping; at process exit the system does it anyway.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
        ReleaseSharedState();
    return TRUE;
}

extern "C" __declspec(dllexport) int __stdcall FeedlinkCall(ScannerCommandBlock *block)
{
    if (!block)
        return 0;
    uint32_t sleepMs = 0;
    {
        StateLock lock;
        if (!lock.state) {
            block->Status = FEED_STATUS_NO_STATE;
            return 0;
        }
        FeederTraceEntry trace = {};
        trace.ProcessId = GetCurrentProcessId();
        trace.Command = block->Command;
        trace.DataAddress = Address(block->Data);
        CommandCall call = {block, lock.state, &trace, 0};
        block->Status = Dispatch(call);
        trace.Status = block->Status;
        trace.TransferSize = block->TransferSize;
        trace.TransferCount = block->TransferCount;
        AppendTrace(lock.state, trace);
        sleepMs = call.SleepMs;
    }
    // The transport's own pace, without holding up the other processes.
    if (sleepMs)
        Sleep(sleepMs);
    return block->Status == FEED_STATUS_OK;
}
