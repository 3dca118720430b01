// File handling around the portable core.
#include "bitmap_file.h"

#include <windows.h>

#include <cstdio>
#include <vector>

const char PAGEFIT_LOG_NAME[] = "Pagefit.log";

namespace {

std::string SystemError(const char *what, const std::string &path)
{
    char text[64];
    snprintf(text, sizeof text, " (error %lu)", GetLastError());
    return std::string(what) + " " + path + text;
}

bool ReadWholeFile(const std::string &path, std::vector<uint8_t> *bytes, std::string *why)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *why = SystemError("cannot open", path);
        return false;
    }
    bool ok = false;
    DWORD high = 0, size = GetFileSize(file, &high);
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        *why = SystemError("cannot size", path);
    } else if (high != 0 || size > MAX_BITMAP_FILE_BYTES) {
        *why = "file too large for the tool";
    } else {
        bytes->resize(size);
        DWORD done = 0, got = 0;
        ok = true;
        while (ok && done < size) {
            ok = ReadFile(file, bytes->data() + done, size - done, &got, nullptr) && got > 0;
            done += got;
        }
        if (!ok)
            *why = SystemError("cannot read", path);
    }
    CloseHandle(file);
    return ok;
}

bool WriteAll(HANDLE file, const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        DWORD chunk = size > (1u << 24) ? (1u << 24) : DWORD(size), written = 0;
        if (!WriteFile(file, p, chunk, &written, nullptr) || written != chunk)
            return false;
        p += chunk;
        size -= chunk;
    }
    return true;
}

// Writes the new bitmap next to the old one and moves it over it. The old
// file stays whole until the move, which replaces it in one step.
bool ReplaceFile(const std::string &path, const std::vector<uint8_t> &bytes, std::string *why)
{
    std::string folder = FolderOf(path);
    char temp[MAX_PATH];
    if (!GetTempFileNameA(folder.empty() ? "." : folder.c_str(), "pgf", 0, temp)) {
        *why = SystemError("cannot make a temporary file in", folder);
        return false;
    }
    HANDLE file = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *why = SystemError("cannot write", temp);
        DeleteFileA(temp);
        return false;
    }
    bool ok = WriteAll(file, bytes.data(), bytes.size()) && FlushFileBuffers(file);
    if (!ok)
        *why = SystemError("cannot write", temp);
    CloseHandle(file);
    if (ok && !MoveFileExA(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *why = SystemError("cannot replace", path);
        ok = false;
    }
    if (!ok)
        DeleteFileA(temp);
    return ok;
}

void WriteLog(const std::string &bitmapPath, const std::string &line)
{
    std::string path = FolderOf(bitmapPath) + PAGEFIT_LOG_NAME;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string text = line + "\r\n";
    WriteAll(file, text.data(), text.size());
    CloseHandle(file);
}

} // namespace

std::string FolderOf(const std::string &path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string PagefitBitmapFile(const std::string &bitmapPath, const pagefit::Options &options)
{
    std::string line;
    if (!options.crop && !options.deskew) {
        // Nothing to do: the bitmap is not even read.
        line = pagefit::RunPagefit(nullptr, 0, options).log;
    } else {
        std::vector<uint8_t> bytes;
        std::string why;
        if (!ReadWholeFile(bitmapPath, &bytes, &why)) {
            line = "Pagefit: unchanged: " + why;
        } else {
            pagefit::Result r = pagefit::RunPagefit(bytes.data(), bytes.size(), options);
            line = r.log;
            if (r.outcome == pagefit::Outcome::Rewritten && !ReplaceFile(bitmapPath, r.output, &why))
                line = "Pagefit: unchanged: " + why + "; measured " + r.log.substr(r.log.find(": ") + 2);
        }
    }
    WriteLog(bitmapPath, line);
    return line;
}
