// One page from the scanner into a bitmap file: geometry, tables and
// parameters, then the page block by block behind a cancellable progress
// dialog, each row written where the bottom-up file keeps it, and finally
// the header fixed.
#include "scanner_internal.h"

#include <cstring>

#include "resource_ids.h"
#include "settings.h"
#include "shared.h"
#include "ui.h"

// The words the size query and the scan parameters share: the byte count
// that follows, the area, the resolutions, the type and the option.
static void FillScanImage(ScanParameters *image, const ScanJobSettings *settings)
{
    image->ParameterBytes = SC_PARAMETER_BYTES;
    memcpy(image->PaperArea, settings->PaperArea, sizeof image->PaperArea);
    image->XResolution = settings->DeviceXResolution;
    image->YResolution = settings->DeviceYResolution;
    image->ImageType = settings->AcquireType;
    image->Option = settings->DeviceOption;
}

void QueryScanGeometry(ScanJobSettings *settings, ScanBitmap *bitmap)
{
    ScanGeometry geometry = {};
    ScanParameters &image = geometry.Image;
    FillScanImage(&image, settings);
    SendScannerCommand(SC_GET_GEOMETRY, &geometry);

    // The device may change the extents, the resolutions and the type.
    bitmap->LineBytes = geometry.LineBytes;
    bitmap->Lines = geometry.Lines;
    bitmap->Width300 = image.PaperArea[2];
    bitmap->Height300 = image.PaperArea[3];
    bitmap->XDpi = image.XResolution;
    bitmap->YDpi = image.YResolution;
    bitmap->Type = image.ImageType;
    settings->GeometryScratch[0] = geometry.Result0;
    settings->GeometryScratch[1] = geometry.LineBytes;
    settings->GeometryScratch[2] = geometry.Lines;
}

static void FillScanParameters(const ScanJobSettings *settings)
{
    ScanParameters &parameters = Acquisition.Parameters;
    const DeviceTablesRecord &tables = Acquisition.DeviceTables;
    parameters.Reserved0 = 0;
    FillScanImage(&parameters, settings);
    parameters.Reserved28 = 0;
    parameters.Constant32 = 2;
    parameters.Reserved38 = 0;
    switch (settings->AcquireType) {
    case SCAN_TYPE_GREY:
        parameters.Tables = tables.greyTable;
        parameters.TableUse = 0;
        break;
    case SCAN_TYPE_COLOUR:
        parameters.Tables = tables.start;
        parameters.TableUse = 1;
        break;
    default: // line art: the device thresholds without a table
        parameters.Tables = nullptr;
        parameters.TableUse = 2;
        break;
    }
}

int PrepareDevice(const ScanJobSettings *settings, ScanBitmap *bitmap)
{
    if (!AllocBitmapHeader(bitmap))
        return 0;
    FillBitmapHeader(bitmap);
    LoadTableFormat();

    // The auto-crop tool sees the page untouched; tone is applied after it.
    ScanParameters &parameters = Acquisition.Parameters;
    memset(&parameters, 0, sizeof parameters);
    bool untouched = settings->AutoCrop || settings->AutoDeskew;
    parameters.Brightness = untouched ? 0 : (uint16_t)settings->Brightness;
    parameters.Contrast = untouched ? 0 : (uint16_t)settings->Contrast;
    SendIdentityTables();

    ApplyGamma(ReadNumberSetting(SettingsKey, SETTING_InsideGamma) * 0.01);
    FillScanParameters(settings);
    ApplyGamma(settings->AutoCrop ? 1.0 : settings->Gamma * 0.01);
    SendScannerCommand(SC_SET_PARAMS, &parameters);
    return 1;
}

// Rows go straight to where the finished bottom-up file keeps them: the
// lines of each block are laid in reverse into a staging buffer filled from
// its end, and the buffer is written at its rows' final place when full.
// The page is thus written once, in large writes, whatever the device's
// block size, and needs no second pass to turn it over. Rows are placed for
// the announced height; a page that ends early is moved down to follow the
// header.
const uint32_t STAGE_BYTES = 1u << 20;

// What one page holds between its steps.
struct PageTransfer {
    ScanBitmap bitmap;
    HANDLE file;
    HGLOBAL bufferHandle;
    uint8_t *buffer;     // one block from the device, then the staging rows
    uint32_t blockLines; // lines the device may send at once
    uint32_t stageLines; // lines the staging part holds
    uint32_t stagedLines;
    uint32_t stagedFirst; // page line of the first row staged
};

