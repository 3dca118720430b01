// Where the calibration data file lives and how it is replaced: the path the
// agent looks for, written through a temporary file in the same folder and
// moved into place, so no crash ever leaves half a file under the real name.
#pragma once

#include <string>

// A data file moved aside keeps its name with this added.
#define SET_ASIDE_SUFFIX ".bad"

struct DataFilePlace {
    std::string Folder; // the model's folder, created when missing
    std::string Path;
};

// The agent's path for this installation, read without changing a setting.
bool FindDataFilePlace(DataFilePlace *place);

// Writes `bytes` to a new temporary file beside the data file (created
// folder and all) and reads it back; `temporary` names it.
bool WriteTemporaryDataFile(const DataFilePlace &place, const std::string &bytes, std::string *temporary);
// Moves the temporary file over the data file.
bool CommitDataFile(const DataFilePlace &place, const std::string &temporary);
// Deletes a temporary file still there; clears the name.
void DiscardTemporaryDataFile(std::string *temporary);

// True when the data file is there and passes its integrity check.
bool DataFileIntact(const DataFilePlace &place);
// After a calibration that failed or was cancelled, the data file the agent
// finds must be one it can trust: a damaged one is moved aside, and after a
// forced run none is left at all, so the agent asks again next time. Moved
// aside rather than deleted, since the name comes from a setting.
void SettleFailedCalibration(const DataFilePlace &place, bool forced);
