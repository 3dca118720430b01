// The control API over the shared block: what tests and feedctl.exe do to
// the virtual scanner.
#include "feeder_control.h"

#include <windows.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "feeder_queue.h"
#include "feedlink_protocol.h"
#include "page_render.h"
#include "shared_block.h"
#include "sheet_decode.h"

namespace feeder {

namespace {

HANDLE HeldInUseMutex = nullptr;

FeederPlacement ToRecord(const Placement &placement)
{
    FeederPlacement record;
    record.X300 = placement.X300;
    record.Y300 = placement.Y300;
    const double milli = std::fmod(placement.SkewDegrees, 360.0) * 1000.0;
    record.SkewMilliDegrees = std::isfinite(milli) ? (int32_t)std::lround(milli) : 0;
    record.BackingRgb = placement.BackingRgb & 0xFFFFFF;
    record.SheetDpi = placement.SheetDpi;
    return record;
}

// Runs `change` on the locked state; false when the block is not there.
template <class Change>
bool WithState(Change change)
{
    StateLock lock;
    if (!lock.state)
        return false;
    change(lock.state);
    return true;
}

bool RenderSetup(const SheetImage *sheet, bool synthetic, const FeederPlacement &placement,
                 const FeederScanSetup &setup, const FeederSensorState *sensor, RenderedPage *page)
{
    PageRenderer renderer;
    bool prepared;
    if (setup.Target != REFERENCE_SHEET)
        prepared = renderer.PrepareReference(setup, sensor);
    else if (synthetic)
        prepared = renderer.PrepareSynthetic(setup, sensor);
    else
        prepared = renderer.PrepareSheet(sheet, placement, setup, sensor);
    if (!prepared)
        return false;
    page->ImageType = setup.ImageType;
    page->PixelsPerLine = setup.PixelsPerLine;
    page->LineBytes = setup.LineBytes;
    page->Lines = setup.Lines;
    page->Rows.assign((size_t)setup.LineBytes * setup.Lines, 0);
    renderer.Render(0, setup.Lines, page->Rows.data());
    return true;
}

} // namespace

bool Reset()
{
    std::string folder;
    const bool mapped = WithState([&](FeederState *state) {
        const uint32_t resets = state->Resets, holder = state->MutexHolderPid;
        char model[FEEDER_MODEL_CAPACITY];
        memcpy(model, state->MutexModel, sizeof model);
        InitialiseState(state, true);
        state->Resets = resets + 1;
        // A feedctl.exe holding the in-use mutex lets go at its next look.
        state->MutexReleaseRequested = holder != 0;
        state->MutexHolderPid = holder;
        memcpy(state->MutexModel, model, sizeof model);
        folder = ActiveFeederFolder(*state);
    });
    if (!mapped)
        return false;
    ReleaseInUseMutex();
    EmptyFeeder(folder);
    return true;
}

bool Snapshot(FeederState *state)
{
    return WithState([&](FeederState *shared) { memcpy(state, shared, sizeof *state); });
}

bool SetFeederFolder(const std::string &folder)
{
    if (folder.size() >= PATH_CAPACITY)
        return false;
    bool created = false;
    const bool mapped = WithState([&](FeederState *state) {
        CopyText(state->FeederFolder, sizeof state->FeederFolder, folder.c_str());
        created = !ActiveFeederFolder(*state).empty();
    });
    return mapped && created;
}

std::string FeederFolder()
{
    std::string folder;
    WithState([&](FeederState *state) { folder = ActiveFeederFolder(*state); });
    return folder;
}

bool QueueSheet(const std::string &picturePath, const Placement *placement, std::string *queuedPath)
{
    bool queued = false;
    WithState([&](FeederState *state) {
        FeederPlacement record;
        if (placement)
            record = ToRecord(*placement);
        queued = QueueSheetCopy(state, picturePath, placement ? &record : nullptr, queuedPath);
    });
    return queued;
}

std::vector<std::string> WaitingSheets()
{
    std::vector<std::string> sheets;
    WithState([&](FeederState *state) {
        const std::string folder = ActiveFeederFolder(*state);
        for (const std::string &name : ListSheets(folder))
            sheets.push_back(folder + "\\" + name);
    });
    return sheets;
}

bool SetDefaultPlacement(const Placement &placement)
{
    return WithState([&](FeederState *state) { state->DefaultPlacement = ToRecord(placement); });
}

bool SetSyntheticPage(bool on)
{
    return WithState([&](FeederState *state) { state->Synthetic = on ? 1 : 0; });
}

bool PressButton(int16_t code, uint32_t polls)
{
    return WithState([&](FeederState *state) {
        state->ButtonCode = code;
        state->ButtonPolls = polls;
    });
}

bool SetPlugged(bool plugged)
{
    return WithState([&](FeederState *state) { state->Plugged = plugged ? 1 : 0; });
}

bool SetVidPid(const std::string &vidPid)
{
    if (vidPid.size() >= FEEDER_VID_PID_CAPACITY)
        return false;
    return WithState([&](FeederState *state) { CopyText(state->VidPid, sizeof state->VidPid, vidPid.c_str()); });
}

std::string VidPid()
{
    std::string vidPid;
    WithState([&](FeederState *state) { vidPid.assign(state->VidPid, strnlen(state->VidPid, sizeof state->VidPid)); });
    return vidPid;
}

bool Plug()
{
    if (!SetPlugged(true))
        return false;
    BroadcastDeviceChange(true);
    return true;
}

bool Unplug()
{
    if (!SetPlugged(false))
        return false;
    BroadcastDeviceChange(false);
    return true;
}

bool InjectFault(uint16_t command, uint32_t nthCall, int16_t status)
{
    if (nthCall == 0)
        return false;
    bool stored = false;
    WithState([&](FeederState *state) {
        for (FeederFault &fault : state->Faults) {
            if (fault.NthCall != 0 && !fault.Fired)
                continue;
            fault = FeederFault{command, status, nthCall, 0, 0};
            stored = true;
            return;
        }
    });
    return stored;
}

bool SetRefuseAcquire(bool on)
{
    return WithState([&](FeederState *state) { state->RefuseAcquire = on ? 1 : 0; });
}

bool SetEndPageAfter(uint32_t lines)
{
    return WithState([&](FeederState *state) {
        state->EndPageEarly = 1;
        state->EndPageAfterLines = lines;
    });
}

bool SetFailReadAfter(uint32_t lines, int16_t status)
{
    // Status 0 or 4 would not be a failure at all.
    if (status == FEED_STATUS_OK || status == FEED_STATUS_END_OF_PAGE)
        return false;
    return WithState([&](FeederState *state) {
        state->FailReadEarly = 1;
        state->FailReadAfterLines = lines;
        state->FailReadStatus = status;
    });
}

bool ClearFaults()
{
    return WithState([&](FeederState *state) {
        memset(state->Faults, 0, sizeof state->Faults);
        state->RefuseAcquire = 0;
        state->EndPageEarly = 0;
        state->EndPageAfterLines = 0;
        state->FailReadEarly = 0;
        state->FailReadAfterLines = 0;
        state->FailReadStatus = 0;
    });
}

bool SetTransferSize(uint32_t bytes)
{
    return WithState([&](FeederState *state) { state->TransferBytes = bytes; });
}

bool SetLinesPerSecond(uint32_t lines)
{
    return WithState([&](FeederState *state) { state->LinesPerSecond = lines; });
}

bool SetSensor(FeederSensorModel model, uint32_t seed)
{
    if (model != FEEDER_SENSOR_IDEAL && model != FEEDER_SENSOR_SHADED)
        return false;
    return WithState([&](FeederState *state) {
        state->Sensor.Model = model;
        if (seed)
            state->Sensor.Seed = seed;
        state->Sensor.CorrectionValid = 0;
    });
}

bool SetRollerDirtAfter(uint32_t pages)
{
    return WithState([&](FeederState *state) {
        state->Sensor.DirtAfterPages = pages;
        state->Sensor.PagesSinceCleaning = 0;
        state->Sensor.CleaningPassesRun = 0;
    });
}

bool SetTableShape(const FeederTableShape &shape)
{
    if (shape.Entries < 2 || shape.Entries > FEEDER_MAX_TABLE_ENTRIES || shape.MaxValue == 0)
        return false;
    return WithState([&](FeederState *state) { state->TableShape = shape; });
}

std::string InUseMutexName(const std::string &model)
{
    return std::string(FEEDER_IN_USE_MUTEX_PREFIX) + model;
}

bool HoldInUseMutex(const std::string &model)
{
    ReleaseInUseMutex();
    HeldInUseMutex = CreateMutexA(nullptr, FALSE, InUseMutexName(model).c_str());
    return HeldInUseMutex != nullptr;
}

bool ReleaseInUseMutex()
{
    if (!HeldInUseMutex)
        return false;
    CloseHandle(HeldInUseMutex);
    HeldInUseMutex = nullptr;
    return true;
}

std::vector<FeederTraceEntry> ReadTrace()
{
    std::vector<FeederTraceEntry> entries;
    WithState([&](FeederState *state) { CopyTrace(*state, &entries); });
    return entries;
}

bool ClearTrace()
{
    return WithState([&](FeederState *state) { state->TraceCount = 0; });
}

uint32_t TableChecksum(const void *bytes, uint32_t count)
{
    return Checksum32(bytes, count);
}

std::string CommandName(uint16_t command)
{
    static const struct {
        uint16_t code;
        const char *name;
    } names[] = {
#define FEEDLINK_COMMAND_NAME(name, code) {name, #name},
        FEEDLINK_COMMANDS(FEEDLINK_COMMAND_NAME)
#undef FEEDLINK_COMMAND_NAME
            {FEED_EVENT_SHEET_SKIPPED, "sheet skipped"},
        {FEED_EVENT_SHEET_FED, "sheet fed"},
    };
    for (const auto &entry : names)
        if (entry.code == command)
            return entry.name;
    return std::to_string(command);
}

bool RenderCurrentPage(RenderedPage *page)
{
    FeederScanSetup setup;
    FeederPlacement placement;
    std::string sheetPath;
    bool synthetic = false, ready = false;
    std::unique_ptr<FeederSensorState> sensor(new FeederSensorState);
    WithState([&](FeederState *state) {
        ready = state->Setup.Valid && (state->CurrentSheetValid || state->Setup.Target != REFERENCE_SHEET);
        setup = state->Setup;
        *sensor = state->Sensor;
        placement = state->CurrentPlacement;
        synthetic = state->CurrentSheetSynthetic != 0;
        sheetPath.assign(state->CurrentSheet, strnlen(state->CurrentSheet, PATH_CAPACITY));
    });
    if (!ready)
        return false;
    if (synthetic || setup.Target != REFERENCE_SHEET)
        return RenderSetup(nullptr, synthetic, placement, setup, sensor.get(), page);
    SheetImage sheet;
    return DecodeSheet(sheetPath, &sheet) && RenderSetup(&sheet, false, placement, setup, sensor.get(), page);
}

bool RenderSheetFile(const std::string &picturePath, const Placement &placement, const FeederScanSetup &setup,
                     RenderedPage *page)
{
    ScanRequest request;
    memcpy(request.PaperArea, setup.PaperArea, sizeof request.PaperArea);
    request.XResolution = setup.XResolution;
    request.YResolution = setup.YResolution;
    request.ImageType = setup.ImageType;
    FeederScanSetup planned = setup;
    if (PlanScan(request, DEFAULT_MAX_WIDTH300, DEFAULT_MAX_HEIGHT300, &planned) != FEED_STATUS_OK)
        return false;
    SheetImage sheet;
    planned.Target = REFERENCE_SHEET;
    return DecodeSheet(picturePath, &sheet) && RenderSetup(&sheet, false, ToRecord(placement), planned, nullptr, page);
}

} // namespace feeder