static void FreeLineBuffer(PageTransfer *page)
{
    if (page->bufferHandle) {
        GlobalUnlock(page->bufferHandle);
        GlobalFree(page->bufferHandle);
    }
    page->bufferHandle = nullptr;
    page->buffer = nullptr;
}

static void StopDevice(void)
{
    SendScannerCommand(SC_STOP, nullptr);
    SendScannerCommand(SC_END_PAGE, nullptr);
    ReleaseDeviceTables();
    SendScannerCommand(SC_RELEASE, nullptr);
    CloseProgress();
}

// The user cancelled, or the page cannot be taken in: nothing of it survives.
static int AbandonPage(PageTransfer *page, const char *path)
{
    StopDevice();
    FreeBitmapHeader(&page->bitmap);
    FreeLineBuffer(page);
    CloseHandle(page->file);
    DeleteFileA(path);
    return 0;
}

static void AllocLineBuffer(PageTransfer *page)
{
    uint32_t lineBytes = page->bitmap.LineBytes;
    page->blockLines = lineBytes ? ScannerBlock.TransferCount / lineBytes : 0;
    if (page->blockLines == 0)
        return;
    page->stageLines = STAGE_BYTES / lineBytes > page->blockLines ? STAGE_BYTES / lineBytes : page->blockLines;
    page->bufferHandle = GlobalAlloc(GMEM_MOVEABLE, ((SIZE_T)page->blockLines + page->stageLines) * lineBytes);
    if (page->bufferHandle)
        page->buffer = (uint8_t *)GlobalLock(page->bufferHandle);
}

static int WriteAt(HANDLE file, uint64_t offset, const uint8_t *bytes, DWORD size)
{
    LARGE_INTEGER position;
    position.QuadPart = (LONGLONG)offset;
    DWORD written = 0;
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && WriteFile(file, bytes, size, &written, nullptr) &&
           written == size;
}

static int FlushStage(PageTransfer *page)
{
    const uint32_t lineBytes = page->bitmap.LineBytes;
    if (page->stagedLines == 0)
        return 1;
    const uint8_t *stage = page->buffer + (size_t)page->blockLines * lineBytes;
    const uint8_t *rows = stage + (size_t)(page->stageLines - page->stagedLines) * lineBytes;
    // The lowest row staged is the last line staged.
    uint32_t lowestLine = page->stagedFirst + page->stagedLines - 1;
    uint64_t offset = page->bitmap.HeaderSize + (uint64_t)(page->bitmap.Lines - 1 - lowestLine) * lineBytes;
    int written = WriteAt(page->file, offset, rows, page->stagedLines * lineBytes);
    page->stagedFirst += page->stagedLines;
    page->stagedLines = 0;
    return written;
}

// Lays `lines` lines of the block, top line first, into the staging rows.
static int StageBlock(PageTransfer *page, uint32_t lines)
{
    const uint32_t lineBytes = page->bitmap.LineBytes;
    uint8_t *stage = page->buffer + (size_t)page->blockLines * lineBytes;
    for (uint32_t i = 0; i < lines; i++) {
        if (page->stagedLines == page->stageLines && !FlushStage(page))
            return 0;
        page->stagedLines++;
        memcpy(stage + (size_t)(page->stageLines - page->stagedLines) * lineBytes, page->buffer + (size_t)i * lineBytes,
               lineBytes);
    }
    return 1;
}

// A page that ended after `received` of its announced lines: its rows lie at
// the end of the space placed for it; they move down to follow the header
// and the file ends after them.
static int CloseUpShortPage(PageTransfer *page, uint32_t received)
{
    const uint32_t lineBytes = page->bitmap.LineBytes;
    const uint64_t header = page->bitmap.HeaderSize;
    const uint64_t gap = (uint64_t)(page->bitmap.Lines - received) * lineBytes;
    const uint64_t total = (uint64_t)received * lineBytes;
    uint8_t *chunk = page->buffer;
    const uint32_t chunkBytes = (page->blockLines + page->stageLines) * lineBytes;
    for (uint64_t done = 0; done < total;) {
        DWORD size = (DWORD)(total - done < chunkBytes ? total - done : chunkBytes), read = 0;
        LARGE_INTEGER from;
        from.QuadPart = (LONGLONG)(header + gap + done);
        if (!SetFilePointerEx(page->file, from, nullptr, FILE_BEGIN) ||
            !ReadFile(page->file, chunk, size, &read, nullptr) || read != size ||
            !WriteAt(page->file, header + done, chunk, size))
            return 0;
        done += size;
    }
    LARGE_INTEGER end;
    end.QuadPart = (LONGLONG)(header + total);
    return SetFilePointerEx(page->file, end, nullptr, FILE_BEGIN) && SetEndOfFile(page->file);
}

