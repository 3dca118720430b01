// Tone processing of the temporary bitmap file, in place through a mapping
// of the whole file, behind the progress dialog.
#include "tone.h"

#include "bitmap_layout.h"
#include "resource_ids.h"
#include "shared.h"
#include "ui.h"

namespace {

const DWORD BITMAP_INFO_BYTES = 58;
const uint32_t ROWS_PER_PROGRESS_STEP = 100;

// The whole file mapped for reading and writing; released in reverse order
// of acquisition on every path.
struct MappedFile {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE mapping = nullptr;
    uint8_t *view = nullptr;
    uint64_t size = 0;

    ~MappedFile()
    {
        Unmap();
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    void Unmap()
    {
        if (view)
            UnmapViewOfFile(view);
        if (mapping)
            CloseHandle(mapping);
        view = nullptr;
        mapping = nullptr;
    }
};

bool OpenMapped(const char *path, MappedFile *mapped)
{
    mapped->file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (mapped->file == INVALID_HANDLE_VALUE)
        return false;
    DWORD high = 0;
    DWORD low = GetFileSize(mapped->file, &high);
    if ((low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0)
        return false;
    mapped->size = low;
    // An empty file cannot be mapped; it is no bitmap either.
    mapped->mapping = CreateFileMappingA(mapped->file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    if (!mapped->mapping)
        return false;
    mapped->view = (uint8_t *)MapViewOfFile(mapped->mapping, FILE_MAP_WRITE, 0, 0, 0);
    return mapped->view != nullptr;
}

void ShowToneProgress(uint32_t rows)
{
    char text[ResourceStringCapacity(IDS_PROGRESS_TONE)] = "";
    LoadStringA(ResourceLibrary, IDS_PROGRESS_TONE, text, sizeof text);
    ProgressRequest request = {};
    request.caption = AppTitle;
    request.text = text;
    request.showCancel = 0;
    request.showBar = 0;
    request.total = rows ? rows : 1; // a percentage of nothing would divide by zero
    ShowProgress(&request);
}

} // namespace

bool ReadBitmapInfo(const char *path, uint16_t *width, uint16_t *height, bool *is24Bit)
{
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    uint8_t header[BITMAP_INFO_BYTES];
    DWORD read = 0;
    BOOL ok = ReadFile(file, header, sizeof header, &read, nullptr);
    CloseHandle(file);
    if (!ok || read < sizeof header || header[0] != 'B' || header[1] != 'M')
        return false;
    using namespace bitmap_layout;
    *width = ReadLe16(header + OFFSET_WIDTH);
    *height = ReadLe16(header + OFFSET_HEIGHT);
    *is24Bit = ReadLe16(header + OFFSET_BIT_COUNT) == 24;
    return true;
}

int ApplyToneToBitmap(uint16_t outputType, const char *path, uint16_t width, uint16_t height, bool is24Bit,
                      bool applyTable)
{
    MappedFile mapped;
    if (!OpenMapped(path, &mapped))
        return 0;
    // Everything the pass will touch is checked before the first write, so
    // a bitmap it cannot handle stays exactly as it was.
    TonePassPlan plan;
    if (PlanTonePass(mapped.view, size_t(mapped.size), mapped.size, width, height, is24Bit, applyTable,
                     outputType == SCAN_TYPE_LINE_ART, &plan) != TONE_PLAN_OK)
        return 0;

    if (plan.reduceToLineArt)
        WriteLineArtHeader(mapped.view, plan);
    ShowToneProgress(plan.height);
    for (uint32_t row = 0; row < plan.height; row += ROWS_PER_PROGRESS_STEP) {
        RunToneRows(mapped.view, plan, ToneTable, row, ROWS_PER_PROGRESS_STEP);
        // Without a cancel button nothing can stop the pass; the step only
        // keeps the agent's windows answering.
        StepProgress(ROWS_PER_PROGRESS_STEP);
    }
    CloseProgress();

    mapped.Unmap();
    LARGE_INTEGER end;
    end.QuadPart = LONGLONG(plan.finalFileSize);
    if (SetFilePointerEx(mapped.file, end, nullptr, FILE_BEGIN))
        SetEndOfFile(mapped.file);
    return 1;
}

int PostProcessBitmap(ScanJobSettings settings, const char *path)
{
    uint16_t width, height;
    bool is24Bit;
    if (!path || !ReadBitmapInfo(path, &width, &height, &is24Bit))
        return 1;
    bool applyTable = !ToneIsNeutral(settings.Brightness, settings.Contrast, settings.Gamma);
    if (applyTable)
        BuildToneTable(settings.Brightness, settings.Contrast, settings.Gamma);
    // A pass that could not run leaves the file as it was; the page is then
    // saved unprocessed, which is still better than no page.
    ApplyToneToBitmap(settings.OutputType, path, width, height, is24Bit, applyTable);
    return 1;
}
