// One page from the scanner into a bitmap file: geometry, tables and
// parameters, then the page block by block behind a cancellable progress
// dialog, and finally the header fixed and the rows turned bottom-up.
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

// What one page holds between its steps.
struct PageTransfer {
    ScanBitmap bitmap;
    HANDLE file;
    HGLOBAL bufferHandle;
    uint8_t *buffer;
    uint32_t blockLines;
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
    page->bufferHandle = GlobalAlloc(GMEM_MOVEABLE, (SIZE_T)page->blockLines * lineBytes);
    if (page->bufferHandle)
        page->buffer = (uint8_t *)GlobalLock(page->bufferHandle);
}

enum TransferEnd { TRANSFER_DONE, TRANSFER_CANCELLED, TRANSFER_WRITE_FAILED };

// Reads the page block by block and appends each block to the file at once.
static TransferEnd TransferPage(PageTransfer *page, uint32_t *received)
{
    const uint32_t lineBytes = page->bitmap.LineBytes;
    uint32_t remaining = page->bitmap.Lines;
    bool ended = false;
    *received = 0;
    while (remaining > 0 && !ended) {
        ScannerBlock.Data = page->buffer;
        ScannerBlock.TransferSize = page->blockLines * lineBytes;
        uint32_t lines;
        if (SendScannerCommand(SC_READ, nullptr)) {
            // A driver that claims more lines than the buffer holds, or more
            // than the page has left, must not make us write past the block
            // or count past the page.
            lines = ScannerBlock.TransferCount < page->blockLines ? ScannerBlock.TransferCount : page->blockLines;
            remaining -= lines < remaining ? lines : remaining;
            // A "successful" read that brings nothing would otherwise repeat forever.
            ended = lines == 0;
        } else if (ScannerBlock.Status == SC_STATUS_END_OF_PAGE) {
            lines = ScannerBlock.TransferCount < page->blockLines ? ScannerBlock.TransferCount : page->blockLines;
            ended = true;
        } else {
            break; // the page ends early with what has arrived
        }
        *received += lines;
        if (StepProgress(lines))
            return TRANSFER_CANCELLED;
        // Only the lines counted are written, so the rows in the file always
        // match the height the header will state.
        DWORD bytes = lines * lineBytes, written = 0;
        if (lines > 0 && (!WriteFile(page->file, page->buffer, bytes, &written, nullptr) || written != bytes))
            return TRANSFER_WRITE_FAILED;
    }
    StepProgress(remaining);
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

    page.file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    int flipped = FlipBitmapRows(page.file, &page.bitmap, received);
    CloseHandle(page.file);
    return flipped;
}
