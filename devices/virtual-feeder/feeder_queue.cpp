// Sheets in the feeder folder.
#include "feeder_queue.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "placement_text.h"
#include "shared_block.h"
#include "sheet_decode.h"

namespace feeder {

namespace {

const size_t PLACEMENT_SUFFIX_LENGTH = sizeof(FEEDER_PLACEMENT_SUFFIX) - 1;

bool IsPlacementFile(const std::string &name)
{
    return name.size() > PLACEMENT_SUFFIX_LENGTH &&
           lstrcmpiA(name.c_str() + name.size() - PLACEMENT_SUFFIX_LENGTH, FEEDER_PLACEMENT_SUFFIX) == 0;
}

// Moves a sheet and its placement file into a subfolder, replacing files of
// the same names left there by earlier sheets.
bool MoveSheet(const std::string &folder, const std::string &name, const char *subfolder, std::string *movedPath)
{
    const std::string target = folder + "\\" + subfolder;
    if (!CreateDirectoryA(target.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    const std::string from = folder + "\\" + name, to = target + "\\" + name;
    if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
        return false;
    const std::string placementFrom = from + FEEDER_PLACEMENT_SUFFIX, placementTo = to + FEEDER_PLACEMENT_SUFFIX;
    DeleteFileA(placementTo.c_str());
    MoveFileExA(placementFrom.c_str(), placementTo.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
    if (movedPath)
        *movedPath = to;
    return true;
}

void TraceSheetEvent(FeederState *state, uint16_t event, int16_t status, const std::string &name)
{
    FeederTraceEntry entry = {};
    entry.ProcessId = GetCurrentProcessId();
    entry.Command = event;
    entry.Status = status;
    CopyText(entry.Detail, sizeof entry.Detail, name.c_str());
    AppendTrace(state, entry);
}

void DeleteSheetFiles(const std::string &folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileA((folder + "\\" + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

} // namespace

std::vector<std::string> ListSheets(const std::string &folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const DWORD skip = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        if (!(found.dwFileAttributes & skip) && !IsPlacementFile(found.cFileName))
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    // Name order as a person reads a folder: letters without regard to case.
    std::sort(names.begin(), names.end(),
              [](const std::string &a, const std::string &b) { return lstrcmpiA(a.c_str(), b.c_str()) < 0; });
    return names;
}

int16_t FindSheet(FeederState *state, bool take)
{
    const std::string folder = ActiveFeederFolder(*state);
    if (folder.empty())
        return FEED_STATUS_NO_PAPER;
    for (const std::string &name : ListSheets(folder)) {
        const std::string path = folder + "\\" + name;
        if (!CanDecodeSheet(path)) {
            // Set aside so the next poll does not trip over it again; when
            // even that fails it is still passed over here.
            MoveSheet(folder, name, FEEDER_REJECTED_FOLDER, nullptr);
            TraceSheetEvent(state, FEED_EVENT_SHEET_SKIPPED, FEED_STATUS_BAD_SHEET, name);
            continue;
        }
        if (!take)
            return FEED_STATUS_OK;
        const FeederPlacement placement = PlacementFor(*state, path);
        std::string transported;
        if (!MoveSheet(folder, name, FEEDER_SCANNED_FOLDER, &transported)) {
            TraceSheetEvent(state, FEED_EVENT_SHEET_SKIPPED, FEED_STATUS_BAD_SHEET, name);
            continue;
        }
        state->SheetInTransport = 1;
        state->CurrentSheetValid = 1;
        state->CurrentSheetSynthetic = 0;
        CopyText(state->CurrentSheet, sizeof state->CurrentSheet, transported.c_str());
        state->CurrentPlacement = placement;
        TraceSheetEvent(state, FEED_EVENT_SHEET_FED, FEED_STATUS_OK, name);
        return FEED_STATUS_OK;
    }
    return FEED_STATUS_NO_PAPER;
}

FeederPlacement PlacementFor(const FeederState &state, const std::string &sheetPath)
{
    FeederPlacement placement = state.DefaultPlacement;
    const std::string placementPath = sheetPath + FEEDER_PLACEMENT_SUFFIX;
    HANDLE file = CreateFileA(placementPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return placement;
    char text[1024];
    DWORD read = 0;
    const BOOL ok = ReadFile(file, text, sizeof text - 1, &read, nullptr);
    CloseHandle(file);
    if (!ok)
        return placement;
    text[read] = '\0';
    // A placement file that does not parse leaves the default whole.
    ParsePlacement(text, &placement);
    return placement;
}

bool QueueSheetCopy(FeederState *state, const std::string &source, const FeederPlacement *placement,
                    std::string *queuedPath)
{
    const std::string folder = ActiveFeederFolder(*state);
    if (folder.empty())
        return false;
    const size_t slash = source.find_last_of("\\/");
    const size_t dot = source.find_last_of('.');
    std::string extension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash) ? source.substr(dot) : std::string();
    if (extension.size() > 8)
        extension.clear();
    // Names sort in queue order, and never collide with a sheet still waiting.
    std::string path;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        char name[64];
        snprintf(name, sizeof name, "sheet-%06u", (unsigned)state->NextSheetNumber++);
        path = folder + "\\" + name + extension;
        if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            break;
    }
    if (!CopyFileA(source.c_str(), path.c_str(), TRUE))
        return false;
    if (placement) {
        const std::string text = FormatPlacement(*placement);
        HANDLE file = CreateFileA((path + FEEDER_PLACEMENT_SUFFIX).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        const bool ok = file != INVALID_HANDLE_VALUE &&
                        WriteFile(file, text.data(), (DWORD)text.size(), &written, nullptr) && written == text.size();
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        if (!ok) {
            DeleteFileA(path.c_str());
            return false;
        }
    }
    if (queuedPath)
        *queuedPath = path;
    return true;
}

void EmptyFeeder(const std::string &folder)
{
    if (folder.empty())
        return;
    DeleteSheetFiles(folder);
    DeleteSheetFiles(folder + "\\" + FEEDER_SCANNED_FOLDER);
    DeleteSheetFiles(folder + "\\" + FEEDER_REJECTED_FOLDER);
}

} // namespace feeder
