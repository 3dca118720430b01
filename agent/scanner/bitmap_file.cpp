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

// Rows are reached through two sliding views of the one mapping, one moving
// down from the top and one up from the bottom, instead of one view of the
// whole page: a 32-bit process may not find a free range the size of a
// large page, and a whole-page view would keep the page resident.
const uint32_t FLIP_WINDOW_BYTES = 4u << 20;

struct RowWindow {
    HANDLE mapping;
    uint64_t fileBytes;
    uint32_t windowBytes;
    uint32_t granularity;
    uint32_t pageBytes;
    uint8_t *view;
    uint64_t base;
    uint32_t size;
};

// Every page of a fresh view is touched once with a locked add of 0, which
// the processor treats as a write: each page then costs one write fault
// instead of a read fault followed by a write fault when the swap first
// reads a row and then overwrites it. The data is unchanged.
static void PrefaultForWriting(uint8_t *view, uint32_t size, uint32_t pageBytes)
{
    for (uint32_t offset = 0; offset + sizeof(LONG) <= size; offset += pageBytes)
        InterlockedExchangeAdd((volatile LONG *)(view + offset), 0);
}

// The address of the row at `rowStart`, moving the window when the row is
// not wholly inside it; null when the view cannot be mapped.
static uint8_t *RowAt(RowWindow *window, uint64_t rowStart, uint32_t lineBytes, bool movingDown)
{
    uint64_t rowEnd = rowStart + lineBytes;
    if (window->view && rowStart >= window->base && rowEnd <= window->base + window->size)
        return window->view + (rowStart - window->base);
    if (window->view)
        UnmapViewOfFile(window->view);
    window->view = nullptr;
    const uint64_t granularity = window->granularity;
    uint64_t base = rowStart / granularity * granularity;
    if (!movingDown) {
        // Reach as far up as the window allows, so the next rows are inside it.
        uint64_t lowest = rowEnd > window->windowBytes ? rowEnd - window->windowBytes : 0;
        uint64_t upper = (lowest + granularity - 1) / granularity * granularity;
        if (upper < base)
            base = upper;
    }
    uint64_t left = window->fileBytes - base;
    window->size = (uint32_t)(left < window->windowBytes ? left : window->windowBytes);
    window->view = (uint8_t *)MapViewOfFile(window->mapping, FILE_MAP_WRITE, (DWORD)(base >> 32), (DWORD)base,
                                            window->size);
    window->base = base;
    if (!window->view)
        return nullptr;
    PrefaultForWriting(window->view, window->size, window->pageBytes);
    return window->view + (rowStart - base);
}

static void CloseRowWindow(RowWindow *window)
{
    if (window->view)
        UnmapViewOfFile(window->view);
    window->view = nullptr;
}

int FlipBitmapRows(HANDLE file, const ScanBitmap *bitmap, uint32_t linesReceived)
{
    const uint32_t lineBytes = bitmap->LineBytes;
    uint64_t mappedBytes = (uint64_t)lineBytes * linesReceived + bitmap->HeaderSize;
    if (mappedBytes > UINT32_MAX)
        return 0;

    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const uint32_t granularity = system.dwAllocationGranularity;
    // A window always holds a whole row wherever the row starts.
    uint64_t windowBytes = (uint64_t)lineBytes + 2ull * granularity;
    if (windowBytes < FLIP_WINDOW_BYTES)
        windowBytes = FLIP_WINDOW_BYTES;
    windowBytes = (windowBytes + granularity - 1) / granularity * granularity;

    int result = 0;
    HANDLE mapping = nullptr;
    RowWindow upper = {}, lower = {};
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
    upper = {mapping, mappedBytes, (uint32_t)windowBytes, granularity, system.dwPageSize, nullptr, 0, 0};
    lower = upper;
    for (uint32_t pair = 0; pair < linesReceived / 2; pair++) {
        uint64_t topStart = bitmap->HeaderSize + (uint64_t)pair * lineBytes;
        uint64_t bottomStart = bitmap->HeaderSize + (uint64_t)(linesReceived - 1 - pair) * lineBytes;
        uint8_t *top = RowAt(&upper, topStart, lineBytes, true);
        uint8_t *bottom = RowAt(&lower, bottomStart, lineBytes, false);
        if (!top || !bottom)
            goto out;
        SwapRows(top, bottom, row, lineBytes);
    }
    result = 1;
out:
    CloseRowWindow(&upper);
    CloseRowWindow(&lower);
    if (row)
        GlobalUnlock(rowHandle);
    if (rowHandle)
        GlobalFree(rowHandle);
    if (mapping)
        CloseHandle(mapping);
    return result;
}