enum TransferEnd { TRANSFER_DONE, TRANSFER_CANCELLED, TRANSFER_WRITE_FAILED };

// Reads the page block by block and stages each block's lines, never more
// than the page announced.
static TransferEnd TransferPage(PageTransfer *page, uint32_t *received)
{
    const uint32_t pageLines = page->bitmap.Lines;
    bool ended = false;
    *received = 0;
    while (*received < pageLines && !ended) {
        ScannerBlock.Data = page->buffer;
        ScannerBlock.TransferSize = page->blockLines * page->bitmap.LineBytes;
        uint32_t lines;
        if (SendScannerCommand(SC_READ, nullptr)) {
            // A driver that claims more lines than the buffer holds, or more
            // than the page has left, must not make us read past the block
            // or place rows outside the page.
            lines = ScannerBlock.TransferCount < page->blockLines ? ScannerBlock.TransferCount : page->blockLines;
            // A "successful" read that brings nothing would otherwise repeat forever.
            ended = lines == 0;
        } else if (ScannerBlock.Status == SC_STATUS_END_OF_PAGE) {
            lines = ScannerBlock.TransferCount < page->blockLines ? ScannerBlock.TransferCount : page->blockLines;
            ended = true;
        } else {
            break; // the page ends early with what has arrived
        }
        if (lines > pageLines - *received)
            lines = pageLines - *received;
        if (StepProgress(lines))
            return TRANSFER_CANCELLED;
        if (!StageBlock(page, lines))
            return TRANSFER_WRITE_FAILED;
        *received += lines;
    }
    StepProgress(pageLines - *received);
    if (!FlushStage(page) || (*received < pageLines && !CloseUpShortPage(page, *received)))
        return TRANSFER_WRITE_FAILED;
    return TRANSFER_DONE;
}

int AcquireToBitmap(ScanJobSettings settings, const char *path)
{
    if (!WaitForPaper())
        return 0;
    SendScannerCommand(SC_ACQUIRE, nullptr);
    PageTransfer page = {};
    QueryScanGeometry(&settings, &page.bitmap);
    // Rows of another length than the header implies would make a file that
    // no reader shows as scanned; the page fails before a file exists.
    if (!BitmapLineBytesMatch(&page.bitmap) || !PrepareDevice(&settings, &page.bitmap)) {
        SendScannerCommand(SC_RELEASE, nullptr);
        return 0;
    }

    page.file =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!WriteBitmapHeader(page.file, &page.bitmap)) {
        ReleaseDeviceTables();
        SendScannerCommand(SC_RELEASE, nullptr);
        FreeBitmapHeader(&page.bitmap);
        if (page.file != INVALID_HANDLE_VALUE)
            CloseHandle(page.file);
        return 0;
    }

    SendScannerCommand(SC_START, nullptr);
    SendScannerCommand(SC_PREPARE_READ, nullptr);
    char text[ResourceStringCapacity(IDS_PROGRESS_SCANNING)] = "";
    LoadStringA(ResourceLibrary, IDS_PROGRESS_SCANNING, text, sizeof text);
    // The dialog divides by its total: a page announced empty still counts one.
    ProgressRequest request = {AppTitle, text, 1, 1, page.bitmap.Lines ? page.bitmap.Lines : 1u};
    ShowProgress(&request);

    AllocLineBuffer(&page);
    if (!page.buffer)
        return AbandonPage(&page, path);
    uint32_t received = 0;
    if (TransferPage(&page, &received) != TRANSFER_DONE)
        return AbandonPage(&page, path);
    StopDevice();

    // A page of which not one line arrived holds nothing of the sheet: it is
    // no scan, and kept it would be an empty picture to save or rescue.
    if (received == 0) {
        FreeBitmapHeader(&page.bitmap);
        FreeLineBuffer(&page);
        CloseHandle(page.file);
        DeleteFileA(path);
        return 0;
    }
    if (!FinishBitmapHeader(page.file, &page.bitmap, received)) {
        FreeBitmapHeader(&page.bitmap);
        FreeLineBuffer(&page);
        CloseHandle(page.file);
        return 0;
    }
    FreeBitmapHeader(&page.bitmap);
    FreeLineBuffer(&page);
    CloseHandle(page.file);
    return 1;
}
