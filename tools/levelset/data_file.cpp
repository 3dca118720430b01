// The calibration data file on disk: its place, its replacement through a
// temporary file, its integrity check.
#include "data_file.h"

#include <windows.h>

#include "calibration_data.h"
#include "calibration_path.h"
#include "settings.h"
#include "shared.h"

namespace {

bool ReadFileBytes(const std::string &path, std::string *bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = false;
    const DWORD size = GetFileSize(file, nullptr);
    // Far beyond any sensor's data: a file this large is not ours.
    if (size != INVALID_FILE_SIZE && size <= 4u << 20) {
        bytes->assign(size, '\0');
        DWORD read = 0;
        ok = size == 0 || (ReadFile(file, &(*bytes)[0], size, &read, nullptr) && read == size);
    }
    CloseHandle(file);
    return ok;
}

bool WriteFileBytes(const std::string &path, const std::string &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr) && written == bytes.size();
    ok = FlushFileBuffers(file) && ok;
    return CloseHandle(file) && ok;
}

} // namespace

bool FindDataFilePlace(DataFilePlace *place)
{
    char folder[PATH_CAPACITY], path[PATH_CAPACITY];
    HKEY settings = OpenSettingsKeyForReading();
    const int composed =
        ComposeCalibrationFolder(folder) && ComposeCalibrationDataPath(settings, CALIBRATION_NAME_READ_ONLY, path);
    if (settings)
        RegCloseKey(settings);
    if (!composed)
        return false;
    place->Folder = folder;
    place->Path = path;
    // The file name comes from a setting: one that climbs out of the model's
    // folder or names a stream would let a calibration write, or move aside,
    // some other file.
    const size_t start = place->Folder.size() + 1;
    if (place->Path.size() <= start || place->Path.compare(0, start, place->Folder + "\\") != 0)
        return false;
    const std::string name = place->Path.substr(start);
    return name.find_first_of("\\/:") == std::string::npos && name != "." && name != "..";
}

bool WriteTemporaryDataFile(const DataFilePlace &place, const std::string &bytes, std::string *temporary)
{
    temporary->clear();
    if (!CreateDirectoryA(place.Folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    char name[MAX_PATH];
    if (!GetTempFileNameA(place.Folder.c_str(), "cal", 0, name))
        return false;
    *temporary = name;
    std::string check;
    CalibrationData decoded;
    // Read back before it may replace anything: what lies under the real
    // name must pass the same check a later run makes.
    return WriteFileBytes(*temporary, bytes) && ReadFileBytes(*temporary, &check) && check == bytes &&
           DecodeCalibrationData(check, &decoded);
}

bool CommitDataFile(const DataFilePlace &place, const std::string &temporary)
{
    return MoveFileExA(temporary.c_str(), place.Path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void DiscardTemporaryDataFile(std::string *temporary)
{
    if (!temporary->empty())
        DeleteFileA(temporary->c_str());
    temporary->clear();
}

bool DataFileIntact(const DataFilePlace &place)
{
    std::string bytes;
    CalibrationData data;
    return ReadFileBytes(place.Path, &bytes) && DecodeCalibrationData(bytes, &data);
}

void SettleFailedCalibration(const DataFilePlace &place, bool forced)
{
    if (GetFileAttributesA(place.Path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return;
    if (!forced && DataFileIntact(place))
        return;
    const std::string aside = place.Path + SET_ASIDE_SUFFIX;
    if (aside.size() >= PATH_CAPACITY ||
        !MoveFileExA(place.Path.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        DeleteFileA(place.Path.c_str());
}
