// Temporary file beside the destination, then a move that never replaces.
#include "safe_output.h"

#include "path_text.h"
#include "pixkit.h"
#include "product_files.h"

namespace pixkit {

int SaveWithoutReplacing(const char *destination, FillFile fill, void *context)
{
    if (GetFileAttributesA(destination) != INVALID_FILE_ATTRIBUTES)
        return PIXKIT_ERROR_EXISTS;
    // The temporary file lives in the destination's folder so that the final
    // move is a rename on the same volume, never a copy that could stop half-way.
    char temporary[PATH_CAPACITY];
    std::string folder = FolderOf(destination);
    if (!GetTempFileNameA(folder.empty() ? "." : folder.c_str(), "pxk", 0, temporary))
        return PIXKIT_ERROR_WRITE;
    int status = fill(temporary, context);
    if (status == PIXKIT_OK) {
        // The picture must be on the disk before its name appears.
        HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE || !FlushFileBuffers(file))
            status = PIXKIT_ERROR_WRITE;
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    if (status == PIXKIT_OK && !MoveFileExA(temporary, destination, MOVEFILE_WRITE_THROUGH)) {
        DWORD error = GetLastError();
        status =
            (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) ? PIXKIT_ERROR_EXISTS : PIXKIT_ERROR_WRITE;
    }
    if (status != PIXKIT_OK)
        DeleteFileA(temporary);
    return status;
}

} // namespace pixkit
