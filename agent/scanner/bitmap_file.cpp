// The scanned page's bitmap file: the header written before the rows and
// rewritten once the lines received are known.
#include "scanner.h"

int AllocBitmapHeader(ScanBitmap *bitmap)
{
    bitmap->HeaderHandle = nullptr;
    bitmap->Header = nullptr;
    if (!SetBitmapSizes(bitmap))
        return 0;
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, bitmap->HeaderSize);
    if (!handle)
        return 0;
    uint8_t *header = (uint8_t *)GlobalLock(handle);
    if (!header) {
        GlobalFree(handle);
        return 0;
    }
    bitmap->HeaderHandle = handle;
    bitmap->Header = header;
    return 1;
}

void FreeBitmapHeader(ScanBitmap *bitmap)
{
    if (!bitmap->HeaderHandle)
        return;
    GlobalUnlock(bitmap->HeaderHandle);
    GlobalFree(bitmap->HeaderHandle);
    bitmap->HeaderHandle = nullptr;
    bitmap->Header = nullptr;
}

// A short write counts as a failure: a header cut anywhere is a broken file.
static int WriteAll(HANDLE file, const void *bytes, DWORD size)
{
    DWORD written = 0;
    return WriteFile(file, bytes, size, &written, nullptr) && written == size;
}

int WriteBitmapHeader(HANDLE file, ScanBitmap *bitmap)
{
    if (file == INVALID_HANDLE_VALUE || !bitmap->Header)
        return 0;
    return WriteAll(file, bitmap->Header, bitmap->HeaderSize);
}

int FinishBitmapHeader(HANDLE file, ScanBitmap *bitmap, uint32_t linesReceived)
{
    if (!SetBitmapHeaderLines(bitmap, linesReceived))
        return 0;
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return 0;
    return WriteAll(file, bitmap->Header, bitmap->HeaderSize);
}
