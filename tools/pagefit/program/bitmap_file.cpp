// File handling around the portable core.
#include "bitmap_file.h"

#include "path_text.h"
#include "product_files.h"

#include <windows.h>

#include <cstdio>
#include <vector>

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

// A name for the new file beside the bitmap, as long as the log's name, so
// it fits whenever the log's path does; created empty, so no other run can
// take it.
bool MakeTemporaryFile(const std::string &folder, std::string *name, HANDLE *file)
{
    DWORD start = (GetTickCount() ^ (GetCurrentProcessId() << 4)) & 0xFFFF;
    for (DWORD k = 0; k <= 0xFFFF; k++) {
        char leaf[16];
        snprintf(leaf, sizeof leaf, "pgf%04lX.tmp", (start + k) & 0xFFFF);
        *name = folder + leaf;
        *file = CreateFileA(name->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (*file != INVALID_HANDLE_VALUE)
            return true;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

// Writes the new bitmap next to the old one and moves it over it. The old
// file stays whole until the move, which replaces it in one step. The data
// is not forced to the disk first: the bitmap lives only until the agent
// has saved the picture, and waiting for the disk cost more than the whole
// analysis.
bool ReplaceFile(const std::string &path, const std::vector<uint8_t> &bytes, std::string *why)
{
    std::string temp;
    HANDLE file;
    if (!MakeTemporaryFile(FolderOf(path), &temp, &file)) {
        *why = SystemError("cannot make a temporary file beside", path);
        return false;
    }
    bool ok = WriteAll(file, bytes.data(), bytes.size());
    if (!ok)
        *why = SystemError("cannot write", temp);
    CloseHandle(file);
    if (ok && !MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        *why = SystemError("cannot replace", path);
        ok = false;
    }
    if (!ok)
        DeleteFileA(temp.c_str());
    return ok;
}

bool WriteLog(const std::string &logPath, const std::string &line)
{
    HANDLE file =
        CreateFileA(logPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::string text = line + "\r\n";
    bool ok = WriteAll(file, text.data(), text.size());
    return CloseHandle(file) && ok;
}

bool Fits(const std::string &path)
{
    return path.size() < size_t(PATH_CAPACITY);
}

// The core's answer as an exit code, once the file work has succeeded.
PagefitExitCode ExitCodeOf(pagefit::Outcome outcome)
{
    switch (outcome) {
    case pagefit::Outcome::NoAction: return PAGEFIT_NO_ACTION;
    case pagefit::Outcome::Invalid: return PAGEFIT_NOT_A_BITMAP;
    default: return PAGEFIT_DONE;
    }
}

// What the run did to the file, without the log.
void Process(const std::string &bitmapPath, const pagefit::Options &options, BitmapFileRun *run)
{
    if (!options.crop && !options.deskew) {
        // Nothing to do: the bitmap is not even read.
        run->log = pagefit::RunPagefit(nullptr, 0, options).log;
        return;
    }
    std::vector<uint8_t> bytes;
    std::string why;
    if (!Fits(bitmapPath)) {
        run->log = "Pagefit: unchanged: the bitmap's path is longer than the system allows";
        run->exitCode = PAGEFIT_FILE_ERROR;
        return;
    }
    if (!ReadWholeFile(bitmapPath, &bytes, &why)) {
        run->log = "Pagefit: unchanged: " + why;
        run->exitCode = PAGEFIT_FILE_ERROR;
        return;
    }
    pagefit::Result r = pagefit::RunPagefit(bytes.data(), bytes.size(), options);
    run->log = r.log;
    run->exitCode = ExitCodeOf(r.outcome);
    if (r.outcome != pagefit::Outcome::Rewritten)
        return;
    std::string measured = r.log.substr(r.log.find(": ") + 2);
    DWORD attributes = GetFileAttributesA(bitmapPath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        // Someone protected this file; replacing it would drop the protection.
        run->log = "Pagefit: unchanged: the bitmap is read-only; measured " + measured;
        run->exitCode = PAGEFIT_FILE_ERROR;
    } else if (!ReplaceFile(bitmapPath, r.output, &why)) {
        run->log = "Pagefit: unchanged: " + why + "; measured " + measured;
        run->exitCode = PAGEFIT_FILE_ERROR;
    }
}

} // namespace

const ExitCodeMeaning EXIT_CODE_MEANINGS[5] = {
    {PAGEFIT_DONE, "rewritten, or left unchanged as the choices and the page asked"},
    {PAGEFIT_USAGE, "no bitmap path on the command line"},
    {PAGEFIT_NO_ACTION, "no photo on the sheet: the log asks for a new scan"},
    {PAGEFIT_NOT_A_BITMAP, "not a bitmap in the scanner's layout: left unchanged"},
    {PAGEFIT_FILE_ERROR, "the bitmap, its temporary copy or the log could not be read or written"},
};

BitmapFileRun PagefitBitmapFile(const std::string &bitmapPath, const pagefit::Options &options)
{
    BitmapFileRun run;
    // The log and the temporary file go beside the bitmap under names of the
    // same length: when the log's path is too long, nothing can be written,
    // so nothing is made at all.
    std::string logPath = FolderOf(bitmapPath) + AUTOCROP_LOG_FILE;
    if (!Fits(logPath)) {
        run.log = "Pagefit: unchanged: the bitmap's folder path is too long for the log";
        run.exitCode = PAGEFIT_FILE_ERROR;
        return run;
    }
    Process(bitmapPath, options, &run);
    if (!WriteLog(logPath, run.log))
        run.exitCode = PAGEFIT_FILE_ERROR;
    return run;
}
