// The scanned page's bitmap file: the header written before the rows and
// rewritten after them, and the rows turned bottom-up in place.
#include "scanner.h"

#include <cstring>

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

static void SwapRows(uint8_t *top, uint8_t *bottom, uint8_t *row, uint32_t lineBytes)
{
    memcpy(row, top, lineBytes);
    memcpy(top, bottom, lineBytes);
    memcpy(bottom, row, lineBytes);
}

int FlipBitmapRows(HANDLE file, const ScanBitmap *bitmap, uint32_t linesReceived)
{
    const uint32_t lineBytes = bitmap->LineBytes;
    uint64_t mappedBytes = (uint64_t)lineBytes * linesReceived + bitmap->HeaderSize;
    if (mappedBytes > UINT32_MAX)
        return 0;

    int result = 0;
    HANDLE mapping = nullptr;
    uint8_t *view = nullptr;
    uint8_t *row = nullptr;
    HGLOBAL rowHandle = GlobalAlloc(GMEM_MOVEABLE, lineBytes ? lineBytes : 1);
    if (!rowHandle)
        goto out;
    row = (uint8_t *)GlobalLock(rowHandle);
    if (!row)
        goto out;
    mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, (DWORD)mappedBytes, nullptr);
    if (!mapping)
        goto out;
    view = (uint8_t *)MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, (SIZE_T)mappedBytes);
    if (!view)
        goto out;
    if (linesReceived > 1) {
        uint8_t *top = view + bitmap->HeaderSize;
        uint8_t *bottom = top + (size_t)(linesReceived - 1) * lineBytes;
        for (uint32_t pair = 0; pair < linesReceived / 2; pair++) {
            SwapRows(top, bottom, row, lineBytes);
            top += lineBytes;
            bottom -= lineBytes;
        }
    }
    result = 1;
out:
    if (view)
        UnmapViewOfFile(view);
    if (row)
        GlobalUnlock(rowHandle);
    if (rowHandle)
        GlobalFree(rowHandle);
    if (mapping)
        CloseHandle(mapping);
    return result;
}
